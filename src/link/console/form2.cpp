#include "link/console/form2.h"

#include "app/form1.h"

namespace pw {

Form2::Form2(Form1 &main, QWidget *parent) : QWidget(parent), main_(main) {}

}  // namespace pw
