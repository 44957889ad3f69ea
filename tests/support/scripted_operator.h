// A stand-in for the person at the panel: records every message box and beep,
// and answers boxes from a script (OK when the script is empty).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "panel/operator.h"

namespace pts::testing {

struct ShownBox {
  std::string text;
  MsgButtons buttons;
  MsgIcon icon;
  std::string title;
};

class ScriptedOperator : public Operator {
 public:
  MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                       const std::string& title) override {
    boxes.push_back({text, buttons, icon, title});
    events.push_back("box:" + text);
    if (on_box) on_box(boxes.back());
    if (answers.empty()) return MsgAnswer::Ok;
    const MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void Beep() override {
    ++beeps;
    events.push_back("beep");
  }
  void EndProgram(int status) override {
    ended = true;
    end_status = status;
    events.push_back("end");
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& b : boxes) t.push_back(b.text);
    return t;
  }
  void Clear() {
    boxes.clear();
    events.clear();
    beeps = 0;
  }

  std::deque<MsgAnswer> answers;                // consumed one per box
  std::function<void(const ShownBox&)> on_box;  // runs while the box is "open"
  std::vector<ShownBox> boxes;
  std::vector<std::string> events;  // boxes and beeps in order
  int beeps = 0;
  bool ended = false;
  int end_status = -1;
};

}  // namespace pts::testing
