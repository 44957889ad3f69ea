// Real boards through Linux hidraw: libudev finds the /dev/hidrawN nodes and
// watches for hot-plug, plain file I/O moves the reports.
//
// Paths are device nodes ("/dev/hidraw3"). Vendor and product ids come from the
// HID_ID property of the node's parent hid device (HIDIOCGRAWINFO when sysfs
// lacks it), the name from HID_NAME. The report descriptor is read from the
// parent's sysfs `report_descriptor` (HIDIOCGRDESC when that fails).
//
// Input reports are fetched with HIDIOCGINPUT (a GET_REPORT request to the
// device, Linux 5.11 and later). Where the kernel or the device does not offer
// it, the backend waits for the next interrupt-in report with poll() and read(),
// bounded by the caller's time-out. HIDIOCGINPUT itself is bounded by the
// kernel's USB control time-out (5 s), not by the caller's.
//
// Device descriptors are not put in the event loop; only the udev monitor is.
// A node whose device has gone reports POLLHUP/EIO for ever: every call on it
// then returns Disconnected, and the agent closes it. Removal itself arrives
// through the monitor, whose descriptor is drained completely by DrainHotplug,
// so a notifier on it cannot spin.
//
// Write may come from the agent's I/O worker of the device's interface, so
// a write on one node may run beside any call on another: the table of open
// devices is locked while it is looked up or changed, the I/O itself runs
// outside the lock and touches only its own node (std::map keeps the entry
// where it is).
//
// Hot-plug needs a running udev daemon (the monitor listens to events udev has
// processed, so that the node's permissions are already set when it arrives).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "hid/backend.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace pts::hid {

class HidrawBackend : public Backend {
 public:
  HidrawBackend();
  ~HidrawBackend() override;
  HidrawBackend(const HidrawBackend&) = delete;
  HidrawBackend& operator=(const HidrawBackend&) = delete;

  std::vector<InterfaceInfo> Enumerate(uint16_t vendor_id, uint16_t product_id) override;
  OpenResult Open(const std::string& path) override;
  IoStatus Write(DeviceId id, std::span<const uint8_t> report) override;
  IoStatus GetInputReport(DeviceId id, uint8_t report_id, std::span<uint8_t> buffer, int timeout_ms,
                          std::size_t* received) override;
  void Close(DeviceId id) override;
  int HotplugFd() override;
  std::vector<HotplugEvent> DrainHotplug() override;

 private:
  struct Ids {
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
  };
  struct Device {
    int fd = -1;
    std::string path;
    bool gone = false;         // the node reported POLLHUP/EIO/ENODEV once
    bool get_input_ok = true;  // false once HIDIOCGINPUT proved unavailable
  };

  // The ids and name of one hidraw udev device, from its hid parent.
  bool Describe(udev_device* dev, Ids* ids, std::string* name);
  Device* Find(DeviceId id);
  IoStatus ReadInput(Device& dev, uint8_t report_id, std::span<uint8_t> buffer, int timeout_ms,
                     std::size_t* received);

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::mutex devices_mu_;  // guards devices_ and next_id_
  std::map<DeviceId, Device> devices_;
  // Ids of every node seen, so that a removal (whose sysfs entry is already
  // gone) still says which device left.
  std::map<std::string, Ids> known_;
  DeviceId next_id_ = 1;
};

}  // namespace pts::hid
