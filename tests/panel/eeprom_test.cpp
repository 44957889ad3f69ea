// The File menu's save commands: the word each board receives and keeps, the
// model code chosen for it, and the confirmation that follows.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "panel/encoding.h"
#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

constexpr const char* kFreqSaved = "Frequency and power level saved to interface EEPROM";
constexpr const char* kModelSaved = "Model# saved to interface EEPROM";

TEST(SaveFrequency, SendsCommand5AndTheBoardStoresTheWord) {
  PanelFixture p({0x5E, 0x5C});
  p.form.Knob1(10).Value(13);
  p.form.Frequency = 123456789.3;
  p.form.mnuSaveFreq_Click();

  EXPECT_EQ(p.form.Cmd1Val, 5) << "kept until the next command sets another";
  for (int board : {1, 2}) {
    ASSERT_EQ(p.backend.Received(board).size(), 1u) << "board " << board;
    const hid::OutputWord w = p.backend.Received(board)[0];
    EXPECT_EQ(w[kCmd1], 5);
    EXPECT_EQ(w[kPWMDC], 141);
    EXPECT_EQ(w[kF1], 27);
    EXPECT_EQ(w[kF5], 159);
    EXPECT_EQ(w[kF7], 0x50);
    EXPECT_TRUE(p.backend.Eeprom(board).frequency_stored);
    EXPECT_EQ(p.backend.Eeprom(board).stored_word, w);
  }
  ASSERT_EQ(p.op.boxes.size(), 1u);
  EXPECT_EQ(p.op.boxes[0].text, kFreqSaved);
  EXPECT_EQ(p.op.boxes[0].buttons, MsgButtons::Ok);
  EXPECT_EQ(p.op.boxes[0].icon, MsgIcon::None);
  EXPECT_EQ(p.op.boxes[0].title, "");
  EXPECT_EQ(p.form.TextFreq.BackColor(), kGreen);
}

TEST(SaveFrequency, ARefusalIsNotConfirmedAsSaved) {
  PanelFixture p({0x1E});
  p.form.Frequency = 20000000;  // above the PTS 10's range
  p.form.mnuSaveFreq_Click();
  EXPECT_TRUE(p.backend.Received(1).empty());
  EXPECT_FALSE(p.backend.Eeprom(1).frequency_stored);
  EXPECT_EQ(p.op.Texts(),
            (std::vector<std::string>{"Frequency >= 10 MHz is NOT Supported on PTS 10"}));
}

constexpr const char* kNothingSaved =
    "No interface board accepted the command: nothing was saved to interface EEPROM";

TEST(SaveFrequency, NoBoardTookItSaysNothingWasSaved) {
  // Every write failing (one beep each) and no board at all both end in the same box.
  PanelFixture failing({0x5E, 0x5C});
  failing.backend.FailNextWrites(1, 1);
  failing.backend.FailNextWrites(2, 1);
  failing.form.Frequency = 1000;
  failing.form.mnuSaveFreq_Click();
  EXPECT_EQ(failing.op.beeps, 2);
  EXPECT_EQ(failing.op.Texts(), (std::vector<std::string>{kNothingSaved}));

  PanelFixture none({0x5E});
  none.backend.Unplug(1);
  none.Hotplug();
  ASSERT_TRUE(none.form.Devices.empty());
  none.op.Clear();
  none.form.mnuPTS500_Click();
  none.form.mnuSaveModel_Click();
  EXPECT_EQ(none.op.Texts(), (std::vector<std::string>{kNothingSaved}));
}

TEST(SaveFrequency, OneBoardOfTwoIsEnoughToConfirm) {
  PanelFixture p({0x5E, 0x5C});
  p.backend.FailNextWrites(2, 1);
  p.form.Frequency = 1000;
  p.form.mnuSaveFreq_Click();
  EXPECT_EQ(p.op.beeps, 1);
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{kFreqSaved}));
}

struct SaveRow {
  const char* name;
  uint8_t status;                // the board's status at start
  std::optional<int16_t> model;  // ModelNum when saving
  std::optional<int16_t> mnum;   // Mnum afterwards
};
std::ostream& operator<<(std::ostream& os, const SaveRow& r) {
  return os << r.name;
}

class SaveModel : public ::testing::TestWithParam<SaveRow> {};

TEST_P(SaveModel, SendsCommand6WithTheModelCode) {
  const SaveRow& r = GetParam();
  PanelFixture p({r.status});
  p.form.ModelNum = r.model;
  p.form.Frequency = 0;
  p.form.mnuSaveModel_Click();

  EXPECT_EQ(p.form.Mnum, r.mnum);
  EXPECT_EQ(p.form.Cmd1Val, 6);
  ASSERT_EQ(p.backend.Received(1).size(), 1u);
  const hid::OutputWord w = p.backend.Received(1)[0];
  EXPECT_EQ(w[kCmd1], 6);
  EXPECT_EQ(w[kF7], r.mnum.value_or(0));
  EXPECT_EQ(p.backend.Eeprom(1).model_code, r.mnum.value_or(0) & 0xF0)
      << "the board keeps the model code";
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{kModelSaved}));
  EXPECT_EQ(p.op.boxes[0].icon, MsgIcon::None);
}

const SaveRow kModelRows[] = {
    {"Pts620", 0xFE, 620, 96},
    {"Pts3200", 0xFE, 3200, 128},
    {"Pts10OverStoredPts500", 0x5E, 10, 16},
    {"NoModelLeavesMnumEmpty", 0xFE, std::nullopt, std::nullopt},
    {"NoModelKeepsReadBackCode", 0x5E, std::nullopt, 0x50},
    {"UnknownModelKeepsCode", 0x3E, 999, 0x30},
};
INSTANTIATE_TEST_SUITE_P(Rows, SaveModel, ::testing::ValuesIn(kModelRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveModelFlow, MenuChoiceThenSaveThenReadBackOnTheNextStart) {
  PanelFixture p({0xFE});
  p.form.mnuPTS620_Click();
  p.form.mnuSaveModel_Click();
  EXPECT_EQ(p.backend.Status(1) & 0xF0, 0x60);

  // A later start reads the stored model back from the same board.
  PanelFixture again({p.backend.Status(1)});
  EXPECT_EQ(again.form.ModelNum, 620);
  EXPECT_EQ(again.form.Mnum, 96);
  EXPECT_TRUE(again.startup_boxes.empty()) << "no model prompt";
}

TEST(SaveModelFlow, NoModelAndAFrequencyIsRefusedAndNotConfirmed) {
  PanelFixture p({0xFE});
  p.form.Frequency = 1000;
  p.form.mnuSaveModel_Click();
  EXPECT_TRUE(p.backend.Received(1).empty());
  EXPECT_EQ(p.op.Texts(), (std::vector<std::string>{"Frequency >=  MHz is NOT Supported on PTS "}));
}

}  // namespace
}  // namespace pts::testing
