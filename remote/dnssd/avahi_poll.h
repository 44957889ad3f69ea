// Avahi's event-loop abstraction (AvahiPoll) over Qt's event loop, so that
// Avahi's client runs on the UI thread beside everything else: a watch is a
// read and a write QSocketNotifier, a timeout a single-shot QTimer. Avahi may
// free or update a watch or timeout from inside its own callback.
#pragma once

#include <avahi-common/watch.h>

namespace pts::remote::dnssd {

class QtAvahiPoll {
 public:
  QtAvahiPoll();
  QtAvahiPoll(const QtAvahiPoll&) = delete;
  QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;
  // Every Avahi object made on Api() must have been freed before.
  ~QtAvahiPoll() = default;

  const AvahiPoll* Api() const { return &api_; }

 private:
  AvahiPoll api_;
};

}  // namespace pts::remote::dnssd
