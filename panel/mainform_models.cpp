#include "panel/mainform.h"

namespace pts {

void MainForm::mnuPTS10_Click() {}
void MainForm::MNUpts160_Click() {}
void MainForm::mnuPTs200_Click() {}
void MainForm::mnuPTS310_Click() {}
void MainForm::mnuPTS500_Click() {}
void MainForm::mnuPTS620_Click() {}
void MainForm::mnuOther_Click() {}
void MainForm::mnuPTS3200_Click() {}
void MainForm::UnCheckModelNum() {}
void MainForm::mnuInfo_Click() {}
void MainForm::SelectModel(int) {}

}  // namespace pts
