#include "gui/frmabout.h"

#include "gui/form1.h"
#include "gui/module1.h"
#include "ui_frmabout.h"

#include <QPainter>

// The images live in a static library: nothing would pull their object file into the program
// unless something names it. This file is always linked, since the main window's menu uses it.
static int initPixelwrightResources()
{
    Q_INIT_RESOURCE(resources);
    return 1;
}
static const int pixelwrightResources = initPixelwrightResources();

namespace pw {

FrmAbout::FrmAbout(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::frmAbout>())
{
    ui->setupUi(this);
    // Fixed dialog frame: no minimise or maximise box, not resizable.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(382, 237);
    ui->picIcon->setPixmap(Form1::listImage(QStringLiteral("program")).pixmap(32, 32));
    ui->picIcon->adjustSize();
    ui->lblDescription->setText(descriptionText());
    ui->Label1->setText(warningText());
    // Fonts whose lines are taller than the design's would cut off the last line: such a label
    // grows into the free space below it (above the separator, above the window's edge).
    const auto fit = [](QLabel *label, int bottomLimit) {
        const int needed = label->heightForWidth(label->width());
        if (needed > label->height())
            label->resize(label->width(), qMin(needed, bottomLimit - label->y()));
    };
    fit(ui->lblDescription, 162);
    fit(ui->Label1, height());
    // Enter presses the default button; Esc rejects the dialog, which closes it the same way.
    connect(ui->cmdOK, &QPushButton::clicked, this, &FrmAbout::cmdOK_Click);
    Form_Load();
}

FrmAbout::~FrmAbout() = default;

QString FrmAbout::descriptionText()
{
    return QStringLiteral("アプリケーションの説明") + QString(104, QLatin1Char(' '))
           + QStringLiteral("ＢＭＰ、ＪＰＥＧ画像を弊社製品用画像データに変換します。") + QString(4, QChar(0x3000))
           + QString(47, QLatin1Char(' '))
           + QStringLiteral("Ｗｉｎｄｏｗｓのカラーパレットはフルカラー（２４ｂｉｔ）に設定してご使用ください。");
}

QString FrmAbout::warningText()
{
    return QStringLiteral("警告") + QString(114, QLatin1Char(' '))
           + QStringLiteral("著作権で保護された画像ファイルを無断で商用等に使用したり、配布することは法律で禁止されています。");
}

void FrmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("Pixelwright for 128×64(Mono)のﾊﾞｰｼﾞｮﾝ情報"));
    ui->lblVersion->setText(Module1::versionText());
}

void FrmAbout::cmdOK_Click() { close(); }

void FrmAbout::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // Line1: an etched separator, a grey line with a white one just below it.
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(6, 163), QPoint(376, 163)), QColor(128, 128, 128));
    painter.fillRect(QRect(QPoint(7, 164), QPoint(376, 165)), Qt::white);
}

void Form1::mnuver_Click()
{
    if (!about_)
        about_ = new FrmAbout(this);
    about_->show();
    about_->raise();
    about_->activateWindow();
    about_->repaint();
}

FrmAbout *Form1::about() const { return about_; }

}  // namespace pw
