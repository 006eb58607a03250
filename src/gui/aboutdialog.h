#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace pw {

// The About window: name, version, what the program does and a warning about protected
// pictures. Not modal; OK, Enter and Esc close it.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::unique_ptr<Ui::AboutDialog> ui;
};

}  // namespace pw
