// The device word as the simulated boards receive it: digits, the PTS 160 and
// PTS 3200 rules, tenths with their carry, limits and refusals, level, the
// command and model codes, and the loop over several boards.
#include "panel/encoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using F15 = std::array<int, 5>;

TEST(LevelPwm, KnobPositionsGiveTheCalibratedDutyValues) {
  const std::vector<int32_t> expected{48, 53, 59, 66, 74, 82, 91, 102, 113, 127, 141};
  for (int32_t k = 3; k <= 13; ++k) EXPECT_EQ(LevelPwm(k), expected[k - 3]) << "k=" << k;
}

// A panel with `boards` PTS 500 boards; the tests set the model themselves.
class Encode : public ::testing::Test {
 protected:
  explicit Encode(std::vector<uint8_t> boards = {0x5E}) : p(std::move(boards)) {}

  // Runs the encoding; the word board 1 received, or nothing.
  std::optional<hid::OutputWord> Send(std::optional<int16_t> model, double hz) {
    f().ModelNum = model;
    f().Frequency = hz;
    const size_t before = p.backend.Received(1).size();
    f().TranslateFrequency();
    const auto& got = p.backend.Received(1);
    if (got.size() == before) return std::nullopt;
    EXPECT_EQ(got.size(), before + 1) << "one report per send";
    return got.back();
  }
  MainForm& f() { return p.form; }
  PanelFixture p;
};

F15 Digits(const hid::OutputWord& w) {
  return {w[kF1], w[kF2], w[kF3], w[kF4], w[kF5]};
}

struct WordRow {
  const char* name;
  std::optional<int16_t> model;
  double hz;
  F15 f;  // F1..F5
};
std::ostream& operator<<(std::ostream& os, const WordRow& r) {
  return os << r.name;
}

class EncodeWord : public Encode, public ::testing::WithParamInterface<WordRow> {};

TEST_P(EncodeWord, BoardReceivesTheDigits) {
  const WordRow& r = GetParam();
  f().Cmd1Val = 4;
  f().Mnum = 0x50;
  const auto w = Send(r.model, r.hz);
  ASSERT_TRUE(w.has_value()) << "refused";
  EXPECT_EQ(Digits(*w), r.f);
  EXPECT_EQ((*w)[kCmd1], 4);
  EXPECT_EQ((*w)[kPWMF], 100);
  EXPECT_EQ((*w)[kF7], 0x50);
  for (int i : {kF6, kF8, kF9, kF10}) EXPECT_EQ((*w)[i], 0) << "byte " << i;
  EXPECT_EQ(f().Frequency, r.hz) << "the encoding leaves Frequency alone";
  EXPECT_EQ(f().ModelNum, r.model);
  EXPECT_EQ(f().Cmd1Val, 4);
  EXPECT_EQ(f().Mnum, 0x50);
  EXPECT_EQ(f().TextFreq.BackColor(), kGreen);
  EXPECT_TRUE(p.op.events.empty()) << "no box, no beep";
}

const WordRow kWordRows[] = {
    {"ZeroNoModel", std::nullopt, 0, {255, 255, 255, 255, 255}},
    {"Zero10", 10, 0, {255, 255, 255, 255, 255}},
    {"Zero160", 160, 0, {255, 255, 255, 255, 255}},
    {"Zero3200", 3200, 0, {255, 255, 255, 255, 255}},
    {"Pts500Example", 500, 123456789.3, {27, 197, 150, 206, 159}},
    {"Pts160At145MHz", 160, 145000000, {255, 255, 255, 215, 128}},
    {"Pts160Below100MHz", 160, 99999999.9, {89, 89, 89, 89, 125}},
    {"Pts160At100MHz", 160, 100000000, {255, 255, 255, 255, 129}},
    {"Pts160Top", 160, 159999999.9, {89, 89, 89, 89, 0}},
    {"Pts3200Example", 3200, 2345678901, {127, 121, 38, 118, 47}},
    {"Pts3200Top", 3200, 3199999999, {89, 89, 89, 89, 79}},
    {"Pts3200UnitsInTenthsPlace", 3200, 1000000007, {2 + 60, 255, 255, 255, 195 + 28}},
    {"Pts1000Top", 1000, 999999999.9, {89, 89, 89, 89, 89}},
    // Tenths, rounded half up from the fraction the split leaves in doubles.
    {"Tenths1004", 500, 10.04, {255, 127, 255, 255, 255}},
    {"Tenths1005", 500, 10.05, {127, 127, 255, 255, 255}},
    {"Tenths1015", 500, 10.15, {191, 127, 255, 255, 255}},
    {"Tenths100025", 500, 1000.25, {63, 255, 127, 255, 255}},
    {"Tenths745", 500, 7.45, {66 + 4, 255, 255, 255, 255}},
    {"Tenths1094", 500, 10.94, {125, 127, 255, 255, 255}},
    {"Tenths1095", 500, 10.95, {125, 127, 255, 255, 255}},
    // A fraction that rounds to a whole unit carries into the digits above.
    {"CarryTo11", 500, 10.96, {195 + 28, 127, 255, 255, 255}},
    {"CarryRipplesTo100", 500, 99.97, {255, 195 + 28, 255, 255, 255}},
    {"CarryRipplesTo1MHz", 500, 999999.99, {255, 255, 255, 195 + 28, 255}},
    {"Pts3200CarryTo20", 3200, 19.5, {195 + 44, 255, 255, 255, 255}},
    {"Pts160CarryTo100MHz", 160, 99999999.96, {255, 255, 255, 255, 129}},
};
INSTANTIATE_TEST_SUITE_P(Rows, EncodeWord, ::testing::ValuesIn(kWordRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusalRow {
  const char* name;
  std::optional<int16_t> model;
  double hz;
  const char* message;  // nullptr: refused with a beep and no box
};
std::ostream& operator<<(std::ostream& os, const RefusalRow& r) {
  return os << r.name;
}

class EncodeRefusal : public Encode, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(EncodeRefusal, NothingIsSent) {
  const RefusalRow& r = GetParam();
  f().TextFreq.BackColor(kRed);
  f().DevNum = 1;
  const auto w = Send(r.model, r.hz);
  EXPECT_FALSE(w.has_value());
  EXPECT_EQ(f().TextFreq.BackColor(), kRed) << "the box keeps its colour";
  EXPECT_EQ(f().DevNum, 1) << "no unit was visited";
  if (r.message) {
    ASSERT_EQ(p.op.boxes.size(), 1u);
    EXPECT_EQ(p.op.boxes[0].text, r.message);
    EXPECT_EQ(p.op.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(p.op.boxes[0].icon, MsgIcon::None);
    EXPECT_EQ(p.op.boxes[0].title, "") << "the application's title";
    EXPECT_EQ(p.op.beeps, 0);
  } else {
    EXPECT_TRUE(p.op.boxes.empty());
    EXPECT_EQ(p.op.beeps, 1);
  }
  if (!std::isnan(r.hz)) {
    EXPECT_EQ(f().Frequency, r.hz);
  }
}

const RefusalRow kRefusalRows[] = {
    {"Pts160AtLimit", 160, 160000000, "Frequency >= 160 MHz is NOT Supported on PTS 160"},
    {"Pts10AtLimit", 10, 10000000, "Frequency >= 10 MHz is NOT Supported on PTS 10"},
    {"Pts3200AtLimit", 3200, 3200000000, "Frequency >= 3200 MHz is NOT Supported on PTS 3200"},
    {"NoModelAnyFrequency", std::nullopt, 0.1, "Frequency >=  MHz is NOT Supported on PTS "},
    {"NoModelLarge", std::nullopt, 5e9, "Frequency >=  MHz is NOT Supported on PTS "},
    // Rounding up to the model's resolution reaches the limit.
    {"Pts160RoundsToLimit", 160, 159999999.97, "Frequency >= 160 MHz is NOT Supported on PTS 160"},
    {"Pts1000RoundsToLimit", 1000, 999999999.96,
     "Frequency >= 1000 MHz is NOT Supported on PTS 1000"},
    {"Pts3200RoundsToLimit", 3200, 3199999999.6,
     "Frequency >= 3200 MHz is NOT Supported on PTS 3200"},
    // Values with no digits in the word.
    {"Negative", 500, -1, nullptr},
    {"NegativeTenth", 500, -0.1, nullptr},
    {"NegativeNoModel", std::nullopt, -5, nullptr},
    {"NaN", 500, kNaN, nullptr},
    {"Infinity", 500, kInf, nullptr},
    {"MinusInfinity", 500, -kInf, nullptr},
    {"BeyondTenDigits", 5000, 2e9, nullptr},  // a model number the table does not know
};
INSTANTIATE_TEST_SUITE_P(Rows, EncodeRefusal, ::testing::ValuesIn(kRefusalRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Encode, LevelKnobSetsPwmdcAndPwmfStaysAt100) {
  for (auto [knob, pwm] : {std::pair{3, 48}, {13, 141}, {8, 82}}) {
    f().Knob1(10).Value(knob);
    const auto w = Send(500, 1000);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ((*w)[kPWMDC], pwm) << "knob " << knob;
    EXPECT_EQ((*w)[kPWMF], 100);
  }
}

TEST_F(Encode, UnsetCommandAndModelCodeGoOutAsZero) {
  f().Cmd1Val.reset();
  f().Mnum.reset();
  const auto w = Send(500, 1000);
  ASSERT_TRUE(w.has_value());
  EXPECT_EQ((*w)[kCmd1], 0);
  EXPECT_EQ((*w)[kF7], 0);
  EXPECT_FALSE(f().Cmd1Val.has_value());
  EXPECT_FALSE(f().Mnum.has_value());
}

class EncodeTwoBoards : public Encode {
 protected:
  EncodeTwoBoards() : Encode({0x2E, 0x2C}) {}
};

TEST_F(EncodeTwoBoards, EveryBoardGetsTheSameWord) {
  f().Cmd1Val = 4;
  f().Mnum = 0x20;
  Send(160, 122222222.2);
  for (int board : {1, 2}) {
    ASSERT_EQ(p.backend.Received(board).size(), 1u) << "board " << board;
    EXPECT_EQ(Digits(p.backend.Received(board)[0]), (F15{175, 175, 175, 175, 192}));
    EXPECT_EQ(p.backend.Received(board)[0][kF7], 0x20);
  }
  EXPECT_EQ(f().DevNum, 3) << "the loop index ends past the last unit";
}

TEST_F(EncodeTwoBoards, FailedWriteBeepsOnceAndTheOtherBoardIsStillWritten) {
  p.backend.FailNextWrites(1, 1);
  Send(160, 1000);
  EXPECT_EQ(p.op.beeps, 1);
  EXPECT_TRUE(p.op.boxes.empty());
  EXPECT_TRUE(p.backend.Received(1).empty());
  ASSERT_EQ(p.backend.Received(2).size(), 1u);
  EXPECT_EQ(f().TextFreq.BackColor(), kGreen);
  ASSERT_EQ(f().Devices.size(), 2u) << "a failed write does not drop the board";

  Send(160, 2000);
  EXPECT_EQ(p.backend.Received(1).size(), 1u) << "the next send reaches it again";
}

TEST_F(EncodeTwoBoards, BoardFoundGoneDuringTheSendDoesNotStopTheLoop) {
  p.backend.Unplug(1);  // the write discovers it before the hot-plug event is handled
  Send(160, 1000);
  ASSERT_EQ(f().Devices.size(), 1u);
  ASSERT_EQ(p.backend.Received(2).size(), 1u);
  EXPECT_EQ(Digits(p.backend.Received(2)[0]), (F15{255, 255, 127, 255, 255}));
  EXPECT_EQ(f().DevNum, 2);

  Send(160, 2000);
  EXPECT_EQ(p.backend.Received(2).size(), 2u) << "the re-bound board keeps receiving";
}

TEST(EncodeNoBoards, TurnsGreenWithoutSending) {
  PanelFixture p({}, PanelStart::Constructed);
  p.form.ModelNum = 500;
  p.form.Frequency = 1000;
  p.form.TranslateFrequency();
  EXPECT_EQ(p.form.TextFreq.BackColor(), kGreen);
  EXPECT_TRUE(p.op.events.empty());
  EXPECT_EQ(p.form.DevNum, 1);
}

}  // namespace
}  // namespace pts::testing
