// The agent's events on the panel: boards plugged and unplugged, entries of
// Devices re-bound after a close, removal texts, notices and unit selection.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

constexpr const char* kHello = "Hello from Optiono1_Click";
constexpr const char* kModelPrompt =
    "Select PTS Model from Menu Options\n \n After selecting a model# you can\n Save it to "
    "interface EEPROM from File Menu";

// Handles the arrivals queued for the boards present at start (already open)
// and forgets the beeps they cause.
void Settle(PanelFixture& p) {
  p.Hotplug();
  p.op.Clear();
}

// Sends 1 kHz with the current model; how many words each board has received.
std::vector<size_t> SendAndCount(PanelFixture& p) {
  p.form.ModelNum = 500;
  p.form.Frequency = 1000;
  p.form.TranslateFrequency();
  std::vector<size_t> n;
  for (int b = 1; b <= p.backend.BoardCount(); ++b) n.push_back(p.backend.Received(b).size());
  return n;
}

TEST(Devices, ClosingTheSecondOfThreeRebindsTheOthers) {
  PanelFixture p({0x5E, 0x5C, 0x5A});
  Settle(p);
  TPTS* first = p.form.Devices[0].get();
  TPTS* third = p.form.Devices[2].get();
  p.backend.Unplug(2);
  p.Hotplug();

  ASSERT_EQ(p.form.Devices.size(), 2u);
  EXPECT_EQ(p.form.Devices[0].get(), first);
  EXPECT_EQ(p.form.Devices[1].get(), third);
  EXPECT_EQ(p.op.beeps, 2) << "removal and close";
  EXPECT_TRUE(p.op.boxes.empty());
  EXPECT_EQ(p.form.Option1(1).Caption(), "Disconect") << "the removal names open position 1";
  EXPECT_FALSE(p.form.Option1(1).Enabled());
  EXPECT_FALSE(p.form.Option1(1).Value());
  EXPECT_EQ(p.form.Option1(0).Caption(), "Unit  0");

  EXPECT_EQ(SendAndCount(p), (std::vector<size_t>{1, 0, 1}));
  EXPECT_EQ(p.backend.Received(3).back(), p.backend.Received(1).back());
  EXPECT_EQ(p.op.beeps, 2) << "both writes succeeded";
}

TEST(Devices, CloseOfAHandleNoEntryUsesRemovesNothingAndRebindsAll) {
  PanelFixture p({0x5E, 0x5C, 0x5A});
  p.form.InterfaceClosed(3, "elsewhere", 999999);
  EXPECT_EQ(p.form.Devices.size(), 3u);
  EXPECT_EQ(p.op.beeps, 1);
  EXPECT_EQ(SendAndCount(p), (std::vector<size_t>{1, 1, 1}));
}

TEST(Devices, BoardAttachedAfterStartUpIsOpenedAndReceivesSends) {
  PanelFixture p({0x5E});
  Settle(p);
  ASSERT_TRUE(p.form.JustStarting) << "activation sets it again";
  p.backend.AddBoard(0x6C);
  p.Hotplug();
  EXPECT_EQ(p.form.Devices.size(), 2u);
  EXPECT_EQ(p.op.beeps, 2) << "arrival and open";
  EXPECT_EQ(SendAndCount(p), (std::vector<size_t>{1, 1}));
}

TEST(Devices, ReplugGivesANewEntryThatReceivesSends) {
  PanelFixture p({0x5E, 0x5C});
  Settle(p);
  p.backend.Unplug(1);
  p.Hotplug();
  ASSERT_EQ(p.form.Devices.size(), 1u);
  EXPECT_EQ(p.form.Option1(0).Caption(), "Disconect");
  p.backend.Replug(1);
  p.Hotplug();
  EXPECT_EQ(p.form.Devices.size(), 2u);
  EXPECT_EQ(SendAndCount(p), (std::vector<size_t>{1, 1}));
}

TEST(Devices, ArrivalWhileLoadingOnlyBeeps) {
  PanelFixture p({}, PanelStart::Constructed);
  p.backend.AddBoard(0x5E);
  p.form.JustStarting = true;  // as inside Form_Load
  p.form.DeviceArrived(0, p.backend.PathOf(1));
  EXPECT_EQ(p.op.beeps, 1);
  EXPECT_EQ(p.agent.OpenCount(), 0);
  EXPECT_TRUE(p.form.Devices.empty());

  p.form.JustStarting = false;  // loaded, not yet activated
  p.form.DeviceArrived(0, p.backend.PathOf(1));
  EXPECT_EQ(p.form.Devices.size(), 1u);
}

// One board whose output report and input report come through two interfaces.
std::vector<uint8_t> HalfBoard(bool output) {
  std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15,
                            0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01};
  const auto item = [&d](uint8_t usage, uint8_t main) {
    for (uint8_t b : {uint8_t{0x09}, usage, main, uint8_t{0x02}}) d.push_back(b);
  };
  if (output) {
    for (uint8_t usage = 1; usage <= 13; ++usage) item(usage, 0x91);
  } else {
    item(0x0E, 0x81);
  }
  d.push_back(0xC0);
  return d;
}

TEST(Devices, BoardSpreadOverTwoInterfacesIsOneEntry) {
  PanelFixture p({}, PanelStart::Constructed);
  const int out = p.backend.AddDevice(hid::kBoardVendorId, hid::kBoardProductId, HalfBoard(true),
                                      0x00, "output half");
  p.backend.AddDevice(hid::kBoardVendorId, hid::kBoardProductId, HalfBoard(false), 0x3A,
                      "input half");
  ASSERT_TRUE(p.StartUp(PanelStart::Activated));
  ASSERT_EQ(p.form.Devices.size(), 1u);
  EXPECT_EQ(p.form.Device(1).UnboundVarCount(), 0);
  EXPECT_EQ(p.form.ModelNum, 200) << "Data1 read through the second interface";
  EXPECT_EQ(p.form.Option1(0).Caption(), "Unit  4");
  p.form.Frequency = 1000;
  p.form.TranslateFrequency();
  EXPECT_EQ(p.backend.Received(out).size(), 1u);
}

struct RemovalRow {
  const char* name;
  const char* text;
  int button;  // -1: neither
};
std::ostream& operator<<(std::ostream& os, const RemovalRow& r) {
  return os << r.name;
}

class Removal : public ::testing::TestWithParam<RemovalRow> {};

TEST_P(Removal, LeadingNumberPicksTheButton) {
  const RemovalRow& r = GetParam();
  PanelFixture p({0x5E, 0x5C});
  const std::string before[2] = {p.form.Option1(0).Caption(), p.form.Option1(1).Caption()};
  p.form.DeviceRemoved(0, r.text);
  EXPECT_EQ(p.op.beeps, 1);
  EXPECT_TRUE(p.op.boxes.empty()) << "clearing a button runs no click handling";
  for (int i : {0, 1}) {
    if (i == r.button) {
      EXPECT_EQ(p.form.Option1(i).Caption(), "Disconect");
      EXPECT_FALSE(p.form.Option1(i).Enabled());
      EXPECT_FALSE(p.form.Option1(i).Value());
    } else {
      EXPECT_EQ(p.form.Option1(i).Caption(), before[i]) << "button " << i;
      EXPECT_TRUE(p.form.Option1(i).Enabled()) << "button " << i;
    }
  }
  EXPECT_EQ(p.form.Devices.size(), 2u) << "the close, not the removal, drops entries";
}

const RemovalRow kRemovalRows[] = {
    {"Position0", "0 /dev/hidraw3", 0},
    {"Position1", "1 /dev/hidraw4", 1},
    {"LeadingBlanks", "  1 x", 1},
    {"NotANumber", "/dev/hidraw4", 0},
    {"Empty", "", 0},
    {"NotOpen", "-1 /dev/hidraw4", -1},
    {"Position2", "2 /dev/hidraw5", -1},
    {"Fraction", "0.5 x", -1},
};
INSTANTIATE_TEST_SUITE_P(Rows, Removal, ::testing::ValuesIn(kRemovalRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Devices, NoticeIsShownOncePerText) {
  PanelFixture p({0x5E});
  p.form.Notice("access denied at A");
  p.form.Notice("access denied at A");
  p.form.Notice("access denied at B");
  ASSERT_EQ(p.op.Texts(), (std::vector<std::string>{"access denied at A", "access denied at B"}));
  EXPECT_EQ(p.op.boxes[0].icon, MsgIcon::Information);
  EXPECT_EQ(p.op.boxes[0].buttons, MsgButtons::Ok);
}

TEST(Devices, BoardWithoutAccessIsReportedAndNotAdded) {
  PanelFixture p({0x5E});
  Settle(p);
  const int denied = p.backend.AddBoard(0x5C);
  p.backend.DenyAccess(denied, true);
  p.Hotplug();
  EXPECT_EQ(p.form.Devices.size(), 1u);
  ASSERT_EQ(p.op.boxes.size(), 1u);
  EXPECT_EQ(p.op.boxes[0].icon, MsgIcon::Information);
}

// ---- Unit selection ----

TEST(UnitSelection, ShowsHelloThenTheBoardsModel) {
  PanelFixture p({0x3E, 0xFC});  // PTS 200, then a board without a model
  EXPECT_EQ(p.form.Label5.Caption(), "PTS 200") << "the blank board keeps the previous model";
  p.form.Option1(0).Value(true);
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{kHello}));
  EXPECT_EQ(p.form.DevNum, 1);
  EXPECT_EQ(p.form.Label5.Caption(), "PTS 200");

  p.op.Clear();
  p.form.ModelNum = 500;
  p.form.Option1(1).Value(true);
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{kHello, kModelPrompt}));
  EXPECT_EQ(p.form.DevNum, 2);
  EXPECT_EQ(p.form.ModelNum, 500);
  EXPECT_EQ(p.form.Label5.Caption(), "PTS 500");
}

TEST(UnitSelection, Pts3200BoardSwitchesModelAndLayout) {
  PanelFixture p({0x5E, 0x8C});
  p.form.Option1(0).Value(true);
  EXPECT_EQ(p.form.ModelNum, 500);
  EXPECT_TRUE(p.form.Label9.Visible());
  p.form.Option1(1).Value(true);
  EXPECT_EQ(p.form.ModelNum, 3200);
  EXPECT_EQ(p.form.Label5.Caption(), "PTS 3200");
  EXPECT_FALSE(p.form.Label9.Visible()) << "the 1 Hz layout has no decimal mark";
  EXPECT_EQ(p.form.Mnum, 0x80) << "from the read-back; unit selection leaves Mnum alone";
}

TEST(UnitSelection, ButtonOfARemovedBoardIsIgnoredAfterItsBox) {
  PanelFixture p({0x5E, 0x3C});
  Settle(p);
  p.backend.Unplug(1);  // the first board goes; Unit2 stays enabled
  p.Hotplug();
  ASSERT_EQ(p.form.Devices.size(), 1u);
  p.op.Clear();
  p.form.ModelNum = 620;
  p.form.Option1(1).Value(true);
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{kHello}));
  EXPECT_EQ(p.form.ModelNum, 620);
  EXPECT_EQ(p.form.DevNum, 2);
  EXPECT_EQ(SendAndCount(p), (std::vector<size_t>{0, 1}));
}

TEST(UnitSelection, NoButtonSelectedReadsTheUnitLastAddressed) {
  PanelFixture p({0x1E, 0x3C});
  p.form.Option1(1).Clear();
  p.form.DevNum = 1;
  p.form.Option1_Click(0);
  EXPECT_EQ(p.form.ModelNum, 10);

  SendAndCount(p);  // leaves DevNum past the last unit
  p.form.Option1_Click(0);
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{kHello, kHello}));
  EXPECT_EQ(p.form.ModelNum, 500) << "ignored: no unit 3";
}

}  // namespace
}  // namespace pts::testing
