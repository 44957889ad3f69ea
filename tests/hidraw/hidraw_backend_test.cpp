// The hidraw backend against umockdev: sysfs and uevents are emulated, each
// /dev/hidrawN is either a pty (the test sees the program's bytes; ioctls
// fail with ENOTTY as on a kernel without HIDIOCGINPUT) or a scripted node
// that answers like the kernel's hidraw.
#include "hid/hidraw/hidraw_backend.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hid/simulated/simulated_backend.h"
#include "umockdev_testbed.h"

namespace pts::testing {
namespace {

using hid::HidrawBackend;
using hid::HotplugEvent;
using hid::IoStatus;

class HidrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bed_.Active()) {
      GTEST_SKIP() << "needs libumockdev-preload.so: run this binary under umockdev-wrapper "
                      "(ctest does)";
    }
  }

  MockNode AddBoard(int number, std::string name = "PTS Interface Board") {
    BoardSpec spec;
    spec.number = number;
    spec.name = std::move(name);
    spec.descriptor = hid::BoardReportDescriptor();
    return bed_.AddBoard(spec);
  }

  // Waits (without a deadline that matters) until hot-plug events are there.
  static void AwaitHotplug(HidrawBackend& backend) {
    pollfd p{backend.HotplugFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1) << "no uevent arrived";
  }

  MockBed bed_;
};

struct FilterCase {
  uint16_t vendor_id;
  uint16_t product_id;
  std::vector<std::string> paths;
};

class EnumerateTest : public HidrawTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(EnumerateTest, MatchesIdsFromTheHidParent) {
  AddBoard(0);
  BoardSpec mouse;
  mouse.number = 1;
  mouse.vendor_id = 0x046D;
  mouse.product_id = 0xC52B;
  mouse.name = "Receiver";
  bed_.AddBoard(mouse);
  AddBoard(2, "");  // no HID_NAME

  HidrawBackend backend;
  const auto found = backend.Enumerate(GetParam().vendor_id, GetParam().product_id);
  std::vector<std::string> paths;
  for (const auto& info : found) paths.push_back(info.path);
  EXPECT_EQ(paths, GetParam().paths);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, EnumerateTest,
    ::testing::Values(FilterCase{0x19A1, 0x0064, {"/dev/hidraw0", "/dev/hidraw2"}},
                      FilterCase{0, 0, {"/dev/hidraw0", "/dev/hidraw1", "/dev/hidraw2"}},
                      FilterCase{0x19A1, 0, {"/dev/hidraw0", "/dev/hidraw2"}},
                      FilterCase{0, 0xC52B, {"/dev/hidraw1"}}, FilterCase{0x19A1, 0x0065, {}}));

TEST_F(HidrawTest, EnumerateGivesIdsAndNames) {
  AddBoard(0);
  AddBoard(1, "");
  HidrawBackend backend;
  const auto found = backend.Enumerate(0x19A1, 0x0064);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].vendor_id, 0x19A1);
  EXPECT_EQ(found[0].product_id, 0x0064);
  EXPECT_EQ(found[0].name, "PTS Interface Board");
  EXPECT_EQ(found[1].name, "HID 19a1:0064");  // stand-in without HID_NAME
}

TEST_F(HidrawTest, OpenReadsTheDescriptorFromSysfsAndNeverReusesIds) {
  const MockNode node = AddBoard(0);
  HidrawBackend backend;
  const auto first = backend.Open(node.devnode);
  ASSERT_EQ(first.status, IoStatus::Ok) << first.error;
  EXPECT_EQ(first.descriptor, hid::BoardReportDescriptor());
  const auto second = backend.Open(node.devnode);
  ASSERT_EQ(second.status, IoStatus::Ok);
  EXPECT_NE(second.id, first.id);
  backend.Close(first.id);
  backend.Close(first.id);  // twice, and unknown ids, are ignored
  backend.Close(9999);
  const auto third = backend.Open(node.devnode);
  ASSERT_EQ(third.status, IoStatus::Ok);
  EXPECT_NE(third.id, first.id);
  EXPECT_NE(third.id, second.id);
  const uint8_t report[2] = {0, 1};
  EXPECT_EQ(backend.Write(first.id, report), IoStatus::Failed);  // closed
}

TEST_F(HidrawTest, OpenOfAVanishedNodeIsNotFound) {
  HidrawBackend backend;
  const auto r = backend.Open("/dev/hidraw7");
  EXPECT_EQ(r.status, IoStatus::NotFound);
  EXPECT_NE(r.error.find("/dev/hidraw7"), std::string::npos);
}

TEST_F(HidrawTest, OpenOfAForbiddenNodeIsAccessDenied) {
  const MockNode node = AddBoard(0);
  ASSERT_EQ(::chmod(bed_.NodeFile(node).c_str(), 0), 0);
  NoDacOverride as_user;
  const int probe = ::open(node.devnode.c_str(), O_RDWR);
  if (probe >= 0) {
    ::close(probe);
    GTEST_SKIP() << "this process may open any file; cannot provoke EACCES";
  }
  HidrawBackend backend;
  EXPECT_EQ(backend.Enumerate(0x19A1, 0x0064).size(), 1u);  // still listed
  const auto r = backend.Open(node.devnode);
  EXPECT_EQ(r.status, IoStatus::AccessDenied);
  EXPECT_NE(r.error.find(node.devnode), std::string::npos);
}

TEST_F(HidrawTest, WriteSendsTheReportIdByteFirst) {
  const MockNode node = AddBoard(0);
  HidrawBackend backend;
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok);
  const std::vector<uint8_t> report = {0,   4,   0x80, 0x0F, 0xE, 0xD, 0xC,
                                       0xB, 0xA, 0x9,  0x8,  0x7, 0x6, 0xF};
  EXPECT_EQ(backend.Write(r.id, report), IoStatus::Ok);
  EXPECT_EQ(bed_.TakeWritten(node), report);
  EXPECT_EQ(backend.Write(r.id, {}), IoStatus::Failed);
}

// On the pty HIDIOCGINPUT fails with ENOTTY, as on kernels before 5.11:
// the backend then reads interrupt-in reports.
TEST_F(HidrawTest, InputReportFallsBackToReadTheNewestQueuedReport) {
  const MockNode node = AddBoard(0);
  HidrawBackend backend;
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok);
  uint8_t buf[2] = {0xAA, 0xAA};
  std::size_t got = 99;
  EXPECT_EQ(backend.GetInputReport(r.id, 0, buf, 0, &got), IoStatus::TimedOut);
  EXPECT_EQ(got, 0u);

  bed_.Feed(node, {0x11});
  bed_.Feed(node, {0x5E});
  EXPECT_EQ(backend.GetInputReport(r.id, 0, buf, 3000, &got), IoStatus::Ok);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf[0], 0);  // the id byte stands in front even without ids
  EXPECT_EQ(buf[1], 0x5E);
  EXPECT_EQ(backend.GetInputReport(r.id, 0, buf, 0, &got), IoStatus::TimedOut);
}

TEST_F(HidrawTest, InputReportFallbackSkipsOtherReportIds) {
  const MockNode node = AddBoard(0);
  HidrawBackend backend;
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok);
  bed_.Feed(node, {1, 0xA1, 0xA2});
  bed_.Feed(node, {2, 0xB1, 0xB2});
  bed_.Feed(node, {1, 0xC1, 0xC2});
  uint8_t buf[3] = {};
  std::size_t got = 0;
  EXPECT_EQ(backend.GetInputReport(r.id, 2, buf, 3000, &got), IoStatus::Ok);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 3), (std::vector<uint8_t>{2, 0xB1, 0xB2}));
}

// A hung-up pty behaves like an unplugged hidraw node: poll() reports
// POLLHUP, write() fails with EIO.
TEST_F(HidrawTest, HungUpNodeIsDisconnected) {
  const MockNode node = AddBoard(0);
  HidrawBackend backend;
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok);
  uint8_t buf[2] = {};
  std::size_t got = 0;
  ASSERT_EQ(backend.GetInputReport(r.id, 0, buf, 0, &got), IoStatus::TimedOut);
  const int err = bed_.HangUp(node);
  if (err != 0) GTEST_SKIP() << "cannot hang up the pty: " << std::strerror(err);
  EXPECT_EQ(backend.GetInputReport(r.id, 0, buf, 60000, &got), IoStatus::Disconnected);
  const uint8_t report[2] = {0, 4};
  EXPECT_EQ(backend.Write(r.id, report), IoStatus::Disconnected);
  backend.Close(r.id);
}

TEST_F(HidrawTest, HotplugReportsArrivalsAndRemovalsWithIds) {
  const MockNode present = AddBoard(0);
  HidrawBackend backend;
  ASSERT_GE(backend.HotplugFd(), 0);
  EXPECT_TRUE(backend.DrainHotplug().empty());  // nothing waiting: returns at once

  // The testbed sends "add" itself.
  const MockNode board = AddBoard(1);
  BoardSpec mouse;
  mouse.number = 2;
  mouse.vendor_id = 0x046D;
  mouse.product_id = 0xC52B;
  bed_.AddBoard(mouse);
  bed_.Uevent(board, "change");  // not a hot-plug event
  AwaitHotplug(backend);
  std::vector<HotplugEvent> events;
  while (events.size() < 2) {
    auto more = backend.DrainHotplug();
    events.insert(events.end(), more.begin(), more.end());
    if (events.size() < 2) AwaitHotplug(backend);
  }
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, HotplugEvent::Kind::Arrived);
  EXPECT_EQ(events[0].path, "/dev/hidraw1");
  EXPECT_EQ(events[0].vendor_id, 0x19A1);
  EXPECT_EQ(events[0].product_id, 0x0064);
  EXPECT_EQ(events[1].path, "/dev/hidraw2");
  EXPECT_EQ(events[1].vendor_id, 0x046D);

  // Removals: sysfs is gone first, as in the kernel; the ids are remembered,
  // also for a node that was there before the backend started.
  for (const MockNode& n : {present, board}) {
    bed_.Uevent(n, "remove");
    bed_.Remove(n);
  }
  events.clear();
  while (events.size() < 2) {
    AwaitHotplug(backend);
    auto more = backend.DrainHotplug();
    events.insert(events.end(), more.begin(), more.end());
  }
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, HotplugEvent::Kind::Removed);
  EXPECT_EQ(events[0].path, "/dev/hidraw0");
  EXPECT_EQ(events[0].vendor_id, 0x19A1);
  EXPECT_EQ(events[1].kind, HotplugEvent::Kind::Removed);
  EXPECT_EQ(events[1].path, "/dev/hidraw1");
  EXPECT_EQ(events[1].product_id, 0x0064);
}

// Scripted nodes: HIDIOCGINPUT, HIDIOCGRDESC and HIDIOCGRAWINFO as the kernel answers them.

TEST_F(HidrawTest, GetInputAsksTheDeviceForTheReport) {
  const MockNode node = AddBoard(0);
  ScriptedHidraw script;
  script.With([](auto& s) { s.input_report = {0, 0x8E}; });
  bed_.Script(node, script);
  HidrawBackend backend;
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok);
  uint8_t buf[2] = {};
  std::size_t got = 0;
  EXPECT_EQ(backend.GetInputReport(r.id, 0, buf, 3000, &got), IoStatus::Ok);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(buf[1], 0x8E);
  script.With([](auto& s) { s.input_report = {5, 1, 2}; });
  uint8_t numbered[3] = {};
  EXPECT_EQ(backend.GetInputReport(r.id, 5, numbered, 3000, &got), IoStatus::Ok);
  EXPECT_EQ(got, 3u);
  script.With([](auto& s) {
    EXPECT_EQ(s.get_input_ids, (std::vector<uint8_t>{0, 5}));
    EXPECT_EQ(s.read_calls, 0);
  });
}

struct GetInputErrorCase {
  int error;
  IoStatus first;   // result of the first call (time-out 0)
  bool asks_again;  // the second call tries HIDIOCGINPUT again
  bool reads;       // the first call fell back to read()
};

class GetInputErrorTest : public HidrawTest,
                          public ::testing::WithParamInterface<GetInputErrorCase> {};

TEST_P(GetInputErrorTest, MapsTheErrorAndFallsBackWhereUnsupported) {
  const GetInputErrorCase c = GetParam();
  const MockNode node = AddBoard(0);
  ScriptedHidraw script;
  script.With([&](auto& s) { s.get_input_errno = c.error; });
  bed_.Script(node, script);
  HidrawBackend backend;
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok);
  uint8_t buf[2] = {};
  std::size_t got = 0;
  EXPECT_EQ(backend.GetInputReport(r.id, 0, buf, 0, &got), c.first);
  EXPECT_EQ(script.With([](auto& s) { return s.read_calls; }) > 0, c.reads);
  backend.GetInputReport(r.id, 0, buf, 0, &got);
  const int calls = script.With([](auto& s) { return s.get_input_calls; });
  EXPECT_EQ(calls, c.asks_again ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, GetInputErrorTest,
    ::testing::Values(GetInputErrorCase{ENOTTY, IoStatus::TimedOut, false, true},
                      GetInputErrorCase{EINVAL, IoStatus::TimedOut, false, true},
                      GetInputErrorCase{ENOSYS, IoStatus::TimedOut, false, true},
                      GetInputErrorCase{EPIPE, IoStatus::TimedOut, true, true},
                      GetInputErrorCase{ETIMEDOUT, IoStatus::TimedOut, true, false},
                      GetInputErrorCase{EBUSY, IoStatus::Failed, true, false},
                      // Gone: later calls answer without touching the node.
                      GetInputErrorCase{EIO, IoStatus::Disconnected, false, false},
                      GetInputErrorCase{ENODEV, IoStatus::Disconnected, false, false}));

struct WriteErrorCase {
  int error;
  bool short_write;
  IoStatus status;
};

class WriteErrorTest : public HidrawTest, public ::testing::WithParamInterface<WriteErrorCase> {};

TEST_P(WriteErrorTest, MapsTheResult) {
  const WriteErrorCase c = GetParam();
  const MockNode node = AddBoard(0);
  ScriptedHidraw script;
  script.With([&](auto& s) {
    s.write_errno = c.error;
    s.write_short = c.short_write;
  });
  bed_.Script(node, script);
  HidrawBackend backend;
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok);
  const uint8_t report[3] = {0, 4, 0x80};
  EXPECT_EQ(backend.Write(r.id, report), c.status);
  backend.Write(r.id, report);
  const std::size_t writes = script.With([](auto& s) { return s.writes.size(); });
  EXPECT_EQ(writes, c.status == IoStatus::Disconnected ? 1u : 2u);
  EXPECT_EQ(script.With([](auto& s) { return s.writes[0]; }),
            std::vector<uint8_t>(report, report + 3));
}

INSTANTIATE_TEST_SUITE_P(Results, WriteErrorTest,
                         ::testing::Values(WriteErrorCase{0, false, IoStatus::Ok},
                                           WriteErrorCase{0, true, IoStatus::Failed},
                                           WriteErrorCase{EPIPE, false, IoStatus::Failed},
                                           WriteErrorCase{ETIMEDOUT, false, IoStatus::TimedOut},
                                           WriteErrorCase{EIO, false, IoStatus::Disconnected},
                                           WriteErrorCase{ENODEV, false, IoStatus::Disconnected}));

TEST_F(HidrawTest, DescriptorComesFromTheNodeWhenSysfsLacksIt) {
  BoardSpec spec;  // no report_descriptor attribute
  const MockNode node = bed_.AddBoard(spec);
  ScriptedHidraw script;
  bed_.Script(node, script);
  HidrawBackend backend;
  const auto none = backend.Open(node.devnode);
  EXPECT_EQ(none.status, IoStatus::Failed);
  EXPECT_NE(none.error.find("report descriptor"), std::string::npos);

  script.With([](auto& s) { s.descriptor = hid::BoardReportDescriptor(); });
  const auto r = backend.Open(node.devnode);
  ASSERT_EQ(r.status, IoStatus::Ok) << r.error;
  EXPECT_EQ(r.descriptor, hid::BoardReportDescriptor());
}

TEST_F(HidrawTest, IdsComeFromTheNodeWhenSysfsLacksThem) {
  BoardSpec spec;
  spec.with_hid_id = false;
  spec.descriptor = hid::BoardReportDescriptor();
  const MockNode node = bed_.AddBoard(spec);
  ScriptedHidraw script;
  bed_.Script(node, script);
  {
    HidrawBackend backend;
    EXPECT_TRUE(backend.Enumerate(0, 0).empty());  // no ids at all: not listed
  }
  script.With([](auto& s) { s.raw_info = std::make_pair(uint16_t{0x19A1}, uint16_t{0x0064}); });
  HidrawBackend backend;
  const auto found = backend.Enumerate(0x19A1, 0x0064);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, node.devnode);
}

}  // namespace
}  // namespace pts::testing
