#include "remote/vxi11/rpcbind.h"

#include <netinet/in.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace pts::remote::vxi11 {

namespace {

// Every registration still in place, for the exit handler.
std::vector<std::pair<uint32_t, uint32_t>>& Registered() {
  static std::vector<std::pair<uint32_t, uint32_t>> all;
  return all;
}

void UnsetAll() {
  for (const auto& [prog, vers] : Registered()) rpcb_unset(prog, vers, nullptr);
  Registered().clear();
}

// Whether a server accepts connections at `nb` (a TCP address from rpcbind).
bool Answers(const netbuf& nb) {
  const auto* sa = static_cast<const sockaddr*>(nb.buf);
  const int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool up = ::connect(fd, sa, nb.len) == 0;
  if (!up && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    up = ::poll(&p, 1, 1000) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
         err == 0;
  }
  ::close(fd);
  return up;
}

}  // namespace

Registration::~Registration() {
  auto& all = Registered();
  for (const auto& r : done_) {
    rpcb_unset(r.first, r.second, nullptr);
    all.erase(std::remove(all.begin(), all.end(), r), all.end());
  }
}

bool Registration::Add(uint32_t prog, uint32_t vers, const sockaddr_storage& address,
                       std::string* error) {
  const bool v6 = address.ss_family == AF_INET6;
  netconfig* nc = getnetconfigent(v6 ? "tcp6" : "tcp");
  if (!nc) {
    *error = std::string("no netconfig entry for ") + (v6 ? "tcp6" : "tcp");
    return false;
  }
  netbuf nb{};
  nb.buf = const_cast<sockaddr_storage*>(&address);
  nb.len = nb.maxlen = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  bool ok = rpcb_set(prog, vers, nc, &nb);
  if (!ok) {
    // Taken: by a program that is gone (killed, or its window closed by a
    // signal) the registration is stale and replaced; a live one stays. One
    // look decides for all of this object's programs (libtirpc's address
    // cache leaks on a second look).
    sockaddr_storage there{};
    netbuf old{sizeof there, 0, &there};
    const char* host = v6 ? "::1" : "127.0.0.1";
    if (!stale_ && !rpcb_getaddr(prog, vers, nc, &old, host)) {
      *error = "rpcbind does not answer (is rpcbind running?)";
    } else if (!stale_ && Answers(old)) {
      *error = "another VXI-11 server is registered with rpcbind";
    } else {
      stale_ = true;
      ok = rpcb_unset(prog, vers, nc) && rpcb_set(prog, vers, nc, &nb);
      if (!ok) *error = "rpcbind refused the registration";
    }
  }
  freenetconfigent(nc);
  if (!ok) return false;
  // The list first: statics made before the hook is set are destroyed after
  // it runs (std::exit from Off), so the hook still finds what to withdraw.
  Registered();
  static std::once_flag exit_hook;
  std::call_once(exit_hook, [] { std::atexit(UnsetAll); });
  done_.emplace_back(prog, vers);
  Registered().emplace_back(prog, vers);
  return true;
}

}  // namespace pts::remote::vxi11
