// What the panel asks of the person in front of it: modal message boxes, the
// system beep, and ending the program. The Qt window implements it with
// QMessageBox and QApplication::beep; tests use a scripted recorder.
#pragma once

#include <string>

namespace pts {

enum class MsgButtons { Ok, OkCancel };
enum class MsgIcon { None, Information };
enum class MsgAnswer { Ok, Cancel };

class Operator {
 public:
  virtual ~Operator() = default;
  // Shows a modal box and waits for the answer. An empty title means the
  // application's title. Escape or closing the box answers Cancel (OK for an OK-only box).
  virtual MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                               const std::string& title) = 0;
  virtual void Beep() = 0;
  // Ends the program at once with the given status; does not return in the
  // real program (tests record it and return).
  virtual void EndProgram(int status) = 0;
};

}  // namespace pts
