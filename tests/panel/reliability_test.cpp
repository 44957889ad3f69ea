// Faults under a whole running panel on simulated boards: boards unplugged in
// the middle of a 1 ms sweep (seen by the hot-plug monitor or by a write that
// finds the board gone), writes and reads that fail, boards replugged under a
// new path, boards that arrive while the start-up asks for one, and hot-plug
// events handled while a modal box runs its nested event loop.
//
// Ticks are TmrDwell_Timer calls; hot-plug is Unplug/Replug followed by
// Varnel::ProcessHotplug, as the event loop does when the hot-plug fd becomes
// readable. Accesses to dropped device objects are left to ASan (the suite also
// runs in a sanitizer build); the tests check that dropped objects are freed.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sweep_rig.h"

namespace pts::testing {
namespace {

constexpr const char* kHello = "Hello from Optiono1_Click";

// A unit button as the operator sees it.
struct Unit {
  std::string caption;
  bool enabled;
  bool selected;
  bool operator==(const Unit&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Unit& u) {
  return os << '"' << u.caption << '"' << (u.enabled ? " enabled" : " disabled")
            << (u.selected ? " selected" : "");
}

std::vector<Unit> Units(MainForm& f) {
  std::vector<Unit> v;
  for (int i = 0; i < 4; ++i) {
    v.push_back({f.Option1(i).Caption(), f.Option1(i).Enabled(), f.Option1(i).Value()});
  }
  return v;
}

// How a removal reaches the panel.
enum class Detect {
  HotplugEvent,  // the monitor reports it before the next send
  FailingWrite,  // the next send finds the board gone; the monitor's event comes later
};
const char* NameOf(Detect d) {
  return d == Detect::HotplugEvent ? "HotplugEvent" : "FailingWrite";
}
void PrintTo(Detect d, std::ostream* os) {
  *os << NameOf(d);
}
std::string DetectName(const ::testing::TestParamInfo<Detect>& info) {
  return NameOf(info.param);
}

// Four PTS 500 boards with unit numbers 0, 2, 4 and 6, loaded and activated,
// and a sweep from 1000 to 2000 Hz in 1 Hz steps over 1 s: 1000 steps of 1 ms.
class FourBoards : public ::testing::Test {
 protected:
  FourBoards() : p({0x5E, 0x5C, 0x5A, 0x58}) {
    p.Hotplug();  // the arrivals of the boards opened at start-up
    p.op.Clear();
  }

  MainForm& f() { return p.form; }

  void StartMsSweep() {
    f().TextFreq.Text("1000");
    f().TextFreqStop.Text("2000");
    f().TextFreqStep.Text("1");
    f().TextSweepTime.Text("1");
    f().CmdStart_Click();
    ASSERT_TRUE(f().TmrDwell.Enabled());
    ASSERT_EQ(f().DwellNum, 1000);
    ASSERT_EQ(f().TmrDwell.Interval(), 1);
  }
  void Tick(int n) {
    for (int i = 0; i < n; ++i) f().TmrDwell_Timer();
  }
  // What tick k (from 1) sends: 1001 .. 1999, then 1000 at the end of each pass.
  static double StepHz(int k) {
    const int r = k % 1000;
    return r == 0 ? 1000 : 1000 + r;
  }

  // Board `board` received exactly the steps of the tick ranges [from, to],
  // in order, each with command 4.
  void ExpectSteps(int board, const std::vector<std::pair<int, int>>& ranges) {
    SCOPED_TRACE("board " + std::to_string(board));
    std::vector<double> want;
    for (const auto& [from, to] : ranges) {
      for (int k = from; k <= to; ++k) want.push_back(StepHz(k));
    }
    const auto& got = p.backend.Received(board);
    EXPECT_EQ(p.backend.TotalReceived(board), want.size());
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      const double hz = Decode(got[i]);
      if (hz != want[i] || got[i][kCmd1] != 4) {
        ADD_FAILURE() << "word " << i << ": " << hz << " Hz, command " << int{got[i][kCmd1]}
                      << "; expected " << want[i] << " Hz";
        return;
      }
    }
  }

  // Devices holds exactly these boards' objects, in this order.
  void ExpectDevices(const std::vector<TPTS*>& objects) {
    EXPECT_EQ(Objects(), objects);
    EXPECT_EQ(static_cast<int32_t>(objects.size()), p.agent.OpenCount());
  }

  // Clicks every enabled unit button: each shows its box, then reads the entry
  // of its position (all boards are PTS 500) or, past the last entry, is
  // ignored. Nothing is sent.
  void ClickEveryEnabledUnit() {
    std::vector<uint64_t> before;
    for (int b = 1; b <= p.backend.BoardCount(); ++b) before.push_back(p.backend.TotalReceived(b));
    for (int i = 0; i < 4; ++i) {
      if (!f().Option1(i).Enabled()) continue;
      SCOPED_TRACE("Option1(" + std::to_string(i) + ")");
      p.op.Clear();
      f().ModelNum = 620;
      f().Option1(i).Value(true);
      EXPECT_EQ(p.op.Texts(), std::vector<std::string>{kHello});
      EXPECT_EQ(f().ModelNum, static_cast<size_t>(i) < f().Devices.size() ? 500 : 620);
    }
    for (int b = 1; b <= p.backend.BoardCount(); ++b) {
      EXPECT_EQ(p.backend.TotalReceived(b), before[static_cast<size_t>(b - 1)]);
    }
  }

  std::vector<TPTS*> Objects() {
    std::vector<TPTS*> v;
    for (const auto& d : f().Devices) v.push_back(d.get());
    return v;
  }

  PanelFixture p;
  const std::vector<Unit> units_at_start{{"Unit  0", true, false},
                                         {"Unit  2", true, false},
                                         {"Unit  4", true, false},
                                         {"Unit  6", true, true}};
};

TEST_F(FourBoards, StartState) {
  EXPECT_EQ(Units(f()), units_at_start);
  EXPECT_EQ(f().Devices.size(), 4u);
  EXPECT_EQ(f().ModelNum, 500);
}

// ---- One board unplugged in the middle of the sweep ----

class UnplugMidSweep : public FourBoards, public ::testing::WithParamInterface<Detect> {};

TEST_P(UnplugMidSweep, OtherBoardsGetEveryStep) {
  StartMsSweep();
  const std::vector<TPTS*> o = Objects();
  const std::weak_ptr<TPTS> second = f().Devices[1];
  Tick(300);
  p.backend.Unplug(2);
  if (GetParam() == Detect::HotplugEvent) p.Hotplug();
  Tick(1000);  // through the end of the first pass and into the second
  if (GetParam() == Detect::FailingWrite) {
    // Removal, close, and the failed write of tick 301.
    EXPECT_EQ(p.op.beeps, 3);
    p.op.Clear();
    p.Hotplug();  // the monitor's event, late: already handled
  }
  EXPECT_EQ(p.op.beeps, GetParam() == Detect::HotplugEvent ? 2 : 0);
  EXPECT_TRUE(p.op.boxes.empty());

  ExpectSteps(1, {{1, 1300}});
  ExpectSteps(2, {{1, 300}});
  ExpectSteps(3, {{1, 1300}});
  ExpectSteps(4, {{1, 1300}});
  ExpectDevices({o[0], o[2], o[3]});
  EXPECT_TRUE(second.expired()) << "the dropped object is released";
  EXPECT_TRUE(f().TmrDwell.Enabled());
  EXPECT_TRUE(f().StartLED.Filled());

  // The removal named open position 1: Unit2. The other buttons keep their
  // captions; the read-back does not run again.
  std::vector<Unit> units = units_at_start;
  units[1] = {"Disconect", false, false};
  EXPECT_EQ(Units(f()), units);
  ClickEveryEnabledUnit();
}

INSTANTIATE_TEST_SUITE_P(Detect, UnplugMidSweep,
                         ::testing::Values(Detect::HotplugEvent, Detect::FailingWrite), DetectName);

// ---- Every board unplugged, then one replugged ----

class UnplugAllMidSweep : public FourBoards, public ::testing::WithParamInterface<Detect> {};

TEST_P(UnplugAllMidSweep, SendsResumeToTheReplugged) {
  StartMsSweep();
  std::vector<std::weak_ptr<TPTS>> objects(f().Devices.begin(), f().Devices.end());
  Tick(250);
  for (int b = 4; b >= 1; --b) p.backend.Unplug(b);  // last first: positions 3, 2, 1, 0
  if (GetParam() == Detect::HotplugEvent) p.Hotplug();
  Tick(50);  // with FailingWrite, tick 251 finds all four gone
  if (GetParam() == Detect::FailingWrite) p.Hotplug();

  EXPECT_TRUE(f().Devices.empty());
  EXPECT_EQ(p.agent.OpenCount(), 0);
  for (const auto& o : objects) EXPECT_TRUE(o.expired());
  for (int b = 1; b <= 4; ++b) ExpectSteps(b, {{1, 250}});
  EXPECT_TRUE(p.op.boxes.empty());
  EXPECT_EQ(f().Frequency, StepHz(300)) << "the sweep went on without boards";
  EXPECT_EQ(f().TextFreq.BackColor(), kGreen) << "a send to no boards still turns green";

  // Removals name their position among the interfaces still open. Removed
  // last first, the monitor names positions 3, 2, 1, 0; writes walking the
  // boards first to last find each one at position 0.
  std::vector<Unit> units = units_at_start;
  units[0] = {"Disconect", false, false};
  if (GetParam() == Detect::HotplugEvent) units[1] = {"Disconect", false, false};
  EXPECT_EQ(Units(f()), units);
  ClickEveryEnabledUnit();  // buttons without a board are ignored

  p.backend.Replug(3);
  p.op.Clear();
  p.Hotplug();
  EXPECT_EQ(p.op.beeps, 2) << "arrival and open";
  ASSERT_EQ(f().Devices.size(), 1u);
  EXPECT_EQ(p.agent.OpenCount(), 1);
  Tick(50);
  ExpectSteps(3, {{1, 250}, {301, 350}});
  for (int b : {1, 2, 4}) ExpectSteps(b, {{1, 250}});
  EXPECT_EQ(Units(f()), units) << "a board coming back does not re-enable a button";

  f().Form_Unload();
  EXPECT_TRUE(f().Devices.empty());
  EXPECT_EQ(p.agent.OpenCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Detect, UnplugAllMidSweep,
                         ::testing::Values(Detect::HotplugEvent, Detect::FailingWrite), DetectName);

// ---- Writes failing for a while ----

TEST_F(FourBoards, FailedWritesBeepOnceEachAndTheBoardReceivesAgain) {
  StartMsSweep();
  Tick(100);
  p.backend.FailNextWrites(3, 5);
  Tick(5);
  EXPECT_EQ(p.op.beeps, 5) << "one beep per failed write";
  EXPECT_TRUE(p.op.boxes.empty());
  Tick(95);
  EXPECT_EQ(p.op.beeps, 5);
  ExpectSteps(3, {{1, 100}, {106, 200}});
  for (int b : {1, 2, 4}) ExpectSteps(b, {{1, 200}});
  EXPECT_EQ(f().Devices.size(), 4u) << "a failed write does not drop the board";
  EXPECT_EQ(Units(f()), units_at_start);
}

// ---- A board replugged under a new path ----

TEST_F(FourBoards, ReplugUnderANewPathComesBackAsANewEntry) {
  StartMsSweep();
  const std::vector<TPTS*> o = Objects();
  const std::weak_ptr<TPTS> second = f().Devices[1];
  Tick(200);
  const std::string old_path = p.backend.PathOf(2);
  p.backend.Unplug(2);
  p.Hotplug();
  Tick(100);
  p.backend.Replug(2);
  ASSERT_NE(p.backend.PathOf(2), old_path);
  p.op.Clear();
  p.Hotplug();
  EXPECT_EQ(p.op.beeps, 2) << "arrival and open";
  EXPECT_TRUE(p.op.boxes.empty());
  ASSERT_EQ(f().Devices.size(), 4u);
  EXPECT_EQ(p.agent.OpenCount(), 4);
  EXPECT_EQ(Objects()[0], o[0]);
  EXPECT_EQ(Objects()[1], o[2]);
  EXPECT_EQ(Objects()[2], o[3]);
  EXPECT_TRUE(second.expired()) << "the entry at the end is a new object";
  Tick(100);
  ExpectSteps(2, {{1, 200}, {301, 400}});
  for (int b : {1, 3, 4}) ExpectSteps(b, {{1, 400}});

  // Unit2 stays "Disconect" (only the read-back enables buttons). Unit3 now
  // addresses the entry of the fourth board and Unit4 the replugged one.
  std::vector<Unit> units = units_at_start;
  units[1] = {"Disconect", false, false};
  EXPECT_EQ(Units(f()), units);
  ClickEveryEnabledUnit();

  // Gone again, found by the next write this time.
  p.backend.Unplug(2);
  Tick(10);
  p.Hotplug();
  EXPECT_EQ(f().Devices.size(), 3u);
  for (int b : {1, 3, 4}) ExpectSteps(b, {{1, 410}});
  ExpectSteps(2, {{1, 200}, {301, 400}});
}

// ---- Ticks and hot-plug inside boxes while the sweep runs ----

// A box shown outside the sweep's own handlers lets ticks through: here a
// notice about a board without access (raised from inside the hot-plug
// handling and the agent's open) and a unit button's box, each with a board
// unplugged and steps sent while it is up.
TEST_F(FourBoards, TicksAndHotplugInsideBoxesDuringASweep) {
  StartMsSweep();
  const std::vector<TPTS*> o = Objects();
  Tick(100);
  const int denied = p.backend.AddBoard(0x5E);
  p.backend.DenyAccess(denied, true);
  p.op.on_box = [&](const ShownBox& box) {
    if (box.text.find("access was denied") == std::string::npos) return;
    p.backend.Unplug(2);
    Tick(10);  // tick 101 finds board 2 gone while the agent is opening boards
    p.agent.ProcessHotplug();
  };
  p.Hotplug();
  ASSERT_EQ(p.op.boxes.size(), 1u) << "the notice";
  ExpectDevices({o[0], o[2], o[3]});
  ExpectSteps(2, {{1, 100}});
  for (int b : {1, 3, 4}) ExpectSteps(b, {{1, 110}});
  EXPECT_EQ(p.backend.TotalReceived(denied), 0u);

  // Unit3 chosen while the sweep runs; board 3 goes and two steps go out
  // while its box is up. Afterwards Unit3 addresses the third entry, board 4.
  p.op.on_box = [&](const ShownBox& box) {
    if (box.text != kHello) return;
    p.backend.Unplug(3);
    p.agent.ProcessHotplug();
    Tick(2);
  };
  f().Option1(2).Value(true);
  p.op.on_box = nullptr;
  EXPECT_EQ(f().DevNum, 3);
  EXPECT_EQ(f().ModelNum, 500);
  ExpectDevices({o[0], o[3]});
  Tick(8);
  ExpectSteps(3, {{1, 110}});
  for (int b : {1, 4}) ExpectSteps(b, {{1, 120}});
}

// ---- A read that times out during the read-back at activation ----

TEST(ReliabilityReadBack, TimedOutReadShowsNothingFromThatBoard) {
  PanelFixture p({0x5E, 0x5C, 0x5A, 0x58}, PanelStart::Loaded);
  p.backend.FailNextReads(2, 1);
  ASSERT_TRUE(p.StartUp(PanelStart::Activated));
  // The second board's Data1 was never read: it would decode as unit 7 with
  // no model. Its button keeps its design-time caption and is enabled but
  // not selected (no box for it); the other boards are read and shown.
  EXPECT_EQ(p.startup_boxes.size(), 2u);
  for (const ShownBox& b : p.startup_boxes) EXPECT_EQ(b.text, kHello);
  EXPECT_EQ(Units(p.form), (std::vector<Unit>{{"Unit  0", true, false},
                                              {"Unit2", true, false},
                                              {"Unit  4", true, false},
                                              {"Unit  6", true, true}}));
  EXPECT_EQ(p.form.UnitNum, 6);
  EXPECT_EQ(p.form.ModelNum, 500);
  EXPECT_EQ(p.form.Label5.Caption(), "PTS 500");
  ASSERT_EQ(p.form.Devices.size(), 4u) << "the board is still attached";

  p.form.Frequency = 1234;
  p.form.Cmd1Val = 4;
  p.form.TranslateFrequency();
  for (int b = 1; b <= 4; ++b) EXPECT_EQ(p.backend.TotalReceived(b), 1u) << "board " << b;

  // Choosing Unit2 reads the board again, which now answers.
  p.backend.SetStatus(2, 0x3C);
  p.form.Option1(1).Value(true);
  EXPECT_EQ(p.op.Texts(), std::vector<std::string>{kHello});
  EXPECT_EQ(p.form.ModelNum, 200);
}

TEST(ReliabilityReadBack, EveryReadTimedOutDecodesNothing) {
  PanelFixture p({0x3E, 0x8C}, PanelStart::Loaded);
  p.backend.FailNextReads(1, 1);
  p.backend.FailNextReads(2, 1);
  ASSERT_TRUE(p.StartUp(PanelStart::Activated));
  EXPECT_TRUE(p.startup_boxes.empty());
  EXPECT_EQ(Units(p.form), (std::vector<Unit>{{"Unit1", true, true},
                                              {"Unit2", true, false},
                                              {"Unit3", false, false},
                                              {"Unit4", false, false}}));
  EXPECT_FALSE(p.form.ModelNum.has_value());
  EXPECT_EQ(p.form.Label5.Caption(), "PTS ???");
  EXPECT_EQ(p.form.Devices.size(), 2u);
  EXPECT_EQ(p.form.TextFreq.Text(), "0") << "the knob refresh ran before the read-back";

  p.form.Option1(1).Value(true);
  EXPECT_EQ(p.form.ModelNum, 3200);
  EXPECT_FALSE(p.form.Label9.Visible()) << "the PTS 3200 layout";
  p.form.Option1(0).Value(true);
  EXPECT_EQ(p.form.ModelNum, 200);
}

// ---- A board arriving while the start-up asks for one ----

TEST(ReliabilityStartUp, BoardArrivingBetweenTwoTriesIsOpenedOnce) {
  PanelFixture p({}, PanelStart::Constructed);
  const std::string failure =
      "Unable to open USB device: \r\n\r\nPTS USB Interface\r\n\r\nPlease attach the device and "
      "click OK,\r\n  or click Cancel to exit";
  int failures = 0;
  p.op.on_box = [&](const ShownBox& box) {
    if (box.text != failure) return;
    if (++failures == 1) {
      // Plugged in without permission yet: the next try cannot open it.
      p.backend.DenyAccess(p.backend.AddBoard(0x5E), true);
    } else {
      p.backend.DenyAccess(1, false);  // the udev rule took effect
    }
    p.agent.ProcessHotplug();  // the box's event loop delivers the arrival: loading, only a beep
  };
  ASSERT_TRUE(p.StartUp(PanelStart::Activated));
  ASSERT_EQ(p.startup_boxes.size(), 3u);
  EXPECT_EQ(p.startup_boxes[0].text, failure);
  EXPECT_NE(p.startup_boxes[1].text.find("access was denied"), std::string::npos);
  EXPECT_EQ(p.startup_boxes[2].text, failure);
  ASSERT_EQ(p.form.Devices.size(), 1u);
  EXPECT_EQ(p.agent.OpenCount(), 1);
  EXPECT_EQ(p.form.ModelNum, 500);
  EXPECT_EQ(p.form.Option1(0).Caption(), "Unit  0");

  p.Hotplug();  // nothing queued is left to open twice
  EXPECT_EQ(p.form.Devices.size(), 1u);
  p.form.TextFreq.Text("1000");
  p.form.CmdSend_Click();
  EXPECT_EQ(p.backend.TotalReceived(1), 1u);
}

// ---- Hot-plug handled inside a modal box ----

// While a box is up its event loop runs, and the hot-plug notifier with it.
// Every board is unplugged in turn while each of the read-back's boxes is
// open; the removal is either delivered there or found by a later read or
// write. The read-back must go on over what is left.
struct NestedRow {
  int board;
  int box;  // 1-based among the activation's boxes
  bool deliver_in_box;
};

void PrintTo(const NestedRow& r, std::ostream* os) {
  *os << "board " << r.board << ", box " << r.box
      << (r.deliver_in_box ? ", delivered in the box" : ", found later");
}

class UnplugInsideABox : public ::testing::TestWithParam<NestedRow> {};

TEST_P(UnplugInsideABox, ReadBackGoesOnOverTheRest) {
  const NestedRow& r = GetParam();
  PanelFixture p({0x5E, 0x5C, 0x5A, 0x58}, PanelStart::Loaded);
  p.Hotplug();
  const std::weak_ptr<TPTS> gone = p.form.Devices[static_cast<size_t>(r.board - 1)];
  int shown = 0;
  p.op.on_box = [&](const ShownBox&) {
    if (++shown != r.box) return;
    p.backend.Unplug(r.board);
    if (r.deliver_in_box) p.agent.ProcessHotplug();
  };
  ASSERT_TRUE(p.StartUp(PanelStart::Activated));
  p.op.on_box = nullptr;
  p.Hotplug();  // whatever the monitor still has

  EXPECT_EQ(p.form.Devices.size(), 3u);
  EXPECT_TRUE(gone.expired());
  EXPECT_EQ(p.form.ModelNum, 500);
  // Every attached board receives the next send once; the unplugged one nothing more.
  std::vector<uint64_t> before;
  for (int b = 1; b <= 4; ++b) before.push_back(p.backend.TotalReceived(b));
  p.form.TextFreq.Text("1000");
  p.form.CmdSend_Click();
  for (int b = 1; b <= 4; ++b) {
    EXPECT_EQ(p.backend.TotalReceived(b) - before[static_cast<size_t>(b - 1)],
              b == r.board ? 0u : 1u)
        << "board " << b;
  }
  // Clicking any enabled button shows its box and reads an attached board or nothing.
  for (int i = 0; i < 4; ++i) {
    if (p.form.Option1(i).Enabled()) p.form.Option1(i).Value(true);
  }
  EXPECT_EQ(p.form.ModelNum, 500);
}

std::vector<NestedRow> NestedRows() {
  std::vector<NestedRow> rows;
  for (int board = 1; board <= 4; ++board) {
    for (int box = 1; box <= 3; ++box) {
      for (bool deliver : {true, false}) rows.push_back({board, box, deliver});
    }
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(EveryBoardEveryBox, UnplugInsideABox, ::testing::ValuesIn(NestedRows()),
                         [](const auto& info) {
                           return "Board" + std::to_string(info.param.board) + "Box" +
                                  std::to_string(info.param.box) +
                                  (info.param.deliver_in_box ? "Delivered" : "FoundLater");
                         });

}  // namespace
}  // namespace pts::testing
