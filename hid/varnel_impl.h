// The agent's state, shared by its source files. Internal to the agent.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "hid/varnel.h"
#include "hid/varnel_interface.h"

namespace pts {

// The agent's own files use these names unqualified.
using hid::AgentInterface;
using hid::AgentVar;

struct Varnel::Impl {
  // Kept out of line so that the index checks on every variable and report
  // access cost a compare, not a frame for building the message.
  [[noreturn, gnu::cold]] static void ThrowOutOfRange(const char* what, int32_t index);

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
  // The workers' rounds of writes; declared before `open`, whose workers use it.
  hid::WriteRounds write_rounds;

  // Open interfaces in open order. The flat indexes below point into them and
  // are rebuilt whenever the list changes.
  std::vector<std::unique_ptr<AgentInterface>> open;
  // A variable: its interface and its place in the interface's list, and
  // for a one-byte field where its value goes (byte < 0: another width), so
  // that staging one reads neither the variable nor its field. A sweep step
  // stages 13 per board, and after each dwell they are cold.
  struct VarEntry {
    AgentInterface* in = nullptr;
    std::size_t i = 0;
    uint32_t report = 0;
    int32_t byte = -1;
  };
  std::vector<VarEntry> all_vars;
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
      for (std::size_t i = 0; i < in->vars.size(); ++i) {
        const AgentVar& v = in->vars[i];
        all_vars.push_back({in, i, static_cast<uint32_t>(v.report), hid::ByteOffsetOf(v)});
      }
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

  const VarEntry& VarAt(int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= all_vars.size()) {
      ThrowOutOfRange("variable", index);
    }
    return all_vars[static_cast<std::size_t>(index)];
  }
  const std::pair<AgentInterface*, std::size_t>& RptAt(int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= all_rpts.size()) {
      ThrowOutOfRange("report", index);
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

  // Posted writes (PostRpts) whose results are not delivered yet, oldest
  // first; their ids are consecutive.
  struct PostedWrite {
    int32_t handle = 0;
    std::size_t ri = 0;
    bool output = false;
    bool finished = false;
    bool skipped = false;
    hid::IoStatus status = hid::IoStatus::Failed;
  };
  struct Post {
    uint64_t id = 0;
    PostDone done;
    std::vector<PostedWrite> writes;
    std::size_t open = 0;  // writes not finished yet
  };
  std::deque<Post> posts;
  uint64_t next_post = 0;
  bool delivering = false;
  std::vector<hid::PostedResult> finished_scratch;

  void WaitPosted() { write_rounds.WaitPosted(); }
  // Marks write k of post `id` finished (or skipped) once.
  void Finished(uint64_t id, uint32_t k, hid::IoStatus status, bool skipped) {
    if (posts.empty() || id < posts.front().id) return;
    const auto at = static_cast<std::size_t>(id - posts.front().id);
    if (at >= posts.size() || k >= posts[at].writes.size()) return;
    Post& p = posts[at];
    PostedWrite& w = p.writes[k];
    if (w.finished) return;
    w.finished = true;
    w.skipped = skipped;
    w.status = status;
    --p.open;
  }
  void TakeFinished(hid::IoWorker& worker) {
    finished_scratch.clear();
    worker.TakeFinished(&finished_scratch);
    for (const hid::PostedResult& r : finished_scratch) Finished(r.post, r.k, r.status, false);
  }
  // Hands the posts whose writes have all finished to their callers, in order.
  void Deliver() {
    for (auto& in : open) {
      if (in->worker) TakeFinished(*in->worker);
    }
    if (delivering) return;
    delivering = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done_delivering{delivering};
    while (!posts.empty() && posts.front().open == 0) {
      Post p = std::move(posts.front());
      posts.pop_front();
      for (std::size_t k = 0; k < p.writes.size(); ++k) {
        const PostedWrite& w = p.writes[k];
        const Posted result = w.skipped                                      ? Posted::Skipped
                              : w.output && Settle(w.handle, w.ri, w.status) ? Posted::Written
                                                                             : Posted::Failed;
        if (p.done) p.done(k, result);
      }
    }
  }

  // Removes open interface `pos`, closes it in the backend and raises the events.
  // `removed`: the device went away (DeviceRemoved first); else a plain close.
  void CloseAt(std::size_t pos, bool removed) {
    // Its worker stops idle, and what it wrote is kept for delivery.
    WaitPosted();
    if (open[pos]->worker) TakeFinished(*open[pos]->worker);
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
    // Named only for the log: a sweep settles a write per board every step.
    const auto path = [&] { return in ? in->path : "handle " + std::to_string(handle); };
    if (st != hid::IoStatus::Ok) {
      Log("write failed on " + path());
      return false;
    }
    if (verbose) Log("wrote report " + std::to_string(ri) + " of " + path());
    return true;
  }

  // One write of WriteRpts; `handle` is filled in once all are done.
  struct Pending {
    AgentInterface* in = nullptr;
    std::size_t ri = 0;
    bool output = false;
    bool on_worker = false;  // made by the interface's worker, not here
    hid::IoStatus status = hid::IoStatus::Failed;
    int32_t handle = 0;
  };

  // Writes to distinct interfaces, side by side where they may block: all
  // but the last of those go to the interfaces' workers, the rest are made
  // here. Returns when every one is done.
  void WriteRound(std::span<Pending> round) {
    Pending* here = nullptr;  // the last write that may block
    for (Pending& w : round) {
      w.on_worker = w.output && backend.WriteMayBlock(w.in->id);
      if (w.on_worker) here = &w;
    }
    if (here) here->on_worker = false;
    // Every worker is made before any job is given: a failure to start a
    // thread must leave no job behind for a later round to run.
    uint32_t jobs = 0;
    for (Pending& w : round) {
      if (!w.on_worker) continue;
      if (!w.in->worker) w.in->worker = std::make_unique<hid::IoWorker>(backend, write_rounds);
      ++jobs;
    }
    for (Pending& w : round) {
      if (w.on_worker) w.in->worker->Give(w.in->id, Stage(*w.in, w.ri), &w.status);
    }
    if (jobs > 0) write_rounds.Go(jobs);
    // Waits even when a write made here throws: the workers own their jobs until then.
    struct Wait {
      hid::WriteRounds& rounds;
      ~Wait() { rounds.Wait(); }
    } wait{write_rounds};
    for (Pending& w : round) {
      if (w.output && !w.on_worker) w.status = backend.Write(w.in->id, Stage(*w.in, w.ri));
    }
  }
};

}  // namespace pts
