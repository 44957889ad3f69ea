// Output reports: one at a time, several side by side on the interfaces' I/O
// workers, or posted to the workers without waiting.
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
  m.WaitPosted();
  const hid::IoStatus st = m.backend.Write(in->id, m.Stage(*in, ri));
  return m.Settle(in->handle, ri, st);
}

void Varnel::WriteRpts(std::span<const int32_t> RptIndexes, const WriteDone& done) {
  Impl& m = *impl_;
  m.WaitPosted();
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

void Varnel::PostRpts(std::span<const int32_t> RptIndexes, PostDone done) {
  Impl& m = *impl_;
  // Checked, and every worker made, before anything is posted: a post that
  // throws leaves nothing behind that would never finish.
  for (const int32_t index : RptIndexes) {
    if (index < 0) continue;
    AgentInterface* in = m.RptAt(index).first;
    if (!in->worker && m.backend.WriteMayBlock(in->id)) {
      in->worker = std::make_unique<hid::IoWorker>(m.backend, m.write_rounds);
    }
  }
  Impl::Post& p = m.posts.emplace_back();
  p.id = m.next_post++;
  p.done = std::move(done);
  p.writes.resize(RptIndexes.size());
  p.open = RptIndexes.size();
  bool posted = false;
  for (std::size_t k = 0; k < RptIndexes.size(); ++k) {
    Impl::PostedWrite& w = p.writes[k];
    if (RptIndexes[k] >= 0) {
      const auto& [in, ri] = m.RptAt(RptIndexes[k]);
      w.handle = in->handle;
      w.ri = ri;
      w.output = in->desc.reports[ri].type == hid::ReportType::Output;
      // An interface with a worker always posts to it, so that its writes
      // keep their order and never overlap.
      if (w.output && in->worker) {
        const auto replaced =
            in->worker->Post(in->id, m.Stage(*in, ri), {p.id, static_cast<uint32_t>(k)});
        if (replaced) m.Finished(replaced->post, replaced->k, hid::IoStatus::Failed, true);
        posted = true;
        continue;
      }
      if (w.output) w.status = m.backend.Write(in->id, m.Stage(*in, ri));
    }
    w.finished = true;
    --p.open;
  }
  if (posted) m.write_rounds.WakePosted();
  if (!RptIndexes.empty() && RptIndexes.back() >= 0) {
    const auto& [in, ri] = m.RptAt(RptIndexes.back());
    m.cur_rpt_intf = in;
    m.cur_rpt = ri;
  }
  m.Deliver();
}

bool Varnel::WritesPending() const {
  return !impl_->posts.empty();
}

void Varnel::DeliverWrites() {
  impl_->Deliver();
}

void Varnel::FinishWrites() {
  impl_->WaitPosted();
  impl_->Deliver();
}

void Varnel::WaitWrites() {
  impl_->WaitPosted();
}

void Varnel::DiscardWrites() {
  Impl& m = *impl_;
  m.WaitPosted();
  for (auto& in : m.open) {
    if (in->worker) m.TakeFinished(*in->worker);
  }
  m.posts.clear();
}

}  // namespace pts
