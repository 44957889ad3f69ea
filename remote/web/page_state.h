// The panel as the web page shows it, as JSON: one part per control (its
// kind, place in twips, accessible name and description, state), the model
// menu, the sweep's progress line and who the instrument is. Parts are
// compared with those last taken, so a push carries only what changed.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "panel/mainform.h"

namespace pts::remote {

// `s` as a JSON string literal, quotes included.
std::string JsonString(const std::string& s);

class PageState {
 public:
  explicit PageState(MainForm& form) : form_(form) {}

  // A state frame with the parts that changed since the last call (all of
  // them the first time); empty when none did.
  std::string Changes();
  // Every part as last taken, for a page that has just opened.
  std::string Full() const;
  // Whether the progress line counts down (a sweep runs).
  bool Counting() const { return counting_; }

 private:
  std::vector<std::pair<std::string, std::string>> Collect();
  std::string ProgressPart();
  std::string Frame(
      bool full, const std::vector<const std::pair<const std::string, std::string>*>& parts) const;

  MainForm& form_;
  std::map<std::string, std::string> parts_;
  bool counting_ = false;
  // The progress shown last, and since when its step holds (for the time left).
  int64_t step_ = -1, steps_ = -1;
  std::chrono::steady_clock::time_point since_{};
};

}  // namespace pts::remote
