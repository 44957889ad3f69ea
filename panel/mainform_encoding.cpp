#include <memory>
#include <vector>

#include "hid/board.h"
#include "panel/encoding.h"
#include "panel/mainform.h"

namespace pts {

// One word sent to the units: whom it went to, and, as the results come in,
// what they did with it. A step's results may come after the step's handler
// has returned, so it holds the units itself.
struct MainForm::WordSent {
  // A write that finds its board gone closes the interface while the
  // results are taken, which removes and re-binds entries of Devices: a
  // copy, which also keeps every object alive meanwhile.
  std::vector<std::shared_ptr<TPTS>> units;
  std::vector<size_t> unit_of;  // the unit of each report
  double hz = 0;
  bool sets_output = false;  // command 4
  bool wait = true;          // TranslateFrequency's, not a step's
  uint64_t serial = 0;       // actions_ when it went out
  size_t written = 0, results = 0;
};

void MainForm::TranslateFrequency() {
  // A step's results still out come first, and never into this send's record.
  TakeStepResults(true);
  SendWord(true);
}

void MainForm::StepFrequency() {
  SendWord(false);
}

void MainForm::TakeStepResults(bool wait) {
  if (!agent_.WritesPending()) return;
  if (wait) {
    agent_.FinishWrites();
  } else {
    agent_.DeliverWrites();
  }
}

void MainForm::SendWord(bool wait) {
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
  // taken in unit order.
  auto word = std::make_shared<WordSent>();
  word->units = Devices;
  word->hz = e.hz;
  word->sets_output = Cmd1Val == hid::kCmdSetOutput;
  word->wait = wait;
  word->serial = actions_;
  outcome_.sent = true;
  std::vector<int32_t> reports;
  reports.reserve(word->units.size());
  word->unit_of.reserve(word->units.size());
  for (size_t i = 0; i < word->units.size(); ++i) {
    DevNum = static_cast<int32_t>(i) + 1;
    TPTS& unit = *word->units[i];
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
    word->unit_of.push_back(i);
  }
  // A board found gone has been closed, and so has left Devices, by the time
  // its result comes.
  const auto state = [this, &w = *word](size_t k, bool ok) {
    return ok                                        ? UnitState::kWritten
           : IsAttached(w.units[w.unit_of[k]].get()) ? UnitState::kFailed
                                                     : UnitState::kGone;
  };
  if (wait) {
    agent_.WriteRpts(reports, [&](size_t k, bool ok) { RecordUnit(*word, k, state(k, ok)); });
    WordDone(*word);
  } else if (reports.empty()) {
    WordDone(*word);
  } else {
    agent_.PostRpts(reports, [this, word, state](size_t k, Varnel::Posted r) {
      if (r == Varnel::Posted::Skipped) {
        ++skipped_words_;
      } else {
        RecordUnit(*word, k, state(k, r == Varnel::Posted::Written));
      }
      if (k + 1 == word->unit_of.size()) WordDone(*word);
    });
  }
  DevNum = static_cast<int32_t>(Devices.size()) + 1;
  TextFreq.BackColor(kGreen);
}

void MainForm::RecordUnit(WordSent& word, size_t k, UnitState state) {
  const auto unit = static_cast<int32_t>(word.unit_of[k]) + 1;
  // Only a waiting send walks DevNum; a step's late results leave it to
  // whatever handler runs then.
  if (word.wait) DevNum = unit;
  ++word.results;
  word.written += state == UnitState::kWritten;
  // Steps posted before a board was found gone find it gone too: it is
  // reported once, with the first.
  if (state == UnitState::kGone) {
    const std::shared_ptr<TPTS>& device = word.units[word.unit_of[k]];
    std::erase_if(gone_reported_, [](const std::weak_ptr<TPTS>& d) { return d.expired(); });
    for (const std::weak_ptr<TPTS>& d : gone_reported_) {
      if (d.lock() == device) return;
    }
    gone_reported_.push_back(device);
  }
  if (word.serial == actions_) outcome_.units.push_back({unit, state});
  if (state != UnitState::kWritten) op_.Beep();
}

void MainForm::WordDone(const WordSent& word) {
  // A word skipped on a busy board was dropped for a newer one, whose own
  // result counts; it is no failure.
  last_word_units_ = word.unit_of.size();
  last_word_all_taken_ = word.written == word.results;
  // Stored words leave the output as it was; a word no board took changed nothing.
  if (word.sets_output && word.written > 0) output_hz_ = word.hz;
}

}  // namespace pts
