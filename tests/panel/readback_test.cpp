// Activation and the read-back: what each board's status byte does to the
// unit captions, the model, the menu, the label and the digit layout.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

constexpr const char* kModelPrompt =
    "Select PTS Model from Menu Options\n \n After selecting a model# you can\n Save it to "
    "interface EEPROM from File Menu";
constexpr const char* kHello = "Hello from Optiono1_Click";

std::vector<std::string> CheckedItems(MainForm& f) {
  std::vector<std::string> names;
  for (MenuItem* item : f.ModelItems()) {
    if (item->Checked()) names.push_back(item->Name());
  }
  return names;
}

struct ReadRow {
  const char* name;
  uint8_t status;
  std::optional<int16_t> model_num, mnum;
  std::vector<std::string> checked;
  const char* label;
  bool wide_layout;
  const char* caption;
  bool prompt;
};
std::ostream& operator<<(std::ostream& os, const ReadRow& r) {
  return os << r.name;
}

class ReadBackOne : public ::testing::TestWithParam<ReadRow> {};

TEST_P(ReadBackOne, DecodesTheStatusByte) {
  const ReadRow& r = GetParam();
  PanelFixture p({r.status});
  MainForm& f = p.form;
  EXPECT_EQ(f.ModelNum, r.model_num);
  EXPECT_EQ(f.Mnum, r.mnum);
  EXPECT_EQ(CheckedItems(f), r.checked);
  EXPECT_EQ(f.Label5.Caption(), r.label);
  EXPECT_EQ(f.Label9.Visible(), !r.wide_layout) << "the decimal mark belongs to the 0.1 Hz layout";
  EXPECT_EQ(f.Option1(0).Caption(), r.caption);
  std::vector<std::string> boxes;
  for (const ShownBox& b : p.startup_boxes) boxes.push_back(b.text);
  EXPECT_EQ(boxes, r.prompt ? std::vector<std::string>{kModelPrompt} : std::vector<std::string>{});
  if (r.prompt) {
    EXPECT_EQ(p.startup_boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(p.startup_boxes[0].title, "");
  }
  EXPECT_EQ(f.DevNum, 2) << "the loop index ends past the last unit";
  EXPECT_TRUE(f.JustStarting);
  EXPECT_FALSE(f.StopFlag);
}

const ReadRow kReadRows[] = {
    {"Pts200Unit3", 0x35, 200, 0x30, {"mnuPTs200"}, "PTS 200", false, "Unit  3", false},
    {"Pts3200Unit0", 0x8E, 3200, 0x80, {"mnuPTS3200"}, "PTS 3200", true, "Unit  0", false},
    {"Pts10Unit0", 0x1E, 10, 0x10, {"mnuPTS10"}, "PTS 10", false, "Unit  0", false},
    {"Pts1000Unit7", 0x70, 1000, 0x70, {"mnuOther"}, "PTS 1000", false, "Unit  7", false},
    {"Pts620Unit5", 0x62, 620, 0x60, {"mnuPTS620"}, "PTS 620", false, "Unit  5", false},
    {"BlankEeprom", 0xFF, std::nullopt, std::nullopt, {}, "PTS ", false, "Unit  0", true},
    {"UnknownCode", 0x9C, std::nullopt, std::nullopt, {}, "PTS ", false, "Unit  2", false},
};
INSTANTIATE_TEST_SUITE_P(Rows, ReadBackOne, ::testing::ValuesIn(kReadRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadBack, TwoBoardsTheSecondSelectedAndItsModelWins) {
  PanelFixture p({0x2E, 0x6C});
  MainForm& f = p.form;
  EXPECT_EQ(f.ModelNum, 620);
  EXPECT_EQ(f.Mnum, 0x60);
  EXPECT_EQ(CheckedItems(f), (std::vector<std::string>{"MNUpts160", "mnuPTS620"}));
  EXPECT_EQ(f.Label5.Caption(), "PTS 620");
  EXPECT_EQ(f.Option1(0).Caption(), "Unit  0");
  EXPECT_EQ(f.Option1(1).Caption(), "Unit  2");
  EXPECT_TRUE(f.Option1(1).Enabled());
  EXPECT_TRUE(f.Option1(1).Value());
  EXPECT_FALSE(f.Option1(0).Value());
  EXPECT_FALSE(f.Option1(2).Enabled());
  ASSERT_EQ(p.startup_boxes.size(), 1u) << "one unit selected from code";
  EXPECT_EQ(p.startup_boxes[0].text, kHello);
  EXPECT_EQ(f.DevNum, 3);
  EXPECT_EQ(f.UnitNum, 2);
}

TEST(ReadBack, FiveBoardsOnlyFourHaveButtons) {
  PanelFixture p({0x1E, 0x1C, 0x1A, 0x18, 0x16});
  MainForm& f = p.form;
  EXPECT_EQ(f.Option1(3).Caption(), "Unit  6");
  EXPECT_TRUE(f.Option1(3).Value());
  EXPECT_EQ(p.startup_boxes.size(), 3u) << "units 2 to 4 are selected, the fifth has no button";
  EXPECT_EQ(f.UnitNum, 1) << "the fifth board is still read";
  EXPECT_EQ(f.DevNum, 6);
}

TEST(ReadBack, NoBoardsLeavesTheWindowAsItWas) {
  PanelFixture p({}, PanelStart::Constructed);
  MainForm& f = p.form;
  const std::string label = f.Label5.Caption(), caption = f.Option1(0).Caption();
  f.ReadRptsBtn_Click();
  EXPECT_EQ(f.Label5.Caption(), label);
  EXPECT_EQ(f.Option1(0).Caption(), caption);
  EXPECT_FALSE(f.ModelNum.has_value());
  EXPECT_TRUE(CheckedItems(f).empty());
  EXPECT_TRUE(p.op.events.empty());
  EXPECT_EQ(f.DevNum, 1);
}

TEST(ReadBack, ActivationReadsBackOnlyOnce) {
  PanelFixture p({0xFF, 0xFC});
  ASSERT_EQ(p.startup_boxes.size(), 4u);  // prompt; Hello, prompt (selection), prompt
  p.form.JustStarting = false;
  p.form.StopFlag = true;
  p.form.Form_Activate();  // the window comes back to the front after a box
  EXPECT_TRUE(p.op.events.empty());
  EXPECT_FALSE(p.form.JustStarting);
  EXPECT_TRUE(p.form.StopFlag);
}

TEST(ReadBack, ReadBackOfAModellessBoardKeepsTheModelChosenBefore) {
  PanelFixture p({0xFE, 0x3C}, PanelStart::Loaded);
  p.form.mnuPTS3200_Click();
  p.form.ReadRptsBtn_Click();
  // The first board has no model: PTS 3200 stays until the second board says PTS 200.
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{kModelPrompt, kHello}));
  EXPECT_EQ(p.form.ModelNum, 200);
  EXPECT_EQ(CheckedItems(p.form), (std::vector<std::string>{"mnuPTs200", "mnuPTS3200"}))
      << "the read-back adds its check mark to the menu's";
  EXPECT_TRUE(p.form.Label9.Visible());
}

TEST(ReadBack, BoardGoneDuringTheReadBackIsSkipped) {
  PanelFixture p({0x3E, 0x5C}, PanelStart::Loaded);
  p.backend.Unplug(1);  // the read finds it gone and the interface is closed
  p.form.ReadRptsBtn_Click();
  EXPECT_EQ(p.form.Devices.size(), 1u);
  EXPECT_EQ(p.form.ModelNum, 500) << "the remaining board is read";
  EXPECT_EQ(p.form.Option1(0).Caption(), "Disconect") << "not re-captioned from a dead board";
  EXPECT_EQ(p.form.Option1(1).Caption(), "Unit  2");
}

}  // namespace
}  // namespace pts::testing
