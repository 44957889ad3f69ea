// Where a running sweep or list stands, for the progress display: the place
// of the frequency now set within the pass, and the time until the pass ends.
#pragma once

#include <cstdint>
#include <string>

namespace pts {

class MainForm;

struct SweepProgress {
  bool running = false;  // a sweep is on and not told to stop
  bool single = false;   // a single sweep: it ends with this pass
  bool list = false;     // a list runs: steps are its points
  int64_t step = 0;      // 1..steps: the frequency now set is the pass's step-th
                         // (0 for a list whose first point has not gone out)
  int64_t steps = 0;     // steps in one pass, the start frequency being the first
  double ms_left = 0;    // until the pass ends, counted from the last step
};

SweepProgress SweepProgressOf(const MainForm& form);

// The head of the progress line: "Sweep step 3 of 10", "Single sweep step 3
// of 10", "List point 3 of 10".
std::string StepText(const SweepProgress& p);

// A duration as the operator reads it, rounded up: "0 s", "45 s",
// "3 min 05 s", "2 h 07 min", "3 d 04 h".
std::string DurationText(double ms);

}  // namespace pts
