#include "ui/qt_operator.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

namespace pts {

QtOperator::QtOperator(QString app_title) : app_title_(std::move(app_title)) {}

QString QtOperator::BoxText(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  s.replace(QLatin1String("\n\r"), QLatin1String("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

MsgAnswer QtOperator::MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                                 const std::string& title) {
  QMessageBox box(parent_);
  box.setWindowTitle(title.empty() ? app_title_ : QString::fromStdString(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(BoxText(text));
  box.setIcon(icon == MsgIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon);
  box.setWindowModality(Qt::ApplicationModal);
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  QPushButton* cancel = nullptr;
  if (buttons == MsgButtons::OkCancel) {
    cancel = box.addButton(QMessageBox::Cancel);
    box.setEscapeButton(cancel);
  } else {
    box.setEscapeButton(ok);
  }
  box.setDefaultButton(ok);
  box.exec();
  // Escape and the window's close button both end on the escape button.
  if (cancel != nullptr && box.clickedButton() != ok) return MsgAnswer::Cancel;
  return MsgAnswer::Ok;
}

void QtOperator::Beep() {
  QApplication::beep();
}

void QtOperator::EndProgram(int status) {
  std::fflush(nullptr);
  std::exit(status);
}

}  // namespace pts
