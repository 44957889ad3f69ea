// The seam between the HID agent and the operating system. Two implementations:
// hidraw (real boards through Linux hidraw and libudev) and simulated (boards
// inside the process). Everything above the agent cannot tell them apart.
//
// Threads: every call comes from the UI thread, except Write, which the
// agent may also make from the I/O worker of the device's interface. A
// worker's write may still run when the UI thread has moved on (a sweep's
// step does not wait for it), so Write on one device may run beside any call
// on another device (Enumerate, Open, Close, GetInputReport, DrainHotplug,
// Write). Calls on one device never overlap: the agent waits for a device's
// write before it reads or closes that device. Implementations guard what
// devices share (their table of open devices, a trace) accordingly.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pts::hid {

// An interface found by Enumerate. `path` identifies it to Open; it is stable
// while the device stays attached (a replugged board may come back under a new path).
struct InterfaceInfo {
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::string name;  // product string or a readable stand-in
};

enum class IoStatus {
  Ok,
  TimedOut,      // no report within the time-out
  Failed,        // the transfer failed; the device may still be there
  Disconnected,  // the device is gone (EIO/ENODEV/POLLHUP); the agent closes it
  AccessDenied,  // Open only: the node exists but may not be opened (EACCES/EPERM)
  NotFound,      // Open only: no such path (any longer)
};

// Handle of an opened device within one backend. Backends never reuse one
// while the process lives.
using DeviceId = uint64_t;

struct OpenResult {
  IoStatus status = IoStatus::Failed;
  DeviceId id = 0;                  // valid when status == Ok
  std::vector<uint8_t> descriptor;  // the report descriptor, raw bytes
  std::string error;                // readable reason when status != Ok
};

struct HotplugEvent {
  enum class Kind { Arrived, Removed } kind = Kind::Arrived;
  std::string path;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Every HID interface now attached whose ids match. A zero id matches any.
  virtual std::vector<InterfaceInfo> Enumerate(uint16_t vendor_id, uint16_t product_id) = 0;

  // Opens one enumerated interface and reads its report descriptor.
  virtual OpenResult Open(const std::string& path) = 0;

  // Sends one output report: `report[0]` is the report id (0 for a device
  // without ids), then the report's bytes. Returns Ok only when all bytes went
  // out. May be called from an I/O worker (see above).
  virtual IoStatus Write(DeviceId id, std::span<const uint8_t> report) = 0;

  // False when Write on this device returns at once (it never waits for a
  // transfer), so that handing it to a worker would only cost a wake-up.
  virtual bool WriteMayBlock(DeviceId /*id*/) { return true; }

  // Gets the current input report `report_id` (0 when the device has none).
  // `buffer` receives the report id byte first, then the report; `*received`
  // is set to the bytes stored. Waits at most `timeout_ms`.
  virtual IoStatus GetInputReport(DeviceId id, uint8_t report_id, std::span<uint8_t> buffer,
                                  int timeout_ms, std::size_t* received) = 0;

  // Releases the device. Safe on a device that has disappeared; unknown ids are ignored.
  virtual void Close(DeviceId id) = 0;

  // A descriptor that becomes readable when hot-plug events are waiting, or -1
  // when the backend has none. The UI binds it to its event loop.
  virtual int HotplugFd() = 0;

  // Takes every waiting arrival and removal, oldest first. Never blocks.
  virtual std::vector<HotplugEvent> DrainHotplug() = 0;
};

}  // namespace pts::hid
