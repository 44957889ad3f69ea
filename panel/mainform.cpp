#include "panel/mainform.h"

namespace pts {

MainForm::MainForm(Varnel& agent, Operator& op, std::string program_dir)
    : agent_(agent), op_(op), program_dir_(std::move(program_dir)) {
  BuildControls();
}
MainForm::~MainForm() = default;

void MainForm::BuildControls() {}
std::vector<Control*> MainForm::AllControls() {
  return {};
}
std::array<MenuItem*, 8> MainForm::ModelItems() {
  return {&mnuPTS10,  &MNUpts160, &mnuPTs200, &mnuPTS310,
          &mnuPTS500, &mnuPTS620, &mnuOther,  &mnuPTS3200};
}
bool MainForm::Form_Load() {
  return false;
}
void MainForm::Form_Unload() {}
void MainForm::ConfigureAgent() {}
bool MainForm::OpenUsbDevice() {
  return false;
}
void MainForm::CloseAgent() {}

}  // namespace pts
