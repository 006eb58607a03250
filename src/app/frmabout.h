#pragma once

#include <QDialog>

namespace pw {

// The About window.
class FrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit FrmAbout(QWidget *parent = nullptr);
};

}  // namespace pw
