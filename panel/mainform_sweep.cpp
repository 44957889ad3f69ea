// The command row: Send, Start, Single, Stop and Off, the Send light's blink
// and the stepped sweep driven by TmrDwell; the remote's frequency lists run
// on the same timer. A step does not wait for its writes (StepFrequency);
// everything that starts or stops a sweep does.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "hid/board.h"
#include "panel/mainform.h"
#include "panel/number_text.h"
#include "panel/sweep_rules.h"

namespace pts {

namespace {

constexpr const char* kMissingInput =
    "Stop Frequency, Frequency Step, and Sweep Time must be entered before sweep can be started";
constexpr const char* kDwellTooShort =
    "Dwell time at each frequency < 1ms.  Please increase sweep time of frequency step.";
constexpr const char* kDwellTooLong =
    "Dwell time at each frequency > 2147483647ms.  Please decrease sweep time or increase "
    "frequency step.";

// Holds the busy flag for the length of a handler, also when it throws.
class BusyScope {
 public:
  explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~BusyScope() { flag_ = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& flag_;
};

// Stops and starts a timer so that its next tick comes one full interval from
// now, also when it was already running.
void Restart(Timer& timer) {
  timer.Enabled(false);
  timer.Enabled(true);
}

}  // namespace

void MainForm::CmdSend_Click() {
  BeginOutcome();
  if (sweep_busy_) return;
  BusyScope busy(sweep_busy_);
  Restart(TmrBlink);
  SendLED.Filled(true);
  Frequency = ReadNumber(TextFreq.Text());
  Cmd1Val = hid::kCmdSetOutput;
  TranslateFrequency();
}

void MainForm::TmrBlink_Timer() {
  SendLED.Filled(false);
  TmrBlink.Enabled(false);
}

// Reads and checks the sweep's boxes. False (after a message) when the sweep
// cannot start; a sweep already running then goes on.
bool MainForm::SweepSetup() {
  if (TextFreqStop.Text().empty() || TextFreqStep.Text().empty() || TextSweepTime.Text().empty()) {
    Refuse(Reason::kSweepInput, kMissingInput);
    return false;
  }
  const double start = ReadNumber(TextFreq.Text());
  const double stop = ReadNumber(TextFreqStop.Text());
  const double step = ReadNumber(TextFreqStep.Text());
  const double sweep_time = ReadNumber(TextSweepTime.Text());  // seconds

  // Values that give no sweep at all count as not entered: nothing is
  // stored. The direction comes from start and stop.
  double dwell_num = 0, dwell_time = 0;
  if (!SweepSteps(start, stop, step, &dwell_num) ||
      !SweepDwellMs(sweep_time, dwell_num, &dwell_time)) {
    Refuse(Reason::kSweepInput, kMissingInput);
    return false;
  }
  if (dwell_time > kMaxDwellMs) {
    Refuse(Reason::kDwellTooLong, kDwellTooLong);
    return false;
  }

  FreqStart = start;
  FreqStop = stop;
  FreqStep = step;
  DwellNum = dwell_num;
  DwellTime = dwell_time;
  if (DwellTime < kMinDwellMs) {
    Refuse(Reason::kDwellTooShort, kDwellTooShort);
    return false;
  }
  TmrDwell.Interval(static_cast<int32_t>(DwellTime));  // 1 .. INT32_MAX, checked above
  Frequency = FreqStart;
  TempDwellNum = DwellNum;
  list_.on = false;  // the sweep takes the timer from a list
  return true;
}

void MainForm::CmdStart_Click() {
  BeginOutcome();
  if (sweep_busy_) return;
  BusyScope busy(sweep_busy_);
  TakeStepResults(true);
  if (!SweepSetup()) return;
  StopFlag = false;
  SnglSweepFlag = false;
  passes_left_ = 0;
  Restart(TmrDwell);
  StartLED.Filled(true);
  StopLED.Filled(false);
}

void MainForm::CmdSngl_Click() {
  SinglePasses(1);
}

void MainForm::SinglePasses(uint32_t passes) {
  BeginOutcome();
  if (sweep_busy_) return;
  BusyScope busy(sweep_busy_);
  TakeStepResults(true);
  if (!SweepSetup()) return;
  SnglSweepFlag = true;
  passes_left_ = passes > 1 ? passes - 1 : 0;
  StopFlag = false;
  Restart(TmrDwell);
  SnglLED.Filled(true);
  StopLED.Filled(false);
  StartLED.Filled(false);
}

// Flags, and a wait for the step's writes still going out, so that nothing
// goes out after Stop; their results come with the next tick. Safe at any
// time, also from inside another handler's box.
void MainForm::CmdStop_Click() {
  StartLED.Filled(false);
  StopLED.Filled(true);
  SnglLED.Filled(false);
  StopFlag = true;
  agent_.WaitWrites();
}

// Ends at once: the agent's devices are not closed and nothing more is
// written; a step's writes already going out are let finish.
void MainForm::ComdOff_Click() {
  agent_.WaitWrites();
  Op().EndProgram(0);
}

void MainForm::TmrDwell_Timer() {
  if (sweep_busy_) return;
  BusyScope busy(sweep_busy_);
  if (StopFlag) {
    TmrDwell.Enabled(false);
    TakeStepResults(true);
    return;
  }
  // The last step's results, before this step goes out. A board still
  // writing gets this step's word when it is free.
  TakeStepResults(false);
  if (list_.on) {
    ListStep();
    return;
  }
  if (DwellNum < 1) StopFlag = true;  // this step still runs; the next tick ends the sweep
  if (FreqStart > FreqStop) {
    Frequency = Frequency - FreqStep;
  } else if (FreqStart < FreqStop) {
    Frequency = Frequency + FreqStep;
  }
  TempDwellNum = TempDwellNum - 1;
  if (TempDwellNum <= 0 && SnglSweepFlag && !NextPass()) {
    SnglSweepFlag = false;
    SnglLED.Filled(false);
    StopLED.Filled(true);
    StopFlag = true;
  }
  if (TempDwellNum <= 0) {
    Frequency = FreqStart;
    TempDwellNum = DwellNum;
  }
  TextFreq.Text(FormatNumber(Frequency));  // runs TextFreq_Change, which re-reads Frequency
  // A step sets the output only; after a save command the EEPROM must not be
  // written on every step.
  Cmd1Val = hid::kCmdSetOutput;
  StepFrequency();
}

std::string MainForm::ListConflict(size_t points, size_t dwells) {
  if (points == 0) return "the frequency list is empty";
  if (dwells == 1 || dwells == points) return "";
  return "list lengths differ: " + std::to_string(points) +
         (points == 1 ? " frequency, " : " frequencies, ") + std::to_string(dwells) +
         " dwell times";
}

// A single sweep or list of several passes: the one that just ended was not
// the last, unless the sweep stops anyway (a step with DwellNum < 1).
bool MainForm::NextPass() {
  if (passes_left_ == 0 || StopFlag) return false;
  --passes_left_;
  return true;
}

void MainForm::RunList(std::vector<double> freq, std::vector<double> dwell_ms, uint32_t passes) {
  BeginOutcome();
  if (sweep_busy_) return;
  BusyScope busy(sweep_busy_);
  TakeStepResults(true);
  if (const std::string conflict = ListConflict(freq.size(), dwell_ms.size()); !conflict.empty()) {
    Refuse(Reason::kSweepInput, conflict);
    return;
  }
  // Whole milliseconds within the timer's range, as a sweep's dwell is.
  for (double& ms : dwell_ms)
    ms = std::isnan(ms) ? 1 : std::clamp(std::round(ms), kMinDwellMs, kMaxDwellMs);
  list_.freq = std::move(freq);
  list_.dwell_ms = std::move(dwell_ms);
  list_.at = 0;
  list_.on = true;
  TmrDwell.Interval(static_cast<int32_t>(list_.dwell_ms[0]));
  const bool single = passes > 0;
  SnglSweepFlag = single;
  passes_left_ = passes > 1 ? passes - 1 : 0;
  StopFlag = false;
  Restart(TmrDwell);
  // The lights as Single or Start leaves them.
  if (single) {
    SnglLED.Filled(true);
    StartLED.Filled(false);
  } else {
    StartLED.Filled(true);
  }
  StopLED.Filled(false);
}

// One point per tick, held for its own dwell; the pass ends when its last
// point has gone out, as a single sweep's does.
void MainForm::ListStep() {
  const size_t points = list_.freq.size();
  const size_t k = list_.at == points ? 0 : list_.at;  // the point this tick sends
  list_.at = k + 1;
  // Set first: a changed interval counts from now.
  TmrDwell.Interval(static_cast<int32_t>(list_.dwell_ms[list_.dwell_ms.size() == 1 ? 0 : k]));
  if (list_.at == points && SnglSweepFlag && !NextPass()) {
    SnglSweepFlag = false;
    SnglLED.Filled(false);
    StopLED.Filled(true);
    StopFlag = true;
  }
  Frequency = list_.freq[k];
  TextFreq.Text(FormatNumber(Frequency));
  Cmd1Val = hid::kCmdSetOutput;  // as a sweep step does
  StepFrequency();
}

}  // namespace pts
