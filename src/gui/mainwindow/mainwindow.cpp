// The main window itself: its controls, the settings it restores at start and the lists that
// change them, its caption and status, the windows it opens, and its end.
#include "gui/mainwindow/mainwindow.h"

#include "core/storage/settingsfile.h"
#include "gui/aboutdialog.h"
#include "gui/commandconsole.h"
#include "gui/studio/conversionstudio.h"
#include "gui/icons.h"
#include "gui/mainwindow/picturearea.h"
#include "gui/programinfo.h"
#include "gui/studio/sourcepicture.h"
#include "core/link/protocol.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

namespace pw {

namespace {

const QString kSettingsName = QStringLiteral("parameterv12864.ini");
const QString kConversionSettingsName = QStringLiteral("conversion.ini");
const QString kDefaultRewriteTime = QString::number(protocol::kPowerUpRewriteTime);
const QString kDefaultPort = QStringLiteral("1");

bool isRewriteTime(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && protocol::kRewriteTimes.contains(value) && text == QString::number(value);
}

void fillNumbers(QComboBox *list, int from, int to)
{
    for (int i = from; i <= to; ++i)
        list->addItem(QString::number(i));
}

}  // namespace

MainWindow::MainWindow(const Platform &platform, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>()), platform_(platform), fileDialog_(*platform.dialogs)
{
    ui->setupUi(this);
    setWindowIcon(programIcon());
    QPalette red = ui->statusLabel->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    ui->statusLabel->setPalette(red);
    ui->progressBar->setVisible(false);

    fillNumbers(rewriteTimeList(), protocol::kRewriteTimes.low, protocol::kRewriteTimes.high);
    fillNumbers(portList(), protocol::kPorts.low, protocol::kPorts.high);
    fillNumbers(pageList(), protocol::kPages.low, protocol::kPages.high);
    for (QComboBox *list : {rewriteTimeList(), portList(), pageList()}) {
        list->setEditable(false);
        list->setCurrentIndex(-1);
    }
    connect(rewriteTimeList(), &QComboBox::activated, this, &MainWindow::rewriteTimeChosen);
    connect(portList(), &QComboBox::activated, this, &MainWindow::portChosen);
    connect(pictureArea(), &PictureArea::filesDropped, this, &MainWindow::openDroppedFiles);
    connect(pictureArea(), &PictureArea::mousePressed, this, &MainWindow::showPictureMenu);
    areaPicture_ = pictureArea()->surface();
    connect(pictureArea(), &PictureArea::surfaceReplaced, this, [this] {
        areaPicture_ = pictureArea()->surface();
        textAloneShown_ = false;
        showResult();
    });

    // Beside the settings file, and apart from it: that file never changes for these.
    conversionPath_ = platform_.programDir + QLatin1Char('/') + kConversionSettingsName;
    conversion_ = readConversionSettings(conversionPath_);
    conversionSaveTimer_ = new QTimer(this);
    conversionSaveTimer_->setSingleShot(true);
    connect(conversionSaveTimer_, &QTimer::timeout, this, &MainWindow::saveConversionSettings);

    createActions();
    createMenus();
    createToolBar();

    // Fixed size, no minimise or maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    centralWidget()->setFixedSize(231, 160);
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    restoreSettings();
}

MainWindow::~MainWindow() { saveConversionSettings(); }

PictureArea *MainWindow::pictureArea() const { return ui->pictureArea; }
QLabel *MainWindow::statusLabel() const { return ui->statusLabel; }
QProgressBar *MainWindow::progressBar() const { return ui->progressBar; }
QComboBox *MainWindow::rewriteTimeList() const { return ui->rewriteTimeList; }
QComboBox *MainWindow::portList() const { return ui->portList; }
QComboBox *MainWindow::pageList() const { return ui->pageList; }
CommandConsole *MainWindow::console() const { return console_; }
AboutDialog *MainWindow::about() const { return about_; }

void MainWindow::setStatus(const QString &text, bool redraw)
{
    ui->statusLabel->setText(text);
    if (redraw)
        ui->statusLabel->repaint();
}

void MainWindow::setCaptionPath(const QString &path)
{
    setWindowTitle(programCaption() + QLatin1Char('(') + QDir::toNativeSeparators(path) + QLatin1Char(')'));
}

bool MainWindow::selectListEntry(QComboBox *list, const QString &text)
{
    const int index = list->findText(text, Qt::MatchExactly);
    if (index < 0)
        return false;
    {
        const QSignalBlocker blocker(list);
        list->setCurrentIndex(index);
    }
    if (list == rewriteTimeList())
        rewriteTimeChosen();
    else if (list == portList())
        portChosen();
    return true;
}

// Restores the two settings from the settings file beside the program and shows them in the
// lists, which writes the file back; the FLASH page starts at 0 at every start.
void MainWindow::restoreSettings()
{
    QDir::setCurrent(platform_.programDir);
    // Joined with '/', which every platform's file functions take.
    settings_.path = platform_.programDir + QLatin1Char('/') + kSettingsName;

    // A missing, unreadable or short file must not stop the start: what is missing or not a
    // rewrite time takes the default, and the file is written back whole below.
    const QStringList values = readSettingsValues(settings_.path);
    settings_.rewriteTime = values.size() > 0 && isRewriteTime(values[0]) ? values[0] : kDefaultRewriteTime;
    settings_.portNumber = values.size() > 1 && !values[1].isEmpty() ? values[1] : kDefaultPort;

    selectListEntry(rewriteTimeList(), settings_.rewriteTime);

    setWindowTitle(programCaption());

    if (port().isOpen())
        port().close();
    if (!selectListEntry(portList(), settings_.portNumber)) {
        // A stored port that is no entry: the port and page lists stay empty. (The port
        // errors name, in brackets, the place they come from; users quote them so.)
        boxes().inform(this, QStringLiteral("注意"), QStringLiteral("ポートの指定が誤りです。(Form_load)"));
        return;
    }
    selectListEntry(pageList(), QStringLiteral("0"));
}

void MainWindow::rewriteTimeChosen()
{
    settings_.rewriteTime = rewriteTimeList()->currentText();
    // Nothing is shown when the file cannot be written: the choice holds for this run.
    writeSettingsFile(settings_);
}

void MainWindow::portChosen()
{
    settings_.portNumber = portList()->currentText();
    bool ok = writeSettingsFile(settings_);
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

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveConversionSettings();
    if (port().isOpen())
        port().close();
    event->accept();
}

void MainWindow::exitAtOnce()
{
    // No question, no closing steps: the port is released by the end of the process. Only a
    // conversion setting still waiting to be written is written first.
    saveConversionSettings();
    if (platform_.exitProgram)
        platform_.exitProgram();
}

void MainWindow::openConsole()
{
    hide();
    // Each opening is a fresh console, as a window loaded anew: caption, text box and all.
    if (console_ && !console_->isVisible()) {
        delete console_;
        console_ = nullptr;
    }
    if (!console_)
        console_ = new CommandConsole(ConsoleSeams{port(), settings(), boxes(), fileDialog(), *this}, this);
    console_->show();
    console_->repaint();
}

void MainWindow::showAbout()
{
    // Not modal: the main window stays usable, and a second request brings the same window forward.
    if (!about_)
        about_ = new AboutDialog(this);
    about_->show();
    about_->raise();
    about_->activateWindow();
    about_->repaint();
}

}  // namespace pw
