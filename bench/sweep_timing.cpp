// Sweep timing: runs a repeating sweep through MainForm and the Qt timer
// binding on simulated boards, time-stamps every report as the boards receive
// it, and compares the arrivals with the ideal schedule start + k x dwell.
//
//   sweep_timing [--dwell-ms=N] [--boards=N] [--steps=N]
//
// Prints one line:
//   dwell_ms=1 boards=4 steps=5000 mean_interval_ms=... p50_late_ms=... p99_late_ms=...
//   max_late_ms=... drift_ms=... missed=... cpu_us_per_step=...
// No window is needed: only the two timers are bound (offscreen platform).
#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
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

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
  return v[i];
}

bool IntOption(const char* arg, const char* name, int* value) {
  const size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
  char* end = nullptr;
  const long v = std::strtol(arg + n + 1, &end, 10);
  if (*end != '\0' || v < 1 || v > 10000000) {
    std::fprintf(stderr, "sweep_timing: bad value in '%s'\n", arg);
    std::exit(2);
  }
  *value = int(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int dwell_ms = 1, boards = 4, steps = 5000;
  for (int i = 1; i < argc; ++i) {
    if (IntOption(argv[i], "--dwell-ms", &dwell_ms) || IntOption(argv[i], "--boards", &boards) ||
        IntOption(argv[i], "--steps", &steps)) {
      continue;
    }
    std::fprintf(stderr, "usage: sweep_timing [--dwell-ms=N] [--boards=N] [--steps=N]\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);

  pts::hid::SimulatedBackend backend;
  for (int b = 0; b < boards; ++b) backend.AddBoard(0x5E);  // PTS 500, unit 0
  pts::Varnel agent(backend);
  QuietOperator op;
  pts::MainForm form(agent, op, ".");
  if (!form.Form_Load()) {
    std::fprintf(stderr, "sweep_timing: the simulated boards did not open\n");
    return 1;
  }
  form.Form_Activate();
  op.counting = true;

  // Arrival times per step (1..steps) and board; the step is the tick that sent it.
  std::vector<Clock::time_point> arrivals(size_t(steps + 1) * size_t(boards));
  std::vector<char> seen(arrivals.size(), 0);
  int tick = 0;
  backend.SetReportObserver([&](int board, Clock::time_point at, const pts::hid::OutputWord&) {
    if (tick < 1 || tick > steps || board < 1 || board > boards) return;
    const size_t i = size_t(tick) * size_t(boards) + size_t(board - 1);
    arrivals[i] = at;
    seen[i] = 1;
  });

  pts::TimerBinding dwell(form.TmrDwell, [&] {
    ++tick;
    form.TmrDwell_Timer();
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
  const double start_hz = 100e6, step_hz = 100;
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
  form.CmdStart_Click();
  if (form.DwellTime != dwell_ms || !dwell.Running()) {
    std::fprintf(stderr, "sweep_timing: the sweep did not start with a %d ms dwell\n", dwell_ms);
    return 1;
  }
  app.exec();
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
  std::printf(
      "dwell_ms=%d boards=%d steps=%d mean_interval_ms=%.4f p50_late_ms=%.3f p99_late_ms=%.3f "
      "max_late_ms=%.3f drift_ms=%.3f missed=%d cpu_us_per_step=%.1f\n",
      dwell_ms, boards, steps, mean_interval, Percentile(late, 50), Percentile(late, 99),
      late.empty() ? 0.0 : *std::max_element(late.begin(), late.end()), drift, missed,
      cpu / std::max(1, tick) * 1e6);
  return 0;
}
