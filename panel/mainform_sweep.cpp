#include "panel/mainform.h"

namespace pts {

void MainForm::CmdSend_Click() {}
void MainForm::CmdStart_Click() {}
void MainForm::CmdSngl_Click() {}
void MainForm::CmdStop_Click() {}
void MainForm::ComdOff_Click() {}
void MainForm::TmrBlink_Timer() {}
void MainForm::TmrDwell_Timer() {}
bool MainForm::SweepSetup() {
  return false;
}

}  // namespace pts
