// What a panel action did, as data: whether a word went out, why not when it
// was refused, what became of each unit, and the confirmations. The window
// shows its boxes as the action records them; remote front ends read the
// record instead, so no front end learns anything from a box's wording.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pts {

// Why an action sent nothing (or, for kNothingSaved, why nothing was stored).
enum class Reason {
  kNone,
  kOverLimit,         // frequency at or above the model's limit; also "no model"
  kInvalidFrequency,  // negative, not finite or beyond ten digits (a beep, no text)
  kSweepInput,        // the sweep's boxes are missing or give no sweep; a list that cannot run
  kDwellTooShort,     // the sweep's step time is below 1 ms
  kDwellTooLong,      // the sweep's step time is beyond the step timer's range
  kNothingSaved,      // a save that no board accepted
};

enum class UnitState { kWritten, kFailed, kGone };

struct UnitResult {
  int32_t unit;  // 1-based place in Devices when the word went out
  UnitState state;
};

struct Outcome {
  bool sent = false;  // a word was written to the units below (possibly none)
  Reason reason = Reason::kNone;
  std::string text;  // the panel's own text for the reason; empty for a beep
  std::vector<UnitResult> units;
  std::vector<std::string> confirmations;

  bool Refused() const { return reason != Reason::kNone; }
  int Count(UnitState state) const {
    int n = 0;
    for (const UnitResult& u : units) n += u.state == state;
    return n;
  }
};

}  // namespace pts
