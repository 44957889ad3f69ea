#include "ui/timer_binding.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace pts {

TimerBinding::TimerBinding(Timer& control, std::function<void()> on_tick, QObject* parent)
    : QObject(parent), control_(control), on_tick_(std::move(on_tick)) {
#ifdef __linux__
  fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd_ >= 0) {
    notifier_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TimerBinding::OnExpired);
  }
#endif
  fallback_.setTimerType(Qt::PreciseTimer);
  connect(&fallback_, &QTimer::timeout, this, [this] { Tick(); });
  Apply(false);
}

TimerBinding::~TimerBinding() {
  if (alive_) *alive_ = false;
  if (attached_) control_.SetObserver(nullptr);
  delete notifier_;
#ifdef __linux__
  if (fd_ >= 0) close(fd_);
#endif
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
    Stop();
    return;
  }
  if (restart || !running_ || interval_ != interval) Start(interval);
}

void TimerBinding::Start(int interval_ms) {
  interval_ = interval_ms;
  running_ = true;
  ++generation_;
#ifdef __linux__
  if (fd_ >= 0) {
    const timespec period{interval_ms / 1000, long(interval_ms % 1000) * 1000000L};
    const itimerspec spec{period, period};  // first expiry one interval from now
    timerfd_settime(fd_, 0, &spec, nullptr);
    return;
  }
#endif
  fallback_.start(interval_ms);
}

void TimerBinding::Stop() {
  if (!running_) return;
  running_ = false;
  ++generation_;
#ifdef __linux__
  if (fd_ >= 0) {
    const itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr);
    return;
  }
#endif
  fallback_.stop();
}

void TimerBinding::OnExpired() {
#ifdef __linux__
  uint64_t due = 0;
  // Always drain the count, also when the ticks are dropped: an unread timerfd
  // stays readable and would spin the (nested) event loop.
  if (read(fd_, &due, sizeof due) != sizeof due) return;
  if (in_tick_ || !running_) return;
  due = std::min<uint64_t>(due, uint64_t(std::max(1, kMaxCatchUpMs / interval_)));
  const uint64_t generation = generation_;
  for (uint64_t i = 0; i < due; ++i) {
    if (!Tick()) return;  // the handler ended the binding
    // Stopped or restarted by the handler: the rest of the old grid is void.
    if (!running_ || generation != generation_) break;
  }
#endif
}

bool TimerBinding::Tick() {
  if (in_tick_) return true;
  in_tick_ = true;
  bool alive = true;
  alive_ = &alive;
  try {
    on_tick_();
  } catch (...) {
    if (alive) {
      alive_ = nullptr;
      in_tick_ = false;
    }
    throw;
  }
  if (!alive) return false;  // nothing of this object may be touched now
  alive_ = nullptr;
  in_tick_ = false;
  return true;
}

}  // namespace pts
