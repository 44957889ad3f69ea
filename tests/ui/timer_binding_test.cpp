#include "ui/timer_binding.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <memory>
#include <thread>

#include "qt_app.h"

namespace pts {
namespace {

using pts::testing::App;
using namespace std::chrono_literals;

// Lets expiries pile up without the event loop running, then delivers them.
void HoldThenDeliver(std::chrono::milliseconds hold) {
  std::this_thread::sleep_for(hold);
  QCoreApplication::processEvents();
}

TEST(TimerBinding, FollowsEnabledAndInterval) {
  App();
  Timer timer("TmrDwell");
  timer.Interval(100);
  timer.Enabled(false);
  TimerBinding binding(timer, [] {});
  binding.Attach();
  EXPECT_FALSE(binding.Running());
  timer.Enabled(true);
  EXPECT_TRUE(binding.Running());
  EXPECT_EQ(binding.IntervalMs(), 100);
  timer.Interval(7);
  EXPECT_TRUE(binding.Running());
  EXPECT_EQ(binding.IntervalMs(), 7);
  timer.Interval(0);  // enabled, but silent
  EXPECT_FALSE(binding.Running());
  timer.Interval(5);
  EXPECT_TRUE(binding.Running());
  timer.Enabled(false);
  EXPECT_FALSE(binding.Running());
}

TEST(TimerBinding, RunsTheTicksThatFellDueWhileTheThreadWasBusy) {
  App();
  Timer timer("TmrDwell");
  int ticks = 0;
  TimerBinding binding(timer, [&] { ++ticks; });
  binding.Attach();
  timer.Interval(1);
  timer.Enabled(true);
  HoldThenDeliver(6ms);
  EXPECT_GE(ticks, 6);  // all six due, not one per wake-up
}

TEST(TimerBinding, CatchUpIsBounded) {
  App();
  Timer timer("TmrDwell");
  int ticks = 0;
  TimerBinding binding(timer, [&] { ++ticks; });
  binding.Attach();
  timer.Interval(1);
  timer.Enabled(true);
  HoldThenDeliver(std::chrono::milliseconds(TimerBinding::kMaxCatchUpMs * 3));
  EXPECT_GE(ticks, TimerBinding::kMaxCatchUpMs);
  EXPECT_LT(ticks, TimerBinding::kMaxCatchUpMs * 2);
}

TEST(TimerBinding, AStopInsideATickVoidsTheTicksStillDue) {
  App();
  Timer timer("TmrDwell");
  int ticks = 0;
  TimerBinding binding(timer, [&] {
    ++ticks;
    timer.Enabled(false);
  });
  binding.Attach();
  timer.Interval(1);
  timer.Enabled(true);
  HoldThenDeliver(5ms);
  EXPECT_EQ(ticks, 1);
}

TEST(TimerBinding, ATickMayEndTheBinding) {
  App();
  Timer timer("TmrDwell");
  int ticks = 0;
  std::unique_ptr<TimerBinding> binding;
  binding = std::make_unique<TimerBinding>(timer, [&] {
    ++ticks;
    binding.reset();
  });
  binding->Attach();
  timer.Interval(1);
  timer.Enabled(true);
  HoldThenDeliver(5ms);  // several due; the first one destroys the binding
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(binding, nullptr);
}

TEST(TimerBinding, ANestedEventLoopInsideATickDoesNotReenterIt) {
  App();
  Timer timer("TmrDwell");
  int depth = 0, max_depth = 0, ticks = 0;
  TimerBinding binding(timer, [&] {
    ++ticks;
    ++depth;
    max_depth = std::max(max_depth, depth);
    if (ticks == 1) {
      // Like a modal box: an event loop runs while the expiries keep coming.
      QEventLoop loop;
      QTimer::singleShot(20, &loop, &QEventLoop::quit);
      loop.exec();
    }
    --depth;
  });
  binding.Attach();
  timer.Interval(1);
  timer.Enabled(true);
  for (int i = 0; i < 2000 && ticks < 2; ++i) HoldThenDeliver(1ms);
  EXPECT_EQ(max_depth, 1);
  EXPECT_GE(ticks, 2);  // and it goes on ticking afterwards
}

}  // namespace
}  // namespace pts
