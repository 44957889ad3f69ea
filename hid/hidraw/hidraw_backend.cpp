#include "hid/hidraw/hidraw_backend.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

// Older kernel headers lack the feature-free input-report request (Linux 5.11).
#ifndef HIDIOCGINPUT
#define HIDIOCGINPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0A, len)
#endif

namespace pts::hid {
namespace {

// The largest report and descriptor the kernel's HID core handles.
constexpr std::size_t kMaxBuffer = 4096;
constexpr std::size_t kMaxDescriptor = 4096;

std::string ErrnoText(int err) {
  return std::generic_category().message(err);
}

// The errors with which hidraw says the device is no longer there.
bool IsGone(int err) {
  return err == EIO || err == ENODEV || err == ENXIO || err == ESHUTDOWN;
}

// The kernel or the transport has no GET_REPORT for input reports.
bool IsUnsupported(int err) {
  return err == ENOSYS || err == EINVAL || err == ENOTTY || err == EOPNOTSUPP;
}

// "0003:000019A1:00000064" (bus:vendor:product in hex).
bool ParseHidId(const char* text, uint16_t* vendor_id, uint16_t* product_id) {
  if (text == nullptr) return false;
  unsigned long part[3];
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    errno = 0;
    part[i] = std::strtoul(p, &end, 16);
    if (end == p || errno != 0) return false;
    if (i < 2 && *end != ':') return false;
    if (i == 2 && *end != '\0' && *end != '\n') return false;
    p = end + 1;
  }
  if (part[1] > 0xFFFF || part[2] > 0xFFFF) return false;
  *vendor_id = static_cast<uint16_t>(part[1]);
  *product_id = static_cast<uint16_t>(part[2]);
  return true;
}

// Reads a (binary) sysfs attribute whole. False when it cannot be read.
bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->assign(kMaxDescriptor + 1, 0);
  std::size_t got = 0;
  while (got < out->size()) {
    const ssize_t n = ::read(fd, out->data() + got, out->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out->resize(got);  // one byte past the limit lets the parser reject it
  return true;
}

bool DescriptorByIoctl(int fd, std::vector<uint8_t>* out, int* err) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
    *err = errno;
    return false;
  }
  if (size <= 0 || static_cast<std::size_t>(size) > HID_MAX_DESCRIPTOR_SIZE) {
    *err = EINVAL;
    return false;
  }
  auto desc = std::make_unique<hidraw_report_descriptor>();
  desc->size = static_cast<uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, desc.get()) < 0) {
    *err = errno;
    return false;
  }
  out->assign(desc->value, desc->value + desc->size);
  return true;
}

struct UdevDeviceRef {
  udev_device* dev;
  explicit UdevDeviceRef(udev_device* d) : dev(d) {}
  ~UdevDeviceRef() {
    if (dev != nullptr) udev_device_unref(dev);
  }
  UdevDeviceRef(const UdevDeviceRef&) = delete;
  UdevDeviceRef& operator=(const UdevDeviceRef&) = delete;
};

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

HidrawBackend::HidrawBackend() {
  udev_ = udev_new();
  if (udev_ == nullptr) return;
  // The monitor starts before anything is enumerated, so that no board that
  // arrives in between is missed.
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (monitor_ != nullptr &&
      (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
       udev_monitor_enable_receiving(monitor_) < 0)) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
  }
  if (monitor_ != nullptr) {
    const int fd = udev_monitor_get_fd(monitor_);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  }
  Enumerate(0, 0);  // learns the ids of every node attached now
}

HidrawBackend::~HidrawBackend() {
  for (auto& [id, dev] : devices_) ::close(dev.fd);
  if (monitor_ != nullptr) udev_monitor_unref(monitor_);
  if (udev_ != nullptr) udev_unref(udev_);
}

bool HidrawBackend::Describe(udev_device* dev, Ids* ids, std::string* name) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
  if (hid != nullptr) {
    const char* hid_name = udev_device_get_property_value(hid, "HID_NAME");
    if (hid_name != nullptr) *name = hid_name;
    if (ParseHidId(udev_device_get_property_value(hid, "HID_ID"), &ids->vendor_id,
                   &ids->product_id)) {
      return true;
    }
  }
  // No usable sysfs entry: ask the node itself.
  const char* node = udev_device_get_devnode(dev);
  if (node == nullptr) return false;
  const int fd = ::open(node, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  hidraw_devinfo info{};
  const bool ok = ::ioctl(fd, HIDIOCGRAWINFO, &info) == 0;
  ::close(fd);
  if (!ok) return false;
  ids->vendor_id = static_cast<uint16_t>(info.vendor);
  ids->product_id = static_cast<uint16_t>(info.product);
  return true;
}

std::vector<InterfaceInfo> HidrawBackend::Enumerate(uint16_t vendor_id, uint16_t product_id) {
  std::vector<InterfaceInfo> found;
  if (udev_ == nullptr) return found;
  udev_enumerate* en = udev_enumerate_new(udev_);
  if (en == nullptr) return found;
  udev_enumerate_add_match_subsystem(en, "hidraw");
  udev_enumerate_scan_devices(en);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en)) {
    // A node may vanish between the scan and this look-up: skip it then.
    UdevDeviceRef dev(udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry)));
    if (dev.dev == nullptr) continue;
    const char* node = udev_device_get_devnode(dev.dev);
    if (node == nullptr) continue;
    Ids ids;
    std::string name;
    if (!Describe(dev.dev, &ids, &name)) continue;
    known_[node] = ids;
    if ((vendor_id != 0 && ids.vendor_id != vendor_id) ||
        (product_id != 0 && ids.product_id != product_id)) {
      continue;
    }
    if (name.empty()) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "HID %04x:%04x", ids.vendor_id, ids.product_id);
      name = buf;
    }
    found.push_back(InterfaceInfo{node, ids.vendor_id, ids.product_id, name});
  }
  udev_enumerate_unref(en);
  std::sort(found.begin(), found.end(),
            [](const InterfaceInfo& a, const InterfaceInfo& b) { return a.path < b.path; });
  return found;
}

OpenResult HidrawBackend::Open(const std::string& path) {
  OpenResult r;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int err = errno;
    r.status = (err == EACCES || err == EPERM)                    ? IoStatus::AccessDenied
               : (err == ENOENT || err == ENODEV || err == ENXIO) ? IoStatus::NotFound
                                                                  : IoStatus::Failed;
    r.error = path + ": " + ErrnoText(err);
    return r;
  }

  // The descriptor from sysfs first: it needs no request to the device.
  bool have = false;
  if (udev_ != nullptr) {
    UdevDeviceRef dev(
        udev_device_new_from_subsystem_sysname(udev_, "hidraw", BaseName(path).c_str()));
    if (dev.dev == nullptr) {
      struct stat st {};
      if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        dev.dev = udev_device_new_from_devnum(udev_, 'c', st.st_rdev);
      }
    }
    udev_device* hid =
        dev.dev ? udev_device_get_parent_with_subsystem_devtype(dev.dev, "hid", nullptr) : nullptr;
    const char* syspath = hid ? udev_device_get_syspath(hid) : nullptr;
    have = syspath != nullptr &&
           ReadFile(std::string(syspath) + "/report_descriptor", &r.descriptor) &&
           !r.descriptor.empty();
  }
  if (!have) {
    int err = 0;
    if (!DescriptorByIoctl(fd, &r.descriptor, &err)) {
      ::close(fd);
      r.descriptor.clear();
      r.status = IsGone(err) ? IoStatus::NotFound : IoStatus::Failed;
      r.error = path + ": cannot read the report descriptor: " + ErrnoText(err);
      return r;
    }
  }

  r.status = IoStatus::Ok;
  const std::lock_guard lock(devices_mu_);
  r.id = next_id_++;
  devices_[r.id] = Device{fd, path};
  return r;
}

HidrawBackend::Device* HidrawBackend::Find(DeviceId id) {
  const std::lock_guard lock(devices_mu_);
  auto it = devices_.find(id);
  return it == devices_.end() ? nullptr : &it->second;
}

IoStatus HidrawBackend::Write(DeviceId id, std::span<const uint8_t> report) {
  Device* dev = Find(id);
  if (dev == nullptr || report.empty()) return IoStatus::Failed;
  if (dev->gone) return IoStatus::Disconnected;
  // hidraw takes the report id as the first byte, 0 included.
  ssize_t n;
  do {
    n = ::write(dev->fd, report.data(), report.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (IsGone(errno)) {
      dev->gone = true;
      return IoStatus::Disconnected;
    }
    return errno == ETIMEDOUT ? IoStatus::TimedOut : IoStatus::Failed;
  }
  return static_cast<std::size_t>(n) == report.size() ? IoStatus::Ok : IoStatus::Failed;
}

IoStatus HidrawBackend::GetInputReport(DeviceId id, uint8_t report_id, std::span<uint8_t> buffer,
                                       int timeout_ms, std::size_t* received) {
  std::size_t dummy = 0;
  if (received == nullptr) received = &dummy;
  *received = 0;
  Device* dev = Find(id);
  if (dev == nullptr || buffer.empty()) return IoStatus::Failed;
  if (dev->gone) return IoStatus::Disconnected;

  if (dev->get_input_ok) {
    const std::size_t len = std::min(buffer.size(), kMaxBuffer);
    buffer[0] = report_id;
    int n;
    do {
      n = ::ioctl(dev->fd, HIDIOCGINPUT(len), buffer.data());
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      buffer[0] = report_id;
      *received = std::min(static_cast<std::size_t>(n), len);
      return IoStatus::Ok;
    }
    const int err = n < 0 ? errno : EIO;
    if (IsGone(err)) {
      dev->gone = true;
      return IoStatus::Disconnected;
    }
    if (err == ETIMEDOUT) return IoStatus::TimedOut;
    if (IsUnsupported(err)) {
      dev->get_input_ok = false;  // not offered here: never ask again
    } else if (err != EPIPE) {
      // EPIPE: the device stalled the request; its interrupt reports may still come.
      return IoStatus::Failed;
    }
  }
  return ReadInput(*dev, report_id, buffer, timeout_ms, received);
}

// Waits for an interrupt-in report with the wanted id. Reports queued since
// the last call are older than the device's state: the newest one wins.
IoStatus HidrawBackend::ReadInput(Device& dev, uint8_t report_id, std::span<uint8_t> buffer,
                                  int timeout_ms, std::size_t* received) {
  // Without report ids hidraw hands out the report alone; with ids, id first.
  const std::size_t skip = report_id == 0 ? 1 : 0;
  const std::size_t len = std::min(buffer.size() - skip, kMaxBuffer);
  if (len == 0) return IoStatus::Failed;
  std::vector<uint8_t> scratch(len);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  bool got = false;
  for (;;) {
    for (;;) {
      const ssize_t n = ::read(dev.fd, scratch.data(), len);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n < 0) {
        if (!IsGone(errno)) return IoStatus::Failed;
        dev.gone = true;
        return IoStatus::Disconnected;
      }
      if (n == 0) break;
      if (report_id != 0 && scratch[0] != report_id) continue;  // another report
      std::copy_n(scratch.begin(), n, buffer.begin() + static_cast<std::ptrdiff_t>(skip));
      buffer[0] = report_id;
      *received = static_cast<std::size_t>(n) + skip;
      got = true;
    }
    if (got) return IoStatus::Ok;

    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return IoStatus::TimedOut;
    pollfd p{dev.fd, POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(left.count()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return IoStatus::Failed;
    if (rc == 0) return IoStatus::TimedOut;
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      dev.gone = true;
      return IoStatus::Disconnected;
    }
  }
}

void HidrawBackend::Close(DeviceId id) {
  const std::lock_guard lock(devices_mu_);
  auto it = devices_.find(id);
  if (it == devices_.end()) return;
  ::close(it->second.fd);
  devices_.erase(it);
}

int HidrawBackend::HotplugFd() {
  return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

std::vector<HotplugEvent> HidrawBackend::DrainHotplug() {
  std::vector<HotplugEvent> events;
  if (monitor_ == nullptr) return events;
  // The socket is non-blocking: this ends when nothing is left.
  while (udev_device* raw = udev_monitor_receive_device(monitor_)) {
    UdevDeviceRef dev(raw);
    const char* action = udev_device_get_action(raw);
    const char* node = udev_device_get_devnode(raw);
    if (action == nullptr || node == nullptr) continue;
    if (std::strcmp(action, "add") == 0) {
      Ids ids;
      std::string name;
      if (Describe(raw, &ids, &name)) known_[node] = ids;
      events.push_back(
          HotplugEvent{HotplugEvent::Kind::Arrived, node, ids.vendor_id, ids.product_id});
    } else if (std::strcmp(action, "remove") == 0) {
      // sysfs has already forgotten the device: the ids come from memory.
      Ids ids;
      auto it = known_.find(node);
      if (it != known_.end()) {
        ids = it->second;
        known_.erase(it);
      }
      events.push_back(
          HotplugEvent{HotplugEvent::Kind::Removed, node, ids.vendor_id, ids.product_id});
    }
  }
  return events;
}

}  // namespace pts::hid
