// What the front ends share against careless and hostile hosts: files that
// hold secrets, caps per peer address, the limiter of wrong guesses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "remote/transport/peer_guard.h"
#include "remote/transport/private_file.h"

namespace pts::remote {
namespace {

class PrivateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/pts-private-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = dir_ + "/" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
    chmod(path.c_str(), mode);
    return path;
  }
  std::string dir_;
};

TEST_F(PrivateFileTest, OnlyTheOwnersRegularFilesOfTheirSize) {
  const struct {
    mode_t mode;
    size_t size;
    bool ok;
    const char* says;
  } cases[] = {
      {0600, 10, true, ""},         {0400, 10, true, ""},
      {0700, 10, true, ""},         {0640, 10, false, "(mode 0640; chmod go-rwx)"},
      {0620, 10, false, "open to"}, {0610, 10, false, "open to"},
      {0604, 10, false, "open to"}, {0602, 10, false, "open to"},
      {0644, 10, false, "open to"}, {0600, 4, false, "too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::string path = Write("secret", "0123456789", c.mode);
    std::string text = "old", error;
    EXPECT_EQ(ReadPrivateFile(path, "key file", c.size, &text, &error), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(text, "0123456789");
    } else {
      EXPECT_EQ(text, "old");  // nothing of a refused file
      EXPECT_NE(error.find("key file '" + path + "'"), std::string::npos) << error;
      EXPECT_NE(error.find(c.says), std::string::npos) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    unlink(path.c_str());
  }
}

TEST_F(PrivateFileTest, RefusesWhatIsNoFile) {
  const std::string fifo = dir_ + "/fifo", sub = dir_ + "/dir";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // opened, never waited on
  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  for (const std::string& path : {fifo, sub, dir_ + "/missing"}) {
    std::string text, error;
    EXPECT_FALSE(ReadPrivateFile(path, "token file", 4096, &text, &error)) << path;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
}

TEST(PeerCounterTest, OneAddressCannotTakeTheOthersPlaces) {
  PeerCounter c(3, 5);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(c.Take("127.0.0.2"));
  EXPECT_FALSE(c.Take("127.0.0.2"));  // its own cap
  EXPECT_TRUE(c.Take("127.0.0.1"));
  EXPECT_TRUE(c.Take("::1"));
  EXPECT_FALSE(c.Take("127.0.0.3"));  // everyone's cap
  EXPECT_EQ(c.Total(), 5);
  c.Give("127.0.0.2");
  c.Give("127.0.0.9");  // never taken: no effect
  EXPECT_EQ(c.Count("127.0.0.2"), 2);
  EXPECT_TRUE(c.Take("127.0.0.3"));
  for (int i = 0; i < 5; ++i) c.Give("127.0.0.2");
  EXPECT_EQ(c.Count("127.0.0.2"), 0);
  EXPECT_EQ(c.Total(), 3);
}

// A script of wrong guesses at given times (ms) from two addresses, and what
// the limiter must say at each step.
TEST(GuessLimiterTest, SlowsLocksOutAndForgivesPerAddress) {
  using ms = std::chrono::milliseconds;
  GuessLimiter::Rules rules;
  rules.first_delay = ms(100);
  rules.burst = 4;
  rules.lockout = ms(10000);
  rules.forgive = ms(5000);
  GuessLimiter g(rules);
  const GuessLimiter::Clock::time_point t0{};
  const std::string bad = "127.0.0.2", good = "127.0.0.1";
  enum Act { kWrong, kRight, kLook };
  const struct {
    int at;
    const char* peer;
    Act act;
    int wait_before;  // what Wait says first (ms)
    bool lockout;     // Wrong's answer
    int failures;     // afterwards
  } steps[] = {
      {0, "127.0.0.2", kWrong, 0, false, 1},        // now waits 100
      {50, "127.0.0.2", kLook, 50, false, 1},       // a guess now is refused unread...
      {50, "127.0.0.1", kLook, 0, false, 0},        // (the other address may guess)
      {60, "127.0.0.2", kWrong, 40, false, 2},      // ...and counts: waits 200
      {260, "127.0.0.2", kWrong, 0, false, 3},      // waits 400
      {300, "127.0.0.2", kWrong, 360, true, 4},     // the burst: locked out, told once
      {9000, "127.0.0.2", kWrong, 1300, false, 4},  // more while locked: longer, not told
      {19000, "127.0.0.2", kWrong, 0, true, 4},     // not forgiven yet: locked again
      {19000, "127.0.0.1", kWrong, 0, false, 1},    // unaffected
      {29000, "127.0.0.2", kLook, 0, false, 4},     // the lockout is over
      {39000, "127.0.0.2", kLook, 0, false, 2},     // two quiet spells after it forgive two
      {39000, "127.0.0.2", kWrong, 0, false, 3},    // waits 400 again, not locked
      {70000, "127.0.0.2", kLook, 0, false, 0},     // all forgiven
      {70000, "127.0.0.1", kRight, 0, false, 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(std::to_string(s.at) + " " + s.peer);
    const auto now = t0 + ms(s.at);
    EXPECT_EQ(g.Wait(s.peer, now).count(), s.wait_before);
    if (s.act == kWrong) {
      EXPECT_EQ(g.Wrong(s.peer, now), s.lockout);
    } else if (s.act == kRight) {
      g.Right(s.peer);
    }
    EXPECT_EQ(g.Failures(s.peer, now), s.failures);
  }
  EXPECT_EQ(g.Wait(good, t0 + ms(70000)).count(), 0);
  EXPECT_EQ(g.Wait(bad, t0 + ms(70000)).count(), 0);
}

TEST(GuessLimiterTest, AFloodOfNewAddressesSharesOneRecord) {
  GuessLimiter::Rules rules;
  rules.max_peers = 2;
  GuessLimiter g(rules);
  const GuessLimiter::Clock::time_point t{};
  g.Wrong("a", t);
  g.Wrong("b", t);
  EXPECT_EQ(g.Wait("c", t).count(), 0);  // nothing from "c" yet, nor from any newcomer
  g.Wrong("c", t);                       // the table is full: shared
  EXPECT_GT(g.Wait("d", t).count(), 0);
  EXPECT_GT(g.Wait("a", t).count(), 0);
}

}  // namespace
}  // namespace pts::remote
