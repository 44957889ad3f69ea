// The agent over simulated boards: opening, numbering, hot-plug and the events.
#include "hid/varnel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace pts {
namespace {

using testing::SimRig;
using Strings = std::vector<std::string>;

constexpr int32_t kPage = 0xFF00;

TEST(VarnelOpen, OpensEveryMatchingBoardOnceInOrder) {
  SimRig rig({.statuses = {0x35, 0x8E}, .open = false});
  rig.backend.AddDevice(hid::kBoardVendorId, 99, hid::BoardReportDescriptor(), 0, "other");
  EXPECT_EQ(rig.varnel.OpenCount(), 0);
  EXPECT_TRUE(rig.varnel.OpenDevices());
  EXPECT_EQ(rig.varnel.OpenCount(), 2);
  EXPECT_EQ(rig.listener.Of("InterfaceOpened"),
            (Strings{"InterfaceOpened 1 6561 100 PTS interface board (simulated 1)",
                     "InterfaceOpened 2 6561 100 PTS interface board (simulated 2)"}));
  // A second call opens nothing new.
  rig.listener.Clear();
  EXPECT_TRUE(rig.varnel.OpenDevices());
  EXPECT_TRUE(rig.listener.events.empty());
  EXPECT_EQ(rig.varnel.VarCount(), 28);
  EXPECT_EQ(rig.varnel.RptCount(), 4);
}

TEST(VarnelOpen, FiltersApplyOnlyWhenSearchOnIsSet) {
  SimRig rig({.statuses = {0x35}, .open = false});
  rig.backend.AddDevice(0x1234, 99, hid::BoardReportDescriptor(), 0, "other");
  rig.varnel.SearchOnPID(false);
  rig.varnel.SearchOnVID(false);
  rig.varnel.VID_To_Match(1);  // ignored while SearchOnVID is off
  EXPECT_TRUE(rig.varnel.OpenDevices());
  EXPECT_EQ(rig.varnel.OpenCount(), 2);
}

TEST(VarnelOpen, NothingAttachedReturnsFalse) {
  SimRig rig({.statuses = {}});
  EXPECT_FALSE(rig.varnel.OpenDevices());
  EXPECT_EQ(rig.varnel.OpenCount(), 0);
}

TEST(VarnelOpen, InterfaceOpenedSeesTheNewInterfaceAsTheLastOne) {
  SimRig rig({.statuses = {0x35, 0x8E}, .open = false});
  std::vector<int32_t> seen;
  rig.listener.on_opened = [&](int32_t handle) {
    rig.varnel.SelectOpenIntf(rig.varnel.OpenCount() - 1);
    seen.push_back(rig.varnel.CurHidHandle() == handle ? rig.varnel.OpenCount() : -1);
  };
  rig.varnel.OpenDevices();
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2}));
}

TEST(VarnelOpen, OpenDevicesCalledAgainFromInterfaceOpenedOpensEachBoardOnce) {
  SimRig rig({.statuses = {0x35, 0x8E, 0x2C}, .open = false});
  int depth = 0;
  rig.listener.on_opened = [&](int32_t) {
    ++depth;
    rig.varnel.OpenDevices();
    --depth;
  };
  EXPECT_TRUE(rig.varnel.OpenDevices());
  EXPECT_EQ(depth, 0);
  EXPECT_EQ(rig.listener.opened_handles, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(rig.varnel.OpenCount(), 3);
  EXPECT_EQ(rig.varnel.VarCount(), 42);
}

TEST(VarnelOpen, AccessDeniedIsNoticedOncePerPathWithTheUdevRule) {
  SimRig rig({.statuses = {0x35}, .open = false});
  rig.backend.DenyAccess(1, true);
  EXPECT_FALSE(rig.varnel.OpenDevices());
  EXPECT_FALSE(rig.varnel.OpenDevices());
  const Strings notices = rig.listener.Of("Notice");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("found at sim:hidraw0"), std::string::npos) << notices[0];
  EXPECT_NE(notices[0].find("access was denied"), std::string::npos) << notices[0];
  EXPECT_NE(notices[0].find("/etc/udev/rules.d/70-pts-panel.rules"), std::string::npos);
  // Allowed again: it opens.
  rig.backend.DenyAccess(1, false);
  EXPECT_TRUE(rig.varnel.OpenDevices());
}

TEST(VarnelOpen, BadDescriptorIsClosedSkippedAndNoticed) {
  SimRig rig({.statuses = {}, .open = false});
  rig.backend.AddDevice(hid::kBoardVendorId, hid::kBoardProductId, {0xA1, 0x01}, 0, "broken");
  rig.AddBoard(0x35);
  EXPECT_TRUE(rig.varnel.OpenDevices());
  EXPECT_EQ(rig.varnel.OpenCount(), 1);
  ASSERT_EQ(rig.listener.Of("Notice").size(), 1u);
  EXPECT_NE(rig.listener.Of("Notice")[0].find("sim:hidraw0"), std::string::npos);
  EXPECT_EQ(rig.listener.Of("InterfaceOpened"),
            (Strings{"InterfaceOpened 1 6561 100 PTS interface board (simulated 2)"}));
}

TEST(VarnelIndexes, FindVarSearchesOnlyTheCurrentInterface) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  rig.varnel.SelectOpenIntf(0);
  EXPECT_EQ(rig.varnel.FindVar(kPage, 1, 1, false), 0);
  EXPECT_EQ(rig.varnel.FindVar(kPage, 14, 0, false), 13);
  EXPECT_EQ(rig.varnel.FindVar(kPage, 14, 1, false), -1);  // wrong report type
  EXPECT_EQ(rig.varnel.FindVar(kPage, 15, 1, false), -1);
  EXPECT_EQ(rig.varnel.FindVar(0xFF01, 1, 1, false), -1);
  rig.varnel.SelectOpenIntf(1);
  EXPECT_EQ(rig.varnel.FindVar(kPage, 1, 1, false), 14);
  EXPECT_EQ(rig.varnel.VarRptIndex(14), 2);
  EXPECT_EQ(rig.varnel.VarRptIndex(27), 3);
}

TEST(VarnelIndexes, ShiftWhenAnEarlierInterfaceCloses) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  rig.backend.Unplug(1);
  rig.Pump();
  ASSERT_EQ(rig.varnel.OpenCount(), 1);
  EXPECT_EQ(rig.varnel.VarCount(), 14);
  rig.varnel.SelectOpenIntf(0);
  EXPECT_EQ(rig.varnel.CurHidHandle(), 2);
  EXPECT_EQ(rig.varnel.FindVar(kPage, 14, 0, false), 13);
  EXPECT_EQ(rig.varnel.VarRptIndex(13), 1);
}

TEST(VarnelIndexes, ComponentFailuresThrowVarnelError) {
  SimRig rig({.statuses = {0x35}});
  Varnel& v = rig.varnel;
  EXPECT_THROW(v.CurHidHandle(), VarnelError);  // nothing selected yet
  EXPECT_THROW(v.FindVar(kPage, 1, 1, false), VarnelError);
  EXPECT_THROW(v.LogicalMaximum(), VarnelError);
  EXPECT_THROW(v.ReadRpt(), VarnelError);
  EXPECT_THROW(v.SelectOpenIntf(1), VarnelError);
  EXPECT_THROW(v.SelectOpenIntf(-1), VarnelError);
  EXPECT_THROW(v.SelectIntf(99), VarnelError);
  EXPECT_THROW(v.SelectVar(14), VarnelError);
  EXPECT_THROW(v.GetUnscaled(-1), VarnelError);
  EXPECT_THROW(v.SetUnscaled(14, 0), VarnelError);
  EXPECT_THROW(v.SelectRpt(2), VarnelError);
  v.SelectVar(0);
  EXPECT_THROW(v.SetScaleMode(3), VarnelError);
}

TEST(VarnelIndexes, SelectionsFollowTheirInterfaceAndVanishWithIt) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  rig.varnel.SelectVar(20);  // on the second board: makes it current too
  EXPECT_EQ(rig.varnel.CurHidHandle(), 2);
  EXPECT_EQ(rig.varnel.CurrentVarNum(), 20);
  rig.varnel.SelectRpt(3);
  rig.backend.Unplug(1);
  rig.Pump();
  EXPECT_EQ(rig.varnel.CurrentVarNum(), 6);
  EXPECT_EQ(rig.varnel.CurrentRptNum(), 1);
  EXPECT_EQ(rig.varnel.CurHidHandle(), 2);
  rig.backend.Unplug(2);
  rig.Pump();
  EXPECT_EQ(rig.varnel.CurrentVarNum(), -1);
  EXPECT_EQ(rig.varnel.CurrentRptNum(), -1);
  EXPECT_THROW(rig.varnel.CurHidHandle(), VarnelError);
}

TEST(VarnelIndexes, AttributesOfTheBoardsVariables) {
  SimRig rig({.statuses = {0x35}});
  Varnel& v = rig.varnel;
  v.SelectVar(0);
  EXPECT_TRUE(v.AbsoluteNotRelative());
  EXPECT_FALSE(v.ArrayNotVariable());
  EXPECT_TRUE(v.BitsNotBuffer());
  EXPECT_FALSE(v.HasNullState());
  EXPECT_TRUE(v.Linear());
  EXPECT_FALSE(v.NoPrefState());
  EXPECT_TRUE(v.NoWrap());
  EXPECT_FALSE(v.Volatile());
  EXPECT_EQ(v.LogicalMinimum(), 0);
  EXPECT_EQ(v.LogicalMaximum(), 255);
  EXPECT_EQ(v.SizeInBits(), 8);
  EXPECT_EQ(v.StringDescriptor(), "");
  EXPECT_FALSE(v.VarIsButton(0));
  EXPECT_EQ(v.CurScaleMode(), smBoth);
  v.SetScaleMode(smUnscaledOnly);
  EXPECT_EQ(v.CurScaleMode(), smUnscaledOnly);
  v.SelectVar(1);
  EXPECT_EQ(v.CurScaleMode(), smBoth);  // per variable
  v.NameVar(1, "PWMDC");
  EXPECT_EQ(v.VarName(1), "PWMDC");
}

TEST(VarnelReports, TransfersInTheWrongDirectionReturnFalse) {
  SimRig rig({.statuses = {0x35}});
  rig.varnel.SelectRpt(0);  // output report A
  EXPECT_FALSE(rig.varnel.ReadRpt());
  rig.varnel.SelectRpt(1);  // input report B
  EXPECT_FALSE(rig.varnel.WriteRpt());
  EXPECT_TRUE(rig.backend.Received(1).empty());
}

TEST(VarnelReports, FailedAndTimedOutTransfersReturnFalseAndKeepTheInterface) {
  SimRig rig({.statuses = {0x35}});
  rig.backend.FailNextWrites(1, 1);
  rig.backend.FailNextReads(1, 1);
  rig.varnel.SelectRpt(0);
  EXPECT_FALSE(rig.varnel.WriteRpt());
  EXPECT_TRUE(rig.varnel.WriteRpt());
  rig.varnel.SelectRpt(1);
  EXPECT_FALSE(rig.varnel.ReadRpt());
  EXPECT_TRUE(rig.varnel.ReadRpt());
  EXPECT_EQ(rig.varnel.OpenCount(), 1);
  EXPECT_EQ(rig.listener.Of("ReportArrived"), (Strings{"ReportArrived 1 1"}));
}

// A board whose input report comes back as the report id byte alone.
class EmptyInputBackend : public hid::SimulatedBackend {
 public:
  bool empty = false;
  hid::IoStatus GetInputReport(hid::DeviceId id, uint8_t report_id, std::span<uint8_t> buffer,
                               int timeout_ms, std::size_t* received) override {
    if (!empty) {
      return SimulatedBackend::GetInputReport(id, report_id, buffer, timeout_ms, received);
    }
    buffer[0] = report_id;
    *received = 1;
    return hid::IoStatus::Ok;
  }
};

TEST(VarnelReports, AnInputReportWithoutDataIsAFailedReadAndKeepsTheCopy) {
  EmptyInputBackend backend;
  backend.AddBoard(0x35);
  Varnel varnel(backend);
  testing::RecordingListener listener;
  varnel.SetListener(&listener);
  ASSERT_TRUE(varnel.OpenDevices());
  varnel.SelectRpt(1);
  ASSERT_TRUE(varnel.ReadRpt());
  backend.SetStatus(1, 0x8E);
  backend.empty = true;
  EXPECT_FALSE(varnel.ReadRpt());
  EXPECT_EQ(varnel.GetUnscaled(13), 0x35);
  EXPECT_EQ(listener.Of("ReportArrived").size(), 1u);
  EXPECT_EQ(varnel.OpenCount(), 1);
}

// --- Hot-plug ---

TEST(VarnelHotplug, ArrivalOfAMatchingBoardIsReportedWithItsPath) {
  SimRig rig({.statuses = {0x35}});
  rig.backend.AddDevice(0x1234, 1, hid::BoardReportDescriptor(), 0, "mouse");  // not reported
  rig.AddBoard(0x8E);
  rig.listener.Clear();
  rig.Pump();
  EXPECT_EQ(rig.listener.events, (Strings{"DeviceArrived 0 sim:hidraw2"}));
  EXPECT_EQ(rig.varnel.OpenCount(), 1);  // arrival alone opens nothing
}

TEST(VarnelHotplug, OpenDevicesFromDeviceArrivedOpensTheNewBoard) {
  SimRig rig({.statuses = {0x35}});
  rig.listener.on_arrived = [&](const std::string&) { rig.varnel.OpenDevices(); };
  rig.AddBoard(0x8E);
  rig.listener.Clear();
  rig.Pump();
  EXPECT_EQ(rig.listener.events,
            (Strings{"DeviceArrived 0 sim:hidraw1",
                     "InterfaceOpened 2 6561 100 PTS interface board (simulated 2)"}));
  EXPECT_EQ(rig.varnel.OpenCount(), 2);
}

TEST(VarnelHotplug, RemovalOfAnOpenBoardReportsPositionThenClose) {
  SimRig rig({.statuses = {0x35, 0x8E, 0x2C}});
  rig.listener.Clear();
  rig.backend.Unplug(2);
  rig.Pump();
  EXPECT_EQ(rig.listener.events,
            (Strings{"DeviceRemoved 0 1 sim:hidraw1",
                     "InterfaceClosed 2 PTS interface board (simulated 2) 2"}));
  rig.listener.Clear();
  rig.backend.Unplug(1);
  rig.Pump();
  EXPECT_EQ(rig.listener.events,
            (Strings{"DeviceRemoved 0 0 sim:hidraw0",
                     "InterfaceClosed 1 PTS interface board (simulated 1) 1"}));
}

TEST(VarnelHotplug, RemovalOfABoardThatWasNotOpen) {
  SimRig rig({.statuses = {0x35}, .open = false});
  rig.backend.Unplug(1);
  rig.Pump();
  EXPECT_EQ(rig.listener.events, (Strings{"DeviceRemoved 0 -1 sim:hidraw0"}));
}

TEST(VarnelHotplug, HandlesAreNeverReusedAfterReplug) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  rig.listener.on_arrived = [&](const std::string&) { rig.varnel.OpenDevices(); };
  for (int round = 0; round < 3; ++round) {
    rig.backend.Unplug(1);
    rig.backend.Replug(1);
    rig.Pump();
  }
  EXPECT_EQ(rig.listener.opened_handles, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(rig.varnel.OpenCount(), 2);
  rig.varnel.SelectOpenIntf(1);
  EXPECT_EQ(rig.varnel.CurHidHandle(), 5);
  EXPECT_EQ(rig.backend.PathOf(1), "sim:hidraw4");
}

TEST(VarnelHotplug, SelectAndFindFromInterfaceClosedSeeTheListWithoutTheClosedOne) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  std::vector<int32_t> found;
  rig.listener.on_closed = [&](int32_t still_open, int32_t) {
    for (int32_t i = 0; i < still_open; ++i) {
      rig.varnel.SelectIntf(rig.varnel.SelectOpenIntf(i));
      found.push_back(rig.varnel.FindVar(kPage, 14, 0, false));
    }
  };
  rig.backend.Unplug(1);
  rig.Pump();
  EXPECT_EQ(found, (std::vector<int32_t>{13}));
}

TEST(VarnelHotplug, DisconnectedWriteClosesAsRemovalWouldAndIsReportedOnce) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  rig.listener.Clear();
  rig.backend.Unplug(2);  // the removal event is still queued
  rig.varnel.SelectRpt(2);
  EXPECT_FALSE(rig.varnel.WriteRpt());
  EXPECT_EQ(rig.listener.events,
            (Strings{"DeviceRemoved 0 1 sim:hidraw1",
                     "InterfaceClosed 1 PTS interface board (simulated 2) 2"}));
  EXPECT_EQ(rig.varnel.OpenCount(), 1);
  rig.listener.Clear();
  rig.Pump();  // the queued removal of the same path is not reported again
  EXPECT_TRUE(rig.listener.events.empty());
}

TEST(VarnelHotplug, DisconnectedReadClosesToo) {
  SimRig rig({.statuses = {0x35}});
  rig.backend.Unplug(1);
  rig.varnel.SelectRpt(1);
  EXPECT_FALSE(rig.varnel.ReadRpt());
  EXPECT_EQ(rig.varnel.OpenCount(), 0);
  EXPECT_EQ(rig.listener.Of("DeviceRemoved"), (Strings{"DeviceRemoved 0 0 sim:hidraw0"}));
}

TEST(VarnelHotplug, InterfaceClosedCountsWhatIsOpenAfterDeviceRemovedReenteredTheAgent) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  rig.listener.on_removed = [&](const std::string&) { rig.varnel.CloseDevices(); };
  std::vector<int32_t> counts;
  rig.listener.on_closed = [&](int32_t still_open, int32_t) {
    counts.push_back(still_open);
    // A handler that walks the open interfaces by the count it was given.
    for (int32_t i = 0; i < still_open; ++i) rig.varnel.SelectOpenIntf(i);
  };
  rig.backend.Unplug(1);
  rig.Pump();
  EXPECT_EQ(rig.varnel.OpenCount(), 0);
  EXPECT_EQ(counts, (std::vector<int32_t>{0, 0}));
}

TEST(VarnelHotplug, ReplugAfterAccessDeniedNoticesAgain) {
  SimRig rig({.statuses = {0x35}, .open = false});
  rig.backend.DenyAccess(1, true);
  rig.varnel.OpenDevices();
  rig.backend.Unplug(1);
  rig.backend.Replug(1);
  rig.Pump();
  rig.varnel.OpenDevices();
  EXPECT_EQ(rig.listener.Of("Notice").size(), 2u);
}

TEST(VarnelClose, CloseDevicesCountsDownAndNothingIsLeft) {
  SimRig rig({.statuses = {0x35, 0x8E, 0x2C}});
  rig.listener.Clear();
  rig.varnel.CloseDevices();
  EXPECT_EQ(rig.listener.events,
            (Strings{"InterfaceClosed 2 PTS interface board (simulated 3) 3",
                     "InterfaceClosed 1 PTS interface board (simulated 2) 2",
                     "InterfaceClosed 0 PTS interface board (simulated 1) 1"}));
  EXPECT_EQ(rig.varnel.OpenCount(), 0);
  EXPECT_EQ(rig.varnel.VarCount(), 0);
  EXPECT_EQ(rig.varnel.RptCount(), 0);
  // Opened again: new handles.
  rig.listener.Clear();
  rig.varnel.OpenDevices();
  EXPECT_EQ(rig.listener.opened_handles.back(), 6);
}

}  // namespace
}  // namespace pts

namespace pts {
namespace {

TEST(VarnelSettings, DesignTimeDefaults) {
  hid::SimulatedBackend sim;
  Varnel v(sim);
  EXPECT_EQ(v.LogFile(), "HidLog.txt");
  EXPECT_EQ(v.TimeOut(), 3000);
  EXPECT_FALSE(v.Logging());
  EXPECT_FALSE(v.Verbose());
  EXPECT_FALSE(v.ShowOperations());
  EXPECT_FALSE(v.SearchOnVID());
  EXPECT_FALSE(v.SearchOnPID());
  EXPECT_EQ(v.VID_To_Match(), 0);
  EXPECT_EQ(v.PID_To_Match(), 0);
}

TEST(VarnelSettings, LoggingAppendsToTheLogFile) {
  const std::string path = ::testing::TempDir() + "varnel_log_test.txt";
  std::remove(path.c_str());
  testing::SimRig rig({.statuses = {0x35}, .open = false});
  rig.varnel.LogFile(path);
  rig.varnel.Logging(true);
  rig.varnel.OpenDevices();
  rig.varnel.CloseDevices();
  rig.varnel.LogFile("");  // closes the file
  std::FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[256] = {};
  std::string text;
  while (std::fgets(buf, sizeof buf, f)) text += buf;
  std::fclose(f);
  std::remove(path.c_str());
  EXPECT_NE(text.find("opened sim:hidraw0 handle 1"), std::string::npos) << text;
  EXPECT_NE(text.find("closed sim:hidraw0 handle 1"), std::string::npos) << text;
}

}  // namespace
}  // namespace pts
