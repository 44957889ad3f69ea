#include "remote/transport/peer_guard.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace pts::remote {

int AcceptWithPeer(int listen_fd, std::string* peer) {
  for (;;) {
    sockaddr_storage from{};
    socklen_t from_len = sizeof from;
    const int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&from), &from_len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return -1;  // none left (or the peer already gave up)
    char host[NI_MAXHOST] = "";
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&from), from_len, host, sizeof host, nullptr,
                    0, NI_NUMERICHOST) == 0) {
      *peer = host;
      return fd;
    }
    ::close(fd);
  }
}

bool PeerCounter::Take(const std::string& peer) {
  if (total_ >= total_cap_) return false;
  int& n = counts_[peer];
  if (n >= per_peer_) return false;
  ++n, ++total_;
  return true;
}

void PeerCounter::Give(const std::string& peer) {
  auto it = counts_.find(peer);
  if (it == counts_.end()) return;
  --total_;
  if (--it->second <= 0) counts_.erase(it);
}

int PeerCounter::Count(const std::string& peer) const {
  auto it = counts_.find(peer);
  return it == counts_.end() ? 0 : it->second;
}

namespace {
// Shared by the peers that came when the table was full: a flood of new
// addresses (an IPv6 host has plenty) ends up limited together.
const std::string kOverflow = "(others)";
}  // namespace

void GuessLimiter::Forgive(Record& r, Clock::time_point now) const {
  if (r.failures == 0 || now < r.last) return;
  // The quiet spell is counted from the end of a lockout, not from within it.
  const Clock::time_point from = std::max(r.last, r.until);
  if (now < from) return;
  const auto spells = (now - from) / rules_.forgive;
  if (spells <= 0) return;
  r.failures = spells >= r.failures ? 0 : r.failures - int(spells);
  r.last = from + spells * rules_.forgive;
}

void GuessLimiter::Prune(Clock::time_point now) {
  for (auto it = records_.begin(); it != records_.end();) {
    Forgive(it->second, now);
    if (it->second.failures == 0 && it->second.until <= now) {
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
}

GuessLimiter::Record* GuessLimiter::Find(const std::string& peer, Clock::time_point now,
                                         bool create) {
  auto it = records_.find(peer);
  if (it == records_.end()) {
    if (!create) {
      // A newcomer while the table is full is judged by the shared entry.
      if (records_.size() < rules_.max_peers) return nullptr;
      it = records_.find(kOverflow);
      if (it == records_.end()) return nullptr;
    } else {
      if (records_.size() >= rules_.max_peers) Prune(now);
      const bool full = records_.size() >= rules_.max_peers;
      it = records_.try_emplace(full ? kOverflow : peer).first;
    }
  }
  Forgive(it->second, now);
  return &it->second;
}

GuessLimiter::Duration GuessLimiter::Wait(const std::string& peer, Clock::time_point now) {
  Record* r = Find(peer, now, false);
  if (!r || r->until <= now) return Duration::zero();
  return std::chrono::ceil<Duration>(r->until - now);
}

bool GuessLimiter::Wrong(const std::string& peer, Clock::time_point now) {
  Record& r = *Find(peer, now, true);
  const bool locked = r.failures >= rules_.burst && r.until > now;
  ++r.failures;
  r.last = now;
  if (r.failures >= rules_.burst) {
    const bool starts = !locked;
    r.until = now + rules_.lockout;
    r.failures = rules_.burst;
    return starts;
  }
  // 1, 2, 4, ... times the first delay; below the burst this stays small.
  r.until = now + rules_.first_delay * (1 << std::min(r.failures - 1, 20));
  return false;
}

void GuessLimiter::Right(const std::string& peer) {
  records_.erase(peer);
}

int GuessLimiter::Failures(const std::string& peer, Clock::time_point now) {
  Record* r = Find(peer, now, false);
  return r ? r->failures : 0;
}

}  // namespace pts::remote
