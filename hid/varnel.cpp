#include "hid/varnel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "hid/varnel_impl.h"

namespace pts {

namespace {

constexpr const char* kUdevRule = "/etc/udev/rules.d/70-pts-panel.rules";

}  // namespace

void Varnel::Impl::ThrowOutOfRange(const char* what, int32_t index) {
  throw VarnelError(std::string("Varnel: ") + what + " index " + std::to_string(index) +
                    " out of range");
}

Varnel::Varnel(hid::Backend& backend) : impl_(std::make_unique<Impl>(backend)) {}

Varnel::~Varnel() {
  // Devices still open are released without events: the listener may be
  // gone. Posted writes go out first; their results are dropped.
  impl_->WaitPosted();
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
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  impl_->cur_var_intf = e.in;
  impl_->cur_var = e.i;
  impl_->cur_intf = e.in;
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
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  return e.in->rpt_base + static_cast<int32_t>(e.in->vars[e.i].report);
}

bool Varnel::VarIsButton(int32_t VarIndex) const {
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  return e.in->desc.fields[e.in->vars[e.i].field].report_size == 1;
}

void Varnel::NameVar(int32_t VarIndex, const std::string& VarName) {
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  e.in->vars[e.i].name = VarName;
}

std::string Varnel::VarName(int32_t VarIndex) const {
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  return e.in->vars[e.i].name;
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
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  return hid::GetUnscaledValue(*e.in, e.in->vars[e.i]);
}

int32_t Varnel::GetScaled(int32_t VarIndex) const {
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  return hid::GetScaledValue(*e.in, e.in->vars[e.i]);
}

void Varnel::SetUnscaled(int32_t VarIndex, int32_t Value) {
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  if (e.byte >= 0) {
    e.in->reports[e.report][static_cast<std::size_t>(e.byte)] = static_cast<uint8_t>(Value);
    return;
  }
  hid::SetUnscaledValue(*e.in, e.in->vars[e.i], Value);
}

void Varnel::SetScaled(int32_t VarIndex, int32_t Value) {
  const Impl::VarEntry& e = impl_->VarAt(VarIndex);
  hid::SetScaledValue(*e.in, e.in->vars[e.i], Value);
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
  m.WaitPosted();  // one transfer at a time on a device
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
