// A panel on simulated boards for the sweep tests: fills the sweep's boxes,
// drives TmrDwell ticks and decodes what board 1 received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "panel/encoding.h"
#include "panel/number_text.h"
#include "support/panel_fixture.h"

namespace pts::testing {

inline constexpr const char* kMissingInput =
    "Stop Frequency, Frequency Step, and Sweep Time must be entered before sweep can be started";
inline constexpr const char* kDwellTooShort =
    "Dwell time at each frequency < 1ms.  Please increase sweep time of frequency step.";
inline constexpr const char* kDwellTooLong =
    "Dwell time at each frequency > 2147483647ms.  Please decrease sweep time or increase "
    "frequency step.";
inline constexpr double kNothing = -1;  // a tick that sends nothing

inline int DigitOf(const std::array<uint8_t, 10>& table, int bits) {
  const auto it = std::find(table.begin(), table.end(), bits);
  EXPECT_NE(it, table.end()) << "no digit has the code " << bits;
  return static_cast<int>(it - table.begin());
}

// The frequency in a word, for any model but the PTS 3200 (below 100 MHz on a PTS 160).
inline double Decode(const hid::OutputWord& w) {
  double hz = 0, weight = 0.1;
  for (int f = kF1; f <= kF5; ++f) {
    hz += DigitOf(kLowDigitCode, w[f] & 0xC3) * weight;
    hz += DigitOf(kHighDigitCode, w[f] & 0x3C) * weight * 10;
    weight *= 100;
  }
  return std::round(hz * 10) / 10;
}

struct Lights {
  bool start, stop, sngl;
  bool operator==(const Lights&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Lights& l) {
  return os << "start=" << l.start << " stop=" << l.stop << " sngl=" << l.sngl;
}

// Records a control's Enabled writes (a restarted timer shows false, true).
struct EnabledLog : ControlObserver {
  void Changed(Control& c, Prop p) override {
    if (p == Prop::Enabled) log.push_back(c.Enabled());
  }
  std::vector<bool> log;
};

class SweepRig {
 public:
  // PTS 500 boards unless the test sets another model.
  explicit SweepRig(std::vector<uint8_t> boards = {0x5E}) : p(std::move(boards)) { Model(500); }

  MainForm& f() { return p.form; }
  void Model(int16_t model_num) {
    f().ModelNum = model_num;
    f().Mnum = static_cast<int16_t>(model_num == 10 ? 0x10 : 0x50);
  }
  void Boxes(const char* start, const char* stop, const char* step, const char* time) {
    f().TextFreq.Text(start);
    f().TextFreqStop.Text(stop);
    f().TextFreqStep.Text(step);
    f().TextSweepTime.Text(time);
  }
  size_t Words(int board = 1) { return p.backend.Received(board).size(); }
  // One tick and its dwell (the step's writes, which it does not wait for,
  // are done by the end of it); what board 1 received (kNothing when
  // nothing). Every step goes out with command 4 and shows its frequency in the box.
  double Tick() {
    const size_t before = Words();
    f().TmrDwell_Timer();
    f().Agent().WaitWrites();
    const auto& got = p.backend.Received(1);
    if (got.size() == before) return kNothing;
    EXPECT_EQ(got.size(), before + 1);
    EXPECT_EQ(got.back()[kCmd1], 4);
    const double hz = Decode(got.back());
    EXPECT_EQ(f().TextFreq.Text(), FormatNumber(hz));
    return hz;
  }
  std::vector<double> Ticks(int n) {
    std::vector<double> sent;
    for (int i = 0; i < n; ++i) sent.push_back(Tick());
    return sent;
  }
  Lights Lit() { return {f().StartLED.Filled(), f().StopLED.Filled(), f().SnglLED.Filled()}; }

  PanelFixture p;
};

class Sweep : public ::testing::Test, public SweepRig {};

}  // namespace pts::testing
