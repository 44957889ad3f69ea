// Sends to four slow boards, written side by side: every board gets the words
// in the order they were sent, one beep per board that failed, the save
// confirmations as with quick boards, and a board unplugged while a send is in
// flight is dropped without harm to it or the others.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sweep_rig.h"

namespace pts::testing {
namespace {

using std::chrono::microseconds;

constexpr const char* kFreqSaved = "Frequency and power level saved to interface EEPROM";
constexpr const char* kModelSaved = "Model# saved to interface EEPROM";
constexpr const char* kNothingSaved =
    "No interface board accepted the command: nothing was saved to interface EEPROM";

class FourSlowBoards : public SweepRig {
 public:
  explicit FourSlowBoards(microseconds delay = microseconds(300))
      : SweepRig({0x5E, 0x5C, 0x5A, 0x58}) {
    p.Hotplug();  // the arrivals of the boards opened at start-up
    for (int b = 1; b <= 4; ++b) p.backend.DelayWrites(b, delay);
    p.op.Clear();
  }
};

TEST(SlowBoards, EveryBoardGetsEveryStepInOrder) {
  FourSlowBoards rig;
  rig.Boxes("1000", "1030", "1", "0.03");
  rig.f().CmdStart_Click();
  const std::vector<double> sent = rig.Ticks(30);
  for (int b = 1; b <= 4; ++b) {
    std::vector<double> got;
    for (const hid::OutputWord& w : rig.p.backend.Received(b)) got.push_back(Decode(w));
    EXPECT_EQ(got, sent) << "board " << b;
  }
  EXPECT_EQ(rig.p.op.beeps, 0);
}

struct SaveRow {
  const char* name;
  bool save_model;     // else the frequency
  int failing_boards;  // boards 1..n fail their next write
  int beeps;
  const char* box;
};

class SlowBoardsSave : public ::testing::TestWithParam<SaveRow> {};

TEST_P(SlowBoardsSave, BeepPerFailedBoardAndTheConfirmationAsWithQuickBoards) {
  const SaveRow& r = GetParam();
  FourSlowBoards rig;
  // The others are slower than the failing ones: their results come last.
  for (int b = 1; b <= r.failing_boards; ++b) {
    rig.p.backend.FailNextWrites(b, 1);
    rig.p.backend.DelayWrites(b, microseconds(0));
  }
  rig.f().Frequency = 1000;
  if (r.save_model) {
    rig.f().mnuSaveModel_Click();
  } else {
    rig.f().mnuSaveFreq_Click();
  }
  std::vector<std::string> expected(static_cast<size_t>(r.beeps), "beep");
  expected.push_back(std::string("box:") + r.box);
  EXPECT_EQ(rig.p.op.events, expected) << "beeps before the confirmation";
  for (int b = 1; b <= 4; ++b) {
    const bool failed = b <= r.failing_boards;
    EXPECT_EQ(rig.p.backend.TotalReceived(b), failed ? 0u : 1u) << b;
    if (!r.save_model) {
      EXPECT_EQ(rig.p.backend.Eeprom(b).frequency_stored, !failed) << b;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, SlowBoardsSave,
                         ::testing::Values(SaveRow{"FrequencyOneFails", false, 1, 1, kFreqSaved},
                                           SaveRow{"ModelOneFails", true, 1, 1, kModelSaved},
                                           SaveRow{"FrequencyAllFail", false, 4, 4, kNothingSaved},
                                           SaveRow{"ModelNoneFails", true, 0, 0, kModelSaved}),
                         [](const auto& info) { return std::string(info.param.name); });

// Board `GetParam()` is unplugged by another board's write of the same send,
// while its own write is in flight (or not yet started).
class SlowBoardsUnplug : public ::testing::TestWithParam<int> {};

TEST_P(SlowBoardsUnplug, MidSendDropsTheBoardAndTheOthersKeepEveryStep) {
  const int gone = GetParam();
  const int trigger = gone == 1 ? 2 : 1;
  FourSlowBoards rig;
  rig.Boxes("1000", "1100", "1", "0.1");
  rig.f().CmdStart_Click();
  rig.Ticks(5);
  rig.p.backend.DelayWrites(gone, microseconds(20000));  // still in flight when unplugged

  std::atomic<bool> unplug{true};
  rig.p.backend.SetReportObserver(
      [&](int board, hid::SimulatedBackend::Clock::time_point, const hid::OutputWord&) {
        if (board == trigger && unplug.exchange(false)) rig.p.backend.Unplug(gone);
      });
  rig.f().TmrDwell_Timer();
  rig.f().Agent().WaitWrites();
  rig.p.backend.SetReportObserver(nullptr);
  ASSERT_FALSE(unplug);
  rig.p.Hotplug();  // the removal event, if the write did not find the board gone first
  EXPECT_EQ(rig.f().Devices.size(), 3u);
  EXPECT_EQ(rig.p.agent.OpenCount(), 3);
  rig.Ticks(5);

  for (int b = 1; b <= 4; ++b) {
    if (b == gone) continue;
    EXPECT_EQ(rig.p.backend.TotalReceived(b), 11u) << "board " << b << " kept every step";
  }
  EXPECT_LE(rig.p.backend.TotalReceived(gone), 6u);
  EXPECT_EQ(rig.p.backend.CallsOnClosed(), 0u) << "no I/O on a dropped device";
  EXPECT_TRUE(rig.f().TmrDwell.Enabled()) << "the sweep runs on";
}

INSTANTIATE_TEST_SUITE_P(Boards, SlowBoardsUnplug, ::testing::Values(1, 2, 3, 4));

// Steps that come faster than some boards write: a step returns before its
// writes are done, a busy board takes the newest word when it is free, a
// failed unit and a board unplugged mid-sweep are each reported once, and
// after Stop nothing more goes out.
TEST(SlowBoards, FastStepsReportEachFailureOnceAndNothingGoesOutAfterStop) {
  FourSlowBoards rig;
  rig.Boxes("1000", "1100", "1", "0.1");
  rig.f().CmdStart_Click();
  rig.p.backend.FailNextWrites(2, 1);
  rig.p.backend.DelayWrites(3, microseconds(2000));  // slower than the steps
  constexpr int kSteps = 40;
  std::vector<double> sent;
  for (int i = 0; i < kSteps; ++i) {
    rig.f().TmrDwell_Timer();
    sent.push_back(ReadNumber(rig.f().TextFreq.Text()));
    // The next tick when board 1 has begun this step's write: faster than
    // board 3 writes, as slow as board 1.
    while (rig.p.backend.TotalReceived(1) < sent.size()) std::this_thread::yield();
    if (i == 10) rig.p.backend.Unplug(3);  // while a write to it is in flight
  }
  rig.f().CmdStop_Click();
  std::vector<uint64_t> at_stop;
  for (int b = 1; b <= 4; ++b) at_stop.push_back(rig.p.backend.TotalReceived(b));
  rig.f().TmrDwell_Timer();  // ends the sweep and reports the last steps
  rig.p.Hotplug();           // board 3's removal, reported already
  rig.f().Agent().WaitWrites();

  EXPECT_FALSE(rig.f().TmrDwell.Enabled());
  EXPECT_FALSE(rig.f().Agent().WritesPending());
  // Unit 2's failure; board 3's removal, its interface closed, its unit's failure.
  EXPECT_EQ(rig.p.op.events, (std::vector<std::string>{"beep", "beep", "beep", "beep"}));
  EXPECT_EQ(rig.f().Devices.size(), 3u);
  uint64_t skipped_at_least = 0;
  for (int b = 1; b <= 4; ++b) {
    EXPECT_EQ(rig.p.backend.TotalReceived(b), at_stop[static_cast<size_t>(b - 1)])
        << "board " << b << " got a word after Stop";
    // Each board got the steps in order, some perhaps skipped; every
    // attached one ends on the last step.
    std::vector<double> got;
    for (const hid::OutputWord& w : rig.p.backend.Received(b)) got.push_back(Decode(w));
    EXPECT_TRUE(std::includes(sent.begin(), sent.end(), got.begin(), got.end())) << b;
    if (b == 3) continue;
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), sent.back()) << b;
    skipped_at_least += kSteps - got.size() - (b == 2);  // board 2's failed word never arrived
  }
  EXPECT_GE(rig.f().SkippedWords(), skipped_at_least);
  EXPECT_EQ(rig.p.backend.CallsOnClosed(), 0u);
}

}  // namespace
}  // namespace pts::testing
