// Binds a panel Timer control to a QTimer on the UI thread's event loop.
// Enabled starts and stops it; a new Interval restarts the count, as the
// original toolkit's timer does. Each timeout runs the tick handler, unless
// that handler is still running (a modal box inside it runs a nested event
// loop): such a tick is dropped rather than re-entering.
//
// The window forwards the control's changes to Changed(); used on its own
// (benchmarks), Attach() makes the binding the control's observer.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "panel/controls.h"

namespace pts {

class TimerBinding : public QObject, public ControlObserver {
  Q_OBJECT

 public:
  TimerBinding(Timer& control, std::function<void()> on_tick, QObject* parent = nullptr);
  ~TimerBinding() override;

  // Makes this binding the control's observer (when no window observes it).
  void Attach();
  void Changed(Control& control, Prop prop) override;

  bool Running() const { return timer_.isActive(); }
  int IntervalMs() const { return timer_.interval(); }
  // Runs one tick as a timeout would (tests).
  void Fire() { Tick(); }

 private:
  void Apply(bool restart);
  void Tick();

  Timer& control_;
  QTimer timer_;
  std::function<void()> on_tick_;
  bool attached_ = false;
  bool in_tick_ = false;
};

}  // namespace pts
