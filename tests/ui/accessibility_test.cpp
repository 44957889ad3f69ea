// The window as a screen reader gets it, through Qt's accessibility
// interfaces (the same ones the bus bridge reads): names that carry what is
// shown, dials, actions that return before their handler runs, the tab
// order and the sweep's progress.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <memory>

#include "ui/main_window.h"
#include "ui/progress_area.h"
#include "ui/timer_binding.h"
#include "window_fixture.h"

namespace pts {
namespace {

using pts::testing::WindowFixture;

class Accessible : public WindowFixture {
 protected:
  void SetUp() override {
    // Two boards, as the demo runs: the read-back greets the second unit.
    Open({0x5E, 0x5C});
    if (HasFatalFailure()) return;
    window->PublishNow();
  }
  QAccessibleInterface* Of(const char* name) {
    QObject* o = window->findChild<QObject*>(QString::fromLatin1(name));
    EXPECT_NE(o, nullptr) << name;
    return o ? QAccessible::queryAccessibleInterface(o) : nullptr;
  }
  QString NameOf(const char* name) { return Of(name)->text(QAccessible::Name); }
  QString DescriptionOf(const char* name) { return Of(name)->text(QAccessible::Description); }
};

TEST_F(Accessible, EveryKindHasItsRoleNameAndDescription) {
  const struct {
    const char* object;
    QAccessible::Role role;
    const char* name;
    const char* description;
  } rows[] = {
      {"TextFreq", QAccessible::EditableText, "Start Frequency (Hz)",
       "Frequency in hertz (sweep start)"},
      {"TextFreqStop", QAccessible::EditableText, "Stop  Frequency (Hz)",
       "Sweep stop frequency in hertz"},
      {"CmdSend", QAccessible::Button, "Send", "Send the frequency"},
      {"ComdOff", QAccessible::Button, "Off", "End the program"},
      {"Label5", QAccessible::StaticText, "PTS 500", "Synthesizer model"},
      {"D(2)", QAccessible::StaticText, "0", "Frequency digit, 1 MHz"},
      {"D(9)", QAccessible::StaticText, "0", "Frequency digit, 0.1 Hz"},
      {"D(10)", QAccessible::StaticText, "3", "Output level"},
      {"Knob1(0)", QAccessible::Dial, "Frequency digit 1 knob", "100 MHz"},
      {"Knob1(10)", QAccessible::Dial, "Output level knob", "Output level"},
      {"Option1(0)", QAccessible::RadioButton, "Unit  0", "Unit button 1"},
      {"Option1(1)", QAccessible::RadioButton, "Unit  2", "Unit button 2"},
      {"SendLED", QAccessible::Graphic, "Send light, dark", ""},
      {"StopLED", QAccessible::Graphic, "Sweep stopped light, lit", ""},
      {"mnuInfo", QAccessible::MenuItem, "Info", ""},
  };
  for (const auto& r : rows) {
    QAccessibleInterface* a = Of(r.object);
    ASSERT_NE(a, nullptr) << r.object;
    EXPECT_EQ(a->role(), r.role) << r.object;
    EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8(r.name)) << r.object;
    EXPECT_EQ(a->text(QAccessible::Description), QString::fromUtf8(r.description)) << r.object;
  }
  const QAccessible::State unit2 = Of("Option1(1)")->state();
  EXPECT_TRUE(unit2.checkable && unit2.checked && !unit2.disabled);
  EXPECT_TRUE(Of("Option1(2)")->state().disabled);
}

TEST_F(Accessible, NamesFollowAtThePublishNotAtEveryChange) {
  panel->Enter("123456789");
  // Between repaint slots a reader still gets the names last published.
  EXPECT_EQ(NameOf("D(0)"), "0");
  window->PublishNow();
  for (int i = 0; i < 10; ++i) {
    const std::string d = "D(" + std::to_string(i) + ")";
    EXPECT_EQ(NameOf(d.c_str()), QString::number((i + 1) % 10)) << d;
  }
  // The PTS 3200 layout gives the digits and knobs other weights.
  window->findChild<QAction*>("mnuPTS3200")->trigger();
  window->PublishNow();
  EXPECT_EQ(NameOf("Label5"), "PTS 3200");
  EXPECT_EQ(DescriptionOf("Knob1(0)"), "1 GHz");
  EXPECT_EQ(DescriptionOf("D(9)"), "Frequency digit, 1 Hz");
}

TEST_F(Accessible, ADialSetThroughItsValueTurnsTheKnobFromTheEventLoop) {
  QAccessibleValueInterface* v = Of("Knob1(2)")->valueInterface();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->minimumValue().toInt(), 0);
  EXPECT_EQ(v->maximumValue().toInt(), 9);
  v->setCurrentValue(7);
  EXPECT_EQ(panel->form.TextFreq.Text(), "0") << "the set returns before the knob turns";
  QCoreApplication::processEvents();
  EXPECT_EQ(panel->form.TextFreq.Text(), "7000000");
  EXPECT_EQ(v->currentValue().toInt(), 7);
  v->setCurrentValue(42);  // clamped to the scale, as a drag to its end
  QCoreApplication::processEvents();
  EXPECT_EQ(panel->form.Knob1(2).Value(), 9);
}

TEST_F(Accessible, PressesReturnBeforeTheHandlerAndItsBoxRun) {
  for (const char* object : {"mnuInfo", "mnuSaveFreq"}) {
    QAccessibleActionInterface* act = Of(object)->actionInterface();
    ASSERT_NE(act, nullptr) << object;
    act->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(panel->op.boxes.empty()) << object;
    QCoreApplication::processEvents();
    EXPECT_EQ(panel->op.boxes.size(), 1u) << object;
    panel->op.Clear();
  }
}

TEST_F(Accessible, TextWrittenThroughTheTextInterfaceReachesTheLogic) {
  Of("TextFreqStep")->setText(QAccessible::Value, "2500");
  EXPECT_EQ(panel->form.TextFreqStep.Text(), "2500");
  Of("TextFreq")->setText(QAccessible::Value, "12345678");
  EXPECT_EQ(panel->form.Frequency, 12345678);
  EXPECT_EQ(panel->form.D(2).Caption(), "2");
}

TEST_F(Accessible, TabGoesThroughThePanelInOrder) {
  std::vector<QString> order;
  QWidget* w = window->findChild<QWidget*>("TextFreq");
  for (QWidget* start = w; order.size() < 30; w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisible()) {
      order.push_back(w->objectName());
    }
    if (w->nextInFocusChain() == start) break;
  }
  std::vector<QString> expected = {"TextFreq", "TextFreqStop", "TextFreqStep", "TextSweepTime",
                                   "CmdSend",  "CmdStart",     "CmdStop",      "CmdSngl"};
  for (int i = 0; i <= 10; ++i) expected.push_back(QStringLiteral("Knob1(%1)").arg(i));
  expected.insert(expected.end(), {"Option1(0)", "Option1(1)", "ComdOff"});
  EXPECT_EQ(order, expected);
}

TEST_F(Accessible, TheAreaUnderThePanelShowsTheSweepAndTheRemoteStatus) {
  ProgressArea* area = window->Progress();
  EXPECT_TRUE(area->Bar()->isHidden());
  panel->form.TextFreq.Text("1000");
  panel->form.TextFreqStop.Text("1250");
  panel->form.TextFreqStep.Text("100");
  panel->form.TextSweepTime.Text("2.5");
  panel->form.CmdStart_Click();
  window->PublishNow();
  EXPECT_FALSE(area->Bar()->isHidden());
  EXPECT_EQ(area->Bar()->value(), 1);
  EXPECT_EQ(area->Bar()->maximum(), 3);
  EXPECT_EQ(area->Line()->text(), "Sweep step 1 of 3, 3 s left in this pass");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(area->Bar())->role(), QAccessible::ProgressBar);
  // Steps in quick succession: the box may show them at the publish, but then exactly.
  TimerBinding* dwell = window->TimerOf(panel->form.TmrDwell);
  dwell->Fire();
  dwell->Fire();
  window->PublishNow();
  EXPECT_EQ(window->findChild<QLineEdit*>("TextFreq")->text(), "1200");
  EXPECT_EQ(area->Bar()->value(), 3);
  panel->form.CmdStop_Click();
  window->PublishNow();
  EXPECT_TRUE(area->Bar()->isHidden());
  EXPECT_TRUE(area->Line()->isHidden());

  window->SetRemoteStatus("Remote: 127.0.0.1:5025, 2 clients");
  EXPECT_FALSE(area->Remote()->isHidden());
  EXPECT_EQ(QAccessible::queryAccessibleInterface(area->Remote())->text(QAccessible::Name),
            "Remote: 127.0.0.1:5025, 2 clients");
  window->SetRemoteStatus("");
  EXPECT_TRUE(area->Remote()->isHidden());
}

}  // namespace
}  // namespace pts
