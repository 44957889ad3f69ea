// Guards that keep one careless or hostile host from locking the others out
// of a front end: a cap per peer address on connections in some state, and
// a limiter of wrong guesses at a secret. Keyed by the peer's address as
// text; no Qt, and the time is passed in, so the rules can be tried without
// waiting.
#pragma once

#include <chrono>
#include <map>
#include <string>

namespace pts::remote {

// Accepts the next connection waiting on `listen_fd` (non-blocking,
// close-on-exec) and gives its peer's numeric address, the key of the guards
// below; -1 when none is waiting. One whose address cannot be read is closed.
int AcceptWithPeer(int listen_fd, std::string* peer);

// How many connections each peer address has (of some kind), under a cap
// per address and one for all together.
class PeerCounter {
 public:
  PeerCounter(int per_peer, int total) : per_peer_(per_peer), total_cap_(total) {}
  // Counts one more for `peer`; false (nothing counted) when that would pass
  // either cap.
  bool Take(const std::string& peer);
  void Give(const std::string& peer);
  int Count(const std::string& peer) const;
  int Total() const { return total_; }

 private:
  std::map<std::string, int> counts_;
  int per_peer_, total_cap_, total_ = 0;
};

// Wrong guesses at a secret, per peer address. After each wrong guess the
// peer waits before its next guess is even looked at, twice as long each
// time; a burst of them locks it out for a while; each quiet spell forgives
// one. Other addresses are not affected.
class GuessLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  using Duration = std::chrono::milliseconds;
  struct Rules {
    Duration first_delay{250};  // after the first wrong guess
    int burst = 8;              // wrong guesses that lock the peer out
    Duration lockout{60000};
    Duration forgive{30000};  // a quiet spell this long forgives one wrong guess
    size_t max_peers = 4096;  // beyond: the newcomers share one entry
  };
  GuessLimiter() : GuessLimiter(Rules{}) {}
  explicit GuessLimiter(Rules rules) : rules_(rules) {}

  // How long `peer` must still wait before a guess of its is looked at;
  // zero when it may guess now. A guess made while waiting is to be refused
  // unread, whether or not it is right, and counted as a wrong one.
  Duration Wait(const std::string& peer, Clock::time_point now);
  // A wrong guess, looked at. True when it starts a lockout: the one time a
  // burst is worth a line in the log.
  bool Wrong(const std::string& peer, Clock::time_point now);
  // A right guess: the peer's record is cleared.
  void Right(const std::string& peer);
  int Failures(const std::string& peer, Clock::time_point now);
  const Rules& rules() const { return rules_; }

 private:
  struct Record {
    int failures = 0;
    Clock::time_point last{};   // of the last wrong guess, or of the last forgiving
    Clock::time_point until{};  // no guess looked at before
  };
  Record* Find(const std::string& peer, Clock::time_point now, bool create);
  void Forgive(Record& r, Clock::time_point now) const;
  void Prune(Clock::time_point now);

  Rules rules_;
  std::map<std::string, Record> records_;
};

}  // namespace pts::remote
