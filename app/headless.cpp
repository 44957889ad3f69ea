#include "app/headless.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pts {

namespace {

// The signal handler's end of a socket pair; the event loop reads the other.
int g_signal_fd = -1;

void OnSignal(int) {
  const char byte = 1;
  // Nothing to do when the pipe is full: a stop is already on its way.
  [[maybe_unused]] const ssize_t n = ::write(g_signal_fd, &byte, 1);
}

}  // namespace

std::string ConsoleOperator::OneLine(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t end = text.find_first_of("\r\n", i);
    std::string line = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    i = end == std::string::npos ? text.size() : end + 1;
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
    if (!out.empty()) out += ' ';
    out += line;
  }
  return out;
}

MsgAnswer ConsoleOperator::MessageBox(const std::string& text, MsgButtons buttons, MsgIcon,
                                      const std::string&) {
  std::fprintf(stderr, "pts-panel: %s\n", OneLine(text).c_str());
  std::fflush(stderr);
  return buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel : MsgAnswer::Ok;
}

void ConsoleOperator::EndProgram(int status) {
  std::fflush(nullptr);
  std::exit(status);
}

Headless::Headless(MainForm& form) : runner_(form) {}

Headless::~Headless() {
  if (g_signal_fd >= 0) {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
  }
}

bool Headless::WatchSignals(std::string* error) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    *error = std::string("cannot watch signals: ") + std::strerror(errno);
    return false;
  }
  g_signal_fd = fds[0];
  signals_ = new QSocketNotifier(qintptr(fds[1]), QSocketNotifier::Read, this);
  connect(signals_, &QSocketNotifier::activated, this, [this, fd = fds[1]] {
    char buf[16];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
    Stop();
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  return true;
}

void Headless::Start() {
  runner_.BindTimers(true);
  runner_.StartHotplug();
  runner_.Activate();
}

void Headless::Stop() {
  if (stopped_) return;
  stopped_ = true;
  runner_.Unload();
  QCoreApplication::exit(0);
}

}  // namespace pts
