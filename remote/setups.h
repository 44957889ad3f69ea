// Saved set-ups (*SAV, *RCL): what one holds, its file format, and the
// store that keeps one file per slot and replaces a file only whole. No Qt.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/encoding.h"
#include "remote/source_state.h"

namespace pts::remote {

inline constexpr int kSetupSlots = 10;  // 0..9
// What a file may hold before it counts as damaged.
inline constexpr size_t kMaxSetupFileSize = 1024 * 1024;

struct SavedSetup {
  // The texts of TextFreq, TextFreqStop, TextFreqStep and TextSweepTime as they stand.
  std::string freq, stop, step, time;
  int32_t level = kLevelMin;
  SourceState::Mode mode = SourceState::Mode::kSweep;
  std::vector<double> list_freq, list_dwell;
  // SWEep:COUNt, LIST:COUNt (SourceState::kForever: until ABORt), LIST:DIRection.
  uint32_t sweep_count = 1, list_count = 1;
  bool list_down = false;
};

// The file: a first line "pts-panel setup 1", then one key=value line per
// field (freq, stop, step, time, level, mode=CW|SWE|LIST, list_freq and
// list_dwell comma-separated, sweep_count and list_count 1..2147483647 or
// INF, list_dir=UP|DOWN). Numbers are written exactly: the shortest text
// that reads back as the same double.
std::string FormatSetup(const SavedSetup& s);
// Reads a whole file. Every key must be there once with a good value (texts
// valid UTF-8 without control characters, level 3..13, numbers finite and
// not negative, lists of at most kMaxListPoints), except the counts and the
// direction, which files saved before them lack (1, 1 and UP then); keys
// this version does not know are skipped. False with *why when damaged.
bool ParseSetup(std::string_view text, SavedSetup* s, std::string* why);

// Where set-ups live: $STATE_DIRECTORY (a service's own, the first if it
// names several), else $XDG_STATE_HOME/pts-panel, else
// $HOME/.local/state/pts-panel. Unset, empty or relative values are skipped;
// empty when none is left.
std::string SetupDir(const char* state_directory, const char* xdg_state_home, const char* home);
std::string SetupDirFromEnvironment();

class SetupStore {
 public:
  // `dir` empty: there is nowhere to keep set-ups, and every call says so.
  explicit SetupStore(std::string dir) : dir_(std::move(dir)) {}

  // Removes what saves cut short (a crash, kill -9) left in the directory:
  // files named as Save names its temporaries and nothing else; a link is
  // left alone, and so is a temporary a save is still writing (it holds a
  // lock on it). Returns how many went.
  int RemoveLeftovers();
  std::string SlotPath(int slot) const;

  // Writes slot 0..9 through a temporary file ".setup-N.txt.XXXXXX" in the
  // same directory (created with the directory, mode 0700, when missing),
  // synced and renamed over the slot's file. On failure the slot keeps its old file, no temporary
  // is left, and *why says what failed.
  bool Save(int slot, const SavedSetup& s, std::string* why);

  enum class Loaded { kOk, kEmpty, kDamaged, kFailed };
  // Reads and checks the whole file before anything is returned.
  Loaded Load(int slot, SavedSetup* s, std::string* why) const;

  // The write step (as write(2)), for tests to make it fail.
  using Writer = std::function<ssize_t(int fd, const void* data, size_t size)>;
  void SetWriter(Writer w) { writer_ = std::move(w); }

 private:
  std::string dir_;
  Writer writer_;
};

}  // namespace pts::remote
