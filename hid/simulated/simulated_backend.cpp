#include "hid/simulated/simulated_backend.h"

#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

namespace pts::hid {

namespace {

constexpr std::size_t kF7 = 9;  // position of F7 in the word

// Sleeps until `deadline`. A real transfer ends with an interrupt, not with a
// timer the kernel may defer by the thread's slack (50 us by default), so the
// slack is taken off for the sleep.
void SleepUntil(std::chrono::steady_clock::time_point deadline) {
  const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  ::prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
  std::this_thread::sleep_until(deadline);
  if (slack > 0) ::prctl(PR_SET_TIMERSLACK, slack, 0, 0, 0);
}

}  // namespace

std::vector<uint8_t> BoardReportDescriptor() {
  std::vector<uint8_t> d = {
      0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
      0x95, 0x01,        //   Report Count (1)
  };
  // Output report A: Cmd1, PWMDC, PWMF, F1..F10, one 8-bit field each.
  for (uint8_t usage = 1; usage <= 13; ++usage) {
    d.insert(d.end(), {0x09, usage,   //   Usage (n)
                       0x91, 0x02});  //   Output (Data, Var, Abs)
  }
  // Input report B: Data1.
  d.insert(d.end(), {0x09, 0x0E,  //   Usage (14)
                     0x81, 0x02,  //   Input (Data, Var, Abs)
                     0xC0});      // End Collection
  return d;
}

struct SimulatedBackend::Board {
  int number = 0;
  uint16_t vendor_id = kBoardVendorId;
  uint16_t product_id = kBoardProductId;
  std::vector<uint8_t> descriptor;
  std::string name;
  std::string path;
  bool attached = true;
  int generation = 0;  // bumped by Unplug: handles opened before stay gone
  uint8_t status = 0;
  std::vector<uint8_t> input_override;
  BoardEeprom eeprom;
  OutputWord output{};
  std::vector<OutputWord> history;
  std::array<uint8_t, 64> last_raw{};
  std::size_t last_raw_size = 0;
  uint64_t total = 0;
  int fail_writes = 0;
  int fail_reads = 0;
  std::chrono::microseconds write_delay{0};
  bool deny = false;
};

struct SimulatedBackend::Handle {
  DeviceId id = 0;
  int board = 0;
  int generation = 0;
};

SimulatedBackend::SimulatedBackend(Clock::time_point origin) : origin_(origin) {
  event_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

SimulatedBackend::~SimulatedBackend() {
  if (event_fd_ >= 0) ::close(event_fd_);
}

SimulatedBackend::Board& SimulatedBackend::At(int board) {
  if (board < 1 || static_cast<std::size_t>(board) > boards_.size()) {
    throw std::out_of_range("SimulatedBackend: no board " + std::to_string(board));
  }
  return *boards_[static_cast<std::size_t>(board - 1)];
}

const SimulatedBackend::Board& SimulatedBackend::At(int board) const {
  if (board < 1 || static_cast<std::size_t>(board) > boards_.size()) {
    throw std::out_of_range("SimulatedBackend: no board " + std::to_string(board));
  }
  return *boards_[static_cast<std::size_t>(board - 1)];
}

void SimulatedBackend::Queue(HotplugEvent event) {
  pending_.push_back(std::move(event));
  if (event_fd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(event_fd_, &one, sizeof one);
  }
}

int SimulatedBackend::AddBoard(uint8_t status) {
  const int n = [this] {
    const std::lock_guard lock(mu_);
    return static_cast<int>(boards_.size()) + 1;
  }();
  return AddDevice(kBoardVendorId, kBoardProductId, BoardReportDescriptor(), status,
                   "PTS interface board (simulated " + std::to_string(n) + ")");
}

int SimulatedBackend::AddDevice(uint16_t vendor_id, uint16_t product_id,
                                std::vector<uint8_t> descriptor, uint8_t status, std::string name) {
  const std::lock_guard lock(mu_);
  auto b = std::make_unique<Board>();
  b->number = static_cast<int>(boards_.size()) + 1;
  b->vendor_id = vendor_id;
  b->product_id = product_id;
  b->descriptor = std::move(descriptor);
  b->name = std::move(name);
  b->path = "sim:hidraw" + std::to_string(next_path_++);
  b->status = status;
  b->eeprom.model_code = status & 0xF0;
  boards_.push_back(std::move(b));
  const Board& added = *boards_.back();
  Queue({HotplugEvent::Kind::Arrived, added.path, added.vendor_id, added.product_id});
  return added.number;
}

int SimulatedBackend::BoardCount() const {
  const std::lock_guard lock(mu_);
  return static_cast<int>(boards_.size());
}

void SimulatedBackend::Unplug(int board) {
  const std::lock_guard lock(mu_);
  Board& b = At(board);
  if (!b.attached) return;
  b.attached = false;
  ++b.generation;
  Queue({HotplugEvent::Kind::Removed, b.path, b.vendor_id, b.product_id});
}

void SimulatedBackend::Replug(int board) {
  const std::lock_guard lock(mu_);
  Board& b = At(board);
  if (b.attached) return;
  b.attached = true;
  b.path = "sim:hidraw" + std::to_string(next_path_++);
  Queue({HotplugEvent::Kind::Arrived, b.path, b.vendor_id, b.product_id});
}

bool SimulatedBackend::IsAttached(int board) const {
  const std::lock_guard lock(mu_);
  return At(board).attached;
}
std::string SimulatedBackend::PathOf(int board) const {
  const std::lock_guard lock(mu_);
  return At(board).path;
}

void SimulatedBackend::FailNextWrites(int board, int count) {
  const std::lock_guard lock(mu_);
  At(board).fail_writes = count;
}
void SimulatedBackend::FailNextReads(int board, int count) {
  const std::lock_guard lock(mu_);
  At(board).fail_reads = count;
}
void SimulatedBackend::DelayWrites(int board, std::chrono::microseconds delay) {
  const std::lock_guard lock(mu_);
  Board& b = At(board);
  delayed_boards_ += (delay.count() > 0) - (b.write_delay.count() > 0);
  b.write_delay = delay;
}
void SimulatedBackend::DenyAccess(int board, bool deny) {
  const std::lock_guard lock(mu_);
  At(board).deny = deny;
}

const std::vector<OutputWord>& SimulatedBackend::Received(int board) const {
  const std::lock_guard lock(mu_);
  return At(board).history;
}
uint64_t SimulatedBackend::TotalReceived(int board) const {
  const std::lock_guard lock(mu_);
  return At(board).total;
}
std::vector<uint8_t> SimulatedBackend::LastReport(int board) const {
  const std::lock_guard lock(mu_);
  const Board& b = At(board);
  return {b.last_raw.begin(), b.last_raw.begin() + static_cast<std::ptrdiff_t>(b.last_raw_size)};
}
void SimulatedBackend::ClearReceived(int board) {
  const std::lock_guard lock(mu_);
  At(board).history.clear();
}
OutputWord SimulatedBackend::Output(int board) const {
  const std::lock_guard lock(mu_);
  return At(board).output;
}
uint8_t SimulatedBackend::Status(int board) const {
  const std::lock_guard lock(mu_);
  return At(board).status;
}
void SimulatedBackend::SetStatus(int board, uint8_t status) {
  const std::lock_guard lock(mu_);
  Board& b = At(board);
  b.status = status;
  b.eeprom.model_code = status & 0xF0;
}
const BoardEeprom& SimulatedBackend::Eeprom(int board) const {
  const std::lock_guard lock(mu_);
  return At(board).eeprom;
}
void SimulatedBackend::SetInputReport(int board, std::vector<uint8_t> bytes) {
  const std::lock_guard lock(mu_);
  At(board).input_override = std::move(bytes);
}

void SimulatedBackend::SetTrace(std::FILE* file) {
  const std::lock_guard lock(mu_);
  trace_ = file;
}
void SimulatedBackend::SetReportObserver(ReportObserver observer) {
  const std::lock_guard lock(mu_);
  observer_ = observer ? std::make_shared<const ReportObserver>(std::move(observer)) : nullptr;
}

std::vector<InterfaceInfo> SimulatedBackend::Enumerate(uint16_t vendor_id, uint16_t product_id) {
  const std::lock_guard lock(mu_);
  std::vector<InterfaceInfo> out;
  for (const auto& b : boards_) {
    if (!b->attached) continue;
    if (vendor_id != 0 && vendor_id != b->vendor_id) continue;
    if (product_id != 0 && product_id != b->product_id) continue;
    out.push_back({b->path, b->vendor_id, b->product_id, b->name});
  }
  return out;
}

OpenResult SimulatedBackend::Open(const std::string& path) {
  const std::lock_guard lock(mu_);
  OpenResult r;
  for (const auto& b : boards_) {
    if (!b->attached || b->path != path) continue;
    if (b->deny) {
      r.status = IoStatus::AccessDenied;
      r.error = "Permission denied";
      return r;
    }
    const DeviceId id = next_id_++;
    handles_.push_back({id, b->number, b->generation});
    r.status = IoStatus::Ok;
    r.id = id;
    r.descriptor = b->descriptor;
    return r;
  }
  r.status = IoStatus::NotFound;
  r.error = "No such device";
  return r;
}

IoStatus SimulatedBackend::Write(DeviceId id, std::span<const uint8_t> report) {
  std::chrono::microseconds delay{0};
  int number = 0;
  int generation = 0;
  IoStatus status = IoStatus::Ok;
  OutputWord w{};
  const Clock::time_point start = Clock::now();
  Clock::time_point now;
  std::shared_ptr<const ReportObserver> observer;  // a copy of the pointer only: no allocation
  {
    const std::lock_guard lock(mu_);
    const Handle* h = FindHandle(id);
    if (!h) return IoStatus::Failed;
    Board& b = *boards_[static_cast<std::size_t>(h->board - 1)];
    if (!b.attached || b.generation != h->generation) return IoStatus::Disconnected;
    delay = b.write_delay;
    number = b.number;
    generation = b.generation;
    if (b.fail_writes > 0) {
      --b.fail_writes;
      status = IoStatus::Failed;
    } else if (report.empty()) {
      status = IoStatus::Failed;
    } else {
      // The board takes the word when the transfer starts; the call returns
      // when the transfer is done.
      now = Clock::now();
      Accept(b, report, now, &w);
      observer = observer_;
    }
  }
  if (observer) (*observer)(number, now, w);
  if (delay.count() > 0) SleepUntil(start + delay);
  if (status != IoStatus::Ok || delay.count() == 0) return status;
  const std::lock_guard lock(mu_);
  const Board& b = *boards_[static_cast<std::size_t>(number - 1)];
  return b.attached && b.generation == generation ? IoStatus::Ok : IoStatus::Disconnected;
}

bool SimulatedBackend::WriteMayBlock(DeviceId id) {
  if (delayed_boards_.load(std::memory_order_relaxed) == 0) return false;
  const std::lock_guard lock(mu_);
  const Handle* h = FindHandle(id);
  return h && boards_[static_cast<std::size_t>(h->board - 1)]->write_delay.count() > 0;
}

uint64_t SimulatedBackend::CallsOnClosed() const {
  const std::lock_guard lock(mu_);
  return calls_on_closed_;
}

const SimulatedBackend::Handle* SimulatedBackend::FindHandle(DeviceId id) {
  const auto h =
      std::find_if(handles_.begin(), handles_.end(), [id](const Handle& x) { return x.id == id; });
  if (h != handles_.end()) return &*h;
  ++calls_on_closed_;
  return nullptr;
}

void SimulatedBackend::Accept(Board& b, std::span<const uint8_t> report, Clock::time_point now,
                              OutputWord* word) {
  OutputWord& w = *word;
  const std::size_t n = std::min(w.size(), report.size() - 1);
  std::copy_n(report.begin() + 1, n, w.begin());

  switch (w[0]) {
    case kCmdSetOutput:
      b.output = w;
      break;
    case kCmdStoreFrequency:
      b.eeprom.frequency_stored = true;
      b.eeprom.stored_word = w;
      break;
    case kCmdStoreModel:
      b.eeprom.model_code = w[kF7] & 0xF0;
      b.status = static_cast<uint8_t>((b.status & 0x0F) | b.eeprom.model_code);
      break;
    default:
      break;
  }
  if (b.history.size() >= kHistoryCap) {
    b.history.erase(b.history.begin(),
                    b.history.begin() + static_cast<std::ptrdiff_t>(kHistoryCap / 2));
  }
  b.history.push_back(w);
  b.last_raw_size = std::min(report.size(), b.last_raw.size());
  std::copy_n(report.begin(), b.last_raw_size, b.last_raw.begin());
  ++b.total;

  // Under the lock with its time stamp: lines stay whole and in time order.
  if (trace_) {
    const double t = std::chrono::duration<double>(now - origin_).count();
    std::fprintf(trace_,
                 "%.6f board=%d out Cmd1=%u PWMDC=%u PWMF=%u F1=%u F2=%u F3=%u F4=%u F5=%u F6=%u "
                 "F7=%u F8=%u F9=%u F10=%u\n",
                 t, b.number, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10],
                 w[11], w[12]);
    std::fflush(trace_);
  }
}

IoStatus SimulatedBackend::GetInputReport(DeviceId id, uint8_t report_id, std::span<uint8_t> buffer,
                                          int /*timeout_ms*/, std::size_t* received) {
  const std::lock_guard lock(mu_);
  if (received) *received = 0;
  const Handle* h = FindHandle(id);
  if (!h) return IoStatus::Failed;
  Board& b = *boards_[static_cast<std::size_t>(h->board - 1)];
  if (!b.attached || b.generation != h->generation) return IoStatus::Disconnected;
  // A failing read answers at once instead of sleeping out the time-out.
  if (b.fail_reads > 0) {
    --b.fail_reads;
    return IoStatus::TimedOut;
  }
  const uint8_t* bytes = b.input_override.empty() ? &b.status : b.input_override.data();
  const std::size_t n = b.input_override.empty() ? 1 : b.input_override.size();
  if (buffer.size() < n + 1) return IoStatus::Failed;
  buffer[0] = report_id;
  std::copy_n(bytes, n, buffer.begin() + 1);
  if (received) *received = n + 1;
  if (trace_) {
    const double t = std::chrono::duration<double>(Clock::now() - origin_).count();
    std::fprintf(trace_, "%.6f board=%d in Data1=%u\n", t, b.number, bytes[0]);
    std::fflush(trace_);
  }
  return IoStatus::Ok;
}

void SimulatedBackend::Close(DeviceId id) {
  const std::lock_guard lock(mu_);
  std::erase_if(handles_, [id](const Handle& x) { return x.id == id; });
}

int SimulatedBackend::HotplugFd() {
  return event_fd_;
}

std::vector<HotplugEvent> SimulatedBackend::DrainHotplug() {
  const std::lock_guard lock(mu_);
  std::vector<HotplugEvent> out;
  out.swap(pending_);
  if (event_fd_ >= 0) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(event_fd_, &count, sizeof count);
  }
  return out;
}

namespace {

bool ParseEntry(const std::string& s, uint8_t* value, std::string* why) {
  std::size_t i = 0;
  int base = 10;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i == s.size()) {
    *why = "is not a number";
    return false;
  }
  unsigned v = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    int d = -1;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    }
    if (d < 0) {
      *why = "is not a number";
      return false;
    }
    v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (v > 255) {
      *why = "is out of range 0..255";
      return false;
    }
  }
  *value = static_cast<uint8_t>(v);
  return true;
}

}  // namespace

bool ParseSimulateList(const std::string& list, std::vector<uint8_t>* statuses,
                       std::string* error) {
  std::vector<uint8_t> out;
  std::size_t start = 0;
  int index = 1;
  while (true) {
    const std::size_t comma = list.find(',', start);
    const std::string entry =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (entry.empty()) {
      if (error) *error = "--simulate: entry " + std::to_string(index) + " is empty";
      return false;
    }
    uint8_t v = 0;
    std::string why;
    if (!ParseEntry(entry, &v, &why)) {
      if (error)
        *error = "--simulate: entry " + std::to_string(index) + " \"" + entry + "\" " + why;
      return false;
    }
    out.push_back(v);
    if (comma == std::string::npos) break;
    start = comma + 1;
    ++index;
  }
  if (statuses) *statuses = std::move(out);
  if (error) error->clear();
  return true;
}

}  // namespace pts::hid
