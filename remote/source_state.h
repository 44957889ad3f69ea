// The signal source's set-up that the panel itself has no control for: the
// frequency mode, the trigger, and the frequency list. One per instrument,
// shared by every client. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pts::remote {

// The most points a frequency or dwell list holds, set or saved.
inline constexpr size_t kMaxListPoints = 10000;

struct SourceState {
  enum class Mode { kCw, kSweep, kList };
  enum class Trigger { kImmediate, kBus };

  // A client of the panel's sweep sends INIT without choosing a mode first.
  Mode mode = Mode::kSweep;
  Trigger trigger = Trigger::kImmediate;
  bool armed = false;       // INIT with the BUS trigger: waiting for *TRG
  bool continuous = false;  // INIT:CONT ON: each pass is followed by the next
  // Passes of the mode per INIT (SWEep:COUNt, LIST:COUNt); kForever: until ABORt.
  static constexpr uint32_t kForever = 0;
  uint32_t sweep_count = 1, list_count = 1;
  bool list_down = false;          // LIST:DIRection DOWN: the last point first
  std::vector<double> list_freq;   // Hz
  std::vector<double> list_dwell;  // s: one for every point, or one per point
};

}  // namespace pts::remote
