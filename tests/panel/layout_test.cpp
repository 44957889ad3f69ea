// The window as designed, and the two digit layouts.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "panel/mainform.h"
#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

struct Layout : ::testing::Test {
  PanelFixture p{{}, PanelStart::Constructed};
  MainForm& f = p.form;
};

struct Box {
  int32_t left, top, width, height;
  bool operator==(const Box&) const = default;
};
Box PlaceOf(const Control& c) {
  return {c.Left(), c.Top(), c.Width(), c.Height()};
}

TEST_F(Layout, UnitButtonsAtStart) {
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(f.Option1(i).Caption(), "Unit" + std::to_string(i + 1));
    EXPECT_EQ(f.Option1(i).Enabled(), i == 0) << i;
    EXPECT_EQ(f.Option1(i).Value(), i == 0) << i;
    EXPECT_TRUE(f.Option1(i).Visible());
  }
  EXPECT_EQ(PlaceOf(f.Option1(3)), (Box{4440, 4680, 735, 375}));
  // Building the window selected Unit1 without running its click handling.
  EXPECT_TRUE(p.op.boxes.empty());
}

TEST(UnitGroup, SelectingOneClearsTheOthersAndRunsItsClick) {
  PanelFixture p({0x3E, 0x5C}, PanelStart::Loaded);
  p.form.Option1(1).Enabled(true);
  p.form.Option1(1).Value(true);
  EXPECT_FALSE(p.form.Option1(0).Value());
  EXPECT_TRUE(p.form.Option1(1).Value());
  ASSERT_FALSE(p.op.boxes.empty());
  EXPECT_EQ(p.op.boxes[0].text, "Hello from Optiono1_Click");
  EXPECT_EQ(p.form.DevNum, 2);
}

TEST_F(Layout, LevelModelAndDigitsAtStart) {
  EXPECT_EQ(f.D(10).Caption(), "3");
  EXPECT_EQ(f.Knob1(10).Value(), 3);
  EXPECT_EQ(f.Knob1(10).Min(), 3);
  EXPECT_EQ(f.Knob1(10).Max(), 13);
  EXPECT_EQ(f.Label5.Caption(), "PTS ???");
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(f.D(i).Caption(), "0");
    EXPECT_EQ(f.Knob1(i).Value(), 0);
    EXPECT_EQ(f.Knob1(i).Min(), 0);
    EXPECT_EQ(f.Knob1(i).Max(), 9);
    EXPECT_EQ(f.Knob1(i).Top(), 3000);
    EXPECT_EQ(f.Knob1(i).Width(), 510);
    EXPECT_EQ(f.D(i).Top(), 2520);
    EXPECT_EQ(f.D(i).Width(), i == 9 ? 195 : 225);
  }
  EXPECT_FALSE(f.ModelNum.has_value());
  EXPECT_FALSE(f.Mnum.has_value());
  EXPECT_FALSE(f.Cmd1Val.has_value());
  for (MenuItem* item : f.ModelItems()) EXPECT_FALSE(item->Checked()) << item->Name();
}

TEST_F(Layout, LightsTimersAndBoxesAtStart) {
  EXPECT_TRUE(f.PowerLED.Filled());
  EXPECT_EQ(f.PowerLED.FillColor(), kGreen);
  EXPECT_TRUE(f.StopLED.Filled());
  EXPECT_EQ(f.StopLED.FillColor(), kRed);
  for (Shape* led : {&f.StartLED, &f.SendLED, &f.SnglLED}) {
    EXPECT_FALSE(led->Filled()) << led->Name();
    EXPECT_EQ(led->FillColor(), kGreen) << led->Name();
    EXPECT_EQ(led->ShapeKind(), Shape::Kind::Circle);
  }
  EXPECT_EQ(f.TmrDwell.Interval(), 100);
  EXPECT_FALSE(f.TmrDwell.Enabled());
  EXPECT_EQ(f.TmrBlink.Interval(), 500);
  EXPECT_FALSE(f.TmrBlink.Enabled());
  EXPECT_EQ(f.TextFreq.MaxLength(), 0);
  EXPECT_EQ(f.TextFreqStop.MaxLength(), 11);
  EXPECT_EQ(f.TextFreqStep.MaxLength(), 11);
  EXPECT_EQ(f.TextSweepTime.MaxLength(), 8);
  EXPECT_FALSE(f.Label8.Caption().empty());
  EXPECT_EQ(f.Label11.Caption(), " Start Frequency (Hz)");
  EXPECT_EQ(f.Label12.Caption(), "Stop  Frequency (Hz)");
  EXPECT_EQ(f.CmdSngl.Caption(), "Single");
  EXPECT_EQ(f.ComdOff.Caption(), "Off");
}

TEST_F(Layout, Menus) {
  EXPECT_EQ(f.mnuFile.Caption(), "&Save to EEPROM");
  EXPECT_EQ(f.mnuSaveFreq.Caption(), "&Save Frequency to EEPROM");
  EXPECT_EQ(f.mnuSaveModel.Caption(), "&Save PTS Model to EEPROM");
  EXPECT_EQ(f.mnuSetUp.Caption(), "&Set-up");
  EXPECT_EQ(f.mnuModel.Caption(), "&PTS Model");
  EXPECT_EQ(f.mnuOther.Caption(), "&PTS1000");
  EXPECT_EQ(f.mnuPTS3200.Caption(), "&PTS3200");
  EXPECT_EQ(f.mnuInfo.Caption(), "&Info");
}

TEST_F(Layout, AllControlsListsEachControlOnce) {
  const auto all = f.AllControls();
  std::set<std::string> names;
  for (Control* c : all) EXPECT_TRUE(names.insert(c->Name()).second) << c->Name();
  EXPECT_EQ(all.size(), 76u);
  for (const char* n : {"TextFreq", "Knob1(10)", "D(10)", "Shape2(2)", "Option1(3)", "TmrDwell",
                        "TmrBlink", "mnuInfo", "MNUpts160", "mnuModel", "PowerLED", "Shape1"}) {
    EXPECT_EQ(names.count(n), 1u) << n;
  }
}

// The digit display: as designed, for the PTS 3200 and for the other models.
struct DisplayRow {
  const char* name;
  void (MainForm::*apply)();  // nullptr: as designed
  Box groups[3];
  int32_t knob3, knob6, mhz, khz, hz, d3, d6;
  bool mark;
};

class Display : public Layout, public ::testing::WithParamInterface<DisplayRow> {};

TEST_P(Display, PlacesTheGroups) {
  const DisplayRow& row = GetParam();
  // std::invoke: GCC 12 with -fsanitize=undefined miscompiles (member_ref.*pmf)().
  if (row.apply) std::invoke(row.apply, f);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PlaceOf(f.Shape2(i)), row.groups[i]) << i;
  EXPECT_EQ(f.Knob1(3).Left(), row.knob3);
  EXPECT_EQ(f.Knob1(6).Left(), row.knob6);
  EXPECT_EQ(f.Label2.Left(), row.mhz);
  EXPECT_EQ(f.Label3.Left(), row.khz);
  EXPECT_EQ(f.Label4.Left(), row.hz);
  EXPECT_EQ(f.D(3).Left(), row.d3);
  EXPECT_EQ(f.D(6).Left(), row.d6);
  EXPECT_EQ(f.Label9.Visible(), row.mark);
  // Everything else stays where it was designed.
  EXPECT_EQ(f.Knob1(2).Left(), 2400);
  EXPECT_EQ(f.Knob1(7).Left(), 6480);
  EXPECT_EQ(f.D(9).Left(), 8070);
  EXPECT_EQ(f.Label9.Left(), 7680);
  EXPECT_EQ(f.Label3.Top(), 3600);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Display,
    ::testing::Values(
        DisplayRow{"Designed",
                   nullptr,
                   {{840, 2400, 2900, 1575}, {3960, 2400, 2175, 1575}, {6360, 2400, 2295, 1575}},
                   3120,
                   5520,
                   1920,
                   4740,
                   7200,
                   3240,
                   5640,
                   true},
        DisplayRow{"Pts3200",
                   &MainForm::Display3200,
                   {{840, 2400, 2900, 1575}, {3950, 2400, 2175, 1575}, {6350, 2400, 2295, 1575}},
                   3120,
                   5520,
                   1920,
                   4740,
                   7200,
                   3240,
                   5640,
                   false},
        DisplayRow{"Normal",
                   &MainForm::DisplayNormal,
                   {{840, 2400, 2175, 1575}, {3249, 2400, 2175, 1575}, {5640, 2400, 3015, 1575}},
                   3360,
                   5760,
                   1560,
                   4080,
                   6720,
                   3480,
                   5880,
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Layout, LayoutsTouchNoValues) {
  p.Enter("123456789.3");
  f.Display3200();
  f.DisplayNormal();
  EXPECT_EQ(f.TextFreq.Text(), "123456789.3");
  EXPECT_EQ(p.Knobs(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 3}));
  EXPECT_EQ(f.D(9).Caption(), "3");
}

}  // namespace
}  // namespace pts::testing
