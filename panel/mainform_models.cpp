// The model menu and the Info box. The EEPROM save commands are in mainform_eeprom.cpp.
#include <string>

#include "panel/mainform.h"
#include "panel/models.h"
#include "pts_version.h"

namespace pts {

namespace {

constexpr const char* kInfoTitle = "About PTS Panel";
constexpr const char* kInfoCredit =
    "PTS Synthesizer Control, front panel for the PTS USB Interface";
constexpr const char* kInfoVersion = "Version " PTS_VERSION ", " PTS_RELEASE_DATE;
constexpr const char* kInfoAddress = "Documentation: man pts-panel";

}  // namespace

void MainForm::SelectModel(int row) {
  const ModelRow& model = kModels.at(static_cast<size_t>(row));
  Label5.Caption(model.label);
  ModelNum = model.model_num;
  UnCheckModelNum();
  ModelItems()[static_cast<size_t>(row)]->Checked(true);
  if (model.wide) {
    Display3200();
  } else {
    DisplayNormal();
  }
}

void MainForm::mnuPTS10_Click() {
  SelectModel(ModelRowByNum(10));
}
void MainForm::MNUpts160_Click() {
  SelectModel(ModelRowByNum(160));
}
void MainForm::mnuPTs200_Click() {
  SelectModel(ModelRowByNum(200));
}
void MainForm::mnuPTS310_Click() {
  SelectModel(ModelRowByNum(310));
}
void MainForm::mnuPTS500_Click() {
  SelectModel(ModelRowByNum(500));
}
void MainForm::mnuPTS620_Click() {
  SelectModel(ModelRowByNum(620));
}
void MainForm::mnuOther_Click() {
  SelectModel(ModelRowByNum(1000));
}
void MainForm::mnuPTS3200_Click() {
  SelectModel(ModelRowByNum(3200));
}

void MainForm::UnCheckModelNum() {
  for (MenuItem* item : ModelItems()) item->Checked(false);
}

void MainForm::mnuInfo_Click() {
  // Lines end in a line feed followed by a carriage return, as the box has always shown them.
  const std::string text = std::string(kInfoCredit) + "\n\r" + kInfoVersion + "\n\r" + kInfoAddress;
  op_.MessageBox(text, MsgButtons::Ok, MsgIcon::Information, kInfoTitle);
}

}  // namespace pts
