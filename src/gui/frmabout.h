#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class frmAbout;
}

namespace pw {

// The About window: name, version, what the program does and a warning about protected pictures.
class FrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit FrmAbout(QWidget *parent = nullptr);
    ~FrmAbout() override;

    static QString descriptionText();
    static QString warningText();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void Form_Load();
    void cmdOK_Click();

    std::unique_ptr<Ui::frmAbout> ui;
};

}  // namespace pw
