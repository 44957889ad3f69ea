// The agent on the hidraw backend inside a umockdev testbed: a board's output
// report reaches the node, its input report comes back into Data1, a denied
// node becomes a notice naming the udev rule, and an unplugged board is
// reported removed before its interface is closed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hid/hidraw/hidraw_backend.h"
#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "umockdev_testbed.h"

namespace pts::testing {
namespace {

class Recorder : public VarnelListener {
 public:
  void InterfaceOpened(int32_t handle, int32_t vid, int32_t pid, const std::string& name) override {
    events.push_back("opened " + std::to_string(handle) + " " + std::to_string(vid) + " " +
                     std::to_string(pid) + " " + name);
  }
  void InterfaceClosed(int32_t still_open, const std::string& name, int32_t handle) override {
    events.push_back("closed " + std::to_string(still_open) + " " + name + " " +
                     std::to_string(handle));
  }
  void ReportArrived(int32_t local, int32_t all) override {
    events.push_back("report " + std::to_string(local) + " " + std::to_string(all));
  }
  void DeviceArrived(int32_t value, const std::string& text) override {
    events.push_back("arrived " + std::to_string(value) + " " + text);
  }
  void DeviceRemoved(int32_t value, const std::string& text) override {
    events.push_back("removed " + std::to_string(value) + " " + text);
  }
  void Notice(const std::string& text) override { events.push_back("notice " + text); }

  std::vector<std::string> events;
};

class HidrawAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!bed_.Active()) {
      GTEST_SKIP() << "needs libumockdev-preload.so: run this binary under umockdev-wrapper "
                      "(ctest does)";
    }
    BoardSpec spec;
    spec.descriptor = hid::BoardReportDescriptor();
    node_ = bed_.AddBoard(spec);
  }

  void Configure(Varnel& agent) {
    agent.SetListener(&rec_);
    agent.VID_To_Match(6561);
    agent.PID_To_Match(100);
    agent.SearchOnVID(true);
    agent.SearchOnPID(true);
    agent.InitAgent();
  }

  MockBed bed_;
  MockNode node_;
  Recorder rec_;
};

TEST_F(HidrawAgentTest, ReportsGoToTheNodeAndComeBack) {
  hid::HidrawBackend backend;
  Varnel agent(backend);
  Configure(agent);
  ASSERT_TRUE(agent.OpenDevices());
  ASSERT_EQ(rec_.events.size(), 1u);
  EXPECT_EQ(rec_.events[0].rfind("opened ", 0), 0u);
  EXPECT_NE(rec_.events[0].find(" 6561 100 PTS Interface Board"), std::string::npos);

  agent.SelectIntf(agent.SelectOpenIntf(0));
  const int32_t cmd1 = agent.FindVar(0xFF00, 1, 1, false);
  const int32_t f10 = agent.FindVar(0xFF00, 13, 1, false);
  const int32_t data1 = agent.FindVar(0xFF00, 14, 0, false);
  ASSERT_GE(cmd1, 0);
  ASSERT_GE(f10, 0);
  ASSERT_GE(data1, 0);
  agent.SetUnscaled(cmd1, 4);
  agent.SetUnscaled(f10, 0x0F);
  agent.SelectRpt(agent.VarRptIndex(cmd1));
  ASSERT_TRUE(agent.WriteRpt());
  const std::vector<uint8_t> written = bed_.TakeWritten(node_);
  ASSERT_EQ(written.size(), 14u);  // report id 0, then the 13 variables
  EXPECT_EQ(written[0], 0);
  EXPECT_EQ(written[1], 4);
  EXPECT_EQ(written[13], 0x0F);

  bed_.Feed(node_, {0x5E});
  agent.SelectRpt(agent.VarRptIndex(data1));
  ASSERT_TRUE(agent.ReadRpt());
  EXPECT_EQ(agent.GetUnscaled(data1), 0x5E);
}

TEST_F(HidrawAgentTest, DeniedNodeBecomesANoticeNamingTheRule) {
  ASSERT_EQ(::chmod(bed_.NodeFile(node_).c_str(), 0), 0);
  NoDacOverride as_user;
  const int probe = ::open(node_.devnode.c_str(), O_RDWR);
  if (probe >= 0) {
    ::close(probe);
    GTEST_SKIP() << "this process may open any file; cannot provoke EACCES";
  }
  hid::HidrawBackend backend;
  Varnel agent(backend);
  Configure(agent);
  EXPECT_FALSE(agent.OpenDevices());
  ASSERT_EQ(rec_.events.size(), 1u);
  EXPECT_EQ(rec_.events[0].rfind("notice ", 0), 0u);
  EXPECT_NE(rec_.events[0].find(node_.devnode), std::string::npos);
  EXPECT_NE(rec_.events[0].find("/etc/udev/rules.d/70-pts-panel.rules"), std::string::npos);
}

TEST_F(HidrawAgentTest, UnpluggedBoardIsRemovedThenClosed) {
  hid::HidrawBackend backend;
  Varnel agent(backend);
  Configure(agent);
  ASSERT_TRUE(agent.OpenDevices());
  ASSERT_GE(agent.HotplugFd(), 0);
  agent.SelectIntf(agent.SelectOpenIntf(0));
  const int32_t handle = agent.CurHidHandle();
  rec_.events.clear();

  bed_.Uevent(node_, "remove");
  bed_.Remove(node_);
  pollfd p{agent.HotplugFd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1) << "no uevent arrived";
  agent.ProcessHotplug();
  EXPECT_EQ(rec_.events,
            (std::vector<std::string>{"removed 0 0 /dev/hidraw0",
                                      "closed 0 PTS Interface Board " + std::to_string(handle)}));
  EXPECT_EQ(agent.OpenCount(), 0);
}

}  // namespace
}  // namespace pts::testing
