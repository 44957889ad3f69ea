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

void MainForm::SelectModel(MenuItem& item) {
  const ModelRow& model = *ModelRowOfItem(item.Name());
  Label5.Caption(model.label);
  ModelNum = model.model_num;
  UnCheckModelNum();
  item.Checked(true);
  if (model.wide) {
    Display3200();
  } else {
    DisplayNormal();
  }
}

void MainForm::mnuPTS10_Click() {
  SelectModel(mnuPTS10);
}
void MainForm::MNUpts160_Click() {
  SelectModel(MNUpts160);
}
void MainForm::mnuPTs200_Click() {
  SelectModel(mnuPTs200);
}
void MainForm::mnuPTS310_Click() {
  SelectModel(mnuPTS310);
}
void MainForm::mnuPTS500_Click() {
  SelectModel(mnuPTS500);
}
void MainForm::mnuPTS620_Click() {
  SelectModel(mnuPTS620);
}
void MainForm::mnuOther_Click() {
  SelectModel(mnuOther);
}
void MainForm::mnuPTS3200_Click() {
  SelectModel(mnuPTS3200);
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
