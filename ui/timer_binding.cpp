#include "ui/timer_binding.h"

namespace pts {

TimerBinding::TimerBinding(Timer& control, std::function<void()> on_tick, QObject* parent)
    : QObject(parent), control_(control), on_tick_(std::move(on_tick)) {
  // A sweep step may be 1 ms: the coarse timer's 5 % slack would stretch it.
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(false);
  connect(&timer_, &QTimer::timeout, this, &TimerBinding::Tick);
  Apply(false);
}

TimerBinding::~TimerBinding() {
  if (attached_) control_.SetObserver(nullptr);
}

void TimerBinding::Attach() {
  control_.SetObserver(this);
  attached_ = true;
  Apply(false);
}

void TimerBinding::Changed(Control& control, Prop prop) {
  if (&control != &control_) return;
  if (prop == Prop::Enabled) Apply(false);
  if (prop == Prop::Interval) Apply(true);
}

void TimerBinding::Apply(bool restart) {
  const int interval = control_.Interval();
  // An interval of 0 keeps the timer silent even while it is enabled.
  if (!control_.Enabled() || interval <= 0) {
    timer_.stop();
    return;
  }
  if (restart || !timer_.isActive() || timer_.interval() != interval) timer_.start(interval);
}

void TimerBinding::Tick() {
  if (in_tick_) return;
  in_tick_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{in_tick_};
  on_tick_();
}

}  // namespace pts
