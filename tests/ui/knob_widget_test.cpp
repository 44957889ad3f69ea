#include "ui/knob_widget.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <optional>

#include "qt_app.h"

namespace pts {
namespace {

using pts::testing::App;

struct KeyRow {
  const char* name;
  int start;
  Qt::Key key;
  std::optional<int> turned;  // the reported turn, if any
  int shown;                  // where the pointer stands afterwards
};

class KnobKeys : public ::testing::TestWithParam<KeyRow> {};

TEST_P(KnobKeys, TurnsByKeyAndReportsOnlyChanges) {
  App();
  const KeyRow& row = GetParam();
  KnobWidget knob;
  knob.setRange(0, 9);
  knob.setValue(row.start);
  QSignalSpy spy(&knob, &KnobWidget::turned);
  QTest::keyClick(&knob, row.key);
  if (row.turned) {
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), *row.turned);
    EXPECT_EQ(knob.value(), *row.turned);
  } else {
    EXPECT_EQ(spy.count(), 0);
  }
  EXPECT_EQ(knob.shownValue(), row.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KnobKeys,
    ::testing::Values(KeyRow{"UpAddsOne", 3, Qt::Key_Up, 4, 4},
                      KeyRow{"RightAddsOne", 3, Qt::Key_Right, 4, 4},
                      KeyRow{"DownTakesOne", 3, Qt::Key_Down, 2, 2},
                      KeyRow{"LeftTakesOne", 3, Qt::Key_Left, 2, 2},
                      KeyRow{"PageUp", 0, Qt::Key_PageUp, 3, 3},
                      KeyRow{"PageDownStopsAtMinimum", 2, Qt::Key_PageDown, 0, 0},
                      KeyRow{"HomeGoesToMinimum", 5, Qt::Key_Home, 0, 0},
                      KeyRow{"EndGoesToMaximum", 5, Qt::Key_End, 9, 9},
                      KeyRow{"UpAtMaximumIsNoTurn", 9, Qt::Key_Up, std::nullopt, 9},
                      KeyRow{"DownAtMinimumIsNoTurn", 0, Qt::Key_Down, std::nullopt, 0},
                      // The logic may write 10 into a digit knob: drawn at 9.
                      KeyRow{"UpAboveRangeIsNoTurn", 10, Qt::Key_Up, std::nullopt, 9},
                      KeyRow{"DownAboveRangeTurnsFromTheShownEnd", 10, Qt::Key_Down, 8, 8},
                      KeyRow{"LettersDoNotTurn", 4, Qt::Key_A, std::nullopt, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KnobWidget, ProgramWritesAreSilent) {
  App();
  KnobWidget knob;
  knob.setRange(3, 13);
  QSignalSpy spy(&knob, &KnobWidget::turned);
  knob.setValue(7);
  knob.setValue(20);
  EXPECT_EQ(spy.count(), 0);
  EXPECT_EQ(knob.value(), 20);  // kept as written
  EXPECT_EQ(knob.shownValue(), 13);
}

TEST(KnobWidget, WheelTurnsOneStepPerNotch) {
  App();
  KnobWidget knob;
  knob.setRange(0, 9);
  knob.resize(40, 40);
  QSignalSpy spy(&knob, &KnobWidget::turned);
  auto wheel = [&](int delta) {
    QWheelEvent e(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&knob, &e);
  };
  wheel(120);
  EXPECT_EQ(knob.value(), 1);
  wheel(60);  // half a notch of a fine wheel: not yet
  EXPECT_EQ(knob.value(), 1);
  wheel(60);
  EXPECT_EQ(knob.value(), 2);
  wheel(-240);
  EXPECT_EQ(knob.value(), 0);
  EXPECT_EQ(spy.count(), 3);
}

TEST(KnobWidget, MouseTurnsToThePointedValue) {
  App();
  KnobWidget knob;
  knob.setRange(3, 13);  // the level knob: ten steps over the scale
  knob.resize(100, 100);
  QSignalSpy spy(&knob, &KnobWidget::turned);
  QTest::mousePress(&knob, Qt::LeftButton, {}, QPoint(50, 5));  // top: mid-scale
  EXPECT_EQ(knob.value(), 8);
  QTest::mouseMove(&knob, QPoint(90, 90));  // lower right: the maximum
  EXPECT_EQ(knob.value(), 13);
  QTest::mouseMove(&knob, QPoint(45, 98));  // in the gap, nearer the minimum's side
  EXPECT_EQ(knob.value(), 13);              // the drag stops at the end it came to
  QTest::mouseMove(&knob, QPoint(10, 90));  // out of the gap at the minimum's side
  EXPECT_EQ(knob.value(), 13);
  QTest::mouseMove(&knob, QPoint(50, 5));  // back round over the top: free again
  EXPECT_EQ(knob.value(), 8);
  QTest::mouseMove(&knob, QPoint(10, 90));
  EXPECT_EQ(knob.value(), 3);
  QTest::mouseMove(&knob, QPoint(55, 98));  // into the gap from the minimum's end
  EXPECT_EQ(knob.value(), 3);
  QTest::mouseRelease(&knob, Qt::LeftButton, {}, QPoint(55, 98));
  QTest::mouseMove(&knob, QPoint(90, 90));  // released: no more turning
  EXPECT_EQ(knob.value(), 3);
  EXPECT_EQ(spy.count(), 4);
  // A press in the gap takes the nearer end.
  QTest::mousePress(&knob, Qt::LeftButton, {}, QPoint(55, 98));
  EXPECT_EQ(knob.value(), 13);
  QTest::mouseRelease(&knob, Qt::LeftButton, {}, QPoint(55, 98));
}

}  // namespace
}  // namespace pts
