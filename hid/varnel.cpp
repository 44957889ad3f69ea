#include "hid/varnel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "hid/varnel_interface.h"

namespace pts {

namespace {

constexpr const char* kUdevRule = "/etc/udev/rules.d/70-pts-panel.rules";

using hid::AgentInterface;
using hid::AgentVar;

}  // namespace

struct Varnel::Impl {
  explicit Impl(hid::Backend& b) : backend(b) {}
  ~Impl() {
    if (log) std::fclose(log);
  }

  hid::Backend& backend;
  VarnelListener* listener = nullptr;

  std::string log_file = "HidLog.txt";
  int32_t time_out = 3000;
  bool logging = false;
  bool verbose = false;
  bool show_operations = false;
  int32_t vid_to_match = 0;
  int32_t pid_to_match = 0;
  bool search_on_vid = false;
  bool search_on_pid = false;
  std::FILE* log = nullptr;
  // Writes still running on workers; declared before `open`, whose workers use it.
  std::atomic<uint32_t> writes_pending{0};

  // Open interfaces in open order. The flat indexes below point into them and
  // are rebuilt whenever the list changes.
  std::vector<std::unique_ptr<AgentInterface>> open;
  std::vector<std::pair<AgentInterface*, std::size_t>> all_vars;
  std::vector<std::pair<AgentInterface*, std::size_t>> all_rpts;
  int32_t next_handle = 1;

  AgentInterface* cur_intf = nullptr;
  AgentInterface* cur_var_intf = nullptr;
  std::size_t cur_var = 0;
  AgentInterface* cur_rpt_intf = nullptr;
  std::size_t cur_rpt = 0;

  // Paths already reported to the operator (access denied, bad descriptor),
  // so that every OpenDevices does not repeat the notice; cleared on removal.
  std::set<std::string> noticed;
  // Paths closed because I/O found them gone; their later removal event is
  // not reported a second time.
  std::set<std::string> closed_as_gone;

  uint16_t VidFilter() const {
    return search_on_vid ? static_cast<uint16_t>(vid_to_match) : uint16_t{0};
  }
  uint16_t PidFilter() const {
    return search_on_pid ? static_cast<uint16_t>(pid_to_match) : uint16_t{0};
  }
  bool Matches(uint16_t vid, uint16_t pid) const {
    const uint16_t fv = VidFilter();
    const uint16_t fp = PidFilter();
    return (fv == 0 || fv == vid) && (fp == 0 || fp == pid);
  }

  void Log(const std::string& line) {
    if (!logging || log_file.empty()) return;
    if (!log) log = std::fopen(log_file.c_str(), "a");
    if (!log) return;
    std::fprintf(log, "%s\n", line.c_str());
    std::fflush(log);
  }

  void Rebuild() {
    all_vars.clear();
    all_rpts.clear();
    for (auto& up : open) {
      AgentInterface* in = up.get();
      in->var_base = static_cast<int32_t>(all_vars.size());
      in->rpt_base = static_cast<int32_t>(all_rpts.size());
      for (std::size_t i = 0; i < in->vars.size(); ++i) all_vars.emplace_back(in, i);
      for (std::size_t i = 0; i < in->reports.size(); ++i) all_rpts.emplace_back(in, i);
    }
  }

  int PositionOf(const AgentInterface* in) const {
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i].get() == in) return static_cast<int>(i);
    }
    return -1;
  }
  int PositionOfPath(const std::string& path) const {
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (open[i]->path == path) return static_cast<int>(i);
    }
    return -1;
  }

  const std::pair<AgentInterface*, std::size_t>& VarAt(int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= all_vars.size()) {
      throw VarnelError("Varnel: variable index " + std::to_string(index) + " out of range");
    }
    return all_vars[static_cast<std::size_t>(index)];
  }
  const std::pair<AgentInterface*, std::size_t>& RptAt(int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= all_rpts.size()) {
      throw VarnelError("Varnel: report index " + std::to_string(index) + " out of range");
    }
    return all_rpts[static_cast<std::size_t>(index)];
  }
  AgentInterface& CurIntf() const {
    if (!cur_intf) throw VarnelError("Varnel: no current interface");
    return *cur_intf;
  }
  const hid::Field& CurField() const {
    if (!cur_var_intf) throw VarnelError("Varnel: no current variable");
    return cur_var_intf->desc.fields[cur_var_intf->vars[cur_var].field];
  }
  AgentVar& CurVar() const {
    if (!cur_var_intf) throw VarnelError("Varnel: no current variable");
    return cur_var_intf->vars[cur_var];
  }

  void NoticeOnce(const std::string& path, const std::string& text) {
    if (!noticed.insert(path).second) return;
    Log(text);
    if (listener) listener->Notice(text);
  }

  // Removes open interface `pos`, closes it in the backend and raises the events.
  // `removed`: the device went away (DeviceRemoved first); else a plain close.
  void CloseAt(std::size_t pos, bool removed) {
    std::unique_ptr<AgentInterface> gone = std::move(open[pos]);
    open.erase(open.begin() + static_cast<std::ptrdiff_t>(pos));
    Rebuild();
    if (cur_intf == gone.get()) cur_intf = nullptr;
    if (cur_var_intf == gone.get()) cur_var_intf = nullptr;
    if (cur_rpt_intf == gone.get()) cur_rpt_intf = nullptr;
    gone->worker.reset();  // idle: every write is waited for
    backend.Close(gone->id);
    const std::string path = gone->path;
    const std::string name = gone->name;
    const int32_t handle = gone->handle;
    gone.reset();
    Log((removed ? "removed " : "closed ") + path + " handle " + std::to_string(handle));
    if (removed && listener) listener->DeviceRemoved(0, std::to_string(pos) + " " + path);
    // Counted now: the DeviceRemoved handler may have opened or closed interfaces.
    const auto still_open = static_cast<int32_t>(open.size());
    if (listener) listener->InterfaceClosed(still_open, name, handle);
  }

  // A transfer found the device gone: close it as a removal would.
  void Gone(AgentInterface* in) {
    const int pos = PositionOf(in);
    if (pos < 0) return;
    closed_as_gone.insert(in->path);
    CloseAt(static_cast<std::size_t>(pos), true);
  }

  AgentInterface* ByHandle(int32_t handle) const {
    for (const auto& in : open) {
      if (in->handle == handle) return in.get();
    }
    return nullptr;
  }

  // Copies output report `ri` behind its id byte into the scratch buffer.
  std::span<const uint8_t> Stage(AgentInterface& in, std::size_t ri) {
    const hid::Report& rpt = in.desc.reports[ri];
    const std::size_t size = rpt.SizeBytes();
    in.scratch[0] = rpt.id;
    if (size > 0) std::memcpy(in.scratch.data() + 1, in.reports[ri].data(), size);
    return {in.scratch.data(), size + 1};
  }

  // What a write's status means to the caller. A device found gone is closed
  // (unless a handler has closed it meanwhile).
  bool Settle(int32_t handle, std::size_t ri, hid::IoStatus st) {
    AgentInterface* in = ByHandle(handle);
    if (st == hid::IoStatus::Disconnected) {
      if (in) Gone(in);
      return false;
    }
    const std::string path = in ? in->path : "handle " + std::to_string(handle);
    if (st != hid::IoStatus::Ok) {
      Log("write failed on " + path);
      return false;
    }
    if (verbose) Log("wrote report " + std::to_string(ri) + " of " + path);
    return true;
  }

  // One write of WriteRpts; `handle` is filled in once all are done.
  struct Pending {
    AgentInterface* in = nullptr;
    std::size_t ri = 0;
    bool output = false;
    bool may_block = false;
    hid::IoStatus status = hid::IoStatus::Failed;
    int32_t handle = 0;
  };

  // Writes to distinct interfaces, side by side where they may block: all
  // but the last of those go to the interfaces' workers, the rest are made
  // here. Returns when every one is done.
  void WriteRound(std::span<Pending> round) {
    std::size_t blocking = 0;
    std::size_t inline_k = round.size();
    for (std::size_t k = 0; k < round.size(); ++k) {
      round[k].may_block = round[k].output && backend.WriteMayBlock(round[k].in->id);
      if (!round[k].may_block) continue;
      ++blocking;
      inline_k = k;
    }
    // Waits even when a write made here throws: the workers own their jobs until then.
    struct Wait {
      std::atomic<uint32_t>& pending;
      ~Wait() { hid::WaitForWrites(pending); }
    } wait{writes_pending};
    if (blocking > 1) {
      for (std::size_t k = 0; k < round.size(); ++k) {
        Pending& w = round[k];
        if (k == inline_k || !w.may_block || w.in->worker) continue;
        w.in->worker = std::make_unique<hid::IoWorker>(backend, writes_pending);
      }
      writes_pending.store(static_cast<uint32_t>(blocking - 1), std::memory_order_relaxed);
      for (std::size_t k = 0; k < round.size(); ++k) {
        Pending& w = round[k];
        if (k != inline_k && w.may_block)
          w.in->worker->Start(w.in->id, Stage(*w.in, w.ri), &w.status);
      }
    }
    for (std::size_t k = 0; k < round.size(); ++k) {
      Pending& w = round[k];
      if (!w.output || (w.may_block && k != inline_k && blocking > 1)) continue;
      w.status = backend.Write(w.in->id, Stage(*w.in, w.ri));
    }
  }
};

Varnel::Varnel(hid::Backend& backend) : impl_(std::make_unique<Impl>(backend)) {}

Varnel::~Varnel() {
  // Devices still open are released without events: the listener may be gone.
  for (auto& in : impl_->open) {
    in->worker.reset();
    impl_->backend.Close(in->id);
  }
}

void Varnel::SetListener(VarnelListener* listener) {
  impl_->listener = listener;
}

const std::string& Varnel::LogFile() const {
  return impl_->log_file;
}
void Varnel::LogFile(const std::string& v) {
  if (impl_->log) {
    std::fclose(impl_->log);
    impl_->log = nullptr;
  }
  impl_->log_file = v;
}
int32_t Varnel::TimeOut() const {
  return impl_->time_out;
}
void Varnel::TimeOut(int32_t v) {
  impl_->time_out = v;
}
bool Varnel::Logging() const {
  return impl_->logging;
}
void Varnel::Logging(bool v) {
  impl_->logging = v;
}
bool Varnel::Verbose() const {
  return impl_->verbose;
}
void Varnel::Verbose(bool v) {
  impl_->verbose = v;
}
bool Varnel::ShowOperations() const {
  return impl_->show_operations;
}
void Varnel::ShowOperations(bool v) {
  impl_->show_operations = v;
}
int32_t Varnel::VID_To_Match() const {
  return impl_->vid_to_match;
}
void Varnel::VID_To_Match(int32_t v) {
  impl_->vid_to_match = v;
}
int32_t Varnel::PID_To_Match() const {
  return impl_->pid_to_match;
}
void Varnel::PID_To_Match(int32_t v) {
  impl_->pid_to_match = v;
}
bool Varnel::SearchOnVID() const {
  return impl_->search_on_vid;
}
void Varnel::SearchOnVID(bool v) {
  impl_->search_on_vid = v;
}
bool Varnel::SearchOnPID() const {
  return impl_->search_on_pid;
}
void Varnel::SearchOnPID(bool v) {
  impl_->search_on_pid = v;
}

void Varnel::InitAgent() {
  impl_->Log("agent initialised");
}

bool Varnel::OpenDevices() {
  Impl& m = *impl_;
  const std::vector<hid::InterfaceInfo> found = m.backend.Enumerate(m.VidFilter(), m.PidFilter());
  for (const hid::InterfaceInfo& info : found) {
    // Checked per entry: a listener may have opened or closed interfaces meanwhile.
    if (m.PositionOfPath(info.path) >= 0) continue;
    hid::OpenResult r = m.backend.Open(info.path);
    if (r.status == hid::IoStatus::AccessDenied) {
      m.NoticeOnce(info.path, "A board was found at " + info.path +
                                  " but access was denied. The udev rule " + kUdevRule +
                                  " must be installed (then plug the board in again).");
      continue;
    }
    if (r.status != hid::IoStatus::Ok) {
      if (r.status != hid::IoStatus::NotFound) {
        m.NoticeOnce(info.path, "Could not open " + info.path + ": " + r.error);
      }
      continue;
    }
    auto in = std::make_unique<AgentInterface>();
    in->id = r.id;
    in->path = info.path;
    in->vendor_id = info.vendor_id;
    in->product_id = info.product_id;
    in->name = info.name;
    std::string why;
    if (!hid::BuildInterface(*in, r.descriptor, &why)) {
      m.backend.Close(r.id);
      m.NoticeOnce(info.path, "The device at " + info.path +
                                  " has a report descriptor that cannot be used: " + why);
      continue;
    }
    m.closed_as_gone.erase(info.path);  // open again: its next removal is news
    in->handle = m.next_handle++;
    const int32_t handle = in->handle;
    const std::string name = in->name;
    m.open.push_back(std::move(in));
    m.Rebuild();
    m.Log("opened " + info.path + " handle " + std::to_string(handle));
    if (m.listener) m.listener->InterfaceOpened(handle, info.vendor_id, info.product_id, name);
  }
  return OpenCount() > 0;
}

void Varnel::CloseDevices() {
  Impl& m = *impl_;
  std::vector<int32_t> handles;
  for (const auto& in : m.open) handles.push_back(in->handle);
  // Last opened first, so that the positions of the others stay as they were.
  for (auto it = handles.rbegin(); it != handles.rend(); ++it) {
    for (std::size_t pos = 0; pos < m.open.size(); ++pos) {
      if (m.open[pos]->handle == *it) {
        m.CloseAt(pos, false);
        break;
      }
    }
  }
}

int32_t Varnel::OpenCount() const {
  return static_cast<int32_t>(impl_->open.size());
}

int32_t Varnel::SelectOpenIntf(int32_t position) {
  if (position < 0 || position >= OpenCount()) {
    throw VarnelError("Varnel: no open interface at position " + std::to_string(position));
  }
  impl_->cur_intf = impl_->open[static_cast<std::size_t>(position)].get();
  return impl_->cur_intf->handle;
}

void Varnel::SelectIntf(int32_t ref) {
  for (const auto& in : impl_->open) {
    if (in->handle == ref) {
      impl_->cur_intf = in.get();
      return;
    }
  }
  throw VarnelError("Varnel: no open interface " + std::to_string(ref));
}

int32_t Varnel::CurHidHandle() const {
  return impl_->CurIntf().handle;
}
int32_t Varnel::CurVendorID() const {
  return impl_->CurIntf().vendor_id;
}
int32_t Varnel::CurProductID() const {
  return impl_->CurIntf().product_id;
}

// Exact is accepted for compatibility; the lookup is always by page, usage and type.
int32_t Varnel::FindVar(int32_t UsagePage, int32_t Usage, int32_t RptType, bool /*Exact*/) const {
  const AgentInterface& in = impl_->CurIntf();
  const uint32_t wanted =
      (static_cast<uint32_t>(UsagePage) << 16) | (static_cast<uint32_t>(Usage) & 0xFFFFu);
  for (std::size_t i = 0; i < in.vars.size(); ++i) {
    const AgentVar& v = in.vars[i];
    if (v.usage == wanted && static_cast<int32_t>(in.desc.fields[v.field].type) == RptType) {
      return in.var_base + static_cast<int32_t>(i);
    }
  }
  return -1;
}

void Varnel::SelectVar(int32_t VarIndex) {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  impl_->cur_var_intf = in;
  impl_->cur_var = i;
  impl_->cur_intf = in;
}

int32_t Varnel::CurrentVarNum() const {
  if (!impl_->cur_var_intf) return -1;
  return impl_->cur_var_intf->var_base + static_cast<int32_t>(impl_->cur_var);
}

int32_t Varnel::VarCount() const {
  return static_cast<int32_t>(impl_->all_vars.size());
}

bool Varnel::AbsoluteNotRelative() const {
  return !(impl_->CurField().flags & hid::kRelative);
}
bool Varnel::ArrayNotVariable() const {
  return !(impl_->CurField().flags & hid::kVariable);
}
bool Varnel::BitsNotBuffer() const {
  return !(impl_->CurField().flags & hid::kBufferedBytes);
}
bool Varnel::HasNullState() const {
  return (impl_->CurField().flags & hid::kNullState) != 0;
}
bool Varnel::Linear() const {
  return !(impl_->CurField().flags & hid::kNonLinear);
}
bool Varnel::NoPrefState() const {
  return (impl_->CurField().flags & hid::kNoPreferred) != 0;
}
bool Varnel::NoWrap() const {
  return !(impl_->CurField().flags & hid::kWrap);
}
bool Varnel::Volatile() const {
  return (impl_->CurField().flags & hid::kVolatile) != 0;
}
int32_t Varnel::LogicalMaximum() const {
  return impl_->CurField().logical_maximum;
}
int32_t Varnel::LogicalMinimum() const {
  return impl_->CurField().logical_minimum;
}
int32_t Varnel::PhysicalMaximum() const {
  return impl_->CurField().physical_maximum;
}
int32_t Varnel::PhysicalMinimum() const {
  return impl_->CurField().physical_minimum;
}
int32_t Varnel::SizeInBits() const {
  return static_cast<int32_t>(impl_->CurField().report_size);
}
// The descriptor's string indexes are not fetched from the device: always empty.
std::string Varnel::StringDescriptor() const {
  impl_->CurField();
  return {};
}

int32_t Varnel::VarRptIndex(int32_t VarIndex) const {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  return in->rpt_base + static_cast<int32_t>(in->vars[i].report);
}

bool Varnel::VarIsButton(int32_t VarIndex) const {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  return in->desc.fields[in->vars[i].field].report_size == 1;
}

void Varnel::NameVar(int32_t VarIndex, const std::string& VarName) {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  in->vars[i].name = VarName;
}

std::string Varnel::VarName(int32_t VarIndex) const {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  return in->vars[i].name;
}

// The mode is kept per variable; values are computed on demand, so it does
// not restrict which reads work.
void Varnel::SetScaleMode(int32_t Mode) {
  if (Mode < smBoth || Mode > smScaledOnly) {
    throw VarnelError("Varnel: invalid scale mode " + std::to_string(Mode));
  }
  impl_->CurVar().scale_mode = Mode;
}

int32_t Varnel::CurScaleMode() const {
  return impl_->CurVar().scale_mode;
}

int32_t Varnel::GetUnscaled(int32_t VarIndex) const {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  return hid::GetUnscaledValue(*in, in->vars[i]);
}

int32_t Varnel::GetScaled(int32_t VarIndex) const {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  return hid::GetScaledValue(*in, in->vars[i]);
}

void Varnel::SetUnscaled(int32_t VarIndex, int32_t Value) {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  hid::SetUnscaledValue(*in, in->vars[i], Value);
}

void Varnel::SetScaled(int32_t VarIndex, int32_t Value) {
  const auto& [in, i] = impl_->VarAt(VarIndex);
  hid::SetScaledValue(*in, in->vars[i], Value);
}

int32_t Varnel::RptCount() const {
  return static_cast<int32_t>(impl_->all_rpts.size());
}

int32_t Varnel::CurrentRptNum() const {
  if (!impl_->cur_rpt_intf) return -1;
  return impl_->cur_rpt_intf->rpt_base + static_cast<int32_t>(impl_->cur_rpt);
}

void Varnel::CurrentRptNum(int32_t RptIndex) {
  SelectRpt(RptIndex);
}

void Varnel::SelectRpt(int32_t RptIndex) {
  const auto& [in, i] = impl_->RptAt(RptIndex);
  impl_->cur_rpt_intf = in;
  impl_->cur_rpt = i;
}

bool Varnel::ReadRpt() {
  Impl& m = *impl_;
  if (!m.cur_rpt_intf) throw VarnelError("Varnel: no current report");
  AgentInterface* in = m.cur_rpt_intf;
  const std::size_t ri = m.cur_rpt;
  const hid::Report& rpt = in->desc.reports[ri];
  if (rpt.type != hid::ReportType::Input) return false;
  std::size_t received = 0;
  const std::size_t size = rpt.SizeBytes();
  const hid::IoStatus st = m.backend.GetInputReport(
      in->id, rpt.id, std::span<uint8_t>(in->scratch.data(), size + 1), m.time_out, &received);
  if (st == hid::IoStatus::Disconnected) {
    m.Gone(in);
    return false;
  }
  // The id byte alone carries nothing: the copy would keep the previous report.
  if (st != hid::IoStatus::Ok || received < 1 || (size > 0 && received < 2)) {
    m.Log("read failed on " + in->path);
    return false;
  }
  std::memcpy(in->reports[ri].data(), in->scratch.data() + 1, std::min(received - 1, size));
  if (m.verbose) m.Log("read report " + std::to_string(ri) + " of " + in->path);
  const auto local = static_cast<int32_t>(ri);
  const int32_t all = in->rpt_base + local;
  if (m.listener) m.listener->ReportArrived(local, all);
  return true;
}

bool Varnel::WriteRpt() {
  Impl& m = *impl_;
  if (!m.cur_rpt_intf) throw VarnelError("Varnel: no current report");
  AgentInterface* in = m.cur_rpt_intf;
  const std::size_t ri = m.cur_rpt;
  if (in->desc.reports[ri].type != hid::ReportType::Output) return false;
  const hid::IoStatus st = m.backend.Write(in->id, m.Stage(*in, ri));
  return m.Settle(in->handle, ri, st);
}

void Varnel::WriteRpts(std::span<const int32_t> RptIndexes, const WriteDone& done) {
  Impl& m = *impl_;
  std::vector<Impl::Pending> writes;
  writes.reserve(RptIndexes.size());
  for (const int32_t index : RptIndexes) {
    if (index < 0) {
      writes.push_back({});
      continue;
    }
    const auto& [in, ri] = m.RptAt(index);
    writes.push_back({in, ri, in->desc.reports[ri].type == hid::ReportType::Output});
  }
  // One write per interface in a round, so that each has its scratch buffer
  // to itself and its own reports go out in order.
  for (std::size_t begin = 0, end = 0; begin < writes.size(); begin = end) {
    for (end = begin + 1; end < writes.size(); ++end) {
      const auto same = [&](const Impl::Pending& w) {
        return w.in != nullptr && w.in == writes[end].in;
      };
      if (std::any_of(writes.begin() + static_cast<std::ptrdiff_t>(begin),
                      writes.begin() + static_cast<std::ptrdiff_t>(end), same)) {
        break;
      }
    }
    m.WriteRound(std::span<Impl::Pending>(writes).subspan(begin, end - begin));
  }
  if (!writes.empty() && writes.back().in) {
    m.cur_rpt_intf = writes.back().in;
    m.cur_rpt = writes.back().ri;
  }
  // The interfaces may close from here on (a device found gone, a handler).
  for (Impl::Pending& w : writes) {
    if (w.in) w.handle = w.in->handle;
  }
  for (std::size_t k = 0; k < writes.size(); ++k) {
    const Impl::Pending& w = writes[k];
    const bool ok = w.output && m.Settle(w.handle, w.ri, w.status);
    if (done) done(k, ok);
  }
}

int Varnel::HotplugFd() {
  return impl_->backend.HotplugFd();
}

void Varnel::ProcessHotplug() {
  Impl& m = *impl_;
  const std::vector<hid::HotplugEvent> events = m.backend.DrainHotplug();
  for (const hid::HotplugEvent& ev : events) {
    if (ev.kind == hid::HotplugEvent::Kind::Arrived) {
      m.closed_as_gone.erase(ev.path);
      if (!m.Matches(ev.vendor_id, ev.product_id)) continue;
      m.Log("arrived " + ev.path);
      if (m.listener) m.listener->DeviceArrived(0, ev.path);
      continue;
    }
    m.noticed.erase(ev.path);
    const int pos = m.PositionOfPath(ev.path);
    if (pos >= 0) {
      m.CloseAt(static_cast<std::size_t>(pos), true);
      continue;
    }
    // Already reported when I/O found it gone.
    if (m.closed_as_gone.erase(ev.path) > 0) continue;
    // Other kinds of device are not reported; ids 0 mean the backend no longer knows them.
    const bool unknown = ev.vendor_id == 0 && ev.product_id == 0;
    if (!unknown && !m.Matches(ev.vendor_id, ev.product_id)) continue;
    m.Log("removed " + ev.path + " (not open)");
    if (m.listener) m.listener->DeviceRemoved(0, "-1 " + ev.path);
  }
}

}  // namespace pts
