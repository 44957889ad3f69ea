// Ending on a signal (SIGTERM, SIGINT, SIGHUP), with the window or without.
// The handler only writes a byte into a socket pair; on the event loop that
// byte makes every loop return, a box's nested one too (a box then gives its
// escape answer, and any box opened while the handler unwinds returns at
// once). The run then unloads the panel as closing the window does and
// returns 0, so the front ends withdraw what they registered (rpcbind,
// DNS-SD) on the way out. A second signal during all that changes nothing;
// once this object is gone they are ignored: the program is ending anyway.
#pragma once

#include <QObject>
#include <string>

class QSocketNotifier;

namespace pts {

class SignalEnding : public QObject {
  Q_OBJECT

 public:
  SignalEnding() = default;
  ~SignalEnding() override;
  SignalEnding(const SignalEnding&) = delete;
  SignalEnding& operator=(const SignalEnding&) = delete;

  // Catches the signals from now on. False with a one-line reason.
  bool Watch(std::string* error);
  // Whether a signal asked the program to end.
  bool Requested() const { return requested_; }

 private:
  int fds_[2] = {-1, -1};  // the handler writes [0], the event loop reads [1]
  QSocketNotifier* notifier_ = nullptr;
  bool requested_ = false;
};

}  // namespace pts
