// Bad input through the handlers the operator reaches: text pasted into the
// four boxes (the key filter does not see a paste), then Send, Start or
// Single; knobs moved past their range, then Knob1_Change. Each row states
// what the operator sees (a box, a refusal beep or nothing) and what the board
// receives. That no table index leaves its range is shown by the sanitizer
// build (ASan and UBSan without recovery), which runs these rows too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "panel/encoding.h"
#include "panel/number_text.h"
#include "sweep_rig.h"

namespace pts::testing {
namespace {

constexpr int16_t kModelNums[] = {10, 160, 200, 310, 500, 620, 1000, 3200};
constexpr int16_t kModelCodes[] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};

std::optional<int16_t> CodeOf(std::optional<int16_t> model) {
  for (size_t i = 0; i < std::size(kModelNums); ++i) {
    if (model == kModelNums[i]) return kModelCodes[i];
  }
  return std::nullopt;
}

std::string LimitBox(std::optional<int16_t> model) {
  const std::string m = model ? std::to_string(*model) : "";
  return "Frequency >= " + m + " MHz is NOT Supported on PTS " + m;
}

// The frequency a word carries, written as the panel writes numbers: the
// PTS 160 code for 100 MHz and more, and the PTS 3200's tenfold weights.
std::string WordHz(const hid::OutputWord& w, std::optional<int16_t> model) {
  double v = 0, weight = 0.1;
  for (int f = kF1; f <= kF5; ++f, weight *= 100) {
    if (f == kF5 && model == 160 && (w[f] & 0x3C) == 0) {
      const auto it = std::find(kTens160Code.begin(), kTens160Code.end(), w[f]);
      EXPECT_NE(it, kTens160Code.end()) << "no PTS 160 code " << int{w[f]};
      v += (10 + (it - kTens160Code.begin())) * weight;
      break;
    }
    v += DigitOf(kLowDigitCode, w[f] & 0xC3) * weight;
    v += DigitOf(kHighDigitCode, w[f] & 0x3C) * weight * 10;
  }
  return FormatNumber(model == 3200 ? std::round(v * 10) : std::round(v * 10) / 10);
}

// What the operator sees on a send.
enum class Sees { Nothing, Beep, LimitBox };

// One PTS 500 board, loaded and activated; each row sets its own model.
class Panel {
 protected:
  Panel() : p({0x5E}) { p.Hotplug(); }
  MainForm& f() { return p.form; }
  void Model(std::optional<int16_t> model) {
    f().ModelNum = model;
    f().Mnum = CodeOf(model);
  }
  void ExpectKnobsInRange() {
    for (int i = 0; i < 10; ++i) {
      EXPECT_GE(f().Knob1(i).Value(), 0) << "Knob1(" << i << ")";
      EXPECT_LE(f().Knob1(i).Value(), 9) << "Knob1(" << i << ")";
    }
  }
  // Checks what a send showed and sent; no `sent`: nothing reached the board.
  void ExpectSend(Sees sees, const std::optional<std::string>& sent, std::optional<int16_t> model,
                  uint64_t before) {
    switch (sees) {
      case Sees::Nothing:
        EXPECT_TRUE(p.op.boxes.empty()) << p.op.Texts()[0];
        EXPECT_EQ(p.op.beeps, 0);
        break;
      case Sees::Beep:
        EXPECT_TRUE(p.op.boxes.empty()) << p.op.Texts()[0];
        EXPECT_EQ(p.op.beeps, 1);
        break;
      case Sees::LimitBox:
        EXPECT_EQ(p.op.Texts(), std::vector<std::string>{LimitBox(model)});
        EXPECT_EQ(p.op.beeps, 0);
        break;
    }
    if (!sent) {
      EXPECT_EQ(p.backend.TotalReceived(1), before) << "nothing is sent";
      EXPECT_NE(f().TextFreq.BackColor(), kGreen);
      return;
    }
    ASSERT_EQ(p.backend.TotalReceived(1), before + 1);
    const hid::OutputWord w = p.backend.Received(1).back();
    EXPECT_EQ(WordHz(w, model), *sent);
    EXPECT_EQ(w[kCmd1], 4);
    EXPECT_EQ(w[kF7], CodeOf(model).value_or(0));
    EXPECT_EQ(f().TextFreq.BackColor(), kGreen);
  }

  PanelFixture p;
};

// ---- TextFreq pasted, then Send ----

// Optional texts in the rows.
const std::optional<std::string> kAsPasted;  // TextFreq keeps the pasted text
const std::optional<std::string> kNoSend;    // nothing reaches the board

struct SendRow {
  std::string name;
  std::optional<int16_t> model;
  std::string pasted;
  std::optional<std::string> shown;  // TextFreq afterwards
  Sees sees;
  std::optional<std::string> sent;  // the frequency the board receives
};
void PrintTo(const SendRow& r, std::ostream* os) {
  *os << r.name;
}

class PastedSend : public Panel, public ::testing::TestWithParam<SendRow> {};

TEST_P(PastedSend, ShowsAndSends) {
  const SendRow& r = GetParam();
  Model(r.model);
  f().TextFreq.Text(r.pasted);
  EXPECT_EQ(f().TextFreq.Text(), r.shown.value_or(r.pasted));
  ExpectKnobsInRange();
  p.op.Clear();
  const uint64_t before = p.backend.TotalReceived(1);
  f().CmdSend_Click();
  EXPECT_TRUE(f().SendLED.Filled());
  ExpectSend(r.sees, r.sent, r.model, before);
}

const std::string kTenThousand9(10000, '9');
const std::string kFullwidth500 = "\xEF\xBC\x95\xEF\xBC\x90\xEF\xBC\x90";  // "５００"
const std::string kMicro = "\xC2\xB5";                                     // "µ"
const std::string kEmoji = "\xF0\x9F\x98\x80";                             // U+1F600

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::vector<SendRow> SendRows() {
  const auto N = Sees::Nothing;
  std::vector<SendRow> rows = {
      {"Empty", 500, "", kAsPasted, N, "0"},
      {"Blanks", 500, "   ", kAsPasted, N, "0"},
      {"BlanksBetweenDigits", 500, " 1 2 3 ", kAsPasted, N, "123"},
      {"TabsAndLineBreaks", 500, "\t12\r\n", kAsPasted, N, "12"},
      {"Letters", 500, "abc", kAsPasted, N, "0"},
      {"DigitsThenLetters", 500, "123abc", kAsPasted, N, "123"},
      {"Hex", 500, "0x1F", kAsPasted, N, "0"},
      {"NanText", 500, "nan", kAsPasted, N, "0"},
      {"InfText", 500, "inf", kAsPasted, N, "0"},
      {"EmbeddedNul", 500,
       std::string("12\0"
                   "3",
                   4),
       kAsPasted, N, "12"},
      {"Plus", 500, "+5", kAsPasted, N, "5"},
      {"Minus", 500, "-5", kAsPasted, Sees::Beep, kNoSend},
      {"MinusZero", 500, "-0", kAsPasted, N, "0"},
      {"MinusTenth", 500, "-.1", kAsPasted, Sees::Beep, kNoSend},
      {"SignsOnly", 500, "+-", kAsPasted, N, "0"},
      {"Exponent", 500, "1e3", kAsPasted, N, "1000"},
      {"ExponentUpperCase", 500, "2E6", kAsPasted, N, "2000000"},
      {"ExponentD", 500, "1d3", kAsPasted, N, "1000"},
      {"ExponentWithoutDigits", 500, "7e", kAsPasted, N, "7"},
      {"ExponentOverflow", 500, "1e400", kAsPasted, Sees::Beep, kNoSend},
      {"ExponentOverflowNegative", 500, "-1e400", kAsPasted, Sees::Beep, kNoSend},
      {"ExponentUnderflow", 500, "1e-400", kAsPasted, N, "0"},
      {"ExponentPastTheLimit", 500, "6e8", kAsPasted, Sees::LimitBox, kNoSend},
      {"SeveralPoints", 500, "1.2.3", kAsPasted, N, "1.2"},
      {"PointOnly", 500, ".", kAsPasted, N, "0"},
      {"LeadingPoint", 500, ".5", kAsPasted, N, "0.5"},
      {"TenthsCarry", 500, "10.96", kAsPasted, N, "11"},
      {"TenThousandNines", 500, kTenThousand9, "99999999999", Sees::LimitBox, kNoSend},
      {"TenThousandZeros", 500, std::string(10000, '0'), "00000000000", N, "0"},
      {"TenThousandLetters", 500, std::string(10000, 'x'), "xxxxxxxxxxx", N, "0"},
      {"TenThousandPoints", 500, std::string(10000, '.'), "...........", N, "0"},
      {"FullwidthDigits", 500, kFullwidth500, kAsPasted, N, "0"},
      {"Micro", 500, kMicro, kAsPasted, N, "0"},
      {"DigitThenMicro", 500, "5" + kMicro, kAsPasted, N, "5"},
      {"Emoji", 500, kEmoji, kAsPasted, N, "0"},
      {"DigitsThenEmoji", 500, "12" + kEmoji + "3", kAsPasted, N, "12"},
      // Cut at 11 characters, not bytes: the twelfth emoji goes whole.
      {"TwelveEmoji", 500, Repeat(kEmoji, 12), Repeat(kEmoji, 11), N, "0"},
      // Ten digits fit the PTS 3200 box, eleven the others'.
      {"Pts3200TenNines", 3200, "9999999999", kAsPasted, Sees::LimitBox, kNoSend},
      {"Pts3200ElevenDigitsCut", 3200, "31999999999", "3199999999", N, "3199999999"},
      {"Pts3200ElevenDigitsCutToTheLimit", 3200, "32000000000", "3200000000", Sees::LimitBox,
       kNoSend},
      {"Pts3200LeadingZeros", 3200, "0000000001", kAsPasted, N, "1"},
      {"Pts3200TenThousandNines", 3200, kTenThousand9, "9999999999", Sees::LimitBox, kNoSend},
      {"Pts1000TenNines", 1000, "9999999999", kAsPasted, Sees::LimitBox, kNoSend},
      {"Pts1000ElevenNines", 1000, "99999999999", kAsPasted, Sees::LimitBox, kNoSend},
      {"NoModelZero", std::nullopt, "0", kAsPasted, N, "0"},
      {"NoModelAnyFrequency", std::nullopt, "1", kAsPasted, Sees::LimitBox, kNoSend},
      {"NoModelNegative", std::nullopt, "-1", kAsPasted, Sees::Beep, kNoSend},
  };
  // Every model at its limit, just past it and just below it (0.1 Hz below;
  // 1 Hz for the PTS 3200, whose box has no tenths).
  for (const int16_t m : kModelNums) {
    const double limit = m * 1e6;
    const std::string tag = "Pts" + std::to_string(m);
    const std::string below = FormatNumber(m == 3200 ? limit - 1 : limit - 0.1);
    rows.push_back({tag + "AtLimit", m, FormatNumber(limit), kAsPasted, Sees::LimitBox, kNoSend});
    rows.push_back(
        {tag + "LimitPlus1", m, FormatNumber(limit + 1), kAsPasted, Sees::LimitBox, kNoSend});
    rows.push_back({tag + "JustBelow", m, below, kAsPasted, N, below});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, PastedSend, ::testing::ValuesIn(SendRows()),
                         [](const auto& info) { return info.param.name; });

// The same texts typed through the key filter: only digits and points reach
// the box, and Send sends what the box shows.
class TypedSend : public Panel, public ::testing::TestWithParam<SendRow> {};

TEST_P(TypedSend, FilterKeepsDigitsAndPoints) {
  const SendRow& r = GetParam();
  Model(r.model);
  p.Enter(r.pasted);
  const std::string box = f().TextFreq.Text();
  EXPECT_EQ(box.find_first_not_of("0123456789."), std::string::npos) << box;
  ExpectKnobsInRange();
  p.op.Clear();
  const uint64_t before = p.backend.TotalReceived(1);
  f().CmdSend_Click();
  EXPECT_EQ(p.op.beeps, 0) << "a typed text is never negative or infinite";
  const double hz = ReadNumber(box);
  if (hz > 0 && hz >= r.model.value_or(0) * 1e6) {
    ExpectSend(Sees::LimitBox, kNoSend, r.model, before);
  } else if (p.backend.TotalReceived(1) == before + 1) {
    // Within the model's resolution of what the box shows.
    const double got = ReadNumber(WordHz(p.backend.Received(1).back(), r.model));
    EXPECT_NEAR(got, hz, r.model == 3200 ? 1 : 0.1) << box;
  } else {
    ADD_FAILURE() << "nothing was sent for " << box << " and no box was shown";
  }
}

// Texts short enough to type.
std::vector<SendRow> TypedRows() {
  std::vector<SendRow> rows = SendRows();
  std::erase_if(rows, [](const SendRow& r) { return r.pasted.size() > 100; });
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, TypedSend, ::testing::ValuesIn(TypedRows()),
                         [](const auto& info) { return info.param.name; });

// ---- The sweep's boxes, then Start and Single ----

enum Box { kStart, kStop, kStep, kTime };

struct SweepRow {
  std::string name;
  std::array<std::string, 4> boxes;  // TextFreq, TextFreqStop, TextFreqStep, TextSweepTime
  const char* message;               // shown by Start and Single; nullptr: none
  int32_t interval;   // the step timer's interval when the sweep runs; 0: it does not
  const char* first;  // what the first tick sends; nullptr: nothing, the limit box
};
void PrintTo(const SweepRow& r, std::ostream* os) {
  *os << r.name;
}

class SweepBoxes : public ::testing::TestWithParam<SweepRow> {};

TEST_P(SweepBoxes, StartAndSingle) {
  const SweepRow& r = GetParam();
  for (const bool single : {false, true}) {
    SCOPED_TRACE(single ? "Single" : "Start");
    PanelFixture p({0x5E});  // PTS 500
    MainForm& f = p.form;
    f.TextFreq.Text(r.boxes[kStart]);
    f.TextFreqStop.Text(r.boxes[kStop]);
    f.TextFreqStep.Text(r.boxes[kStep]);
    f.TextSweepTime.Text(r.boxes[kTime]);
    p.op.Clear();
    single ? f.CmdSngl_Click() : f.CmdStart_Click();
    if (r.message) {
      EXPECT_EQ(p.op.Texts(), std::vector<std::string>{r.message});
    } else {
      EXPECT_TRUE(p.op.boxes.empty()) << p.op.Texts()[0];
    }
    EXPECT_EQ(p.backend.TotalReceived(1), 0u) << "nothing is sent before the first tick";
    EXPECT_EQ(f.TmrDwell.Enabled(), r.interval > 0);
    EXPECT_EQ(f.StopLED.Filled(), r.interval == 0);
    if (r.interval == 0) continue;
    EXPECT_EQ(f.TmrDwell.Interval(), r.interval);

    p.op.Clear();
    f.TmrDwell_Timer();
    if (r.first) {
      ASSERT_EQ(p.backend.TotalReceived(1), 1u);
      EXPECT_EQ(WordHz(p.backend.Received(1).back(), 500), r.first);
      EXPECT_TRUE(p.op.boxes.empty());
    } else {
      EXPECT_EQ(p.backend.TotalReceived(1), 0u);
      EXPECT_EQ(p.op.Texts(), std::vector<std::string>{LimitBox(500)});
    }
    for (int i = 0; i < 25; ++i) f.TmrDwell_Timer();  // a few more steps, wrap included
  }
}

std::vector<SweepRow> SweepRows() {
  std::vector<SweepRow> rows;
  const std::array<std::string, 4> base = {"1000", "2000", "100", "1"};
  const char* const box_names[] = {"Start", "Stop", "Step", "Time"};
  const auto add = [&](Box box, const std::string& input, const std::string& text,
                       const char* message, int32_t interval, const char* first) {
    SweepRow r{box_names[box] + input, base, message, interval, first};
    r.boxes[box] = text;
    rows.push_back(r);
  };
  const char* const M = kMissingInput;
  const char* const S = kDwellTooShort;
  const char* const L = kDwellTooLong;

  // The start box may be empty: the sweep then starts at 0 (20 steps of 50 ms).
  for (const auto& [input, text] :
       std::vector<std::pair<std::string, std::string>>{{"Empty", ""},
                                                        {"Blanks", "   "},
                                                        {"Letters", "abc"},
                                                        {"Zero", "0"},
                                                        {"ExponentUnderflow", "1e-400"},
                                                        {"Fullwidth", kFullwidth500},
                                                        {"Micro", kMicro},
                                                        {"Emoji", kEmoji}}) {
    add(kStart, input, text, nullptr, 50, "100");
  }
  add(kStart, "Plus", "+1000", nullptr, 100, "1100");
  add(kStart, "Exponent", "1e3", nullptr, 100, "1100");
  add(kStart, "SeveralPoints", "1.2.3", nullptr, 50, "101.2");
  add(kStart, "Minus", "-1000", M, 0, nullptr);
  add(kStart, "ExponentOverflow", "1e400", M, 0, nullptr);
  // The box keeps 11 characters: 99 999 999 999 Hz down to 2000 Hz in 100 Hz steps.
  add(kStart, "TenThousandNines", kTenThousand9, S, 0, nullptr);
  add(kStart, "Enormous", "1e300", S, 0, nullptr);

  // An empty stop box is refused; any other text reads as a number, 0 when
  // it does not begin with one: the sweep then runs down to 0.
  add(kStop, "Empty", "", M, 0, nullptr);
  for (const auto& [input, text] :
       std::vector<std::pair<std::string, std::string>>{{"Blanks", "   "},
                                                        {"Letters", "abc"},
                                                        {"Zero", "0"},
                                                        {"ExponentUnderflow", "1e-400"},
                                                        {"Fullwidth", kFullwidth500},
                                                        {"Micro", kMicro},
                                                        {"Emoji", kEmoji}}) {
    add(kStop, input, text, nullptr, 100, "900");
  }
  add(kStop, "Plus", "+3000", nullptr, 50, "1100");
  add(kStop, "Exponent", "3e3", nullptr, 50, "1100");
  add(kStop, "SeveralPoints", "1.2.3", nullptr, 100, "900");
  add(kStop, "Minus", "-2000", M, 0, nullptr);
  add(kStop, "ExponentEqualsStart", "1e3", M, 0, nullptr);
  add(kStop, "ExponentOverflow", "1e400", M, 0, nullptr);
  add(kStop, "TenThousandNines", kTenThousand9, M, 0, nullptr);
  add(kStop, "Enormous", "1e300", S, 0, nullptr);

  // A step that reads as 0 or less gives no sweep.
  for (const auto& [input, text] :
       std::vector<std::pair<std::string, std::string>>{{"Empty", ""},
                                                        {"Blanks", "   "},
                                                        {"Letters", "abc"},
                                                        {"Zero", "0"},
                                                        {"Minus", "-100"},
                                                        {"ExponentUnderflow", "1e-400"},
                                                        {"ExponentOverflow", "1e400"},
                                                        {"TenThousandNines", kTenThousand9},
                                                        {"Fullwidth", kFullwidth500},
                                                        {"Micro", kMicro},
                                                        {"Emoji", kEmoji}}) {
    add(kStep, input, text, M, 0, nullptr);
  }
  add(kStep, "Plus", "+100", nullptr, 100, "1100");
  add(kStep, "Exponent", "1e2", nullptr, 100, "1100");
  add(kStep, "SeveralPoints", "1.2.3", nullptr, 1, "1001.2");
  add(kStep, "Tiny", "1e-300", S, 0, nullptr);
  add(kStep, "Enormous", "1e300", L, 0, nullptr);

  // A sweep time that reads as 0 or less leaves less than 1 ms per step.
  add(kTime, "Empty", "", M, 0, nullptr);
  for (const auto& [input, text] :
       std::vector<std::pair<std::string, std::string>>{{"Blanks", "   "},
                                                        {"Letters", "abc"},
                                                        {"Zero", "0"},
                                                        {"Minus", "-1"},
                                                        {"ExponentUnderflow", "1e-400"},
                                                        {"Fullwidth", kFullwidth500},
                                                        {"Micro", kMicro},
                                                        {"Emoji", kEmoji}}) {
    add(kTime, input, text, S, 0, nullptr);
  }
  add(kTime, "Plus", "+1", nullptr, 100, "1100");
  add(kTime, "Exponent", "1e0", nullptr, 100, "1100");
  add(kTime, "SeveralPoints", "1.2.3", nullptr, 120, "1100");
  add(kTime, "ExponentOverflow", "1e400", M, 0, nullptr);
  add(kTime, "TenThousandNines", kTenThousand9, M, 0, nullptr);
  add(kTime, "Enormous", "1e300", L, 0, nullptr);

  // Enormous stop and step: ten steps of 100 ms whose frequencies no model
  // takes. The box keeps 11 characters of each, so every step shows the limit box.
  rows.push_back({"EnormousStopAndStep", {"1000", "1e300", "1e299", "1"}, nullptr, 100, nullptr});
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, SweepBoxes, ::testing::ValuesIn(SweepRows()),
                         [](const auto& info) { return info.param.name; });

// ---- Knobs past their range, then Knob1_Change ----

struct KnobRow {
  std::string name;
  int16_t model;
  int knob;
  int32_t value;
  const char* text;  // TextFreq after the turn
  Sees sees;         // on the Send that follows
  const char* sent;  // nullptr: nothing
  int pwmdc;         // level rows: PWMDC sent; 0: not checked
};
void PrintTo(const KnobRow& r, std::ostream* os) {
  *os << r.name;
}

class KnobPastRange : public Panel, public ::testing::TestWithParam<KnobRow> {};

TEST_P(KnobPastRange, TurnThenSend) {
  const KnobRow& r = GetParam();
  Model(r.model);
  p.op.Clear();
  p.TurnKnob(r.knob, r.value);
  EXPECT_TRUE(p.op.boxes.empty());
  EXPECT_EQ(f().TextFreq.Text(), r.text);
  ExpectKnobsInRange();
  if (r.knob == 10) {
    EXPECT_EQ(f().D(10).Caption(), FormatSigned(r.value));
  }
  const uint64_t before = p.backend.TotalReceived(1);
  f().CmdSend_Click();
  ExpectSend(r.sees, r.sent ? std::optional<std::string>(r.sent) : kNoSend, r.model, before);
  if (r.pwmdc) {
    ASSERT_GT(p.backend.TotalReceived(1), before);
    EXPECT_EQ(p.backend.Received(1).back()[kPWMDC], r.pwmdc);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KnobPastRange,
    ::testing::Values(
        // 100 MHz knob.
        KnobRow{"Knob0Minus5", 500, 0, -5, "-500000000", Sees::Beep, nullptr, 0},
        KnobRow{"Knob0At10", 500, 0, 10, "1000000000", Sees::LimitBox, nullptr, 0},
        KnobRow{"Knob0At1000", 500, 0, 1000, "10000000000", Sees::LimitBox, nullptr, 0},
        // 10 kHz knob: the text carries what the knob cannot show.
        KnobRow{"Knob4Minus5", 500, 4, -5, "-50000", Sees::Beep, nullptr, 0},
        KnobRow{"Knob4At10", 500, 4, 10, "100000", Sees::Nothing, "100000", 0},
        KnobRow{"Knob4At1000", 500, 4, 1000, "10000000", Sees::Nothing, "10000000", 0},
        // Tenths knob.
        KnobRow{"Knob9Minus5", 500, 9, -5, "-0.5", Sees::Beep, nullptr, 0},
        KnobRow{"Knob9At10", 500, 9, 10, "1", Sees::Nothing, "1", 0},
        KnobRow{"Knob9At1000", 500, 9, 1000, "100", Sees::Nothing, "100", 0},
        // PTS 3200: ten times the weights; the box keeps ten characters.
        KnobRow{"Pts3200Knob9At10", 3200, 9, 10, "10", Sees::Nothing, "10", 0},
        KnobRow{"Pts3200Knob0At10", 3200, 0, 10, "1000000000", Sees::Nothing, "1000000000", 0},
        KnobRow{"Pts3200Knob0Minus5", 3200, 0, -5, "-500000000", Sees::Beep, nullptr, 0},
        // The level knob runs 3..13; beyond, the nearest end is sent.
        KnobRow{"LevelAt0", 500, 10, 0, "0", Sees::Nothing, "0", 48},
        KnobRow{"LevelMinus5", 500, 10, -5, "0", Sees::Nothing, "0", 48},
        KnobRow{"LevelAt14", 500, 10, 14, "0", Sees::Nothing, "0", 141},
        KnobRow{"LevelAt32767", 500, 10, 32767, "0", Sees::Nothing, "0", 141},
        KnobRow{"LevelAtInt32Max", 500, 10, INT32_MAX, "0", Sees::Nothing, "0", 141}),
    [](const auto& info) { return info.param.name; });

// Every knob at every extreme, for every model: the turn and the send stay
// within the knobs' and tables' ranges, and the board receives what the box
// shows or nothing (with a box or a beep).
TEST(KnobExtremes, EveryKnobEveryModel) {
  for (const int16_t m : kModelNums) {
    for (int k = 0; k <= 10; ++k) {
      for (const int32_t v : {-5, 10, 1000, 32767, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE("PTS " + std::to_string(m) + " Knob1(" + std::to_string(k) +
                     ")=" + std::to_string(v));
        PanelFixture p({0x5E});
        p.form.ModelNum = m;
        p.form.Mnum = CodeOf(m);
        p.TurnKnob(k, v);
        for (int i = 0; i < 10; ++i) {
          ASSERT_GE(p.form.Knob1(i).Value(), 0);
          ASSERT_LE(p.form.Knob1(i).Value(), 9);
        }
        ASSERT_LE(p.form.TextFreq.Text().size(), m == 3200 ? 10u : 11u);
        p.op.Clear();
        p.form.CmdSend_Click();
        const double hz = ReadNumber(p.form.TextFreq.Text());
        if (p.backend.TotalReceived(1) == 1) {
          EXPECT_TRUE(p.op.boxes.empty());
          EXPECT_EQ(p.op.beeps, 0);
          EXPECT_NEAR(ReadNumber(WordHz(p.backend.Received(1).back(), m)), hz, 1);
        } else if (hz < 0) {
          EXPECT_EQ(p.op.beeps, 1);
          EXPECT_TRUE(p.op.boxes.empty());
        } else {
          EXPECT_EQ(p.op.Texts(), std::vector<std::string>{LimitBox(m)});
        }
      }
    }
  }
}

}  // namespace
}  // namespace pts::testing
