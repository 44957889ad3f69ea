// Send, Stop, Off, restarts, the command code of sweep steps and handlers
// re-entered from inside a message box.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sweep_rig.h"

namespace pts::testing {
namespace {

const double N = kNothing;

class SendTwoBoards : public ::testing::Test, public SweepRig {
 protected:
  SendTwoBoards() : SweepRig({0x5E, 0x5C}) {}
};

TEST_F(SendTwoBoards, SendsTheBoxWithCommand4AndBlinksOnce) {
  f().Cmd1Val = 5;
  f().TextFreq.Text("123456789.3");
  f().Frequency = 5;  // Send takes the frequency from the box again
  f().CmdSend_Click();

  EXPECT_TRUE(f().SendLED.Filled());
  EXPECT_TRUE(f().TmrBlink.Enabled());
  EXPECT_EQ(f().Cmd1Val, 4);
  EXPECT_EQ(f().Frequency, 123456789.3);
  EXPECT_EQ(f().TextFreq.BackColor(), kGreen);
  for (int board : {1, 2}) {
    ASSERT_EQ(Words(board), 1u) << "board " << board;
    EXPECT_EQ(p.backend.Received(board)[0][kCmd1], 4);
    EXPECT_EQ(Decode(p.backend.Received(board)[0]), 123456789.3);
  }
  EXPECT_FALSE(f().TmrDwell.Enabled()) << "Send starts no sweep";

  f().TmrBlink_Timer();
  EXPECT_FALSE(f().SendLED.Filled());
  EXPECT_FALSE(f().TmrBlink.Enabled());
  EXPECT_EQ(Words(1), 1u);
  EXPECT_TRUE(p.op.boxes.empty());
}

TEST_F(Sweep, SendAgainRestartsTheBlink) {
  EnabledLog blink;
  f().TmrBlink.SetObserver(&blink);
  f().TextFreq.Text("1000");
  f().CmdSend_Click();
  f().CmdSend_Click();
  EXPECT_EQ(blink.log, std::vector<bool>({true, false, true}));
  EXPECT_EQ(Words(), 2u);
}

TEST_F(Sweep, SendDuringSweepMovesTheSweepOn) {
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  EXPECT_EQ(Ticks(2), std::vector<double>({1100, 1200}));
  f().TextFreq.Text("1500");
  f().CmdSend_Click();
  EXPECT_EQ(Decode(p.backend.Received(1).back()), 1500);
  EXPECT_TRUE(f().TmrDwell.Enabled());
  // The pass keeps its count: it still wraps at its tenth tick.
  EXPECT_EQ(Ticks(9), std::vector<double>({1600, 1700, 1800, 1900, 2000, 2100, 2200, 1000, 1100}));
}

TEST_F(Sweep, NothingIsSentAfterStop) {
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  Ticks(2);
  f().CmdStop_Click();
  EXPECT_EQ(Ticks(3), std::vector<double>({N, N, N}));
  EXPECT_FALSE(f().TmrDwell.Enabled());
}

// ---- The command code of a step ----

class StepCommand : public Sweep, public ::testing::WithParamInterface<std::optional<int16_t>> {};

TEST_P(StepCommand, IsSetOutputWhateverCameBefore) {
  const uint8_t model_code = p.backend.Eeprom(1).model_code;
  f().Cmd1Val = GetParam();
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  EXPECT_EQ(Ticks(2), std::vector<double>({1100, 1200}));  // Tick checks Cmd1 = 4
  EXPECT_FALSE(p.backend.Eeprom(1).frequency_stored);
  EXPECT_EQ(p.backend.Eeprom(1).model_code, model_code);
  EXPECT_EQ(Decode(p.backend.Output(1)), 1200);
}

TEST_P(StepCommand, ListPointsAreSetOutputWhateverCameBefore) {
  f().Cmd1Val = GetParam();
  f().RunList({1500, 2500}, {20}, 0);
  EXPECT_EQ(Ticks(3), std::vector<double>({1500, 2500, 1500}));  // Tick checks Cmd1 = 4
  EXPECT_FALSE(p.backend.Eeprom(1).frequency_stored);
}

INSTANTIATE_TEST_SUITE_P(AfterCommand, StepCommand,
                         ::testing::Values(std::nullopt, std::optional<int16_t>(5),
                                           std::optional<int16_t>(6)),
                         [](const auto& info) {
                           return info.param ? "Cmd" + std::to_string(*info.param)
                                             : std::string("NoSendYet");
                         });

// ---- Start and Single while a sweep runs ----

TEST_F(Sweep, StartAgainRestartsWithTheNewValues) {
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  Ticks(3);
  EnabledLog dwell;
  f().TmrDwell.SetObserver(&dwell);
  Boxes("5000", "4000", "250", "2");
  f().CmdStart_Click();
  EXPECT_EQ(dwell.log, std::vector<bool>({false, true})) << "the countdown starts afresh";
  EXPECT_EQ(f().TmrDwell.Interval(), 500);
  EXPECT_EQ(f().Frequency, 5000);
  EXPECT_EQ(f().TempDwellNum, 4);
  EXPECT_EQ(Ticks(5), std::vector<double>({4750, 4500, 4250, 5000, 4750}));
}

// The start box is also where the sweep shows its frequency: a restart
// starts from the frequency shown.
TEST_F(Sweep, StartAfterStopStartsFromTheFrequencyShown) {
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  Ticks(2);
  f().CmdStop_Click();
  f().CmdStart_Click();
  EXPECT_EQ(f().FreqStart, 1200);
  EXPECT_EQ(Lit(), (Lights{true, false, false}));
  EXPECT_EQ(Ticks(2), std::vector<double>({1300, 1400}));
  EXPECT_TRUE(f().TmrDwell.Enabled());
}

TEST_F(Sweep, SingleAgainRunsAWholePassFromTheFrequencyShown) {
  Boxes("1000", "1500", "100", "1");
  f().CmdSngl_Click();
  Ticks(3);
  f().CmdSngl_Click();
  EXPECT_EQ(f().DwellNum, 2);
  EXPECT_EQ(f().TmrDwell.Interval(), 500);
  EXPECT_EQ(Ticks(4), std::vector<double>({1400, 1300, N, N}));
  EXPECT_EQ(Lit(), (Lights{false, true, false}));
}

// ---- Lists ----

TEST_F(Sweep, AListHoldsEachPointForItsDwellAndEndsAsASingleSweep) {
  f().RunList({1000, 2000, 3000}, {10, 20.4, 30}, 1);
  EXPECT_EQ(Lit(), (Lights{false, false, true}));
  EXPECT_EQ(f().TmrDwell.Interval(), 10) << "the first point comes one dwell later";
  std::vector<double> sent;
  std::vector<int32_t> intervals;
  for (int i = 0; i < 4; ++i) {
    sent.push_back(Tick());
    intervals.push_back(f().TmrDwell.Interval());
    if (i == 2) {
      EXPECT_EQ(Lit(), (Lights{false, true, false})) << "ended with its last point";
    }
  }
  EXPECT_EQ(sent, std::vector<double>({1000, 2000, 3000, N}));
  EXPECT_EQ(intervals, std::vector<int32_t>({10, 20, 30, 30}));
  EXPECT_FALSE(f().TmrDwell.Enabled());
}

TEST_F(Sweep, AListThatCannotRunIsRefusedAndASweepTakesTheTimerBack) {
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  f().RunList({1000, 2000}, {10, 20, 30}, 0);
  f().RunList({}, {10}, 1);
  EXPECT_EQ(f().LastOutcome().reason, Reason::kSweepInput);
  EXPECT_EQ(p.op.Texts(), std::vector<std::string>({"list lengths differ: 2 frequencies, 3 "
                                                    "dwell times",
                                                    "the frequency list is empty"}));
  EXPECT_EQ(Tick(), 1100) << "the sweep goes on";
  f().RunList({5000}, {10}, 0);
  EXPECT_EQ(Lit(), (Lights{true, false, false}));
  EXPECT_EQ(Ticks(2), std::vector<double>({5000, 5000}));
  f().CmdStart_Click();  // from the frequency shown, down to the stop box
  EXPECT_EQ(Ticks(2), std::vector<double>({4900, 4800}));
}

// ---- Several single passes in a row ----

// The passes join as a repeating sweep's do; the single sweep ends with the
// last, and Stop or a span under one step ends it early.
TEST_F(Sweep, SeveralPassesRunOnAndEndAsOne) {
  Boxes("1000", "1300", "100", "1");
  f().SinglePasses(2);
  EXPECT_EQ(Ticks(4), std::vector<double>({1100, 1200, 1000, 1100}));
  EXPECT_EQ(Lit(), (Lights{false, false, true}));
  EXPECT_EQ(Ticks(4), std::vector<double>({1200, 1000, N, N}));
  EXPECT_EQ(Lit(), (Lights{false, true, false}));

  f().RunList({1000, 2000}, {10}, 3);
  EXPECT_EQ(Ticks(7), std::vector<double>({1000, 2000, 1000, 2000, 1000, 2000, N}));

  f().SinglePasses(5);
  Ticks(1);
  f().CmdStop_Click();
  EXPECT_EQ(Ticks(2), std::vector<double>({N, N}));

  Boxes("1000", "1050", "100", "1");
  f().SinglePasses(3);
  EXPECT_EQ(Ticks(2), std::vector<double>({1000, N}));
  EXPECT_EQ(Lit(), (Lights{false, true, false}));
}

// ---- Off ----

TEST_F(Sweep, OffEndsAtOnceWithoutClosingOrWriting) {
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  Ticks(1);
  const int32_t open = p.agent.OpenCount();
  ASSERT_GT(open, 0);
  f().ComdOff_Click();
  EXPECT_TRUE(p.op.ended);
  EXPECT_EQ(p.op.end_status, 0);
  EXPECT_EQ(p.agent.OpenCount(), open) << "the devices stay open";
  EXPECT_EQ(f().Devices.size(), 1u);
  EXPECT_EQ(Words(), 1u);
  EXPECT_TRUE(p.op.boxes.empty());
}

// ---- Handlers re-entered from a box's nested event loop ----

class Nested : public Sweep {
 protected:
  // Everything that can arrive while a box is open.
  void EverythingFromInsideTheBox() {
    p.op.on_box = [this](const ShownBox&) {
      f().TmrDwell_Timer();
      f().TmrDwell_Timer();
      f().CmdSend_Click();
      f().CmdStart_Click();
      f().CmdSngl_Click();
    };
  }
};

TEST_F(Nested, TicksWhileALimitBoxIsOpenAreSkipped) {
  Model(10);
  Boxes("9999900", "10000500", "200", "3");
  f().CmdStart_Click();
  EverythingFromInsideTheBox();

  EXPECT_EQ(Tick(), N);
  EXPECT_EQ(p.op.Texts(),
            std::vector<std::string>{"Frequency >= 10 MHz is NOT Supported on PTS 10"});
  EXPECT_EQ(f().TempDwellNum, 2);
  EXPECT_EQ(f().Frequency, 10000100);
  EXPECT_EQ(Tick(), N);
  EXPECT_EQ(p.op.boxes.size(), 2u) << "one box per tick, never a stack of them";
  EXPECT_EQ(Tick(), 9999900);
  EXPECT_EQ(p.op.boxes.size(), 2u);
  EXPECT_FALSE(f().SendLED.Filled());
}

TEST_F(Nested, StopFromInsideABoxEndsTheSweep) {
  Model(10);
  Boxes("9999900", "10000500", "200", "3");
  f().CmdStart_Click();
  p.op.on_box = [this](const ShownBox&) { f().CmdStop_Click(); };
  EXPECT_EQ(Tick(), N);
  EXPECT_EQ(Lit(), (Lights{false, true, false}));
  EXPECT_EQ(Tick(), N);
  EXPECT_FALSE(f().TmrDwell.Enabled());
  EXPECT_EQ(p.op.boxes.size(), 1u);
}

TEST_F(Nested, TicksWhileSendOrStartShowABoxAreSkipped) {
  Model(10);
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  Ticks(2);
  EverythingFromInsideTheBox();

  f().TextFreqStep.Text("");
  f().CmdStart_Click();  // missing step
  f().TextFreq.Text("20000000");
  f().CmdSend_Click();  // over the limit
  EXPECT_EQ(p.op.Texts(), std::vector<std::string>({kMissingInput,
                                                    "Frequency >= 10 MHz is NOT "
                                                    "Supported on PTS 10"}));
  EXPECT_EQ(f().TempDwellNum, 8);
  EXPECT_EQ(Words(), 2u);
  EXPECT_TRUE(f().TmrDwell.Enabled());
}

// ---- Negative frequencies in a running sweep ----

TEST_F(Sweep, StepsBelowZeroAreRefusedAndThePassGoesOn) {
  Boxes("1000", "500", "100", "1");
  f().CmdStart_Click();
  EXPECT_EQ(Tick(), 900);
  f().TextFreq.Text("50");
  f().CmdSend_Click();
  EXPECT_EQ(Decode(p.backend.Received(1).back()), 50);
  // -50, -150, -250: each refused with a beep; then the pass wraps to the start.
  EXPECT_EQ(Ticks(4), std::vector<double>({N, N, N, 1000}));
  EXPECT_EQ(p.op.beeps, 3);
  EXPECT_TRUE(p.op.boxes.empty());
  EXPECT_TRUE(f().TmrDwell.Enabled());
  EXPECT_EQ(Tick(), 900);
}

}  // namespace
}  // namespace pts::testing
