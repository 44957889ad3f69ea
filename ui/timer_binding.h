// Binds a panel Timer control to the UI thread's event loop. Enabled starts
// and stops it; a new Interval restarts the count, as the original toolkit's
// timer does. Each expiry runs the tick handler, unless that handler is still
// running (a modal box inside it runs a nested event loop): such ticks are
// dropped rather than re-entering.
//
// Ticks keep to the grid start + k x interval. On Linux a timerfd keeps the
// grid in the kernel with nanosecond deadlines (Qt's timers wake on whole
// milliseconds and, once a tick is late by a full interval, restart their
// count from the late tick, so a 1 ms sweep slips). Ticks that fell due while
// the thread was held up run at once, up to kMaxCatchUpMs worth; beyond that
// they are dropped and the grid goes on. Elsewhere a precise QTimer is used.
//
// The window forwards the control's changes to Changed(); used on its own
// (benchmarks), Attach() makes the binding the control's observer.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "panel/controls.h"

class QSocketNotifier;

namespace pts {

class TimerBinding : public QObject, public ControlObserver {
  Q_OBJECT

 public:
  static constexpr int kMaxCatchUpMs = 100;

  TimerBinding(Timer& control, std::function<void()> on_tick, QObject* parent = nullptr);
  ~TimerBinding() override;

  // Makes this binding the control's observer (when no window observes it).
  void Attach();
  void Changed(Control& control, Prop prop) override;

  bool Running() const { return running_; }
  int IntervalMs() const { return interval_; }
  // Runs one tick as an expiry would (tests).
  void Fire() { Tick(); }

 private:
  void Apply(bool restart);
  void Start(int interval_ms);
  void Stop();
  void OnExpired();  // the timerfd is readable
  // Runs the handler unless it is running already. False when the handler
  // destroyed this binding.
  bool Tick();

  Timer& control_;
  std::function<void()> on_tick_;
  int fd_ = -1;  // timerfd; -1: the QTimer below is used
  QSocketNotifier* notifier_ = nullptr;
  QTimer fallback_;
  int interval_ = 0;
  bool running_ = false;
  uint64_t generation_ = 0;  // bumped by every start and stop
  bool attached_ = false;
  bool in_tick_ = false;
  bool* alive_ = nullptr;  // set while the handler runs; cleared if the binding dies meanwhile
};

}  // namespace pts
