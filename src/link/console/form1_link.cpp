// The device operations of the main window: the two transfers and the console.
#include "app/form1.h"
#include "link/console/form2.h"

namespace pw {

void Form1::tx_data() {}
void Form1::ts_data() {}
void Form1::mmucom_Click() {}
Form2 *Form1::console() const { return console_; }

}  // namespace pw
