#include "gui/form1.h"

#include "core/files.h"
#include "core/settingsfile.h"
#include "ui_form1.h"
#include "gui/picturearea.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QToolBar>

namespace pw {

namespace {

const QString kSettingsName = QStringLiteral("parameterv12864.ini");
const QString kDefaultRewriteTime = QStringLiteral("3");
const QString kDefaultPort = QStringLiteral("1");

bool isRewriteTime(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= 1 && value <= 5 && text == QString::number(value);
}

void fillNumbers(QComboBox *combo, int from, int to)
{
    for (int i = from; i <= to; ++i)
        combo->addItem(QString::number(i));
}

}  // namespace

Form1::Form1(const Platform &platform, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::Form1>()), platform_(platform),
      CommonDialog1_(*platform.dialogs)
{
    ui->setupUi(this);
    setWindowIcon(listImage(QStringLiteral("program")));
    QPalette red = ui->Label1->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    ui->Label1->setPalette(red);
    ui->ProgressBar1->setVisible(false);

    fillNumbers(ui->Combo1, 1, 5);
    fillNumbers(ui->Combo2, 1, 16);
    fillNumbers(ui->Combo3, 0, 12);
    for (QComboBox *combo : {ui->Combo1, ui->Combo2, ui->Combo3}) {
        combo->setEditable(false);
        combo->setCurrentIndex(-1);
    }
    connect(ui->Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    connect(ui->Combo2, &QComboBox::activated, this, [this] { Combo2_Click(); });

    buildMenus();
    buildToolbar();
    setupWorkspace();

    // Fixed size, no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    centralWidget()->setFixedSize(231, 160);
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Form_load();
}

Form1::~Form1() = default;

PictureArea *Form1::picture() const { return ui->Picture1; }
QLabel *Form1::statusLabel() const { return ui->Label1; }
QProgressBar *Form1::progressBar() const { return ui->ProgressBar1; }

QComboBox *Form1::combo(int number) const
{
    switch (number) {
    case 1: return ui->Combo1;
    case 2: return ui->Combo2;
    case 3: return ui->Combo3;
    default: return nullptr;
    }
}

void Form1::buildMenus()
{
    auto item = [this](QMenu *menu, const char *name, const QString &caption, void (Form1::*handler)()) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    auto topMenu = [this](const char *name, const QString &caption) {
        QMenu *menu = menuBar()->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        menu->menuAction()->setObjectName(QLatin1String(name));
        return menu;
    };

    QMenu *mnufile = topMenu("mnufile", QStringLiteral("ﾌｧｲﾙ(&F)"));
    item(mnufile, "mnuopn", QStringLiteral("画像を開く(&O)"), &Form1::mnuopn_Click);
    item(mnufile, "mnubo", QStringLiteral("ＢＩＮファイルを開く(&B)"), &Form1::mnubo_Click);
    item(mnufile, "mnusav", QStringLiteral("名前を付けて画像を保存(&A)"), &Form1::mnusav_Click);
    item(mnufile, "mnuasav", QStringLiteral("名前を付けてＢＩＮファイルを保存(&S)"), &Form1::mnuasav_Click);
    mnufile->addSeparator()->setObjectName(QStringLiteral("mnuhf"));
    item(mnufile, "mnuend", QStringLiteral("終了(&X)"), &Form1::mnuend_Click);

    QMenu *mnugo = topMenu("mnugo", QStringLiteral("実行(&R)"));
    item(mnugo, "mnucnv", QStringLiteral("画像変換(&C)"), &Form1::mnucnv_Click);
    item(mnugo, "mnutx", QStringLiteral("画像送信（VRAM）(&T)"), &Form1::mnutx_Click);
    item(mnugo, "mnuts", QStringLiteral("画像送信（FLASH）(&S)"), &Form1::mnuts_Click);
    item(mnugo, "mmucom", QStringLiteral("コマンド送信(&A)"), &Form1::mmucom_Click);

    QMenu *mnuhlp = topMenu("mnuhlp", QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    item(mnuhlp, "mnuver", QStringLiteral("バージョン情報(&A)"), &Form1::mnuver_Click);

    // Not on the menu bar: opened over the picture area only.
    popclipboard_ = new QMenu(QStringLiteral("クリップボード"), this);
    popclipboard_->setObjectName(QStringLiteral("popclipboard"));
    item(popclipboard_, "popcopy", QStringLiteral("コピー"), &Form1::popcopy_Click);
    item(popclipboard_, "poppaste", QStringLiteral("ペースト"), &Form1::poppaste_Click);
    popclipboard_->addAction(QStringLiteral("キャンセル"))->setObjectName(QStringLiteral("popcansel"));
}

QIcon Form1::listImage(const QString &key)
{
    QImage image(QStringLiteral(":/images/%1.xpm").arg(key));
    if (image.isNull())
        return {};
    if (key != QLatin1String("program")) {
        // The image list's transparent colour is light grey.
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if ((line[x] & 0xFFFFFFu) == 0xC0C0C0u)
                    line[x] = qRgba(0, 0, 0, 0);
        }
    }
    return QIcon(QPixmap::fromImage(image));
}

void Form1::buildToolbar()
{
    // Placed inside the client area, as the window's layout has it (not in a dock area).
    Toolbar1_ = new QToolBar(centralWidget());
    Toolbar1_->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1_->setGeometry(0, 0, 231, 28);
    Toolbar1_->setIconSize(QSize(16, 16));
    Toolbar1_->setMovable(false);
    Toolbar1_->setFloatable(false);
    Toolbar1_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    struct Button {
        const char *key;
        QString tip;
        const char *image;
    };
    const Button buttons[] = {
        {"toolopnbmp", QStringLiteral("画像を開く"), "imgopnbmp"},
        {"toolopnbin", QStringLiteral("ＢＩＮファイルを開く"), "imgopnbin"},
        {"toolsavbmp", QStringLiteral("名前を付けて画像を保存する"), "imgsavbmp"},
        {"toolsavbin", QStringLiteral("名前を付けてＢＩＮファイルを保存する"), "imgsavbin"},
        {"toolconv", QStringLiteral("変換"), "imgconv"},
        {nullptr, {}, nullptr},
        {"tooltx", QStringLiteral("画像送信（VRAM）"), "imgti"},
        {"toolts", QStringLiteral("画像送信（FLASH）"), "imgtv"},
        {nullptr, {}, nullptr},
        {"toolcom", QStringLiteral("コマンド送信"), "imgcom"},
    };
    for (const Button &b : buttons) {
        if (!b.key) {
            Toolbar1_->addSeparator();
            continue;
        }
        const QString key = QLatin1String(b.key);
        QAction *action = Toolbar1_->addAction(listImage(QLatin1String(b.image)), QString());
        action->setObjectName(key);
        action->setData(key);
        action->setToolTip(b.tip);
        action->setProperty("imageKey", QLatin1String(b.image));
    }
    connect(Toolbar1_, &QToolBar::actionTriggered, this,
            [this](QAction *action) { Toolbar1_ButtonClick(action->data().toString()); });
}

void Form1::Toolbar1_ButtonClick(const QString &key)
{
    if (key == QLatin1String("toolopnbmp"))
        open_picture();
    else if (key == QLatin1String("toolopnbin"))
        open_bin();
    else if (key == QLatin1String("toolsavbmp"))
        save_bmp();
    else if (key == QLatin1String("toolsavbin"))
        save_bin();
    else if (key == QLatin1String("toolconv"))
        mnucnv_Click();
    else if (key == QLatin1String("tooltx"))
        mnutx_Click();
    else if (key == QLatin1String("toolts"))
        mnuts_Click();
    else if (key == QLatin1String("toolcom"))
        mmucom_Click();
}

void Form1::mnuopn_Click() { open_picture(); }
void Form1::mnubo_Click() { open_bin(); }
void Form1::mnusav_Click() { save_bmp(); }
void Form1::mnuasav_Click() { save_bin(); }

void Form1::mnuend_Click()
{
    if (platform_.exitProgram)
        platform_.exitProgram();
}

void Form1::mnucnv_Click()
{
    setStatus(QStringLiteral("変換中．．．"), true);
    CONV();
}

void Form1::mnutx_Click()
{
    if (boxes().confirm(this, QStringLiteral("注意：表示書換中は、＜はい＞にしないで下さい！！"),
                        QStringLiteral("画像を書換しますか？")))
        tx_data();
}

void Form1::mnuts_Click()
{
    const QString page = ui->Combo3->currentText();
    const QString question = QStringLiteral("フラッシュページ ") + page + QStringLiteral(" の画像を書換しますか？");
    if (boxes().confirm(this, QStringLiteral("注意：表示書換中は、＜はい＞にしないで下さい！！"), question))
        ts_data();
}

void Form1::setStatus(const QString &text, bool redraw)
{
    ui->Label1->setText(text);
    if (redraw)
        ui->Label1->repaint();
}

void Form1::setCaptionPath(const QString &path)
{
    setWindowTitle(baseCaption_ + QLatin1Char('(') + QDir::toNativeSeparators(path) + QLatin1Char(')'));
}

bool Form1::selectComboText(QComboBox *combo, const QString &text)
{
    const int index = combo->findText(text, Qt::MatchExactly);
    if (index < 0)
        return false;
    {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(index);
    }
    if (combo == ui->Combo1)
        Combo1_Click();
    else if (combo == ui->Combo2)
        Combo2_Click();
    return true;
}

bool Form1::writeSettings() { return writeSettingsFile(settings_); }

void Form1::Form_load()
{
    QDir::setCurrent(platform_.programDir);
    appPath_ = platform_.programDir;
    // Joined with '/', which every platform's file functions take.
    settings_.path = appPath_ + QLatin1Char('/') + kSettingsName;

    // A missing, unreadable or short file must not stop the start: what is missing or not a
    // rewrite time takes the default, and the file is written back whole below.
    const QStringList values = readSettingsValues(settings_.path);
    settings_.rewriteTime = values.size() > 0 && isRewriteTime(values[0]) ? values[0] : kDefaultRewriteTime;
    settings_.portNumber = values.size() > 1 && !values[1].isEmpty() ? values[1] : kDefaultPort;

    selectComboText(ui->Combo1, settings_.rewriteTime);

    baseCaption_ = QStringLiteral("Pixelwright for 128×64(Mono)");
    setWindowTitle(baseCaption_);

    if (port().isOpen())
        port().close();
    if (!selectComboText(ui->Combo2, settings_.portNumber)) {
        boxes().inform(this, QStringLiteral("注意"), QStringLiteral("ポートの指定が誤りです。(Form_load)"));
        return;
    }
    selectComboText(ui->Combo3, QStringLiteral("0"));
}

void Form1::Combo1_Click()
{
    settings_.rewriteTime = ui->Combo1->currentText();
    // Nothing is shown when the file cannot be written: the choice holds for this run.
    writeSettings();
}

void Form1::Combo2_Click()
{
    settings_.portNumber = ui->Combo2->currentText();
    bool ok = writeSettings();
    if (ok) {
        if (port().isOpen())
            port().close();
        ok = port().setPortNumber(settings_.portNumber.toInt());
        if (ok)
            port().clearTransmitBuffer();
    }
    if (!ok)
        boxes().inform(this, QStringLiteral("注意"), QStringLiteral("ポートの指定が誤りです。(Combo2_Click)"));
    if (port().isOpen())
        port().close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (port().isOpen())
        port().close();
    event->accept();
}

void Form1::CONV()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QProgressBar *bar = ui->ProgressBar1;
    bar->setMinimum(0);
    bar->setMaximum(7);
    bar->setVisible(true);
    bar->setValue(0);
    convertSurface(ui->Picture1->surface(), MonoImage_, [bar](int band) { bar->setValue(band); });
    // The painted black and white stay in the area: it shows what the device will show.
    ui->Picture1->repaint();
    bar->setVisible(false);
    setStatus(QStringLiteral("完了!!"), false);
    QApplication::restoreOverrideCursor();
}

void Form1::save_bin()
{
    QDir::setCurrent(appPath_);
    CommonDialog1_.setFlags(CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly);
    CommonDialog1_.setFilter(QStringLiteral("Binary(*.BIN)|*.BIN"));
    CommonDialog1_.setFileName(QString());
    if (!CommonDialog1_.showSave(this))
        return;
    // Silent on failure, but the label must not go on reading as an earlier success.
    setStatus(writeBinFile(CommonDialog1_.fileName(), MonoImage_) ? QStringLiteral("保存終了!!") : QString(), false);
}

void Form1::open_bin()
{
    QDir::setCurrent(appPath_);
    CommonDialog1_.setFilter(QStringLiteral("Bin(*.bin)|*.bin"));
    if (!CommonDialog1_.showOpen(this))
        return;
    load_bin(CommonDialog1_.fileName());
}

bool Form1::load_bin(const QString &path)
{
    if (!readBinFile(path, MonoImage_))
        return false;
    setCaptionPath(path);
    return true;
}

}  // namespace pw
