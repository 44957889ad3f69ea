// Recording what an action did, and telling the operator.
#include "panel/mainform.h"

namespace pts {

void MainForm::BeginOutcome() {
  ++actions_;
  // Emptied in place: a sweep step runs this once per tick.
  outcome_.sent = false;
  outcome_.reason = Reason::kNone;
  outcome_.text.clear();
  outcome_.units.clear();
  outcome_.confirmations.clear();
}

void MainForm::Refuse(Reason reason, const std::string& text) {
  outcome_.reason = reason;
  outcome_.text = text;
  if (text.empty()) {
    op_.Beep();
  } else {
    op_.MessageBox(text, MsgButtons::Ok, MsgIcon::None, "");
  }
}

void MainForm::Confirm(const std::string& text) {
  outcome_.confirmations.push_back(text);
  op_.MessageBox(text, MsgButtons::Ok, MsgIcon::None, "");
}

}  // namespace pts
