// The operator MainForm talks to, forwarding to whoever stands in front of
// the panel at the moment: the window's (or the console's) operator, or,
// while a remote command runs, one that turns boxes into that client's errors.
#pragma once

#include "panel/operator.h"

namespace pts::remote {

class OperatorSwitch : public Operator {
 public:
  explicit OperatorSwitch(Operator& base) : base_(base), current_(&base) {}

  MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                       const std::string& title) override {
    return current_->MessageBox(text, buttons, icon, title);
  }
  void Beep() override { current_->Beep(); }
  // Ending the program stays the base operator's business.
  void EndProgram(int status) override { base_.EndProgram(status); }

  // Forwards to `stand_in` for the scope's life.
  class Scope {
   public:
    Scope(OperatorSwitch& s, Operator& stand_in) : s_(s), previous_(s.current_) {
      s.current_ = &stand_in;
    }
    ~Scope() { s_.current_ = previous_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    OperatorSwitch& s_;
    Operator* previous_;
  };

 private:
  Operator& base_;
  Operator* current_;
};

}  // namespace pts::remote
