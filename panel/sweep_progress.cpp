#include "panel/sweep_progress.h"

#include <cmath>
#include <cstdio>

#include "panel/mainform.h"

namespace pts {

namespace {

// A list's pass ends when its last point goes out, as a single sweep's does:
// the time left is that of the ticks until then. The tick waited for now
// comes the dwell of the point set after it (the first point's before any),
// each later one its own point's dwell after the one before.
void ListProgress(const MainForm::ListRun& list, SweepProgress* p) {
  const size_t points = list.freq.size();
  const size_t at = list.at;
  const bool one = list.dwell_ms.size() == 1;
  double ms = 0;
  if (at < points) {
    const size_t from = at == 0 ? 0 : at - 1;  // the dwell now waited
    if (at == 0) ms = list.dwell_ms[0];
    if (one) {
      ms += list.dwell_ms[0] * double(points - 1 - from);
    } else {
      for (size_t i = from; i + 1 < points; ++i) ms += list.dwell_ms[i];
    }
  }
  p->list = true;
  p->steps = static_cast<int64_t>(points);
  p->step = static_cast<int64_t>(at);
  p->ms_left = ms;
}

}  // namespace

SweepProgress SweepProgressOf(const MainForm& form) {
  SweepProgress p;
  p.running = form.Sweeping();
  if (!p.running) return p;
  p.single = form.SnglSweepFlag;
  if (form.List().on) {
    ListProgress(form.List(), &p);
    return p;
  }
  // Each tick takes one off the count left in the pass and starts the pass
  // again at its start frequency when the count is used up; a fractional
  // count still takes a whole tick. The dwell time is at least 1 ms and a
  // pass at most the sweep box's eight digits of seconds, so the counts fit.
  const double steps = std::ceil(form.DwellNum);
  const double left = std::ceil(form.TempDwellNum);
  if (!(steps >= 1 && steps < 1e15 && left >= 1 && left <= steps)) {
    p.running = false;
    return p;
  }
  p.steps = static_cast<int64_t>(steps);
  p.step = p.steps - static_cast<int64_t>(left) + 1;
  p.ms_left = left * form.DwellTime;
  return p;
}

std::string StepText(const SweepProgress& p) {
  const char* what = p.list ? "List point " : p.single ? "Single sweep step " : "Sweep step ";
  return what + std::to_string(p.step) + " of " + std::to_string(p.steps);
}

std::string DurationText(double ms) {
  const double whole = std::ceil(ms / 1000.0);
  const long long s = whole > 0 && whole < 1e15 ? static_cast<long long>(whole) : 0;
  char text[48];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%lld s", s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
  } else if (const long long m = (s + 59) / 60; m < 24 * 60) {
    // Minutes rounded up too: never less than is left.
    std::snprintf(text, sizeof text, "%lld h %02lld min", m / 60, m % 60);
  } else {
    const long long h = (s + 3599) / 3600;
    std::snprintf(text, sizeof text, "%lld d %02lld h", h / 24, h % 24);
  }
  return text;
}

}  // namespace pts
