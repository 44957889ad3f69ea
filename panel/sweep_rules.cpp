#include "panel/sweep_rules.h"

#include <cmath>

#include "panel/mainform.h"
#include "panel/number_text.h"

namespace pts {

bool SweepSteps(double start, double stop, double step, double* steps) {
  if (!(std::isfinite(start) && std::isfinite(stop) && std::isfinite(step) && start >= 0 &&
        stop >= 0 && step > 0 && stop != start)) {
    return false;
  }
  *steps = std::fabs(stop - start) / step;
  return std::isfinite(*steps) && *steps > 0;
}

bool SweepDwellMs(double sweep_time, double steps, double* ms) {
  *ms = std::floor(sweep_time / steps * 1000);
  return std::isfinite(*ms);
}

double SweepPoints(double steps) {
  return std::floor(steps + steps * 1e-12) + 1;
}

bool BoxSweepSteps(const MainForm& f, double* steps) {
  if (f.TextFreqStop.Text().empty() || f.TextFreqStep.Text().empty()) return false;
  return SweepSteps(ReadNumber(f.TextFreq.Text()), ReadNumber(f.TextFreqStop.Text()),
                    ReadNumber(f.TextFreqStep.Text()), steps);
}

}  // namespace pts
