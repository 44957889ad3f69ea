// Running without a window (--no-window): the panel's logic with its timers
// and hot-plug bound to the event loop as the window binds them, and boxes as
// lines on stderr. Needs only a QCoreApplication (no display).
#pragma once

#include <QObject>
#include <string>

#include "panel/mainform.h"
#include "panel/operator.h"
#include "ui/panel_runner.h"

namespace pts {

// Each box becomes one line on stderr. A box that asks OK or Cancel (no board
// at start-up) is answered Cancel: nobody is there to attach one.
class ConsoleOperator : public Operator {
 public:
  MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                       const std::string& title) override;
  void Beep() override {}
  void EndProgram(int status) override;
  // The box's lines joined into one.
  static std::string OneLine(const std::string& text);
};

class Headless : public QObject {
  Q_OBJECT

 public:
  explicit Headless(MainForm& form);

  // After Form_Load: binds the timers and hot-plug and runs the activation,
  // as the window's first show does.
  void Start();
  bool InHandler() const { return runner_.InHandler(); }
  PanelRunner& Runner() { return runner_; }

 private:
  PanelRunner runner_;
};

}  // namespace pts
