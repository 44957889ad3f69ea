#include "ui/qt_operator.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "qt_app.h"

namespace pts {
namespace {

using pts::testing::App;

// Answers the box that is about to open with one key, and notes its title.
void AnswerNextBox(Qt::Key key, QString* title) {
  QTimer::singleShot(0, [key, title] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    *title = box->windowTitle();
    QTest::keyClick(box, key);
  });
}

struct BoxRow {
  const char* name;
  MsgButtons buttons;
  Qt::Key key;
  MsgAnswer answer;
};

class QtOperatorBoxes : public ::testing::TestWithParam<BoxRow> {};

TEST_P(QtOperatorBoxes, AnswersByKey) {
  App();
  const BoxRow& row = GetParam();
  QtOperator op("pts-panel");
  QString title;
  AnswerNextBox(row.key, &title);
  EXPECT_EQ(op.MessageBox("text", row.buttons, MsgIcon::Information, ""), row.answer);
  EXPECT_EQ(title, "pts-panel");  // no title of its own: the application's
}

INSTANTIATE_TEST_SUITE_P(
    Keys, QtOperatorBoxes,
    ::testing::Values(BoxRow{"OkCancelEnter", MsgButtons::OkCancel, Qt::Key_Return, MsgAnswer::Ok},
                      BoxRow{"OkCancelEscape", MsgButtons::OkCancel, Qt::Key_Escape,
                             MsgAnswer::Cancel},
                      BoxRow{"OkEnter", MsgButtons::Ok, Qt::Key_Return, MsgAnswer::Ok},
                      BoxRow{"OkEscape", MsgButtons::Ok, Qt::Key_Escape, MsgAnswer::Ok}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QtOperator, OwnTitleAndPlainLines) {
  App();
  QtOperator op("pts-panel");
  QString title, text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    box->accept();
  });
  op.MessageBox("one\r\ntwo\n\rthree\nfour <b>", MsgButtons::Ok, MsgIcon::None, "About");
  EXPECT_EQ(title, "About");
  EXPECT_EQ(text, "one\ntwo\nthree\nfour <b>");
}

}  // namespace
}  // namespace pts
