#include "panel/mainform.h"
#include "panel/models.h"

namespace pts {

void MainForm::mnuSaveFreq_Click() {
  Cmd1Val = 5;
  TranslateFrequency();
  op_.MessageBox("Frequency and power level saved to interface EEPROM", MsgButtons::Ok,
                 MsgIcon::None, "");
}

void MainForm::mnuSaveModel_Click() {
  if (const int row = ModelRowByNum(ModelNum.value_or(0)); row >= 0) {
    Mnum = kModels[static_cast<size_t>(row)].code;
  }
  Cmd1Val = 6;
  TranslateFrequency();
  op_.MessageBox("Model# saved to interface EEPROM", MsgButtons::Ok, MsgIcon::None, "");
}

}  // namespace pts
