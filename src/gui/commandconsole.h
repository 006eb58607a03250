#pragma once

#include <QWidget>
#include <memory>

class QLineEdit;

namespace Ui {
class CommandConsole;
}

namespace pw {

class MessageBoxes;
class SerialPort;
class SharedFileDialog;
struct Settings;

// What the console borrows from the main window: it owns no port, dialog or setting of its own.
struct ConsoleSeams {
    SerialPort &port;
    const Settings &settings;  // the port number
    MessageBoxes &boxes;
    SharedFileDialog &fileDialog;
    QWidget &mainWindow;  // hidden while the console is open, shown again when it closes
};

// The command console: sends one typed command line, or the raw bytes of a command file, to
// the device over the main window's port.
class CommandConsole : public QWidget {
    Q_OBJECT
public:
    explicit CommandConsole(const ConsoleSeams &seams, QWidget *parent = nullptr);
    ~CommandConsole() override;

    // Sends the typed line with CR LF, then closes the port once the bytes are out.
    void sendTypedLine();
    // Sends a file chosen in the shared dialog as it is stored, a piece at a time.
    void sendCommandFile();

    QLineEdit *commandLineEdit() const;
    // The console's own caption; a file send appends the file's path to it.
    QString consoleCaption() const { return consoleCaption_; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::CommandConsole> ui;
    ConsoleSeams main_;
    QString consoleCaption_;
    // A send is running; presses of either button are ignored meanwhile.
    bool sending_ = false;
    bool closeRequested_ = false;
};

}  // namespace pw
