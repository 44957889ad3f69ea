// Varnel::WriteRpts: the writes of one call in flight together, exact results
// in the order given, and a simulated board trace that stays whole and in time
// order while several threads write. Varnel::PostRpts: the same results, in
// the same order, delivered only when asked for; the newest word wins on a
// busy board.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "hid/io_worker.h"
#include "hid/varnel.h"
#include "support/sim_fixture.h"

namespace pts {
namespace {

using hid::IoStatus;
using hid::SimulatedBackend;
using testing::SimRig;
using Strings = std::vector<std::string>;

// Each board's interface has output report A (all-report index 2i) and input
// report B (2i + 1); the first variable of interface i is its Cmd1.
int32_t OutA(int board) {
  return 2 * (board - 1);
}
int32_t Cmd1Var(int board) {
  return 14 * (board - 1);
}

// Lets no write through until `expected` writes have started (or a generous
// time has passed, then the write fails): serial writes cannot all pass.
class GateBackend : public SimulatedBackend {
 public:
  explicit GateBackend(int expected) : expected_(expected) {}
  IoStatus Write(hid::DeviceId id, std::span<const uint8_t> report) override {
    std::unique_lock lock(mu_);
    ++started_;
    cv_.notify_all();
    if (!cv_.wait_for(lock, std::chrono::seconds(10), [&] { return started_ >= expected_; })) {
      return IoStatus::Failed;
    }
    lock.unlock();
    return SimulatedBackend::Write(id, report);
  }
  bool WriteMayBlock(hid::DeviceId) override { return true; }

 private:
  const int expected_;
  std::mutex mu_;
  std::condition_variable cv_;
  int started_ = 0;
};

TEST(WriteRpts, TheWritesOfOneCallAreInFlightTogether) {
  GateBackend gate(4);
  for (int b = 0; b < 4; ++b) gate.AddBoard(0x5E);
  Varnel varnel(gate);
  ASSERT_TRUE(varnel.OpenDevices());
  ASSERT_EQ(varnel.OpenCount(), 4);
  std::vector<bool> ok;
  const int32_t reports[] = {OutA(1), OutA(2), OutA(3), OutA(4)};
  varnel.WriteRpts(reports, [&](std::size_t, bool r) { ok.push_back(r); });
  EXPECT_EQ(ok, (std::vector<bool>{true, true, true, true}));
  for (int b = 1; b <= 4; ++b) EXPECT_EQ(gate.TotalReceived(b), 1u) << b;
}

TEST(WriteRpts, ManySendsToSlowBoardsKeepOrderAndWholeTraceLines) {
  SimRig rig({.statuses = {0x5E, 0x5C, 0x5A, 0x58}, .record = false});
  std::FILE* trace = std::tmpfile();
  ASSERT_NE(trace, nullptr);
  rig.backend.SetTrace(trace);
  for (int b = 1; b <= 4; ++b) rig.backend.DelayWrites(b, std::chrono::microseconds(50 * b));
  // Four sends in five leave one board out in turn, so that workers also sit
  // out rounds (and the one writing on the caller's thread changes).
  const auto skipped = [](int k) { return k % 5 + 1; };  // 5: none
  constexpr int kSends = 40;
  std::vector<std::vector<int>> want(5);
  for (int k = 0; k < kSends; ++k) {
    std::vector<int32_t> reports;
    for (int b = 1; b <= 4; ++b) {
      if (b == skipped(k)) continue;
      rig.varnel.SetUnscaled(Cmd1Var(b), k);
      reports.push_back(OutA(b));
      want[static_cast<std::size_t>(b)].push_back(k);
    }
    rig.varnel.WriteRpts(reports, nullptr);
  }
  rig.backend.SetTrace(nullptr);

  int written = 0;
  for (int b = 1; b <= 4; ++b) {
    std::vector<int> got;
    for (const auto& word : rig.backend.Received(b)) got.push_back(word[0]);
    EXPECT_EQ(got, want[static_cast<std::size_t>(b)]) << b;
    written += static_cast<int>(got.size());
  }
  std::rewind(trace);
  const std::regex line(R"((\d+\.\d{6}) board=[1-4] out Cmd1=\d+ PWMDC=\d+ PWMF=\d+ F1=\d+ )"
                        R"(F2=\d+ F3=\d+ F4=\d+ F5=\d+ F6=\d+ F7=\d+ F8=\d+ F9=\d+ F10=\d+\n)");
  char buf[512];
  int lines = 0;
  double last = 0;
  while (std::fgets(buf, sizeof buf, trace)) {
    std::cmatch m;
    ASSERT_TRUE(std::regex_match(buf, m, line)) << buf;
    const double t = std::stod(m[1].str());
    EXPECT_GE(t, last) << buf;
    last = t;
    ++lines;
  }
  std::fclose(trace);
  EXPECT_EQ(lines, written);
}

enum class Fault { None, FailBoard2, UnplugBoard2 };

struct ResultRow {
  const char* name;
  Fault fault;
  std::vector<int32_t> reports;
  std::vector<bool> ok;
  std::vector<uint64_t> words;  // received by boards 1..3
  Strings events;               // the agent's events, with "done k" for each result
  bool post = true;             // also posted (one interface twice may skip the first)
};

// Each row waited for (WriteRpts) and posted (PostRpts, then FinishWrites).
class WriteRptsResults : public ::testing::TestWithParam<std::tuple<ResultRow, bool>> {};

TEST_P(WriteRptsResults, AreExactAndInTheOrderGiven) {
  const auto& [r, post] = GetParam();
  if (post && !r.post) GTEST_SKIP();
  SimRig rig({.statuses = {0x5E, 0x5C, 0x5A}});
  for (int b = 1; b <= 3; ++b) rig.backend.DelayWrites(b, std::chrono::microseconds(200));
  if (r.fault == Fault::FailBoard2) rig.backend.FailNextWrites(2, 1);
  if (r.fault == Fault::UnplugBoard2) rig.backend.Unplug(2);
  rig.listener.Clear();
  std::vector<bool> ok;
  const auto done = [&](std::size_t k, bool result) {
    ok.push_back(result);
    rig.listener.events.push_back("done " + std::to_string(k));
  };
  if (post) {
    rig.varnel.PostRpts(
        r.reports, [&](std::size_t k, Varnel::Posted p) { done(k, p == Varnel::Posted::Written); });
    rig.varnel.WaitWrites();
    EXPECT_EQ(rig.listener.events, Strings{}) << "nothing delivered by a wait";
    rig.varnel.FinishWrites();
    EXPECT_FALSE(rig.varnel.WritesPending());
  } else {
    rig.varnel.WriteRpts(r.reports, done);
  }
  EXPECT_EQ(ok, r.ok);
  for (int b = 1; b <= 3; ++b) {
    EXPECT_EQ(rig.backend.TotalReceived(b), r.words[static_cast<std::size_t>(b - 1)]) << b;
  }
  EXPECT_EQ(rig.listener.events, r.events);
  EXPECT_EQ(rig.backend.CallsOnClosed(), 0u);
}

const ResultRow kResultRows[] = {
    {"AllWritten",
     Fault::None,
     {0, 2, 4},
     {true, true, true},
     {1, 1, 1},
     {"done 0", "done 1", "done 2"}},
    {"OneFails",
     Fault::FailBoard2,
     {0, 2, 4},
     {true, false, true},
     {1, 0, 1},
     {"done 0", "done 1", "done 2"}},
    // Closed before its own result, after the result of the one before.
    {"OneGone",
     Fault::UnplugBoard2,
     {0, 2, 4},
     {true, false, true},
     {1, 0, 1},
     {"done 0", "DeviceRemoved 0 1 sim:hidraw1",
      "InterfaceClosed 2 PTS interface board (simulated 2) 2", "done 1", "done 2"}},
    {"SameInterfaceTwiceGoesOutTwice",
     Fault::None,
     {0, 2, 0},
     {true, true, true},
     {2, 1, 0},
     {"done 0", "done 1", "done 2"},
     false},
    {"NoReportAndAnInputReportFail",
     Fault::None,
     {-1, 1, 4},
     {false, false, true},
     {0, 0, 1},
     {"done 0", "done 1", "done 2"}},
    {"Nothing", Fault::None, {}, {}, {0, 0, 0}, {}},
};
INSTANTIATE_TEST_SUITE_P(Rows, WriteRptsResults,
                         ::testing::Combine(::testing::ValuesIn(kResultRows), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "Posted" : "Waited");
                         });

// Holds every write until released, and says how many have begun.
class HeldBackend : public SimulatedBackend {
 public:
  IoStatus Write(hid::DeviceId id, std::span<const uint8_t> report) override {
    {
      std::unique_lock lock(mu_);
      ++started_;
      cv_.notify_all();
      cv_.wait(lock, [&] { return released_; });
    }
    return SimulatedBackend::Write(id, report);
  }
  bool WriteMayBlock(hid::DeviceId) override { return true; }
  void WaitStarted(int n) {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] { return started_ >= n; });
  }
  void Release() {
    const std::lock_guard lock(mu_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int started_ = 0;
  bool released_ = false;
};

// Posts while the board writes the first: they wait in order until one more
// than the queue holds drops the oldest waiting one; the newest goes out, and
// nothing is delivered until asked for after the writes.
TEST(PostRpts, TheNewestWordWinsOnABusyBoardAndResultsComeWhenAsked) {
  constexpr int kPosts = static_cast<int>(hid::IoWorker::kQueued) + 2;
  HeldBackend held;
  held.AddBoard(0x5E);
  Varnel varnel(held);
  ASSERT_TRUE(varnel.OpenDevices());
  Strings log;
  const int32_t reports[] = {OutA(1)};
  for (int post = 0; post < kPosts; ++post) {
    varnel.SetUnscaled(Cmd1Var(1), post);
    varnel.PostRpts(reports, [&log, post](std::size_t k, Varnel::Posted r) {
      const char* names[] = {"written", "failed", "skipped"};
      log.push_back(std::to_string(post) + "/" + std::to_string(k) + " " +
                    names[static_cast<int>(r)]);
    });
    if (post == 0) held.WaitStarted(1);
  }
  varnel.DeliverWrites();
  EXPECT_EQ(log, Strings{}) << "the first write is still held";
  EXPECT_TRUE(varnel.WritesPending());
  held.Release();
  varnel.WaitWrites();
  EXPECT_EQ(log, Strings{});
  varnel.FinishWrites();
  Strings want{"0/0 written", "1/0 skipped"};
  std::vector<int> words{0};
  for (int post = 2; post < kPosts; ++post) {
    want.push_back(std::to_string(post) + "/0 written");
    words.push_back(post);
  }
  EXPECT_EQ(log, want);
  std::vector<int> got;
  for (const auto& word : held.Received(1)) got.push_back(word[0]);
  EXPECT_EQ(got, words);
}

TEST(WriteRpts, AnIndexOutOfRangeThrowsBeforeAnythingIsWritten) {
  SimRig rig({.statuses = {0x5E, 0x5C}});
  const int32_t reports[] = {OutA(1), 99};
  EXPECT_THROW(rig.varnel.WriteRpts(reports, nullptr), VarnelError);
  EXPECT_EQ(rig.backend.TotalReceived(1), 0u);
}

}  // namespace
}  // namespace pts
