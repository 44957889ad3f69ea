// The front panel window. It builds one widget per panel control at the
// control's place (twips scaled by the screen's logical dpi), observes every
// control and mirrors each change into its widget, and hands the operator's
// actions to MainForm's handlers. Widgets carry the control's name as their
// objectName ("TextFreq", "Knob1(3)", "D(10)").
//
// The toolkit differs from the original in ways that matter (see the traps
// in the design notes): Form_Activate runs once, at the first show; only
// the operator's moves into TextFreq count as its GotFocus; only user edits
// of a text box and the operator's knob turns reach the logic.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "panel/controls.h"
#include "panel/mainform.h"
#include "ui/binding.h"
#include "ui/panel_runner.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;

namespace pts {

class ProgressArea;
class TimerBinding;

class MainWindow : public QMainWindow, public ControlObserver, private BindingHost {
  Q_OBJECT

 public:
  explicit MainWindow(MainForm& form, QWidget* parent = nullptr);
  ~MainWindow() override;

  // ControlObserver: mirrors a change made by the logic.
  void Changed(Control& control, Prop prop) override;

  // Twips to pixels at this screen's logical dpi.
  int Px(int twips) const override;
  // The status line under the panel (the remote server's); empty text hides it.
  void SetRemoteStatus(const QString& text);
  // Publishes the accessible names, values and the sweep's progress now
  // instead of at the next repaint slot (tests).
  void PublishNow();
  ProgressArea* Progress() const { return progress_; }
  // The timer bound to TmrDwell or TmrBlink (tests).
  TimerBinding* TimerOf(const Timer& timer) const { return runner_->TimerOf(timer); }
  // Whether a handler is running (a modal box inside it may be up).
  bool InHandler() const { return runner_->InHandler(); }
  PanelRunner& Runner() { return *runner_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildPanel();
  void BindTimers();
  void SetTabOrder();
  void ShowBackColors();  // the text boxes' back colours as the logic holds them
  QWidget* WidgetOf(const Control& control) const;

  // BindingHost
  MainForm& Form() override { return form_; }
  void RunHandler(const std::function<void()>& handler) override { Run(handler); }
  bool InSweepStep() const override { return runner_->InSweepStep(); }
  BindingHost& Host() { return *this; }
  void Dirty();  // publish after the next repaint slot

  // Runs a handler of the logic for an event of the toolkit.
  template <typename F>
  void Run(F&& handler) {
    runner_->Run(std::forward<F>(handler));
  }
  void HandlersDone();  // the outermost handler returned
  // Menu actions: run the handler, then show the check marks the logic holds.
  void RunMenu(void (MainForm::*handler)());

  // Key filter and GotFocus of the frequency boxes.
  bool FilterKey(QLineEdit* edit, QKeyEvent* event);
  bool FilterInputMethod(QLineEdit* edit, QInputMethodEvent* event);
  int16_t KeyPress(QLineEdit* edit, int16_t code);
  // The operator's presses are shown without waiting for the repaint pace.
  void WatchInput();
  void InputArrived();

  MainForm& form_;
  QWidget* panel_ = nullptr;
  double scale_ = 1.0;
  std::unordered_map<const Control*, std::unique_ptr<Binding>> bindings_;
  PanelRunner* runner_ = nullptr;
  ProgressArea* progress_ = nullptr;
  QLineEdit* text_freq_ = nullptr;
  QLineEdit* text_freq_stop_ = nullptr;
  bool back_colors_pending_ = false;
  QTimer* paint_later_ = nullptr;
  std::chrono::steady_clock::time_point last_paint_{};
  // The operator pressed a key or a button: the next repaint is not held.
  bool paint_input_ = false;
  // The accessible faces and the progress follow at the same rate.
  QTimer* publish_later_ = nullptr;
  std::chrono::steady_clock::time_point last_publish_{};
  // Where the focus was when the window last went inactive.
  QPointer<QWidget> focus_when_inactive_;
  bool shown_once_ = false;
  bool replaying_key_ = false;
};

}  // namespace pts
