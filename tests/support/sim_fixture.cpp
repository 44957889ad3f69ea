#include "support/sim_fixture.h"

namespace pts::testing {

void RecordingListener::InterfaceOpened(int32_t AHidHandle, int32_t VendorID, int32_t ProductID,
                                        const std::string& IntfName) {
  events.push_back("InterfaceOpened " + std::to_string(AHidHandle) + " " +
                   std::to_string(VendorID) + " " + std::to_string(ProductID) + " " + IntfName);
  opened_handles.push_back(AHidHandle);
  if (on_opened) on_opened(AHidHandle);
}

void RecordingListener::InterfaceClosed(int32_t NumStillOpen, const std::string& IntfName,
                                        int32_t AHidHandle) {
  events.push_back("InterfaceClosed " + std::to_string(NumStillOpen) + " " + IntfName + " " +
                   std::to_string(AHidHandle));
  if (on_closed) on_closed(NumStillOpen, AHidHandle);
}

void RecordingListener::ReportArrived(int32_t RptIndexInIntf, int32_t AllRptIndex) {
  events.push_back("ReportArrived " + std::to_string(RptIndexInIntf) + " " +
                   std::to_string(AllRptIndex));
}

void RecordingListener::DeviceArrived(int32_t Value, const std::string& Text) {
  events.push_back("DeviceArrived " + std::to_string(Value) + " " + Text);
  if (on_arrived) on_arrived(Text);
}

void RecordingListener::DeviceRemoved(int32_t Value, const std::string& Text) {
  events.push_back("DeviceRemoved " + std::to_string(Value) + " " + Text);
  if (on_removed) on_removed(Text);
}

void RecordingListener::Notice(const std::string& Text) {
  events.push_back("Notice " + Text);
}

void RecordingListener::ValueNotice(int32_t Value) {
  events.push_back("ValueNotice " + std::to_string(Value));
}

std::vector<std::string> RecordingListener::Of(const std::string& kind) const {
  std::vector<std::string> out;
  for (const auto& e : events) {
    if (e.compare(0, kind.size() + 1, kind + " ") == 0) out.push_back(e);
  }
  return out;
}

SimRig::SimRig() : SimRig(Options{}) {}

SimRig::SimRig(Options options) : varnel(backend) {
  for (uint8_t s : options.statuses) backend.AddBoard(s);
  backend.DrainHotplug();  // the boards were there before the program started
  varnel.VID_To_Match(hid::kBoardVendorId);
  varnel.PID_To_Match(hid::kBoardProductId);
  varnel.SearchOnVID(true);
  varnel.SearchOnPID(true);
  varnel.InitAgent();
  if (options.record) varnel.SetListener(&listener);
  if (options.open) varnel.OpenDevices();
}

}  // namespace pts::testing
