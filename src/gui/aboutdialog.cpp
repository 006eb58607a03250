#include "gui/aboutdialog.h"

#include "gui/icons.h"
#include "gui/programinfo.h"
#include "ui_aboutdialog.h"

#include <QPainter>

namespace pw {

namespace {

// Runs of spaces push what follows onto a line of its own: a heading and two paragraphs.
QString descriptionText()
{
    return QStringLiteral("アプリケーションの説明") + QString(104, QLatin1Char(' '))
           + QStringLiteral("ＢＭＰ、ＪＰＥＧ画像を弊社製品用画像データに変換します。") + QString(4, QChar(0x3000))
           + QString(47, QLatin1Char(' '))
           + QStringLiteral("Ｗｉｎｄｏｗｓのカラーパレットはフルカラー（２４ｂｉｔ）に設定してご使用ください。");
}

// A heading and one paragraph.
QString warningText()
{
    return QStringLiteral("警告") + QString(114, QLatin1Char(' '))
           + QStringLiteral("著作権で保護された画像ファイルを無断で商用等に使用したり、配布することは法律で禁止されています。");
}

}  // namespace

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(std::make_unique<Ui::AboutDialog>())
{
    ui->setupUi(this);
    // Fixed dialog frame: no minimise or maximise box, not resizable.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(382, 237);
    ui->iconLabel->setPixmap(programIcon().pixmap(32, 32));
    ui->iconLabel->adjustSize();
    ui->descriptionLabel->setText(descriptionText());
    ui->warningLabel->setText(warningText());
    // Fonts whose lines are taller than the design's would cut off the last line: such a label
    // grows into the free space below it (above the separator, above the window's edge).
    const auto fit = [](QLabel *label, int bottomLimit) {
        const int needed = label->heightForWidth(label->width());
        if (needed > label->height())
            label->resize(label->width(), qMin(needed, bottomLimit - label->y()));
    };
    fit(ui->descriptionLabel, 162);
    fit(ui->warningLabel, height());
    // Enter presses the default button; Esc rejects the dialog, which closes it the same way.
    connect(ui->okButton, &QPushButton::clicked, this, &QWidget::close);

    setWindowTitle(programCaption() + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    ui->versionLabel->setText(versionText());
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // An etched separator: a grey line with a white one just below it.
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(6, 163), QPoint(376, 163)), QColor(128, 128, 128));
    painter.fillRect(QRect(QPoint(7, 164), QPoint(376, 165)), Qt::white);
}

}  // namespace pw
