#include "panel/encoding.h"
#include "panel/mainform.h"
#include "panel/models.h"
#include "panel/number_text.h"

namespace pts {

void MainForm::Form_Activate() {
  // Only the first activation after loading reads the boards back; the window
  // is activated again after every message box, and each read-back may show one.
  if (activated_) return;
  activated_ = true;
  Knob1_Change(0);
  ReadRptsBtn_Click();
  JustStarting = true;
  StopFlag = false;
}

void MainForm::ReadRptsBtn_Click() {
  TakeStepResults(true);
  // Selecting a unit button runs Option1_Click, and a read that finds its
  // board gone closes the interface, both in the middle of this loop: walk a
  // copy and skip boards that have left Devices meanwhile.
  const std::vector<std::shared_ptr<TPTS>> units = Devices;
  for (size_t i = 0; i < units.size(); ++i) {
    DevNum = static_cast<int32_t>(i) + 1;
    TPTS& unit = *units[i];
    if (!IsAttached(&unit)) continue;
    // A read that failed (timed out, or found the board gone and closed it)
    // leaves Data1 as it was: 0 before the first read, which would show unit 7
    // with no model. Nothing is decoded from it; a board still attached gets
    // its button enabled, so that choosing it reads the board again.
    if (!unit.ReadAllReports()) {
      if (IsAttached(&unit) && i > 0 && i < 4) Option1(static_cast<int>(i)).Enabled(true);
      continue;
    }
    if (!IsAttached(&unit)) continue;
    const int32_t data = unit.Data1()->UnScaledValue();
    const int32_t code = data & 0xF0;
    UnitNum = UnitFromData(data);

    const std::string caption = "Unit " + FormatSigned(UnitNum);
    if (i == 0) {
      Option1(0).Caption(caption);
    } else if (i < 4) {
      OptionButton& button = Option1(static_cast<int>(i));
      button.Caption(caption);
      button.Enabled(true);
      button.Value(true);
    }

    if (code == kNoModelCode) {
      ShowModelPrompt();
    } else if (const ModelRow* model = ModelRowOfCode(code)) {
      ModelNum = model->model_num;
      Mnum = model->code;
      for (MenuItem* item : ModelItems()) {
        if (item->Name() == model->item) item->Checked(true);
      }
    }
    ShowLayout();
    ShowModelLabel();
  }
  DevNum = static_cast<int32_t>(Devices.size()) + 1;
}

}  // namespace pts
