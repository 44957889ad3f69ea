// Sweep timing: runs a repeating sweep through MainForm and the Qt timer
// binding on simulated boards, time-stamps every report as the boards receive
// it, and compares the arrivals with the ideal schedule start + k x dwell.
// Then, in the same process, a bare loop that only waits on a timerfd of the
// same period runs for the same number of steps: its CPU per step is what
// this machine charges for a wake-up, so the panel's overhead per step is the
// difference of the two.
//
//   sweep_timing [--dwell-ms=N] [--boards=N] [--steps=N] [--write-latency-ms=X] [--list=N]
//
// (also `--name value`). --write-latency-ms makes every write to a simulated
// board take X ms (a fraction allowed), as a real board's USB transfer does.
// --list=N runs a repeating list of N frequencies, each held for the dwell,
// instead of the sweep (the steps are then its points, pass after pass).
// Prints one line:
//   dwell_ms=1 boards=4 write_latency_ms=0.8 steps=5000 list=0 mean_interval_ms=... p50_late_ms=...
//   p99_late_ms=... max_late_ms=... drift_ms=... missed=... cpu_us_per_step=...
//   ui_blocked_p50_ms=... ui_blocked_p99_ms=... bare_p99_late_ms=... bare_cpu_us_per_step=...
//   cpu_over_bare_us=... bare_blocking_p99_late_ms=... bare_side_by_side_p99_late_ms=...
//   skipped=... bare_posted_p99_late_ms=... bare_posted_missed=...
// bare_blocking is the bare loop blocking for the write latency at each step
// (0 without latency), steps due after a stall run back to back as the
// sweep runs them: the best lateness a step that waits that long can have.
// bare_side_by_side (with more than one board) has as many threads block
// side by side and waits for all of them: the floor for a step that writes
// the boards side by side and waits, on this machine.
// ui_blocked is how long each step's handler held the UI thread (the window
// answers nothing meanwhile); a step hands its writes to the boards' I/O
// workers and does not wait for them. skipped counts the words a board never
// got because it was still writing when a newer one replaced them.
// bare_posted (with a write latency) is the floor for steps that do not
// wait: bare threads fed through the same queue, with no panel in between. No window is
// needed: only the two timers are bound (offscreen platform).
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hid/io_worker.h"
#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "panel/encoding.h"
#include "panel/mainform.h"
#include "panel/operator.h"
#include "ui/timer_binding.h"

namespace {

using Clock = std::chrono::steady_clock;

// Answers every box with OK and counts them: a sweep that shows a box
// (a refused frequency) is not a timing run.
class QuietOperator : public pts::Operator {
 public:
  pts::MsgAnswer MessageBox(const std::string& text, pts::MsgButtons, pts::MsgIcon,
                            const std::string&) override {
    if (counting) {
      ++boxes;
      last_box = text;
    }
    return pts::MsgAnswer::Ok;
  }
  void Beep() override {}
  void EndProgram(int status) override { std::exit(status); }
  bool counting = false;
  int boxes = 0;
  std::string last_box;
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

// The frequency in a word (hertz, tenths kept), for the sweep's models.
double Decode(const pts::hid::OutputWord& w) {
  const auto digit = [](const auto& table, int bits) {
    const auto it = std::find(table.begin(), table.end(), bits);
    return it == table.end() ? 0 : int(it - table.begin());
  };
  double hz = 0, weight = 0.1;
  for (int f = pts::kF1; f <= pts::kF5; ++f) {
    hz += digit(pts::kLowDigitCode, w[size_t(f)] & 0xC3) * weight;
    hz += digit(pts::kHighDigitCode, w[size_t(f)] & 0x3C) * weight * 10;
    weight *= 100;
  }
  return hz;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
  return v[i];
}

constexpr const char* kUsage =
    "usage: sweep_timing [--dwell-ms=N] [--boards=N] [--steps=N] [--write-latency-ms=X] "
    "[--list=N]\n";

[[noreturn]] void Fail(const std::string& line) {
  std::fprintf(stderr, "sweep_timing: %s\n", line.c_str());
  std::exit(2);
}

// Takes option `name` at argv[*i] as `--name=value` or `--name value` (then
// *i moves past the value). False when argv[*i] is another option.
bool OptionValue(int argc, char** argv, int* i, const char* name, std::string* value) {
  const char* arg = argv[*i];
  const size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0) return false;
  if (arg[n] == '=') {
    *value = arg + n + 1;
    return true;
  }
  if (arg[n] != '\0') return false;
  if (*i + 1 >= argc) Fail(std::string(name) + " needs a value");
  *value = argv[++*i];
  return true;
}

int IntValue(const char* name, const std::string& text) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 1 || v > 10000000) {
    Fail(std::string("bad value '") + text + "' for " + name);
  }
  return int(v);
}

double MsValue(const char* name, const std::string& text) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  // Up to a second; negated form so that NaN fails too.
  if (text.empty() || *end != '\0' || !(v >= 0 && v <= 1000)) {
    Fail(std::string("bad value '") + text + "' for " + name);
  }
  return v;
}

struct Bare {
  double p99_late_ms = 0;
  double cpu_us_per_step = 0;
};

timespec Plus(timespec t, long ns) {
  t.tv_sec += ns / 1000000000L;
  t.tv_nsec += ns % 1000000000L;
  t.tv_sec += t.tv_nsec / 1000000000L;
  t.tv_nsec %= 1000000000L;
  return t;
}

double NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Blocks `block_us` from now without timer slack, as a simulated board's write does.
void Block(long block_us) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const timespec until = Plus(now, block_us * 1000L);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// Threads that each block once per round from when they wake, as the I/O
// workers do for their boards, and a plain futex wake-up and wait around them.
class Blockers {
 public:
  Blockers(int count, long block_us) : late_(size_t(count)) {
    for (auto& l : late_) {
      threads_.emplace_back([this, &l, block_us] { Run(l, block_us); });
    }
  }
  ~Blockers() {
    stop_ = true;
    round_.fetch_add(1);
    round_.notify_all();
    for (auto& t : threads_) t.join();
  }
  // Wakes all of them for the step due at `due_ns`.
  void Go(double due_ns) {
    if (threads_.empty()) return;
    due_ns_ = due_ns;
    pending_.store(uint32_t(threads_.size()));
    round_.fetch_add(1, std::memory_order_release);
    round_.notify_all();
  }
  void Wait() {
    for (uint32_t n = pending_.load(); n != 0; n = pending_.load()) pending_.wait(n);
  }
  // The lateness of every block they started.
  void TakeLateness(std::vector<double>* into) {
    for (auto& l : late_) into->insert(into->end(), l.begin(), l.end());
  }

 private:
  void Run(std::vector<double>& late, long block_us) {
    prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
    uint32_t seen = 0;
    for (;;) {
      round_.wait(seen, std::memory_order_acquire);
      seen = round_.load(std::memory_order_acquire);
      if (stop_) return;
      late.push_back((NowNs() - due_ns_) / 1e6);
      Block(block_us);
      if (pending_.fetch_sub(1) == 1) pending_.notify_one();
    }
  }

  std::vector<std::vector<double>> late_;
  std::vector<std::thread> threads_;
  std::atomic<uint32_t> round_{0};
  std::atomic<uint32_t> pending_{0};
  std::atomic<bool> stop_{false};
  double due_ns_ = 0;  // written before the round starts (release), read after (acquire)
};

// Waits `steps` times on a timerfd of period `dwell_ms` and does nothing else
// but, when `block_us` > 0, block that long at each step (without timer
// slack, as the simulated boards do), side by side with `side_by_side` - 1
// threads that block as long: the floor for any step that must wait for
// writes of that length. Every expiry is a step, as in the sweep: after a
// stall the steps due run back to back, each measured against its own place
// in the schedule.
Bare BareTimerLoop(int dwell_ms, int steps, long block_us, int side_by_side = 1) {
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  if (fd < 0) return {};
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long period_ns = long(dwell_ms) * 1000000L;
  itimerspec spec{};
  spec.it_interval.tv_nsec = period_ns % 1000000000L;
  spec.it_interval.tv_sec = period_ns / 1000000000L;
  spec.it_value = Plus(now, period_ns);
  const double start_ns = double(spec.it_value.tv_sec) * 1e9 + double(spec.it_value.tv_nsec);
  const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  if (block_us > 0) prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
  Blockers others(block_us > 0 ? side_by_side - 1 : 0, block_us);
  timerfd_settime(fd, TFD_TIMER_ABSTIME, &spec, nullptr);
  std::vector<double> late;
  late.reserve(size_t(steps));
  const double cpu0 = CpuSeconds();
  int done = 0;
  while (done < steps) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, -1) < 0) continue;
    uint64_t n = 0;
    if (read(fd, &n, sizeof n) != ssize_t(sizeof n)) continue;
    for (uint64_t i = 0; i < n && done < steps; ++i) {
      const double due = start_ns + double(done++) * double(period_ns);
      others.Go(due);
      late.push_back((NowNs() - due) / 1e6);
      if (block_us > 0) {
        Block(block_us);
        others.Wait();
      }
    }
  }
  const double cpu = CpuSeconds() - cpu0;
  if (slack > 0) prctl(PR_SET_TIMERSLACK, slack, 0, 0, 0);
  close(fd);
  others.TakeLateness(&late);
  return {Percentile(late, 99), cpu / double(steps) * 1e6};
}

// The floor for steps that do not wait: a timerfd loop that hands each
// step's word to `boards` bare threads, each queueing at most
// IoWorker::kQueued and dropping the oldest, blocking `block_us` per word,
// with the timer binding's limit on catching up. Returns the steps that some
// thread never wrote and the lateness of the words written: what this
// machine's stalls cost that design, with no panel, Qt or simulated board.
struct Posted {
  int missed = 0;
  double p99_late_ms = 0;
};
Posted BarePosted(int dwell_ms, int steps, long block_us, int boards) {
  struct Worker {
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::pair<int, double>> queue;  // step, due
    std::vector<char> wrote;
    std::vector<double> late;
    bool stop = false;
    std::thread thread;
  };
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  const long period_ns = long(dwell_ms) * 1000000L;
  const itimerspec spec{{period_ns / 1000000000L, period_ns % 1000000000L},
                        {period_ns / 1000000000L, period_ns % 1000000000L}};
  std::vector<std::unique_ptr<Worker>> workers;
  for (int b = 0; b < boards; ++b) {
    auto w = std::make_unique<Worker>();
    w->wrote.assign(size_t(steps), 0);
    Worker* self = w.get();
    w->late.reserve(size_t(steps));
    w->thread = std::thread([self, block_us] {
      prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
      std::unique_lock lock(self->m);
      for (;;) {
        self->cv.wait(lock, [self] { return self->stop || !self->queue.empty(); });
        if (self->queue.empty()) return;
        const auto [k, due] = self->queue.front();
        self->queue.pop_front();
        lock.unlock();
        self->wrote[size_t(k)] = 1;  // the board takes the word as the write starts
        self->late.push_back((NowNs() - due) / 1e6);
        Block(block_us);
        lock.lock();
      }
    });
    workers.push_back(std::move(w));
  }
  const double start_ns = NowNs() + double(period_ns);
  timerfd_settime(fd, 0, &spec, nullptr);  // step k (from 0) is due at start + k x dwell
  const uint64_t catch_up = uint64_t(std::max(1, pts::TimerBinding::kMaxCatchUpMs / dwell_ms));
  int k = 0;
  while (k < steps) {
    uint64_t n = 0;
    if (read(fd, &n, sizeof n) != ssize_t(sizeof n)) continue;
    if (n > catch_up) k += int(n - catch_up), n = catch_up;  // dropped, as the binding does
    for (uint64_t i = 0; i < n && k < steps; ++i, ++k) {
      for (auto& w : workers) {
        {
          std::lock_guard lock(w->m);
          if (w->queue.size() == pts::hid::IoWorker::kQueued) w->queue.pop_front();
          w->queue.emplace_back(k, start_ns + double(k) * double(period_ns));
        }
        w->cv.notify_one();
      }
    }
  }
  close(fd);
  for (auto& w : workers) {
    {
      std::lock_guard lock(w->m);
      w->stop = true;
    }
    w->cv.notify_one();
    w->thread.join();
  }
  Posted posted;
  std::vector<double> late;
  for (auto& w : workers) late.insert(late.end(), w->late.begin(), w->late.end());
  posted.p99_late_ms = Percentile(late, 99);
  for (int j = 0; j < steps; ++j) {
    for (auto& w : workers) {
      if (!w->wrote[size_t(j)]) {
        ++posted.missed;
        break;
      }
    }
  }
  return posted;
}

}  // namespace

int main(int argc, char** argv) {
  int dwell_ms = 1, boards = 4, steps = 5000, list = 0;
  double latency_ms = 0;
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (OptionValue(argc, argv, &i, "--dwell-ms", &v)) {
      dwell_ms = IntValue("--dwell-ms", v);
    } else if (OptionValue(argc, argv, &i, "--boards", &v)) {
      boards = IntValue("--boards", v);
    } else if (OptionValue(argc, argv, &i, "--steps", &v)) {
      steps = IntValue("--steps", v);
    } else if (OptionValue(argc, argv, &i, "--list", &v)) {
      list = IntValue("--list", v);
    } else if (OptionValue(argc, argv, &i, "--write-latency-ms", &v)) {
      latency_ms = MsValue("--write-latency-ms", v);
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);

  pts::hid::SimulatedBackend backend;
  const auto latency =
      std::chrono::microseconds(std::lround(latency_ms * 1000.0));  // whole microseconds
  for (int b = 0; b < boards; ++b) {
    backend.AddBoard(0x5E);  // PTS 500, unit 0
    backend.DelayWrites(b + 1, latency);
  }
  pts::Varnel agent(backend);
  QuietOperator op;
  pts::MainForm form(agent, op, ".");
  if (!form.Form_Load()) {
    std::fprintf(stderr, "sweep_timing: the simulated boards did not open\n");
    return 1;
  }
  form.Form_Activate();
  op.counting = true;

  // Arrival times per step (1..steps) and board. The word says its step: the
  // writes run on the boards' I/O workers, and may still run when the next
  // tick has begun. The pass's last step sends the start frequency again; a
  // list's point comes back every pass, and is the latest tick's that sent it.
  std::vector<Clock::time_point> arrivals(size_t(steps + 1) * size_t(boards));
  std::vector<char> seen(arrivals.size(), 0);
  std::atomic<int> tick{0};
  const double first_hz = 100e6, step_hz = 100;
  backend.SetReportObserver([&](int board, Clock::time_point at, const pts::hid::OutputWord& w) {
    long k = std::lround((Decode(w) - first_hz) / step_hz);
    if (list > 0) {
      const long now = tick.load(std::memory_order_relaxed);
      k = now - (((now - 1 - k) % list) + list) % list;
    } else if (k == 0) {
      k = steps;
    }
    if (k < 1 || k > steps || board < 1 || board > boards) return;
    const size_t i = size_t(k) * size_t(boards) + size_t(board - 1);
    arrivals[i] = at;
    seen[i] = 1;
  });

  std::vector<double> blocked_ms;  // per step: how long the handler held the UI thread
  blocked_ms.reserve(size_t(steps));
  pts::TimerBinding dwell(form.TmrDwell, [&] {
    ++tick;
    const Clock::time_point begin = Clock::now();
    form.TmrDwell_Timer();
    blocked_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    if (tick == steps) {
      form.CmdStop_Click();
      app.quit();
    }
  });
  dwell.Attach();
  pts::TimerBinding blink(form.TmrBlink, [&] { form.TmrBlink_Timer(); });
  blink.Attach();

  // One pass of exactly `steps` steps of 100 Hz from 100 MHz, `dwell_ms` each;
  // the sweep time carries half a dwell of margin so the floor gives dwell_ms.
  const double start_hz = first_hz;
  form.TextFreq.Text("100000000");
  form.TextFreqStop.Text(std::to_string(long(start_hz + steps * step_hz)));
  form.TextFreqStep.Text("100");
  char sweep_time[32];
  std::snprintf(sweep_time, sizeof sweep_time, "%.6g", (steps + 0.5) * dwell_ms / 1000.0);
  form.TextSweepTime.Text(sweep_time);

  // Let the loop settle first (platform start-up work): a sweep in the program
  // starts long after the window came up.
  QCoreApplication::processEvents();
  // Give up a second after the schedule's end.
  QTimer::singleShot(steps * dwell_ms + 1000, &app, [&] { app.quit(); });
  const double cpu0 = CpuSeconds();
  const Clock::time_point t0 = Clock::now();
  if (list > 0) {
    std::vector<double> freq;
    for (int k = 0; k < list; ++k) freq.push_back(start_hz + k * step_hz);
    form.RunList(std::move(freq), {double(dwell_ms)}, 0);
  } else {
    form.CmdStart_Click();
  }
  if (form.TmrDwell.Interval() != dwell_ms || !dwell.Running()) {
    std::fprintf(stderr, "sweep_timing: the %s did not start with a %d ms dwell\n",
                 list > 0 ? "list" : "sweep", dwell_ms);
    return 1;
  }
  app.exec();
  form.CmdStop_Click();  // the last step's writes are done (also after the time-out)
  const double cpu = CpuSeconds() - cpu0;
  if (op.boxes > 0) {
    std::fprintf(stderr, "sweep_timing: the sweep showed %d box(es): %s\n", op.boxes,
                 op.last_box.c_str());
  }

  // Lateness of every arrival against start + k x dwell.
  const auto dwell_d = std::chrono::duration<double, std::milli>(dwell_ms);
  std::vector<double> late, first_late, last_late;
  int missed = 0;
  Clock::time_point first_at{}, last_at{};
  int first_k = 0, last_k = 0;
  for (int k = 1; k <= steps; ++k) {
    bool all = true;
    for (int b = 0; b < boards; ++b) {
      const size_t i = size_t(k) * size_t(boards) + size_t(b);
      if (!seen[i]) {
        all = false;
        continue;
      }
      const double l =
          std::chrono::duration<double, std::milli>(arrivals[i] - t0).count() - k * dwell_d.count();
      late.push_back(l);
      if (b == 0) {
        if (first_k == 0) first_k = k, first_at = arrivals[i];
        last_k = k, last_at = arrivals[i];
        // The first and the last tenth of the run, for the drift.
        if (k <= std::max(1, steps / 10)) first_late.push_back(l);
        if (k > steps - std::max(1, steps / 10)) last_late.push_back(l);
      }
    }
    if (!all) ++missed;
  }
  const double mean_interval =
      last_k > first_k ? std::chrono::duration<double, std::milli>(last_at - first_at).count() /
                             (last_k - first_k)
                       : 0.0;
  const double drift = Percentile(last_late, 50) - Percentile(first_late, 50);
  const Bare bare = BareTimerLoop(dwell_ms, steps, 0);
  const Bare blocking =
      latency.count() > 0 ? BareTimerLoop(dwell_ms, steps, long(latency.count())) : Bare{};
  const Bare side_by_side = latency.count() > 0 && boards > 1
                                ? BareTimerLoop(dwell_ms, steps, long(latency.count()), boards)
                                : Bare{};
  const Posted posted =
      latency.count() > 0 ? BarePosted(dwell_ms, steps, long(latency.count()), boards) : Posted{};
  const double cpu_per_step = cpu / std::max(1, tick.load()) * 1e6;
  std::printf(
      "dwell_ms=%d boards=%d write_latency_ms=%g steps=%d list=%d mean_interval_ms=%.4f "
      "p50_late_ms=%.3f "
      "p99_late_ms=%.3f max_late_ms=%.3f drift_ms=%.3f missed=%d cpu_us_per_step=%.1f "
      "ui_blocked_p50_ms=%.3f ui_blocked_p99_ms=%.3f bare_p99_late_ms=%.3f "
      "bare_cpu_us_per_step=%.1f cpu_over_bare_us=%.1f bare_blocking_p99_late_ms=%.3f "
      "bare_side_by_side_p99_late_ms=%.3f skipped=%llu bare_posted_p99_late_ms=%.3f "
      "bare_posted_missed=%d\n",
      dwell_ms, boards, latency_ms, steps, list, mean_interval, Percentile(late, 50),
      Percentile(late, 99), late.empty() ? 0.0 : *std::max_element(late.begin(), late.end()), drift,
      missed, cpu_per_step, Percentile(blocked_ms, 50), Percentile(blocked_ms, 99),
      bare.p99_late_ms, bare.cpu_us_per_step, cpu_per_step - bare.cpu_us_per_step,
      blocking.p99_late_ms, side_by_side.p99_late_ms,
      static_cast<unsigned long long>(form.SkippedWords()), posted.p99_late_ms, posted.missed);
  return 0;
}
