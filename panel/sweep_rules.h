// The stepped sweep's rules, as Start applies them and the remote reports
// them: the steps of a pass, the time per step, the points.
#pragma once

#include <cstdint>
#include <limits>

namespace pts {

class MainForm;

// The step timer's interval: whole milliseconds in an int (about 24.8 days).
inline constexpr double kMinDwellMs = 1;
inline constexpr double kMaxDwellMs = std::numeric_limits<int32_t>::max();

// The steps of a pass from start to stop by step; false when they give no
// sweep (no step, no span, negative or overflowing values), so that nothing
// is divided by zero.
bool SweepSteps(double start, double stop, double step, double* steps);
// Whole milliseconds per step, rounded down, for a pass of `sweep_time`
// seconds over `steps`; false when that is not finite.
bool SweepDwellMs(double sweep_time, double steps, double* ms);
// Points of a pass with both ends counted: a fraction of a step left at the
// end is no point, a point lost to rounding is one.
double SweepPoints(double steps);
// The steps of a pass the sweep's boxes give now; false when the stop or
// step box is empty or they give no sweep.
bool BoxSweepSteps(const MainForm& f, double* steps);

}  // namespace pts
