#include <vector>

#include "hid/board.h"
#include "panel/encoding.h"
#include "panel/mainform.h"

namespace pts {

void MainForm::TranslateFrequency() {
  const int32_t level = Knob1(10).Value();
  const Encoding e = EncodeFrequency(Frequency, ModelNum, Cmd1Val, Mnum, level);
  BeginOutcome();
  switch (e.outcome) {
    case Encoding::Outcome::OverLimit:
      Refuse(Reason::kOverLimit, e.message);
      return;
    case Encoding::Outcome::Invalid:
      Refuse(Reason::kInvalidFrequency, "");
      return;
    case Encoding::Outcome::Word:
      break;
  }

  // Every unit is staged first, then the writes of all units go out together
  // (a real board's write blocks for its USB transfer) and the results are
  // taken in unit order. A write that finds its board gone closes the
  // interface while the results are taken, which removes and re-binds entries
  // of Devices: walk a copy, which also keeps every object alive meanwhile.
  const std::vector<std::shared_ptr<TPTS>> units = Devices;
  outcome_.sent = true;
  std::vector<int32_t> reports;
  std::vector<size_t> unit_of;  // the unit of each report
  reports.reserve(units.size());
  unit_of.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    DevNum = static_cast<int32_t>(i) + 1;
    TPTS& unit = *units[i];
    if (!IsAttached(&unit)) continue;
    unit.Cmd1()->UnScaledValue(e.word[kCmd1]);
    unit.PWMDC()->UnScaledValue(e.word[kPWMDC]);
    unit.PWMF()->UnScaledValue(e.word[kPWMF]);
    unit.F1()->UnScaledValue(e.word[kF1]);
    unit.F2()->UnScaledValue(e.word[kF2]);
    unit.F3()->UnScaledValue(e.word[kF3]);
    unit.F4()->UnScaledValue(e.word[kF4]);
    unit.F5()->UnScaledValue(e.word[kF5]);
    unit.F6()->UnScaledValue(e.word[kF6]);
    unit.F7()->UnScaledValue(e.word[kF7]);
    unit.F8()->UnScaledValue(e.word[kF8]);
    unit.F9()->UnScaledValue(e.word[kF9]);
    unit.F10()->UnScaledValue(e.word[kF10]);
    reports.push_back(unit.RptAIndex());  // -1 (none bound) fails in its turn
    unit_of.push_back(i);
  }
  agent_.WriteRpts(reports, [&](size_t k, bool ok) {
    DevNum = static_cast<int32_t>(unit_of[k]) + 1;
    // A board found gone has been closed, and so has left Devices, by now.
    const UnitState state = ok                                    ? UnitState::kWritten
                            : IsAttached(units[unit_of[k]].get()) ? UnitState::kFailed
                                                                  : UnitState::kGone;
    outcome_.units.push_back({DevNum, state});
    if (!ok) op_.Beep();
  });
  last_word_units_ = outcome_.units.size();
  last_word_all_taken_ = outcome_.Count(UnitState::kWritten) == static_cast<int>(last_word_units_);
  DevNum = static_cast<int32_t>(Devices.size()) + 1;
  // Stored words leave the output as it was; a word no board took changed nothing.
  if (Cmd1Val == hid::kCmdSetOutput && outcome_.Count(UnitState::kWritten) > 0) output_hz_ = e.hz;
  TextFreq.BackColor(kGreen);
}

}  // namespace pts
