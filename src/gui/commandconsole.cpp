#include "gui/commandconsole.h"

#include "core/link/transfer.h"
#include "core/storage/settingsfile.h"
#include "core/link/serialport.h"
#include "gui/platform/filedialog.h"
#include "gui/platform/messageboxes.h"
#include "gui/waitgate.h"
#include "core/link/protocol.h"
#include "ui_commandconsole.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>

namespace pw {

namespace {

const QString kCaution = QStringLiteral("注意");
const QString kPortError = QStringLiteral("ポートの指定が誤りです。");
const QString kFileSent = QStringLiteral("コマンドファイルを送信しました。");

}  // namespace

CommandConsole::CommandConsole(const ConsoleSeams &seams, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::CommandConsole>()), main_(seams)
{
    ui->setupUi(this);
    // A small fixed window of its own, even when it has the main window as parent.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(235, 136);
    consoleCaption_ = windowTitle();
    connect(ui->sendCommandButton, &QPushButton::clicked, this, &CommandConsole::sendTypedLine);
    connect(ui->sendFileButton, &QPushButton::clicked, this, &CommandConsole::sendCommandFile);
}

CommandConsole::~CommandConsole() = default;

QLineEdit *CommandConsole::commandLineEdit() const { return ui->commandLineEdit; }

void CommandConsole::sendTypedLine()
{
    // The wait below lets window events run, so a second press can arrive here meanwhile.
    if (sending_)
        return;
    sending_ = true;
    closeRequested_ = false;
    SerialPort &port = main_.port;
    // The system's 8-bit code page, as every text the program writes to the port.
    const QByteArray line = protocol::commandLine(ui->commandLineEdit->text().toLocal8Bit());
    bool ok = openPortSequence(port, main_.settings.portNumber) && port.writeText(line);
    Waiter::End end = Waiter::End::Failed;
    if (ok) {
        // Closing the port drops what is still queued, so wait until the line is out.
        WaitGate gate(WaitGate::Input::Passed);
        end = waitHandedOver(port, gate);
        if (end == Waiter::End::Reached)
            end = waitTransmitted(port, gate, line.size());
        ok = end == Waiter::End::Reached;
    }
    sending_ = false;
    if (end == Waiter::End::Cancelled) {
        // Esc on a line the device does not take: stopped, the port closed, nothing shown.
        port.close();
        return;
    }
    if (closeRequested_) {
        // The console was closed during the wait and the main window is back already; the
        // port was left for this send to close.
        if (port.isOpen())
            port.close();
        return;
    }
    if (!ok) {
        main_.boxes.inform(this, kCaution, kPortError);
        return;
    }
    port.close();
}

void CommandConsole::sendCommandFile()
{
    if (sending_)
        return;
    SharedFileDialog &dialog = main_.fileDialog;
    dialog.setFilter(QStringLiteral("*.*|*.*"));
    if (!dialog.showOpen(this))
        return;
    const QString path = dialog.fileName();

    // Every failure from here on ends the send without a word. An empty file sends nothing
    // and leaves the caption as it is; so does anything that is no file of fixed length.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential() || file.size() <= 0)
        return;
    setWindowTitle(consoleCaption_ + QLatin1Char('(') + QDir::toNativeSeparators(path) + QLatin1Char(')'));

    SerialPort &port = main_.port;
    if (!openPortSequence(port, main_.settings.portNumber))
        return;
    sending_ = true;
    // Nothing the user does may reach the program until the file is out; a large file keeps
    // the hourglass up for as long as the line needs (960 bytes a second).
    WaitGate gate(WaitGate::Input::Blocked);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto end = [this] {
        QApplication::restoreOverrideCursor();
        sending_ = false;
    };
    // The file is read a piece at a time as the line takes it, so a file of any size costs
    // one piece of memory. A large file takes minutes at 9600 baud: the windows keep painting
    // meanwhile, and Esc stops the send (the port is closed; what was not sent is dropped).
    // The notice says the file has been sent, so the send also waits until the line is out:
    // the port is closed right after the notice, and a close drops what is still queued.
    switch (sendCommandBytes(port, gate, file)) {
    case Waiter::End::Reached:
        break;
    case Waiter::End::Cancelled:
        port.close();
        end();
        return;
    case Waiter::End::Failed:
    case Waiter::End::TimedOut:
        end();
        return;
    }
    {
        WaitGate::Opening open(gate);
        main_.boxes.inform(this, QString(), kFileSent);
    }
    end();
    port.close();
}

void CommandConsole::closeEvent(QCloseEvent *event)
{
    if (sending_)
        closeRequested_ = true;  // the running send closes the port once its bytes are out
    else if (main_.port.isOpen())
        main_.port.close();
    event->accept();
    main_.mainWindow.show();
    main_.mainWindow.repaint();
}

}  // namespace pw
