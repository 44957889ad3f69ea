#include "umockdev_testbed.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pts::testing {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X", v);
    s += b;
  }
  return s;
}

// Resolves the ioctl's pointer argument to `len` bytes of the client's memory.
UMockdevIoctlData* Resolve(UMockdevIoctlClient* client, std::size_t len) {
  return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, len, nullptr);
}

}  // namespace

ScriptedHidraw::ScriptedHidraw() {
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctl), this);
  g_signal_connect(handler_, "handle-read", G_CALLBACK(OnRead), this);
  g_signal_connect(handler_, "handle-write", G_CALLBACK(OnWrite), this);
}

ScriptedHidraw::~ScriptedHidraw() {
  g_signal_handlers_disconnect_by_data(handler_, this);
  g_object_unref(handler_);
}

gboolean ScriptedHidraw::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* me = static_cast<ScriptedHidraw*>(self);
  std::lock_guard<std::mutex> lock(me->mutex_);
  State& st = me->state_;
  const gulong req = umockdev_ioctl_client_get_request(client);
  if (_IOC_TYPE(req) != 'H') {
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
  }
  long result = -1;
  int err = ENOTTY;
  UMockdevIoctlData* data = nullptr;
  switch (_IOC_NR(req)) {
    case _IOC_NR(HIDIOCGRDESCSIZE):
      if (!st.descriptor.empty() && (data = Resolve(client, sizeof(int))) != nullptr) {
        const int size = static_cast<int>(st.descriptor.size());
        std::memcpy(data->data, &size, sizeof size);
        result = 0;
      }
      break;
    case _IOC_NR(HIDIOCGRDESC):
      if (!st.descriptor.empty() &&
          (data = Resolve(client, sizeof(hidraw_report_descriptor))) != nullptr) {
        auto* d = reinterpret_cast<hidraw_report_descriptor*>(data->data);
        if (d->size < st.descriptor.size()) {
          err = EINVAL;
        } else {
          std::memcpy(d->value, st.descriptor.data(), st.descriptor.size());
          result = 0;
        }
      }
      break;
    case _IOC_NR(HIDIOCGRAWINFO):
      if (st.raw_info && (data = Resolve(client, sizeof(hidraw_devinfo))) != nullptr) {
        auto* info = reinterpret_cast<hidraw_devinfo*>(data->data);
        info->bustype = 3;
        info->vendor = static_cast<int16_t>(st.raw_info->first);
        info->product = static_cast<int16_t>(st.raw_info->second);
        result = 0;
      }
      break;
    case 0x0A: {  // HIDIOCGINPUT(len)
      ++st.get_input_calls;
      const std::size_t len = _IOC_SIZE(req);
      if ((data = Resolve(client, len)) == nullptr) break;
      st.get_input_ids.push_back(data->data[0]);
      if (st.get_input_errno != 0) {
        err = st.get_input_errno;
        break;
      }
      const std::size_t n = std::min(len, st.input_report.size());
      std::memcpy(data->data, st.input_report.data(), n);
      result = static_cast<long>(n);
      break;
    }
    default:
      break;
  }
  umockdev_ioctl_client_complete(client, result, result < 0 ? err : 0);
  if (data != nullptr) g_object_unref(data);
  return TRUE;
}

gboolean ScriptedHidraw::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* me = static_cast<ScriptedHidraw*>(self);
  std::lock_guard<std::mutex> lock(me->mutex_);
  ++me->state_.read_calls;
  umockdev_ioctl_client_complete(client, -1, me->state_.read_errno);
  return TRUE;
}

gboolean ScriptedHidraw::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  auto* me = static_cast<ScriptedHidraw*>(self);
  std::lock_guard<std::mutex> lock(me->mutex_);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  me->state_.writes.emplace_back(arg->data, arg->data + arg->data_len);
  if (me->state_.write_errno != 0) {
    umockdev_ioctl_client_complete(client, -1, me->state_.write_errno);
  } else {
    const int n = me->state_.write_short ? arg->data_len - 1 : arg->data_len;
    umockdev_ioctl_client_complete(client, n, 0);
  }
  return TRUE;
}

MockBed::MockBed() {
  bed_ = umockdev_testbed_new();
}

MockBed::~MockBed() {
  Destroy();
}

void MockBed::Destroy() {
  if (bed_ == nullptr) return;
  for (const MockNode& n : scripted_) {
    umockdev_testbed_detach_ioctl(bed_, n.devnode.c_str(), nullptr);
  }
  scripted_.clear();
  g_object_unref(bed_);
  bed_ = nullptr;
}

bool MockBed::Active() const {
  return bed_ != nullptr && umockdev_in_mock_environment();
}

MockNode MockBed::AddBoard(const BoardSpec& spec) {
  char hid_name[32];
  std::snprintf(hid_name, sizeof hid_name, "0003:%04X:%04X.%04X", spec.vendor_id, spec.product_id,
                spec.number + 1);
  const std::string usb =
      "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(spec.number + 1);
  const std::string intf = usb + "/1-" + std::to_string(spec.number + 1) + ":1.0";
  const std::string hid = intf + "/" + hid_name;
  const std::string raw = hid + "/hidraw/hidraw" + std::to_string(spec.number);
  char ids[64];
  std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", spec.vendor_id,
                spec.product_id);
  char hid_id[64];
  std::snprintf(hid_id, sizeof hid_id, "E: HID_ID=0003:%08X:%08X\n", spec.vendor_id,
                spec.product_id);

  std::string text;
  text += "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" + ids + "\n";
  text += "P: " + intf + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n";
  text += "P: " + hid + "\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n";
  if (spec.with_hid_id) text += hid_id;
  if (!spec.name.empty()) text += "E: HID_NAME=" + spec.name + "\n";
  if (!spec.descriptor.empty()) text += "H: report_descriptor=" + Hex(spec.descriptor) + "\n";
  text += "\n";
  text += "P: " + raw + "\nN: hidraw" + std::to_string(spec.number) +
          "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw" + std::to_string(spec.number) +
          "\nE: MAJOR=243\nE: MINOR=" + std::to_string(spec.number) +
          "\nA: dev=243:" + std::to_string(spec.number) + "\n";

  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(bed_, text.c_str(), &error)) {
    std::string why = error ? error->message : "?";
    g_clear_error(&error);
    throw std::runtime_error("umockdev: " + why);
  }
  return MockNode{"/sys" + hid, "/sys" + raw, "/dev/hidraw" + std::to_string(spec.number)};
}

void MockBed::Script(const MockNode& node, ScriptedHidraw& script) {
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(bed_, node.devnode.c_str(), script.Handler(), &error)) {
    std::string why = error ? error->message : "?";
    g_clear_error(&error);
    throw std::runtime_error("umockdev: " + why);
  }
  scripted_.push_back(node);
}

void MockBed::Uevent(const MockNode& node, const char* action) {
  umockdev_testbed_uevent(bed_, node.raw_syspath.c_str(), action);
}

void MockBed::Remove(const MockNode& node) {
  umockdev_testbed_remove_device(bed_, node.raw_syspath.c_str());
  umockdev_testbed_remove_device(bed_, node.hid_syspath.c_str());
}

int MockBed::Master(const MockNode& node) {
  return umockdev_testbed_get_dev_fd(bed_, node.devnode.c_str());
}

std::vector<uint8_t> MockBed::TakeWritten(const MockNode& node) {
  const int fd = Master(node);
  std::vector<uint8_t> out;
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  uint8_t buf[256];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::fcntl(fd, F_SETFL, flags);
  return out;
}

void MockBed::Feed(const MockNode& node, const std::vector<uint8_t>& bytes) {
  const int fd = Master(node);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("cannot feed the pty");
    done += static_cast<std::size_t>(n);
  }
}

int MockBed::HangUp(const MockNode& node) {
  const char* pts = ::ptsname(Master(node));
  if (pts == nullptr) return errno;
  const int fd = ::open(pts, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno;
  // Straight to the kernel: the preload library would take a tty request.
  const long rc = ::syscall(SYS_ioctl, fd, TIOCVHANGUP, 0);
  const int err = rc == 0 ? 0 : errno;
  ::close(fd);
  return err;
}

std::string MockBed::NodeFile(const MockNode& node) const {
  gchar* root = umockdev_testbed_get_root_dir(bed_);
  std::string path = std::string(root) + node.devnode;
  g_free(root);
  return path;
}

NoDacOverride::NoDacOverride() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return;
  saved_[0] = data[0].effective;
  saved_[1] = data[1].effective;
  const uint32_t drop = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  if ((data[0].effective & drop) == 0) {
    ok_ = true;  // nothing to drop: permissions already apply
    return;
  }
  data[0].effective &= ~drop;
  if (::syscall(SYS_capset, &header, data) != 0) return;
  ok_ = changed_ = true;
}

NoDacOverride::~NoDacOverride() {
  if (!changed_) return;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return;
  data[0].effective = saved_[0];
  data[1].effective = saved_[1];
  ::syscall(SYS_capset, &header, data);
}

}  // namespace pts::testing
