// A ready-made agent over simulated boards: SimulatedBackend with N boards and
// a Varnel configured as the main window configures it (vendor 6561, product
// 100, both filters on). An optional recording listener keeps every event as
// a line of text, with hooks that let a test re-enter the agent from an event.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"

namespace pts::testing {

// Records the agent's events, one line each:
//   "InterfaceOpened <handle> <vid> <pid> <name>"
//   "InterfaceClosed <still open> <name> <handle>"
//   "ReportArrived <in intf> <all>"
//   "DeviceArrived <value> <text>"
//   "DeviceRemoved <value> <text>"
//   "Notice <text>"
//   "ValueNotice <value>"
class RecordingListener : public VarnelListener {
 public:
  void InterfaceOpened(int32_t AHidHandle, int32_t VendorID, int32_t ProductID,
                       const std::string& IntfName) override;
  void InterfaceClosed(int32_t NumStillOpen, const std::string& IntfName,
                       int32_t AHidHandle) override;
  void ReportArrived(int32_t RptIndexInIntf, int32_t AllRptIndex) override;
  void DeviceArrived(int32_t Value, const std::string& Text) override;
  void DeviceRemoved(int32_t Value, const std::string& Text) override;
  void Notice(const std::string& Text) override;
  void ValueNotice(int32_t Value) override;

  // Lines whose first word is `kind` ("InterfaceOpened", ...).
  std::vector<std::string> Of(const std::string& kind) const;
  void Clear() { events.clear(); }

  std::vector<std::string> events;
  // Handles in the order InterfaceOpened announced them.
  std::vector<int32_t> opened_handles;

  // Called after the line is recorded; may call back into the agent.
  std::function<void(int32_t handle)> on_opened;
  std::function<void(int32_t still_open, int32_t handle)> on_closed;
  std::function<void(const std::string& text)> on_arrived;
  std::function<void(const std::string& text)> on_removed;
};

struct SimRig {
  struct Options {
    std::vector<uint8_t> statuses = {0xFE};  // one board per entry
    bool record = true;                      // attach the RecordingListener
    bool open = true;                        // call OpenDevices at once
  };

  SimRig();
  explicit SimRig(Options options);
  SimRig(const SimRig&) = delete;
  SimRig& operator=(const SimRig&) = delete;

  // Adds one more board (queued as an arrival); returns its 1-based number.
  int AddBoard(uint8_t status) { return backend.AddBoard(status); }
  // Delivers queued hot-plug events to the agent.
  void Pump() { varnel.ProcessHotplug(); }

  hid::SimulatedBackend backend;
  Varnel varnel;
  RecordingListener listener;
};

}  // namespace pts::testing
