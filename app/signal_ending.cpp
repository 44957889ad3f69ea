#include "app/signal_ending.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace pts {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler's end of the socket pair; -1 while nothing watches.
std::atomic<int> g_signal_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int) {
  const int saved = errno;  // the interrupted code may be about to read it
  const char byte = 1;
  // A full buffer needs no more bytes: the ending is on its way.
  if (const int fd = g_signal_fd.load(); fd >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

void Handle(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : kSignals) sigaction(s, &sa, nullptr);
}

}  // namespace

SignalEnding::~SignalEnding() {
  if (fds_[0] < 0) return;
  Handle(SIG_IGN);
  g_signal_fd.store(-1);
  delete notifier_;
  ::close(fds_[0]);
  ::close(fds_[1]);
}

bool SignalEnding::Watch(std::string* error) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) != 0) {
    *error = std::string("cannot watch signals: ") + std::strerror(errno);
    fds_[0] = fds_[1] = -1;
    return false;
  }
  notifier_ = new QSocketNotifier(qintptr(fds_[1]), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char buf[16];
    while (::read(fds_[1], buf, sizeof buf) > 0) {
    }
    if (requested_) return;
    requested_ = true;
    // Every loop, the innermost first: a box inside a handler, then the main one.
    QCoreApplication::exit(0);
  });
  g_signal_fd.store(fds_[0]);
  Handle(OnSignal);
  return true;
}

}  // namespace pts
