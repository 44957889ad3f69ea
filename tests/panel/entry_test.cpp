// Frequency box, key filter, knobs and digit labels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "panel/mainform.h"
#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

using Digits = std::vector<int32_t>;
using Labels = std::vector<std::string>;

// A panel without boards and without start-up: entry needs neither.
struct Entry : ::testing::Test {
  PanelFixture p{{}, PanelStart::Constructed};
  MainForm& f = p.form;
};

struct TypedRow {
  const char* name;
  std::optional<int16_t> model;
  std::string typed;
  std::string text;  // what the box then holds
  double frequency;
  Digits knobs;
  Labels labels;
};

class Typing : public Entry, public ::testing::WithParamInterface<TypedRow> {};

TEST_P(Typing, SetsFrequencyKnobsAndDigits) {
  const TypedRow& row = GetParam();
  f.ModelNum = row.model;
  p.Enter(row.typed);
  EXPECT_EQ(f.TextFreq.Text(), row.text);
  EXPECT_EQ(f.Frequency, row.frequency);
  EXPECT_EQ(p.Knobs(), row.knobs);
  EXPECT_EQ(p.Digits(), row.labels);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Typing,
    ::testing::Values(TypedRow{"Tenths",
                               500,
                               "123456789.1",
                               "123456789.1",
                               123456789.1,
                               {1, 2, 3, 4, 5, 6, 7, 8, 9, 1},
                               {"1", "2", "3", "4", "5", "6", "7", "8", "9", "1"}},
                      TypedRow{"TenthsWithoutModel",
                               std::nullopt,
                               "123456789.3",
                               "123456789.3",
                               123456789.3,
                               {1, 2, 3, 4, 5, 6, 7, 8, 9, 3},
                               {"1", "2", "3", "4", "5", "6", "7", "8", "9", "3"}},
                      TypedRow{"TwelfthCharacterCut",
                               160,
                               "123456789.12",
                               "123456789.1",
                               123456789.1,
                               {1, 2, 3, 4, 5, 6, 7, 8, 9, 1},
                               {"1", "2", "3", "4", "5", "6", "7", "8", "9", "1"}},
                      TypedRow{"Pts3200KeepsHertz",
                               3200,
                               "3200000000",
                               "3200000000",
                               3200000000,
                               {3, 2, 0, 0, 0, 0, 0, 0, 0, 0},
                               {"3", "2", "0", "0", "0", "0", "0", "0", "0", "0"}},
                      TypedRow{"Pts3200EleventhCharacterCut",
                               3200,
                               "12345678901",
                               "1234567890",
                               1234567890,
                               {1, 2, 3, 4, 5, 6, 7, 8, 9, 0},
                               {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"}},
                      TypedRow{"SecondPointEndsTheNumber",
                               500,
                               "1.2.3",
                               "1.2.3",
                               1.2,
                               {0, 0, 0, 0, 0, 0, 0, 0, 1, 2},
                               {"0", "0", "0", "0", "0", "0", "0", "0", "1", "2"}},
                      TypedRow{"LeadingPoint",
                               500,
                               ".5",
                               ".5",
                               0.5,
                               {0, 0, 0, 0, 0, 0, 0, 0, 0, 5},
                               {"0", "0", "0", "0", "0", "0", "0", "0", "0", "5"}},
                      TypedRow{"LettersFiltered",
                               500,
                               "7a-b\r8",
                               "78",
                               78,
                               {0, 0, 0, 0, 0, 0, 0, 7, 8, 0},
                               {"0", "0", "0", "0", "0", "0", "0", "7", "8", "0"}},
                      TypedRow{"Backspace",
                               500,
                               "129\b5",
                               "125",
                               125,
                               {0, 0, 0, 0, 0, 0, 1, 2, 5, 0},
                               {"0", "0", "0", "0", "0", "0", "1", "2", "5", "0"}},
                      // Eleven digits fit the box: the first label shows the whole number,
                      // the knob stops at 9.
                      TypedRow{"ElevenDigits",
                               500,
                               "99999999999",
                               "99999999999",
                               99999999999,
                               {9, 9, 9, 9, 9, 9, 9, 9, 9, 0},
                               {"999", "9", "9", "9", "9", "9", "9", "9", "9", "0"}},
                      // Two decimals can round the tenths up to 10.
                      TypedRow{"TenthsOfTen",
                               500,
                               "10.96",
                               "10.96",
                               10.96,
                               {0, 0, 0, 0, 0, 0, 0, 1, 0, 9},
                               {"0", "0", "0", "0", "0", "0", "0", "1", "0", "10"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Entry, EmptyBoxIsZero) {
  p.Enter("5");
  p.Type("\b");
  EXPECT_EQ(f.TextFreq.Text(), "");
  EXPECT_EQ(f.Frequency, 0);
  EXPECT_EQ(p.Knobs(), Digits(10, 0));
}

TEST_F(Entry, ChangeClearsTheSentColour) {
  p.Enter("5");
  f.TextFreq.BackColor(kGreen);
  p.Type("1");
  EXPECT_EQ(f.TextFreq.BackColor(), kWindowBackground);
}

TEST_F(Entry, FocusEmptiesTheBoxAndZeroesTheKnobs) {
  p.Enter("123456789.3");
  f.TextFreq.BackColor(kGreen);
  f.TextFreq_GotFocus();
  EXPECT_EQ(f.TextFreq.Text(), "");
  EXPECT_EQ(f.Frequency, 0);
  EXPECT_EQ(p.Knobs(), Digits(10, 0));
  EXPECT_EQ(p.Digits(), Labels(10, "0"));
  // Also when the box is empty already (a sent empty box is green too).
  f.TextFreq.BackColor(kGreen);
  f.TextFreq_GotFocus();
  EXPECT_EQ(f.TextFreq.BackColor(), kWindowBackground);
}

TEST_F(Entry, SelectingAModelLeavesTextAndKnobsUntilTheNextEdit) {
  p.Enter("12345678901");  // eleven characters: fine for the normal models
  f.mnuPTS3200_Click();
  EXPECT_EQ(f.TextFreq.Text(), "12345678901");
  EXPECT_EQ(f.Frequency, 12345678901);
  EXPECT_EQ(p.Knobs()[0], 9);  // d0 = 123, knob clamped
  f.TextFreq_Change();         // the next change applies the PTS 3200 limit and weights
  EXPECT_EQ(f.TextFreq.Text(), "1234567890");
  EXPECT_EQ(p.Knobs(), (Digits{1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));
}

// ---- Knobs ----

struct KnobRow {
  const char* name;
  std::optional<int16_t> model;
  int knob;
  int32_t value;
  std::string text;
  double frequency;
};

class Turning : public Entry, public ::testing::WithParamInterface<KnobRow> {};

TEST_P(Turning, WritesTheTextFromAllKnobs) {
  const KnobRow& row = GetParam();
  f.ModelNum = row.model;
  f.Knob1_Change(0);  // as activation does: the box shows the knobs
  p.TurnKnob(row.knob, row.value);
  EXPECT_EQ(f.TextFreq.Text(), row.text);
  EXPECT_EQ(f.Frequency, row.frequency);
  EXPECT_EQ(f.Knob1(row.knob).Value(), row.value);
}

INSTANTIATE_TEST_SUITE_P(Rows, Turning,
                         ::testing::Values(KnobRow{"TenthsKnob", 500, 9, 3, "0.3", 0.3},
                                           KnobRow{"TenthsKnobNoModel", {}, 9, 5, "0.5", 0.5},
                                           KnobRow{"Pts3200UnitsKnob", 3200, 9, 5, "5", 5},
                                           KnobRow{"MHzKnob", 500, 2, 7, "7000000", 7000000},
                                           KnobRow{"TopKnob", 1000, 0, 9, "900000000", 9e8},
                                           KnobRow{"Pts3200TopKnob", 3200, 0, 3, "3000000000",
                                                   3e9}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Entry, KnobTurnLeavesDigitsWithoutBlankAndLevelWithBlank) {
  f.ModelNum = 500;
  f.Knob1_Change(0);
  p.TurnKnob(2, 7);
  EXPECT_EQ(f.TextFreq.Text(), "7000000");
  EXPECT_EQ(f.D(2).Caption(), "7");
  EXPECT_EQ(f.D(0).Caption(), "0");
  EXPECT_EQ(f.D(10).Caption(), " 3");
}

TEST_F(Entry, KnobsDoNotCarry) {
  f.ModelNum = 500;
  p.Enter("999999999.9");
  p.TurnKnob(9, 9);  // no change, but the turn still refreshes
  p.TurnKnob(8, 0);
  EXPECT_EQ(f.TextFreq.Text(), "999999990.9");
  EXPECT_EQ(p.Knobs(), (Digits{9, 9, 9, 9, 9, 9, 9, 9, 0, 9}));
}

TEST_F(Entry, LevelKnobRewritesLevelAndText) {
  f.ModelNum = 500;
  p.Enter("123456789.3");
  f.TextFreq.BackColor(kGreen);  // as after a send
  p.TurnKnob(10, 7);
  EXPECT_EQ(f.D(10).Caption(), " 7");
  EXPECT_EQ(f.TextFreq.Text(), "123456789.3");
  EXPECT_EQ(f.Frequency, 123456789.3);
  // The rewrite runs the change handling although the text is the same: the
  // digits lose the blank again and the box is no longer marked as sent.
  EXPECT_EQ(p.Digits(), (Labels{"1", "2", "3", "4", "5", "6", "7", "8", "9", "3"}));
  EXPECT_EQ(f.TextFreq.BackColor(), kWindowBackground);
}

TEST_F(Entry, KnobsUseTheirClampedPositions) {
  f.ModelNum = 500;
  p.Enter("99999999999");  // first digit 999, knob at 9
  p.TurnKnob(9, 1);
  EXPECT_EQ(f.TextFreq.Text(), "999999999.1");
  EXPECT_EQ(f.D(0).Caption(), "9");
}

// ---- Key filter ----

TEST(LimitTextInput, KeepsDigitsPointAndBackspaceOnly) {
  for (int code = -200; code < 400; ++code) {
    const bool keep = code == 8 || code == '.' || (code >= '0' && code <= '9');
    EXPECT_EQ(MainForm::LimitTextInput(static_cast<int16_t>(code)), keep ? code : 0) << code;
  }
}

TEST_F(Entry, BothFrequencyBoxesFilterKeys) {
  for (int16_t code : {int16_t{'5'}, int16_t{'.'}, int16_t{8}, int16_t{'-'}, int16_t{13},
                       int16_t{22}, int16_t{'e'}}) {
    int16_t a = code, b = code;
    f.TextFreq_KeyPress(a);
    f.TextFreqStop_KeyPress(b);
    EXPECT_EQ(a, MainForm::LimitTextInput(code));
    EXPECT_EQ(b, MainForm::LimitTextInput(code));
  }
}

// ---- Text that got past the key filter (pasted) ----

struct PasteRow {
  const char* name;
  std::optional<int16_t> model;
  std::string pasted;
  Labels labels;  // empty: not checked
};

class Pasting : public Entry, public ::testing::WithParamInterface<PasteRow> {};

TEST_P(Pasting, KnobsStayInRangeAndLabelsStaySane) {
  const PasteRow& row = GetParam();
  f.ModelNum = row.model;
  f.TextFreq.Text(row.pasted);
  for (int i = 0; i <= 10; ++i) {
    EXPECT_GE(f.Knob1(i).Value(), f.Knob1(i).Min()) << i;
    EXPECT_LE(f.Knob1(i).Value(), f.Knob1(i).Max()) << i;
    EXPECT_LE(f.D(i).Caption().size(), 16u) << i;
  }
  if (!row.labels.empty()) {
    EXPECT_EQ(p.Digits(), row.labels);
  }
  // A knob turn afterwards writes an ordinary frequency.
  p.TurnKnob(4, 1);
  EXPECT_TRUE(std::isfinite(f.Frequency));
  EXPECT_GE(f.Frequency, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Pasting,
    ::testing::Values(
        PasteRow{"Negative", 500, "-5", {"-1", "9", "9", "9", "9", "9", "9", "9", "5", "0"}},
        PasteRow{"NegativeTenths", 500, "-0.3", {}},
        PasteRow{"Exponent", 500, "1e5", {"0", "0", "0", "1", "0", "0", "0", "0", "0", "0"}},
        PasteRow{"HugeExponent", 500, "1e30", {}},
        PasteRow{"Infinite", 500, "1e400", Labels(10, "?")},
        PasteRow{"MinusInfinite", 500, "-1e400", Labels(10, "?")},
        PasteRow{"Pts3200Infinite", 3200, "9e999", Labels(10, "?")},
        PasteRow{"Pts3200Negative", 3200, "-99", {}},
        PasteRow{"Letters", 500, "abc", Labels(10, "0")},
        PasteRow{"TenThousandNines",
                 500,
                 std::string(10000, '9'),
                 {"999", "9", "9", "9", "9", "9", "9", "9", "9", "0"}},
        PasteRow{"TenThousandNinesPts3200", 3200, std::string(10000, '9'), Labels(10, "9")},
        PasteRow{"NegativeZero", 500, "-0", Labels(10, "0")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Entry, InfiniteTextLeavesKnobsAtTheirEnds) {
  f.TextFreq.Text("1e400");
  EXPECT_EQ(f.Frequency, std::numeric_limits<double>::infinity());
  EXPECT_EQ(f.Knob1(0).Value(), 9);
  EXPECT_EQ(f.Knob1(1).Value(), 0);  // the rest of the split is not a number
}

TEST_F(Entry, CutNeverSplitsACharacter) {
  f.ModelNum = 500;
  const std::string euro = "\xE2\x82\xAC";
  f.TextFreq.Text("1234567890" + euro + "5");  // twelve characters, fourteen bytes
  EXPECT_EQ(f.TextFreq.Text(), "1234567890" + euro);
  EXPECT_EQ(f.Frequency, 1234567890);
}

}  // namespace
}  // namespace pts::testing
