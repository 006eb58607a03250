#include "app/frmabout.h"

#include "app/form1.h"

namespace pw {

FrmAbout::FrmAbout(QWidget *parent) : QDialog(parent) {}

void Form1::mnuver_Click() {}
FrmAbout *Form1::about() const { return about_; }

}  // namespace pw
