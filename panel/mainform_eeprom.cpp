#include "hid/board.h"
#include "panel/mainform.h"
#include "panel/models.h"

namespace pts {

namespace {
constexpr const char* kNothingSaved =
    "No interface board accepted the command: nothing was saved to interface EEPROM";
}

// The confirmation only when a board took the command: after a refusal the
// operator has just been told why nothing was sent, and with no board (or
// every write failed) claiming a save would be false.
void MainForm::ConfirmSaved(const char* text) {
  if (!outcome_.sent) return;
  if (outcome_.Count(UnitState::kWritten) > 0) {
    Confirm(text);
  } else {
    Refuse(Reason::kNothingSaved, kNothingSaved);
  }
}

void MainForm::mnuSaveFreq_Click() {
  Cmd1Val = hid::kCmdStoreFrequency;
  TranslateFrequency();
  ConfirmSaved("Frequency and power level saved to interface EEPROM");
}

void MainForm::mnuSaveModel_Click() {
  if (const ModelRow* row = ModelRowOf(ModelNum)) Mnum = row->code;
  Cmd1Val = hid::kCmdStoreModel;
  TranslateFrequency();
  ConfirmSaved("Model# saved to interface EEPROM");
}

}  // namespace pts
