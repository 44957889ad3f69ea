// The simulated boards through the backend interface.
#include "hid/simulated/simulated_backend.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

namespace pts::hid {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Report(const OutputWord& w) {
  Bytes r(w.size() + 1, 0);  // report id 0, then the word
  std::copy(w.begin(), w.end(), r.begin() + 1);
  return r;
}

DeviceId OpenBoard(SimulatedBackend& sim, int board) {
  const OpenResult r = sim.Open(sim.PathOf(board));
  EXPECT_EQ(r.status, IoStatus::Ok) << r.error;
  return r.id;
}

IoStatus Read(SimulatedBackend& sim, DeviceId id, uint8_t* value) {
  uint8_t buf[8] = {};
  std::size_t got = 0;
  const IoStatus st = sim.GetInputReport(id, 0, buf, 100, &got);
  if (st == IoStatus::Ok) {
    EXPECT_EQ(got, 2u);
    *value = buf[1];
  }
  return st;
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(SimulatedBoard, EnumeratesAndOpensWithTheBoardsDescriptor) {
  SimulatedBackend sim;
  sim.AddBoard(0x35);
  sim.AddDevice(0x1234, 1, {0xC0}, 0, "other");
  const auto all = sim.Enumerate(0, 0);
  ASSERT_EQ(all.size(), 2u);
  const auto boards = sim.Enumerate(kBoardVendorId, kBoardProductId);
  ASSERT_EQ(boards.size(), 1u);
  EXPECT_EQ(boards[0].path, "sim:hidraw0");
  EXPECT_EQ(boards[0].vendor_id, 0x19A1);
  EXPECT_EQ(boards[0].product_id, 0x0064);
  const OpenResult r = sim.Open(boards[0].path);
  ASSERT_EQ(r.status, IoStatus::Ok);
  EXPECT_EQ(r.descriptor, BoardReportDescriptor());
  EXPECT_EQ(sim.Open("sim:nothing").status, IoStatus::NotFound);
}

struct CommandCase {
  std::string name;
  uint8_t cmd;
  bool sets_output;
  bool stores_frequency;
  uint8_t status_after;  // board starts at 0xFE
};

class SimulatedBoardCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(SimulatedBoardCommand, ActsOnTheWord) {
  const CommandCase& c = GetParam();
  SimulatedBackend sim;
  sim.AddBoard(0xFE);
  const DeviceId id = OpenBoard(sim, 1);
  const OutputWord w = {c.cmd, 74, 100, 27, 197, 150, 206, 159, 0, 0x35, 0, 0, 0};
  ASSERT_EQ(sim.Write(id, Report(w)), IoStatus::Ok);
  EXPECT_EQ(sim.Output(1), c.sets_output ? w : OutputWord{});
  EXPECT_EQ(sim.Eeprom(1).frequency_stored, c.stores_frequency);
  EXPECT_EQ(sim.Eeprom(1).stored_word, c.stores_frequency ? w : OutputWord{});
  EXPECT_EQ(sim.Status(1), c.status_after);
  EXPECT_EQ(sim.Eeprom(1).model_code, c.status_after & 0xF0);
  uint8_t data1 = 0;
  ASSERT_EQ(Read(sim, id, &data1), IoStatus::Ok);
  EXPECT_EQ(data1, c.status_after);
  ASSERT_EQ(sim.Received(1).size(), 1u);
  EXPECT_EQ(sim.Received(1)[0], w);
}

INSTANTIATE_TEST_SUITE_P(Commands, SimulatedBoardCommand,
                         ::testing::Values(CommandCase{"None", 0, false, false, 0xFE},
                                           CommandCase{"SetOutput", 4, true, false, 0xFE},
                                           CommandCase{"StoreFrequency", 5, false, true, 0xFE},
                                           CommandCase{"StoreModel", 6, false, false, 0x3E}),
                         [](const auto& info) { return info.param.name; });

TEST(SimulatedBoard, ShortAndLongReportsAreFittedToTheWord) {
  SimulatedBackend sim;
  sim.AddBoard(0);
  const DeviceId id = OpenBoard(sim, 1);
  ASSERT_EQ(sim.Write(id, Bytes{0, 4, 9}), IoStatus::Ok);
  EXPECT_EQ(sim.Received(1).back(), (OutputWord{4, 9}));
  Bytes longer(20, 7);
  ASSERT_EQ(sim.Write(id, longer), IoStatus::Ok);
  EXPECT_EQ(sim.Received(1).back(), (OutputWord{7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}));
  EXPECT_EQ(sim.Write(id, Bytes{}), IoStatus::Failed);
  EXPECT_EQ(sim.LastReport(1), longer);
}

TEST(SimulatedBoard, TraceLinesForEveryReportReceivedOrSent) {
  SimulatedBackend sim;
  sim.AddBoard(0x35);
  sim.AddBoard(0x8E);
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  sim.SetTrace(f);
  const DeviceId a = OpenBoard(sim, 1);
  const DeviceId b = OpenBoard(sim, 2);
  ASSERT_EQ(sim.Write(a, Report({4, 48, 100, 255, 255, 255, 255, 255, 0, 16, 0, 0, 0})),
            IoStatus::Ok);
  uint8_t v = 0;
  ASSERT_EQ(Read(sim, b, &v), IoStatus::Ok);
  sim.FailNextWrites(1, 1);
  EXPECT_EQ(sim.Write(a, Report({})), IoStatus::Failed);  // not received: no line
  sim.SetTrace(nullptr);
  ASSERT_EQ(Read(sim, b, &v), IoStatus::Ok);  // tracing off

  std::rewind(f);
  std::vector<std::string> lines;
  char buf[512];
  while (std::fgets(buf, sizeof buf, f)) lines.emplace_back(buf);
  std::fclose(f);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(R"(\d+\.\d{6} board=1 out Cmd1=4 PWMDC=48 PWMF=100 F1=255 F2=255 )"
                           R"(F3=255 F4=255 F5=255 F6=0 F7=16 F8=0 F9=0 F10=0\n)")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d+\.\d{6} board=2 in Data1=142\n)")))
      << lines[1];
}

// A write may block exactly while its own board's writes are delayed, however
// the delays were set, changed and cleared before.
TEST(SimulatedBoard, WriteMayBlockFollowsTheDelay) {
  using std::chrono::microseconds;
  SimulatedBackend sim;
  sim.AddBoard(0x35);
  sim.AddBoard(0x35);
  const DeviceId one = OpenBoard(sim, 1), two = OpenBoard(sim, 2);
  EXPECT_FALSE(sim.WriteMayBlock(one));
  for (const auto delay : {microseconds(5), microseconds(3)}) sim.DelayWrites(1, delay);
  EXPECT_TRUE(sim.WriteMayBlock(one));
  EXPECT_FALSE(sim.WriteMayBlock(two));
  sim.DelayWrites(1, microseconds(0));
  EXPECT_FALSE(sim.WriteMayBlock(one));
  sim.DelayWrites(2, microseconds(1));
  EXPECT_FALSE(sim.WriteMayBlock(one));
  EXPECT_TRUE(sim.WriteMayBlock(two));
}

TEST(SimulatedBoard, InjectedFaults) {
  SimulatedBackend sim;
  sim.AddBoard(0x35);
  const DeviceId id = OpenBoard(sim, 1);
  const Bytes r = Report({4});
  sim.FailNextWrites(1, 2);
  EXPECT_EQ(sim.Write(id, r), IoStatus::Failed);
  EXPECT_EQ(sim.Write(id, r), IoStatus::Failed);
  EXPECT_EQ(sim.Write(id, r), IoStatus::Ok);
  EXPECT_EQ(sim.TotalReceived(1), 1u);
  uint8_t v = 0;
  sim.FailNextReads(1, 1);
  EXPECT_EQ(Read(sim, id, &v), IoStatus::TimedOut);
  EXPECT_EQ(Read(sim, id, &v), IoStatus::Ok);
  sim.DelayWrites(1, std::chrono::microseconds(1));
  EXPECT_EQ(sim.Write(id, r), IoStatus::Ok);
  sim.DenyAccess(1, true);
  EXPECT_EQ(sim.Open(sim.PathOf(1)).status, IoStatus::AccessDenied);
  EXPECT_EQ(sim.Write(id, r), IoStatus::Ok);  // a handle opened before keeps working
  EXPECT_EQ(sim.Write(999, r), IoStatus::Failed);
  uint8_t buf[1];
  std::size_t got = 0;
  EXPECT_EQ(sim.GetInputReport(id, 0, buf, 10, &got), IoStatus::Failed);  // buffer too small
}

TEST(SimulatedBoard, UnplugAndReplug) {
  SimulatedBackend sim;
  sim.AddBoard(0x35);
  const int fd = sim.HotplugFd();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(Readable(fd));
  EXPECT_EQ(sim.DrainHotplug().size(), 1u);
  EXPECT_FALSE(Readable(fd));

  const DeviceId old_id = OpenBoard(sim, 1);
  sim.Unplug(1);
  EXPECT_FALSE(sim.IsAttached(1));
  EXPECT_TRUE(Readable(fd));
  EXPECT_TRUE(sim.Enumerate(0, 0).empty());
  EXPECT_EQ(sim.Write(old_id, Report({4})), IoStatus::Disconnected);
  uint8_t v = 0;
  EXPECT_EQ(Read(sim, old_id, &v), IoStatus::Disconnected);
  EXPECT_EQ(sim.Open("sim:hidraw0").status, IoStatus::NotFound);

  sim.Replug(1);
  const std::vector<HotplugEvent> events = sim.DrainHotplug();
  EXPECT_FALSE(Readable(fd));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, HotplugEvent::Kind::Removed);
  EXPECT_EQ(events[0].path, "sim:hidraw0");
  EXPECT_EQ(events[0].vendor_id, kBoardVendorId);
  EXPECT_EQ(events[1].kind, HotplugEvent::Kind::Arrived);
  EXPECT_EQ(events[1].path, "sim:hidraw1");
  EXPECT_EQ(sim.PathOf(1), "sim:hidraw1");
  // The old handle stays gone; a new one works.
  EXPECT_EQ(sim.Write(old_id, Report({4})), IoStatus::Disconnected);
  const DeviceId new_id = OpenBoard(sim, 1);
  EXPECT_NE(new_id, old_id);
  EXPECT_EQ(sim.Write(new_id, Report({4})), IoStatus::Ok);
  sim.Close(new_id);
  EXPECT_EQ(sim.Write(new_id, Report({4})), IoStatus::Failed);
  EXPECT_TRUE(sim.DrainHotplug().empty());
}

TEST(SimulatedBoard, HistoryIsCappedButTheTotalCountsEverything) {
  SimulatedBackend sim;
  sim.AddBoard(0);
  const DeviceId id = OpenBoard(sim, 1);
  const std::size_t n = SimulatedBackend::kHistoryCap + 1;
  for (std::size_t i = 0; i < n; ++i) {
    ASSERT_EQ(sim.Write(id, Bytes{0, 4, static_cast<uint8_t>(i)}), IoStatus::Ok);
  }
  EXPECT_EQ(sim.TotalReceived(1), n);
  EXPECT_EQ(sim.Received(1).size(), SimulatedBackend::kHistoryCap / 2 + 1);
  EXPECT_EQ(sim.Received(1).back()[1], static_cast<uint8_t>(n - 1));
  sim.ClearReceived(1);
  EXPECT_TRUE(sim.Received(1).empty());
}

TEST(SimulatedBoard, ObserverSeesEveryAcceptedReport) {
  SimulatedBackend sim;
  sim.AddBoard(0);
  sim.AddBoard(0);
  std::vector<int> boards;
  sim.SetReportObserver([&](int board, SimulatedBackend::Clock::time_point, const OutputWord&) {
    boards.push_back(board);
  });
  const DeviceId a = OpenBoard(sim, 1);
  const DeviceId b = OpenBoard(sim, 2);
  sim.Write(b, Report({4}));
  sim.FailNextWrites(1, 1);
  sim.Write(a, Report({4}));
  sim.Write(a, Report({4}));
  EXPECT_EQ(boards, (std::vector<int>{2, 1}));
}

struct ListCase {
  std::string text;
  bool ok;
  Bytes values;
};

class SimulateList : public ::testing::TestWithParam<ListCase> {};

TEST_P(SimulateList, Parses) {
  const ListCase& c = GetParam();
  Bytes got = {99};
  std::string error = "unchanged";
  EXPECT_EQ(ParseSimulateList(c.text, &got, &error), c.ok) << c.text;
  if (c.ok) {
    EXPECT_EQ(got, c.values);
    EXPECT_EQ(error, "");
  } else {
    EXPECT_EQ(got, Bytes{99}) << "statuses untouched on error";
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Lists, SimulateList,
                         ::testing::Values(ListCase{"0x35,0x8E", true, {0x35, 0x8E}},
                                           ListCase{"254", true, {254}},
                                           ListCase{"0,255,0XfF,010", true, {0, 255, 255, 10}},
                                           ListCase{"", false, {}}, ListCase{"0x35,", false, {}},
                                           ListCase{",1", false, {}}, ListCase{"1,,2", false, {}},
                                           ListCase{"256", false, {}}, ListCase{"0x100", false, {}},
                                           ListCase{"99999999999999999999", false, {}},
                                           ListCase{"0x", false, {}}, ListCase{"-1", false, {}},
                                           ListCase{"12a", false, {}}, ListCase{"0xG1", false, {}},
                                           ListCase{" 1", false, {}}));

TEST(SimulateList, ReasonNamesTheEntry) {
  std::string error;
  EXPECT_FALSE(ParseSimulateList("1,2,0x1FF", nullptr, &error));
  EXPECT_NE(error.find("entry 3"), std::string::npos) << error;
  EXPECT_NE(error.find("0x1FF"), std::string::npos) << error;
}

}  // namespace
}  // namespace pts::hid
