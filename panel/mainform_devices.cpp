#include <algorithm>

#include "panel/mainform.h"
#include "panel/models.h"
#include "panel/number_text.h"

namespace pts {

namespace {

constexpr const char* kDisconnected = "Disconect";
constexpr const char* kModelPrompt =
    "Select PTS Model from Menu Options\n"
    " \n"
    " After selecting a model# you can\n"
    " Save it to interface EEPROM from File Menu";

}  // namespace

void MainForm::InterfaceOpened(int32_t, int32_t, int32_t, const std::string&) {
  op_.Beep();
  // A board whose variables are spread over several interfaces fills one
  // device object before the next interface starts a new one.
  if (TPTS* last = LastDevice(); last && last->UnboundVarCount() != 0) {
    last->BindVars(agent_);
    return;
  }
  auto device = std::make_shared<TPTS>();
  if (device->BindVars(agent_) >= 0) Devices.push_back(std::move(device));
}

void MainForm::InterfaceClosed(int32_t NumStillOpen, const std::string& IntfName,
                               int32_t AHidHandle) {
  op_.Beep();
  // Downwards, so removing an entry leaves the ones still to visit in place.
  for (size_t i = Devices.size(); i-- > 0;) {
    const std::shared_ptr<TPTS> device = Devices[i];
    device->HidClosed(this, NumStillOpen, IntfName, AHidHandle);
    if (device->HasHandle(AHidHandle)) {
      device->Shutdown();
      Devices.erase(Devices.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  // The agent has renumbered its variables and reports: bind every entry
  // again, entry i to open interface i-1. An entry without an interface of
  // that ordinal has none to pair with; selecting it would fail.
  const size_t count =
      std::min(Devices.size(), static_cast<size_t>(std::max(0, agent_.OpenCount())));
  for (size_t i = 0; i < count; ++i) {
    const std::shared_ptr<TPTS> device = Devices[i];
    const int32_t intf = agent_.SelectOpenIntf(static_cast<int32_t>(i));
    agent_.SelectIntf(intf);
    device->ReBind(agent_);
  }
}

void MainForm::ReportArrived(int32_t RptIndexInIntf, int32_t AllRptIndex) {
  for (size_t i = Devices.size(); i-- > 0;) {
    const std::shared_ptr<TPTS> device = Devices[i];
    device->HidRptArrived(this, RptIndexInIntf, AllRptIndex);
  }
}

void MainForm::DeviceArrived(int32_t, const std::string&) {
  op_.Beep();
  // While loading, the open of Form_Load picks the board up. Activation sets
  // JustStarting again; boards attached after it are opened all the same, so
  // that they receive the sends from then on.
  if (!JustStarting || activated_) agent_.OpenDevices();
}

void MainForm::DeviceRemoved(int32_t, const std::string& Text) {
  op_.Beep();
  const double position = ReadNumber(Text);
  if (position != 0 && position != 1) return;
  OptionButton& unit = Option1(position == 0 ? 0 : 1);
  unit.Caption(kDisconnected);
  unit.Enabled(false);
  unit.Clear();
}

void MainForm::Notice(const std::string& Text) {
  // Shown once per distinct text: a board that keeps refusing access would
  // otherwise raise the same box on every hot-plug scan.
  if (std::find(notices_shown_.begin(), notices_shown_.end(), Text) != notices_shown_.end()) {
    return;
  }
  notices_shown_.push_back(Text);
  op_.MessageBox(Text, MsgButtons::Ok, MsgIcon::Information, "");
}

void MainForm::Option1_Click(int16_t) {
  op_.MessageBox("Hello from Optiono1_Click", MsgButtons::Ok, MsgIcon::None, "");
  for (int i = 0; i < 4; ++i) {
    if (Option1(i).Value()) DevNum = i + 1;
  }
  // A button can outlive its board (removed while the button stayed enabled).
  if (DevNum < 1 || DevNum > static_cast<int32_t>(Devices.size())) return;
  const std::shared_ptr<TPTS> unit = Devices[static_cast<size_t>(DevNum - 1)];
  unit->ReadAllReports();
  const int32_t code = unit->Data1()->UnScaledValue() & 0xF0;
  if (code == kNoModelCode) {
    ShowModelPrompt();
  } else if (const ModelRow* row = ModelRowOfCode(code)) {
    ModelNum = row->model_num;
    // The layout follows the model, as after the read-back (the PTS 3200 has its own).
    ShowLayout();
  }
  ShowModelLabel();
}

TPTS* MainForm::LastDevice() {
  return Devices.empty() ? nullptr : Devices.back().get();
}

bool MainForm::IsAttached(const TPTS* device) const {
  return std::any_of(Devices.begin(), Devices.end(),
                     [device](const std::shared_ptr<TPTS>& d) { return d.get() == device; });
}

void MainForm::ShowModelPrompt() {
  op_.MessageBox(kModelPrompt, MsgButtons::Ok, MsgIcon::None, "");
}

void MainForm::ShowLayout() {
  if (WideModel(ModelNum)) {
    Display3200();
  } else {
    DisplayNormal();
  }
}

void MainForm::ShowModelLabel() {
  Label5.Caption(ModelDisplayName(ModelNum, "PTS "));
}

}  // namespace pts
