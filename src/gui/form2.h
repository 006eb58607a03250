#pragma once

#include <QWidget>
#include <memory>

class QLineEdit;

namespace Ui {
class Form2;
}

namespace pw {

class Form1;

// The command console: sends one typed command line, or the raw bytes of a command file,
// over the main window's port. It owns no port, dialog or setting of its own.
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(Form1 &main, QWidget *parent = nullptr);
    ~Form2() override;

    // Sends Text1 followed by CR LF, then closes the port once the bytes are out.
    void Command1_Click();
    // Sends a command file chosen in the shared dialog, byte for byte.
    void Command2_Click();

    QLineEdit *text1() const;
    QString consoleCaption() const { return consoleCaption_; }
    // A send is running; presses of either button are ignored meanwhile.
    bool sending() const { return sending_; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui::Form2> ui;
    Form1 &main_;
    QString consoleCaption_;
    bool sending_ = false;
    bool closeRequested_ = false;
};

}  // namespace pw
