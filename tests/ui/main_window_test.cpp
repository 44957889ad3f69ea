// The window over a real panel on simulated boards: act on a widget as the
// operator would, check what the logic and the other widgets show.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "ui/knob_widget.h"
#include "ui/timer_binding.h"
#include "window_fixture.h"

namespace pts {
namespace {

using pts::testing::WindowFixture;

class WindowTest : public WindowFixture {
 protected:
  template <typename W>
  W* Get(const char* name) {
    auto* w = window->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QAction* Action(const char* name) { return Get<QAction>(name); }
  QLineEdit* Freq() { return Get<QLineEdit>("TextFreq"); }
  KnobWidget* KnobW(int i) { return Get<KnobWidget>(("Knob1(" + std::to_string(i) + ")").c_str()); }
};

TEST_F(WindowTest, EveryControlHasItsNamedWidgetAtItsPlace) {
  Open();
  for (Control* c : panel->form.AllControls()) {
    if (dynamic_cast<MenuItem*>(c)) {
      EXPECT_NE(window->findChild<QAction*>(QString::fromStdString(c->Name())), nullptr)
          << c->Name();
      continue;
    }
    if (dynamic_cast<Timer*>(c)) continue;
    auto* w = window->findChild<QWidget*>(QString::fromStdString(c->Name()));
    ASSERT_NE(w, nullptr) << c->Name();
    EXPECT_EQ(w->x(), window->Px(c->Left())) << c->Name();
    EXPECT_EQ(w->y(), window->Px(c->Top())) << c->Name();
    EXPECT_EQ(w->width(), window->Px(c->Left() + c->Width()) - window->Px(c->Left())) << c->Name();
  }
  auto* area = window->centralWidget();
  EXPECT_EQ(area->size(), QSize(window->Px(9360), window->Px(8190)));
  EXPECT_EQ(Get<QAction>("mnuSaveFreq")->text(), "&Save Frequency to EEPROM");
  EXPECT_EQ(Get<QAction>("mnuOther")->text(), "&PTS1000");
}

TEST_F(WindowTest, TurningADigitKnobWritesTheFrequencyBox) {
  Open();
  KnobWidget* knob = KnobW(2);
  knob->setFocus();
  for (int i = 0; i < 7; ++i) QTest::keyClick(knob, Qt::Key_Up);
  EXPECT_EQ(panel->form.TextFreq.Text(), "7000000");
  EXPECT_EQ(Freq()->text(), "7000000");
  EXPECT_EQ(Get<QLabel>("D(2)")->text(), "7");
  EXPECT_EQ(panel->form.Knob1(2).Value(), 7);
}

TEST_F(WindowTest, TurningTheLevelKnobShowsTheLevel) {
  Open();
  QTest::keyClick(KnobW(10), Qt::Key_End);
  EXPECT_EQ(panel->form.Knob1(10).Value(), 13);
  EXPECT_EQ(Get<QLabel>("D(10)")->text(), " 13");
}

TEST_F(WindowTest, TypingMovesTheKnobsAndTheKeyFilterDropsWhatIsNoNumber) {
  Open();
  QLineEdit* box = Freq();
  box->setFocus(Qt::TabFocusReason);  // the operator tabs in: the box empties
  EXPECT_EQ(box->text(), "");
  QTest::keyClicks(box, "12a3-4 5e6789.1");
  EXPECT_EQ(box->text(), "123456789.1");
  EXPECT_EQ(panel->form.TextFreq.Text(), "123456789.1");
  const int expected[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 1};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(KnobW(i)->value(), expected[i]) << i;
  EXPECT_DOUBLE_EQ(panel->form.Frequency, 123456789.1);

  // A twelfth character is cut; Enter is dropped; backspace and the caret keys work.
  QTest::keyClick(box, Qt::Key_9);
  EXPECT_EQ(box->text(), "123456789.1");
  QTest::keyClick(box, Qt::Key_Return);
  QTest::keyClick(box, Qt::Key_Backspace);
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(box->text(), "123456789");
  QTest::keyClick(box, Qt::Key_Home);
  QTest::keyClick(box, Qt::Key_Delete);
  EXPECT_EQ(box->text(), "23456789");
  EXPECT_EQ(KnobW(0)->value(), 0);
  EXPECT_EQ(KnobW(1)->value(), 2);
}

TEST_F(WindowTest, StopBoxFilterAndPlainBoxes) {
  Open();
  QTest::keyClicks(Get<QLineEdit>("TextFreqStop"), "2x000");
  EXPECT_EQ(panel->form.TextFreqStop.Text(), "2000");
  // The step and sweep-time boxes have no filter.
  QTest::keyClicks(Get<QLineEdit>("TextFreqStep"), "1e2");
  EXPECT_EQ(panel->form.TextFreqStep.Text(), "1e2");
  EXPECT_EQ(panel->form.TextFreq.Text(), "0");  // untouched
}

TEST_F(WindowTest, ProgramWriteToAKnobMovesItWithoutRunningTheKnobHandling) {
  Open();
  panel->form.TextFreq.Text("5");
  panel->form.Knob1(3).Value(6);
  EXPECT_EQ(KnobW(3)->value(), 6);
  EXPECT_EQ(panel->form.TextFreq.Text(), "5");  // no Knob1_Change ran
}

TEST_F(WindowTest, FocusComingBackFromABoxKeepsTheText) {
  Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QLineEdit* box = Freq();
  box->setFocus(Qt::MouseFocusReason);
  QTest::keyClicks(box, "1234");
  ASSERT_EQ(box->text(), "1234");
  ASSERT_TRUE(box->hasFocus());

  QMessageBox message(QMessageBox::NoIcon, "t", "a box", QMessageBox::Ok, window.get());
  QTimer::singleShot(0, &message, [&] {
    (void)QTest::qWaitForWindowActive(&message);
    message.accept();
  });
  message.exec();
  // A desktop gives the activation back to the window (the offscreen platform
  // needs asking); the focus returns to the box with ActiveWindowFocusReason.
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QCoreApplication::processEvents();
  EXPECT_TRUE(box->hasFocus());
  EXPECT_EQ(box->text(), "1234");

  // Moving into the box from another control empties it.
  KnobW(0)->setFocus(Qt::TabFocusReason);
  box->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(box->text(), "");
}

TEST_F(WindowTest, ActivationRunsOnceAtTheFirstShow) {
  Open({0xFE});  // no model stored: the read-back shows its prompt
  // Open() cleared the record; the prompt came with the first show.
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(window.get(), &activate);
  window->hide();
  window->show();
  QCoreApplication::processEvents();
  EXPECT_TRUE(panel->op.boxes.empty());
  EXPECT_EQ(panel->form.TextFreq.Text(), "0");
}

TEST_F(WindowTest, ModelMenuSwitchesTheLayoutAndKeepsOneCheckMark) {
  Open();  // PTS 500 read back: normal layout
  QAction* m3200 = Action("mnuPTS3200");
  m3200->trigger();
  EXPECT_EQ(Get<QLabel>("Label5")->text(), "PTS 3200");
  EXPECT_TRUE(Get<QLabel>("Label9")->isHidden());
  EXPECT_EQ(KnobW(3)->x(), window->Px(3120));
  EXPECT_EQ(Get<QWidget>("Shape2(0)")->width(), window->Px(840 + 2900) - window->Px(840));
  m3200->trigger();  // again: Qt would toggle the mark off; the logic keeps it
  EXPECT_TRUE(m3200->isChecked());
  for (const char* other :
       {"mnuPTS10", "MNUpts160", "mnuPTs200", "mnuPTS310", "mnuPTS500", "mnuPTS620", "mnuOther"}) {
    EXPECT_FALSE(Action(other)->isChecked()) << other;
  }
  Action("mnuPTS10")->trigger();
  EXPECT_EQ(Get<QLabel>("Label5")->text(), "PTS  10");
  EXPECT_FALSE(Get<QLabel>("Label9")->isHidden());
  EXPECT_EQ(KnobW(3)->x(), window->Px(3360));
}

TEST_F(WindowTest, UnitButtonsFollowTheLogic) {
  Open({0x35, 0x6E});  // the read-back selects the second unit
  auto* unit1 = Get<QRadioButton>("Option1(0)");
  auto* unit2 = Get<QRadioButton>("Option1(1)");
  EXPECT_TRUE(unit2->isChecked());
  EXPECT_TRUE(unit2->isEnabled());
  EXPECT_FALSE(unit1->isChecked());

  unit1->click();
  EXPECT_TRUE(unit1->isChecked());
  EXPECT_FALSE(unit2->isChecked());
  EXPECT_EQ(panel->op.Texts(), std::vector<std::string>{"Hello from Optiono1_Click"});
  EXPECT_EQ(panel->form.DevNum, 1);

  unit1->click();  // the selected unit again: nothing happens, it stays selected
  EXPECT_TRUE(unit1->isChecked());
  EXPECT_EQ(panel->op.boxes.size(), 1u);
}

TEST_F(WindowTest, SendLightsAndTheBlinkTimerDarkens) {
  Open();
  TimerBinding* blink = window->TimerOf(panel->form.TmrBlink);
  ASSERT_NE(blink, nullptr);
  EXPECT_FALSE(blink->Running());
  QTest::mouseClick(Get<QWidget>("CmdSend"), Qt::LeftButton);
  EXPECT_TRUE(panel->form.SendLED.Filled());
  window->PublishNow();
  EXPECT_EQ(Get<QWidget>("SendLED")->accessibleName(), "Send light, lit");
  EXPECT_TRUE(blink->Running());
  EXPECT_EQ(blink->IntervalMs(), 500);
  EXPECT_EQ(Freq()->palette().color(QPalette::Base), QColor(0, 255, 0));
  blink->Fire();
  EXPECT_FALSE(panel->form.SendLED.Filled());
  EXPECT_FALSE(blink->Running());
}

TEST_F(WindowTest, PlainCaptionsTakeTheLargestSizeThatFitsTheirWidth) {
  Open();
  for (const char* name : {"Label11", "Label12", "Label6", "Label13", "Label7"}) {
    auto* label = Get<QLabel>(name);
    ASSERT_EQ(label->frameWidth(), 0) << name;
    const QFont font = label->font();
    EXPECT_LE(QFontMetricsF(font).horizontalAdvance(label->text()), label->width()) << name;
    if (font.pointSizeF() < 8.0) {
      QFont larger = font;
      larger.setPointSizeF(font.pointSizeF() + 0.5);
      EXPECT_GT(QFontMetricsF(larger).horizontalAdvance(label->text()), label->width()) << name;
    }
  }
}

TEST_F(WindowTest, EntryBoxesShowTheirLongestNumberWhole) {
  Open();
  const std::pair<const char*, int> boxes[] = {
      {"TextFreq", 11}, {"TextFreqStop", 11}, {"TextFreqStep", 11}, {"TextSweepTime", 8}};
  for (const auto& [name, longest] : boxes) {
    auto* edit = Get<QLineEdit>(name);
    edit->setText(QString(longest, QLatin1Char('8')));
    edit->setCursorPosition(longest);
    edit->repaint();  // the line edit scrolls its text when it paints
    // Not scrolled: the text's first character lies inside the box.
    const double caret = edit->inputMethodQuery(Qt::ImCursorRectangle).toRectF().center().x();
    const double text_width = QFontMetricsF(edit->font()).horizontalAdvance(edit->text());
    EXPECT_GE(caret - text_width, edit->contentsRect().left()) << name;
  }
}

TEST_F(WindowTest, EnterOnAFocusedButtonPressesIt) {
  Open();
  auto* send = Get<QWidget>("CmdSend");
  send->setFocus(Qt::TabFocusReason);
  QTest::keyClick(send, Qt::Key_Return);
  EXPECT_TRUE(panel->form.SendLED.Filled());
  auto* single = Get<QWidget>("CmdSngl");
  single->setFocus(Qt::TabFocusReason);
  QTest::keyClick(single, Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_EQ(panel->op.boxes.size(), 1u);  // the stop, step and time boxes are empty
  EXPECT_EQ(panel->op.boxes[0].text,
            "Stop Frequency, Frequency Step, and Sweep Time must be entered before sweep can be "
            "started");
}

TEST_F(WindowTest, SweepTimerTakesTheDwellTime) {
  Open();
  TimerBinding* dwell = window->TimerOf(panel->form.TmrDwell);
  QTest::keyClicks(Get<QLineEdit>("TextFreqStop"), "2000");
  QTest::keyClicks(Get<QLineEdit>("TextFreqStep"), "100");
  QTest::keyClicks(Get<QLineEdit>("TextSweepTime"), "1");
  panel->form.TextFreq.Text("1000");
  QTest::mouseClick(Get<QWidget>("CmdStart"), Qt::LeftButton);
  EXPECT_TRUE(dwell->Running());
  EXPECT_EQ(dwell->IntervalMs(), 100);
  dwell->Fire();
  EXPECT_EQ(Freq()->text(), "1100");
  QTest::mouseClick(Get<QWidget>("CmdStop"), Qt::LeftButton);
  dwell->Fire();  // the tick after Stop ends the sweep
  EXPECT_FALSE(dwell->Running());
  EXPECT_EQ(Freq()->text(), "1100");
}

TEST_F(WindowTest, AKeyIsPaintedAtOnceWhenTheLogicsChangesWaitForThePace) {
  Open();
  auto* stop = Get<QLineEdit>("TextFreqStop");
  struct PaintCount : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      paints += event->type() == QEvent::Paint;
      return false;
    }
  } count;
  stop->installEventFilter(&count);
  // Two changes of the logic's in quick succession: the second one's repaint
  // waits for the pace.
  for (const char* text : {"1", "2"}) {
    panel->form.TextFreqStep.Text(text);
    QCoreApplication::processEvents();
  }
  const int before = count.paints;
  QTest::keyClick(stop, '8');
  QCoreApplication::processEvents();
  EXPECT_GT(count.paints, before);
  EXPECT_EQ(stop->text(), "8");
}

TEST_F(WindowTest, HotplugWaitsUntilTheRunningHandlerReturns) {
  Open();
  ASSERT_EQ(panel->form.Devices.size(), 1u);
  size_t devices_while_box_up = 99;
  panel->op.on_box = [&](const auto&) {
    // The board goes away while the save message is up; its notice arrives
    // in the box's event loop.
    panel->backend.Unplug(1);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    devices_while_box_up = panel->form.Devices.size();
  };
  Action("mnuSaveFreq")->trigger();
  panel->op.on_box = nullptr;
  EXPECT_EQ(devices_while_box_up, 1u);
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(panel->form.Devices.size(), 0u);
}

TEST_F(WindowTest, ClosingUnloadsOnceAndStopsTheTimers) {
  Open();
  QTest::mouseClick(Get<QWidget>("CmdSend"), Qt::LeftButton);
  ASSERT_EQ(panel->agent.OpenCount(), 1);
  window->close();
  EXPECT_EQ(panel->agent.OpenCount(), 0);
  EXPECT_EQ(window->TimerOf(panel->form.TmrBlink), nullptr);
}

}  // namespace
}  // namespace pts
