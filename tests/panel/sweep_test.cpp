// Send, the sweep and Off, on simulated boards with the timer ticks driven
// directly. The frequencies a board received are decoded from its words.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sweep_rig.h"

namespace pts::testing {
namespace {

// ---- Sequences of sent frequencies ----

struct RunCase {
  const char* name;
  const char *start, *stop, *step, *time;
  bool single;
  double dwell_num, dwell_time;
  std::vector<double> sent;  // per tick
  bool running_after;
};

class SweepRun : public Sweep, public ::testing::WithParamInterface<RunCase> {};

TEST_P(SweepRun, SendsThePassTickByTick) {
  const RunCase& c = GetParam();
  Boxes(c.start, c.stop, c.step, c.time);
  c.single ? f().CmdSngl_Click() : f().CmdStart_Click();
  EXPECT_TRUE(p.op.boxes.empty());
  EXPECT_DOUBLE_EQ(f().DwellNum, c.dwell_num);
  EXPECT_EQ(f().DwellTime, c.dwell_time);
  EXPECT_EQ(f().TmrDwell.Interval(), c.dwell_time);
  EXPECT_TRUE(f().TmrDwell.Enabled());
  EXPECT_TRUE(p.backend.Received(1).empty()) << "nothing is sent before the first tick";

  EXPECT_EQ(Ticks(static_cast<int>(c.sent.size())), c.sent);
  EXPECT_EQ(f().TmrDwell.Enabled(), c.running_after);
  EXPECT_TRUE(p.op.boxes.empty());
  EXPECT_EQ(p.op.beeps, 0);
}

const double N = kNothing;
INSTANTIATE_TEST_SUITE_P(
    Passes, SweepRun,
    ::testing::Values(
        RunCase{"Upward",
                "1000",
                "2000",
                "100",
                "1",
                false,
                10,
                100,
                {1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800, 1900, 1000, 1100, 1200},
                true},
        RunCase{"Downward",
                "1000",
                "500",
                "100",
                "1",
                false,
                5,
                200,
                {900, 800, 700, 600, 1000, 900, 800},
                true},
        RunCase{"StepNotDividingSpan",
                "1000",
                "2000",
                "300",
                "1",
                false,
                1000.0 / 300,
                300,
                {1300, 1600, 1900, 1000, 1300},
                true},
        RunCase{"TenthsOfAHertz",
                "100.5",
                "101.5",
                "0.1",
                "1",
                false,
                10,
                100,
                {100.6, 100.7, 100.8, 100.9, 101, 101.1, 101.2, 101.3, 101.4, 100.5, 100.6},
                true},
        RunCase{
            "SpanBelowOneStep", "1000", "1050", "100", "1", false, 0.5, 2000, {1000, N, N}, false},
        RunCase{"SingleUpward",
                "1000",
                "2000",
                "100",
                "1",
                true,
                10,
                100,
                {1100, 1200, 1300, 1400, 1500, 1600, 1700, 1800, 1900, 1000, N, N},
                false},
        RunCase{"SingleDownward",
                "1000",
                "500",
                "100",
                "1",
                true,
                5,
                200,
                {900, 800, 700, 600, 1000, N},
                false},
        RunCase{"SingleSpanBelowOneStep",
                "1000",
                "1050",
                "100",
                "1",
                true,
                0.5,
                2000,
                {1000, N},
                false},
        RunCase{
            "FromEmptyStartBox", "", "300", "100", "0.9", false, 3, 300, {100, 200, 0, 100}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Set-up: messages and what is stored ----

enum class Outcome { Runs, StoredOnly, Unchanged };

struct SetupCase {
  const char* name;
  const char *start, *stop, *step, *time;
  const char* box;  // "" for none
  Outcome outcome;
  double dwell_num = 0, dwell_time = 0;
};

class SweepSetupCheck : public ::testing::TestWithParam<SetupCase> {};

TEST_P(SweepSetupCheck, StartAndSingleAgree) {
  const SetupCase& c = GetParam();
  for (bool single : {false, true}) {
    SCOPED_TRACE(single ? "Single" : "Start");
    SweepRig r;
    MainForm& g = r.f();
    g.FreqStart = 7, g.FreqStop = 8, g.FreqStep = 9, g.DwellNum = 10, g.DwellTime = 11;
    g.TempDwellNum = 12;
    g.TmrDwell.Interval(13);
    g.TextFreq.Text(c.start);
    const double frequency = g.Frequency;
    g.TextFreqStop.Text(c.stop);
    g.TextFreqStep.Text(c.step);
    g.TextSweepTime.Text(c.time);
    single ? g.CmdSngl_Click() : g.CmdStart_Click();

    if (*c.box) {
      EXPECT_EQ(r.p.op.Texts(), std::vector<std::string>{c.box});
      EXPECT_EQ(r.p.op.boxes[0].buttons, MsgButtons::Ok);
      EXPECT_EQ(r.p.op.boxes[0].title, "");
    } else {
      EXPECT_TRUE(r.p.op.boxes.empty());
    }
    EXPECT_EQ(g.TmrDwell.Enabled(), c.outcome == Outcome::Runs);
    EXPECT_EQ(g.StopLED.Filled(), c.outcome != Outcome::Runs);
    if (c.outcome == Outcome::Unchanged) {
      EXPECT_EQ(std::vector<double>(
                    {g.FreqStart, g.FreqStop, g.FreqStep, g.DwellNum, g.DwellTime, g.TempDwellNum}),
                std::vector<double>({7, 8, 9, 10, 11, 12}));
    } else {
      EXPECT_DOUBLE_EQ(g.DwellNum, c.dwell_num);
      EXPECT_EQ(g.DwellTime, c.dwell_time);
    }
    if (c.outcome == Outcome::Runs) {
      EXPECT_EQ(g.TmrDwell.Interval(), c.dwell_time);
      EXPECT_EQ(g.Frequency, g.FreqStart);
      EXPECT_EQ(g.TempDwellNum, g.DwellNum);
    } else {
      EXPECT_EQ(g.TmrDwell.Interval(), 13);
      EXPECT_EQ(g.Frequency, frequency);
      EXPECT_EQ(g.TempDwellNum, 12);
    }
    EXPECT_TRUE(r.p.backend.Received(1).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SweepSetupCheck,
    ::testing::Values(
        SetupCase{"EmptyStep", "1000", "2000", "", "1", kMissingInput, Outcome::Unchanged},
        SetupCase{"EmptyStop", "1000", "", "100", "1", kMissingInput, Outcome::Unchanged},
        SetupCase{"EmptySweepTime", "1000", "2000", "100", "", kMissingInput, Outcome::Unchanged},
        SetupCase{"EmptyStartIsZero", "", "1000", "100", "1", "", Outcome::Runs, 10, 100},
        SetupCase{"DwellRoundedDown", "1000", "2000", "100", "1.0009", "", Outcome::Runs, 10, 100},
        SetupCase{"DwellUnder1ms", "1000", "2000", "100", "0.005", kDwellTooShort,
                  Outcome::StoredOnly, 10, 0},
        SetupCase{"NegativeSweepTime", "1000", "2000", "100", "-1", kDwellTooShort,
                  Outcome::StoredOnly, 10, -100},
        SetupCase{"ZeroStep", "1000", "2000", "0", "1", kMissingInput, Outcome::Unchanged},
        SetupCase{"StopEqualsStart", "1000", "1000", "100", "1", kMissingInput, Outcome::Unchanged},
        SetupCase{"NegativeStep", "1000", "2000", "-100", "1", kMissingInput, Outcome::Unchanged},
        SetupCase{"NegativeStart", "-1000", "2000", "100", "1", kMissingInput, Outcome::Unchanged},
        SetupCase{"NegativeStop", "1000", "-500", "100", "1", kMissingInput, Outcome::Unchanged},
        SetupCase{"OverflowingStop", "1000", "1e400", "100", "1", kMissingInput,
                  Outcome::Unchanged},
        SetupCase{"OverflowingStep", "1000", "2000", "1e400", "1", kMissingInput,
                  Outcome::Unchanged},
        SetupCase{"OverflowingSweepTime", "1000", "2000", "100", "1e400", kMissingInput,
                  Outcome::Unchanged},
        SetupCase{"StepTooSmallForAStepCount", "1000", "2000", "1e-320", "1", kMissingInput,
                  Outcome::Unchanged},
        SetupCase{"DwellNotFinite", "0", "1", "1e5", "1e306", kMissingInput, Outcome::Unchanged},
        SetupCase{"DwellAbove65535ms", "1000", "2000", "100", "1000", "", Outcome::Runs, 10,
                  100000},
        SetupCase{"LongestDwell", "1000", "2000", "1000", "2147483.647", "", Outcome::Runs, 1,
                  2147483647},
        SetupCase{"DwellBeyondTimer", "1000", "2000", "1000", "2147483.648", kDwellTooLong,
                  Outcome::Unchanged},
        SetupCase{"HugeSweepTime", "1000", "2000", "100", "1e300", kDwellTooLong,
                  Outcome::Unchanged}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Sweep, RefusedSetUpLeavesRunningSweepGoing) {
  Boxes("1000", "2000", "100", "1");
  f().CmdStart_Click();
  Ticks(3);
  f().TextFreqStep.Text("");
  f().CmdStart_Click();
  f().TextFreqStep.Text("0");
  f().CmdSngl_Click();
  EXPECT_EQ(p.op.Texts(), std::vector<std::string>(2, kMissingInput));
  EXPECT_TRUE(Lit().start);
  EXPECT_EQ(Ticks(7), std::vector<double>({1400, 1500, 1600, 1700, 1800, 1900, 1000}));
}

// ---- Lights ----

TEST(SweepLightsTable, EveryState) {
  auto ticks = [](int n) { return [n](SweepRig& s) { s.Ticks(n); }; };
  auto start = [](SweepRig& s) { s.f().CmdStart_Click(); };
  auto single = [](SweepRig& s) { s.f().CmdSngl_Click(); };
  auto stop = [](SweepRig& s) { s.f().CmdStop_Click(); };
  using Acts = std::vector<std::function<void(SweepRig&)>>;
  struct Row {
    const char* name;
    const char* stop_box;
    Acts acts;
    Lights lit;
    bool running;
  };
  const std::vector<Row> rows = {
      {"Idle", "2000", {}, {false, true, false}, false},
      {"Repeating", "2000", {start, ticks(12)}, {true, false, false}, true},
      {"Single", "2000", {single, ticks(9)}, {false, false, true}, true},
      {"SingleLastStep", "2000", {single, ticks(10)}, {false, true, false}, true},
      {"SingleEnded", "2000", {single, ticks(11)}, {false, true, false}, false},
      {"Stopped", "2000", {start, ticks(2), stop}, {false, true, false}, true},
      {"StoppedThenTick", "2000", {start, ticks(2), stop, ticks(1)}, {false, true, false}, false},
      {"StopDuringSingle", "2000", {single, ticks(2), stop, ticks(1)}, {false, true, false}, false},
      {"SingleInterruptedByStart", "2000", {single, ticks(2), start}, {true, false, true}, true},
      {"StartInterruptedBySingle", "2000", {start, ticks(2), single}, {false, false, true}, true},
      // The repeating sweep over less than one step ends by itself; Start's lights stay.
      {"SpanBelowStepEnded", "1050", {start, ticks(2)}, {true, false, false}, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SweepRig s;
    s.Boxes("1000", r.stop_box, "100", "1");
    for (const auto& a : r.acts) a(s);
    EXPECT_EQ(s.Lit(), r.lit);
    EXPECT_EQ(s.f().TmrDwell.Enabled(), r.running);
    EXPECT_FALSE(s.f().SendLED.Filled());
  }
}

}  // namespace
}  // namespace pts::testing
