// A umockdev testbed with hidraw boards: sysfs entries (usb device, hid
// device with HID_ID, HID_NAME and report_descriptor, hidraw node), uevents,
// and either a pty behind /dev/hidrawN (the test reads what the program wrote
// and writes what it should read) or a scripted node that answers ioctl, read
// and write the way the kernel's hidraw would.
//
// The process must run under libumockdev-preload (umockdev-wrapper).
#pragma once

#include <umockdev.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pts::testing {

struct BoardSpec {
  int number = 0;  // hidraw<number>, 0003:VVVV:PPPP.<number+1>
  uint16_t vendor_id = 0x19A1;
  uint16_t product_id = 0x0064;
  std::string name = "PTS Interface Board";  // empty: no HID_NAME
  std::vector<uint8_t> descriptor;           // empty: no report_descriptor attribute
  bool with_hid_id = true;
};

struct MockNode {
  std::string hid_syspath;
  std::string raw_syspath;
  std::string devnode;
};

// What a scripted node answers, and what it saw. Touched from umockdev's
// worker thread, hence the lock.
class ScriptedHidraw {
 public:
  struct State {
    std::vector<std::vector<uint8_t>> writes;  // every write(), whole
    std::vector<uint8_t> get_input_ids;        // report id of every HIDIOCGINPUT
    int get_input_calls = 0;
    int read_calls = 0;
    // HIDIOCGINPUT: the report to hand out (id byte first), or an errno.
    std::vector<uint8_t> input_report;
    int get_input_errno = 0;
    int write_errno = 0;
    bool write_short = false;  // accept one byte less than written
    int read_errno = EAGAIN;
    std::vector<uint8_t> descriptor;  // HIDIOCGRDESCSIZE/HIDIOCGRDESC; empty: ENOTTY
    std::optional<std::pair<uint16_t, uint16_t>> raw_info;  // HIDIOCGRAWINFO ids
  };

  ScriptedHidraw();
  ~ScriptedHidraw();
  ScriptedHidraw(const ScriptedHidraw&) = delete;
  ScriptedHidraw& operator=(const ScriptedHidraw&) = delete;

  // Runs `f` on the state under the lock.
  template <typename F>
  auto With(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(state_);
  }
  UMockdevIoctlBase* Handler() const { return handler_; }

 private:
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
  static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);

  std::mutex mutex_;
  State state_;
  UMockdevIoctlBase* handler_ = nullptr;
};

class MockBed {
 public:
  MockBed();
  ~MockBed();
  MockBed(const MockBed&) = delete;
  MockBed& operator=(const MockBed&) = delete;

  // True when the preload library redirects this process into the testbed.
  bool Active() const;

  // Adds the board's sysfs entries and a pty behind its node. No uevent.
  MockNode AddBoard(const BoardSpec& spec);
  // Puts `script` behind the node instead of the pty.
  void Script(const MockNode& node, ScriptedHidraw& script);
  void Uevent(const MockNode& node, const char* action);
  // Removes the board's sysfs entries (no uevent).
  void Remove(const MockNode& node);

  // The controlling end of a board's pty.
  int Master(const MockNode& node);
  // Bytes the program wrote, as far as they have arrived (reads without waiting).
  std::vector<uint8_t> TakeWritten(const MockNode& node);
  // Bytes the program will read.
  void Feed(const MockNode& node, const std::vector<uint8_t>& bytes);
  // The node's file inside the testbed (for chmod).
  std::string NodeFile(const MockNode& node) const;

  // Hangs the node's pty up (needs CAP_SYS_ADMIN): every descriptor the
  // program holds on it then sees POLLHUP and EIO, as after an unplug.
  // 0, or the errno.
  int HangUp(const MockNode& node);

 private:
  void Destroy();

  UMockdevTestbed* bed_ = nullptr;
  std::vector<MockNode> scripted_;
};

// Drops the calling thread's power to bypass file permissions (root has it),
// so that a chmod 000 node really refuses open(). Restored on destruction.
class NoDacOverride {
 public:
  NoDacOverride();
  ~NoDacOverride();
  bool Ok() const { return ok_; }

 private:
  bool ok_ = false;
  bool changed_ = false;
  uint32_t saved_[2] = {0, 0};
};

}  // namespace pts::testing
