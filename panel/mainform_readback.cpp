#include "panel/mainform.h"

namespace pts {

void MainForm::Form_Activate() {}
void MainForm::ReadRptsBtn_Click() {}

}  // namespace pts
