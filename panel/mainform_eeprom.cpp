#include "panel/mainform.h"

namespace pts {

void MainForm::mnuSaveFreq_Click() {}
void MainForm::mnuSaveModel_Click() {}

}  // namespace pts
