// Where a sweep stands, read from the panel as the progress display reads it.
#include "panel/sweep_progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sweep_rig.h"

namespace pts {
namespace {

using testing::SweepRig;

struct Seen {
  bool running;
  int64_t step, steps;
  double ms_left;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << (s.running ? "running " : "stopped ") << s.step << "/" << s.steps << " " << s.ms_left
            << " ms";
}
Seen SeenOf(MainForm& f) {
  const SweepProgress p = SweepProgressOf(f);
  return {p.running, p.step, p.steps, p.ms_left};
}

// 1000 Hz to 1250 Hz by 100 Hz in 2.5 s: 2.5 steps of 1 s, so a pass takes
// three ticks (1000, 1100, 1200) before it starts again at 1000.
TEST(SweepProgress, FollowsThePassTickByTick) {
  SweepRig rig;
  MainForm& f = rig.f();
  EXPECT_EQ(SeenOf(f), (Seen{false, 0, 0, 0}));
  rig.Boxes("1000", "1250", "100", "2.5");
  f.CmdStart_Click();
  const Seen expected[] = {
      {true, 1, 3, 3000}, {true, 2, 3, 2000}, {true, 3, 3, 1000}, {true, 1, 3, 3000}};
  for (const Seen& e : expected) {
    EXPECT_EQ(SeenOf(f), e);
    rig.Tick();
  }
  EXPECT_FALSE(SweepProgressOf(f).single);
  EXPECT_EQ(StepText(SweepProgressOf(f)), "Sweep step 2 of 3");
  f.CmdStop_Click();
  EXPECT_FALSE(SweepProgressOf(f).running) << "gone at the stop, before the timer's last tick";
}

TEST(SweepProgress, SingleSweepEndsWithItsPass) {
  SweepRig rig;
  MainForm& f = rig.f();
  rig.Boxes("1000", "1250", "100", "2.5");
  f.CmdSngl_Click();
  EXPECT_EQ(StepText(SweepProgressOf(f)), "Single sweep step 1 of 3");
  rig.Ticks(2);
  EXPECT_EQ(SeenOf(f), (Seen{true, 3, 3, 1000}));
  rig.Tick();
  EXPECT_FALSE(SweepProgressOf(f).running);
}

// The time left runs to the tick that sends the last point: the first
// point's dwell before the first tick, then each point's own.
TEST(SweepProgress, AListCountsItsPoints) {
  SweepRig rig;
  MainForm& f = rig.f();
  f.RunList({1000, 2000, 3000}, {100, 200, 300}, 0);
  const Seen expected[] = {
      {true, 0, 3, 400}, {true, 1, 3, 300}, {true, 2, 3, 200}, {true, 3, 3, 0}, {true, 1, 3, 300}};
  for (const Seen& e : expected) {
    EXPECT_EQ(SeenOf(f), e);
    rig.Tick();
  }
  EXPECT_EQ(StepText(SweepProgressOf(f)), "List point 2 of 3");
  f.RunList({1000, 2000, 3000}, {100}, 1);
  rig.Tick();
  EXPECT_EQ(SeenOf(f), (Seen{true, 1, 3, 200}));
}

TEST(SweepProgress, DurationsReadRoundedUp) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    double ms;
    const char* text;
  } rows[] = {
      {0, "0 s"},
      {-5, "0 s"},
      {nan, "0 s"},
      {1, "1 s"},
      {59001, "1 min 00 s"},
      {3599000, "59 min 59 s"},
      {3599001, "1 h 00 min"},
      {86399000, "1 d 00 h"},
      {1e12, "11574 d 02 h"},
  };
  for (const auto& r : rows) EXPECT_EQ(DurationText(r.ms), r.text) << r.ms;
}

}  // namespace
}  // namespace pts
