// Output reports: one at a time, or several side by side on the interfaces' I/O workers.
#include <algorithm>
#include <span>
#include <vector>

#include "hid/varnel_impl.h"

namespace pts {

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

}  // namespace pts
