#include "remote/dnssd/avahi_poll.h"

#include <avahi-common/timeval.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

// Avahi declares these two types and leaves them to the poll's implementer.
struct AvahiWatch {
  int fd = -1;
  AvahiWatchCallback callback = nullptr;
  void* userdata = nullptr;
  AvahiWatchEvent happened = AvahiWatchEvent(0);  // in the callback running now
  std::unique_ptr<QSocketNotifier> readable, writable;
  // Freed from inside its own callback: deleted once that returns.
  bool dispatching = false;
  bool freed = false;
};

struct AvahiTimeout {
  AvahiTimeoutCallback callback = nullptr;
  void* userdata = nullptr;
  QTimer timer;
  bool dispatching = false;
  bool freed = false;
};

namespace pts::remote::dnssd {

namespace {

void Dispatch(AvahiWatch* w, AvahiWatchEvent event) {
  w->happened = event;
  w->dispatching = true;
  w->callback(w, w->fd, event, w->userdata);
  if (w->freed) {
    delete w;
    return;
  }
  w->dispatching = false;
  w->happened = AvahiWatchEvent(0);
}

void WatchUpdate(AvahiWatch* w, AvahiWatchEvent events) {
  // Qt's read notifier also wakes on a hang-up or an error, which the read
  // then finds; neither can be asked for alone.
  w->readable->setEnabled(events & (AVAHI_WATCH_IN | AVAHI_WATCH_ERR | AVAHI_WATCH_HUP));
  w->writable->setEnabled(events & AVAHI_WATCH_OUT);
}

AvahiWatch* WatchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
  auto* w = new AvahiWatch;
  w->fd = fd;
  w->callback = callback;
  w->userdata = userdata;
  w->readable = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Read);
  w->writable = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Write);
  QObject::connect(w->readable.get(), &QSocketNotifier::activated,
                   [w] { Dispatch(w, AVAHI_WATCH_IN); });
  QObject::connect(w->writable.get(), &QSocketNotifier::activated,
                   [w] { Dispatch(w, AVAHI_WATCH_OUT); });
  WatchUpdate(w, events);
  return w;
}

AvahiWatchEvent WatchGetEvents(AvahiWatch* w) {
  return w->happened;
}

void WatchFree(AvahiWatch* w) {
  if (w->dispatching) {
    w->readable->setEnabled(false);
    w->writable->setEnabled(false);
    w->freed = true;
    return;
  }
  delete w;
}

// The timeout's absolute time (Avahi counts on the system clock) as a delay.
void TimeoutUpdate(AvahiTimeout* t, const struct timeval* tv) {
  if (!tv) {
    t->timer.stop();
    return;
  }
  const AvahiUsec left = -avahi_age(tv);
  t->timer.start(left <= 0 ? 0 : int((left + 999) / 1000));
}

AvahiTimeout* TimeoutNew(const AvahiPoll*, const struct timeval* tv, AvahiTimeoutCallback callback,
                         void* userdata) {
  auto* t = new AvahiTimeout;
  t->callback = callback;
  t->userdata = userdata;
  t->timer.setSingleShot(true);
  QObject::connect(&t->timer, &QTimer::timeout, [t] {
    t->dispatching = true;
    t->callback(t, t->userdata);
    if (t->freed) {
      delete t;
      return;
    }
    t->dispatching = false;
  });
  TimeoutUpdate(t, tv);
  return t;
}

void TimeoutFree(AvahiTimeout* t) {
  if (t->dispatching) {
    t->timer.stop();
    t->freed = true;
    return;
  }
  delete t;
}

}  // namespace

QtAvahiPoll::QtAvahiPoll() {
  api_.userdata = this;
  api_.watch_new = WatchNew;
  api_.watch_update = WatchUpdate;
  api_.watch_get_events = WatchGetEvents;
  api_.watch_free = WatchFree;
  api_.timeout_new = TimeoutNew;
  api_.timeout_update = TimeoutUpdate;
  api_.timeout_free = TimeoutFree;
}

}  // namespace pts::remote::dnssd
