#include "panel/mainform.h"

namespace pts {

void MainForm::InterfaceOpened(int32_t, int32_t, int32_t, const std::string&) {}
void MainForm::InterfaceClosed(int32_t, const std::string&, int32_t) {}
void MainForm::ReportArrived(int32_t, int32_t) {}
void MainForm::DeviceArrived(int32_t, const std::string&) {}
void MainForm::DeviceRemoved(int32_t, const std::string&) {}
void MainForm::Notice(const std::string&) {}
void MainForm::Option1_Click(int16_t) {}

TPTS* MainForm::LastDevice() {
  return Devices.empty() ? nullptr : Devices.back().get();
}

}  // namespace pts
