// The operator in front of the real window: modal QMessageBox, the system
// beep, and ending the program at once.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "panel/operator.h"

namespace pts {

class QtOperator : public Operator {
 public:
  // `app_title` is the title of boxes that have none of their own.
  explicit QtOperator(QString app_title);

  // Boxes are centred on and modal to this window once it exists.
  void SetParentWindow(QWidget* window) { parent_ = window; }

  MsgAnswer MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                       const std::string& title) override;
  void Beep() override;
  // Flushes stdio and exits with `status`: no unload step, no closing of devices.
  void EndProgram(int status) override;

  // The texts use CR LF, LF CR or LF between lines; the box wants LF.
  static QString BoxText(const std::string& text);

 private:
  QString app_title_;
  QPointer<QWidget> parent_;
};

}  // namespace pts
