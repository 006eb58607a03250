#include "gui/form2.h"

#include "gui/form1.h"
#include "gui/waitgate.h"
#include "gui/linktexts.h"
#include "ui_form2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pw {

Form2::Form2(Form1 &main, QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::Form2>()), main_(main)
{
    ui->setupUi(this);
    // A small fixed window of its own, even when it has the main window as parent.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(235, 136);
    consoleCaption_ = windowTitle();
    connect(ui->Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(ui->Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

Form2::~Form2() = default;

QLineEdit *Form2::text1() const { return ui->Text1; }

void Form2::Command1_Click()
{
    // The wait below lets window events run, so a second press can arrive here meanwhile.
    if (sending_)
        return;
    sending_ = true;
    closeRequested_ = false;
    SerialPort &port = main_.port();
    // The system's 8-bit code page, as every text the program writes to the port.
    const QByteArray line = commandLine(ui->Text1->text().toLocal8Bit());
    bool ok = openPortSequence(port, main_.settings().portNumber) && port.writeText(line);
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
        main_.boxes().inform(this, LinkText::caution, LinkText::consolePortError);
        return;
    }
    port.close();
}

void Form2::Command2_Click()
{
    if (sending_)
        return;
    CommonDialog &dialog = main_.commonDialog();
    dialog.setFilter(QStringLiteral("*.*|*.*"));
    if (!dialog.showOpen(this))
        return;
    const QString path = dialog.fileName();

    // Every failure from here on ends the send without a word.
    const qint64 length = QFileInfo(path).size();
    if (length <= 0)
        return;
    QByteArray bytes;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        bytes = file.readAll();
    }
    if (bytes.size() != length)
        return;
    setWindowTitle(consoleCaption_ + QLatin1Char('(') + QDir::toNativeSeparators(path) + QLatin1Char(')'));

    SerialPort &port = main_.port();
    if (!openPortSequence(port, main_.settings().portNumber))
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
    // A large file takes minutes at 9600 baud: the windows keep painting meanwhile, and Esc
    // stops the send (the port is closed; what was not sent is dropped). The notice says the
    // file has been sent, so the send also waits until the line is out: the port is closed
    // right after the notice, and a close drops what is still queued.
    switch (sendCommandBytes(port, gate, bytes)) {
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
        main_.boxes().inform(this, QString(), LinkText::fileSent);
    }
    end();
    port.close();
}

void Form2::closeEvent(QCloseEvent *event)
{
    if (sending_)
        closeRequested_ = true;  // the running send closes the port once its bytes are out
    else if (main_.port().isOpen())
        main_.port().close();
    event->accept();
    main_.show();
    main_.repaint();
}

}  // namespace pw
