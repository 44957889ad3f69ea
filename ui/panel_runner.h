// Runs the panel's logic on the event loop, for the window and for the run
// without one alike: handlers (an error that reaches here is untrapped:
// reported, then the program ends), the two timers, hot-plug, activation and
// unload. A handler that shows a modal box runs a nested event loop; ticks and
// hot-plug arriving meanwhile wait until it returns instead of re-entering.
#pragma once

#include <QObject>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "panel/mainform.h"

class QSocketNotifier;

namespace pts {

class TimerBinding;

class PanelRunner : public QObject {
  Q_OBJECT

 public:
  explicit PanelRunner(MainForm& form, QObject* parent = nullptr);
  ~PanelRunner() override;

  template <typename F>
  void Run(F&& handler);
  // Whether a handler is running (a modal box inside it may be up).
  bool InHandler() const { return depth_ > 0; }
  // Whether the running handler is a sweep step.
  bool InSweepStep() const { return in_sweep_step_; }

  // Binds TmrDwell and TmrBlink to the event loop. With `observe`, each
  // binding observes its timer; otherwise the caller observes the timers and
  // forwards their changes to TimerOf().
  void BindTimers(bool observe);
  TimerBinding* TimerOf(const Timer& timer) const;
  // Takes the agent's hot-plug events from now on.
  void StartHotplug();
  void Activate() {
    Run([form = &form_] { form->Form_Activate(); });
  }
  // As closing the window: Form_Unload once, then no more ticks or devices.
  void Unload();
  bool Unloaded() const { return unloaded_; }
  // Called each time the outermost handler has returned.
  void OnHandlersDone(std::function<void()> f) { done_.push_back(std::move(f)); }

 private:
  void Failed(const std::exception& error);
  void HandlersDone();
  void OnHotplug();

  MainForm& form_;
  std::vector<std::unique_ptr<TimerBinding>> timers_;
  QSocketNotifier* hotplug_ = nullptr;
  bool hotplug_deferred_ = false;
  bool in_sweep_step_ = false;
  bool unloaded_ = false;
  int depth_ = 0;
  std::vector<std::function<void()>> done_;
};

template <typename F>
void PanelRunner::Run(F&& handler) {
  ++depth_;
  try {
    handler();
  } catch (const std::exception& e) {
    Failed(e);
  }
  if (--depth_ == 0) HandlersDone();
}

}  // namespace pts
