// TPTS on its own and over the agent with simulated boards.
#include "hid/pts_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hid/errors.h"
#include "support/sim_fixture.h"

namespace pts {
namespace {

using testing::SimRig;

const char* const kNames[14] = {"Cmd1", "PWMDC", "PWMF", "F1", "F2", "F3",  "F4",
                                "F5",   "F6",    "F7",   "F8", "F9", "F10", "Data1"};

// The board's descriptor with only the output variables of usages 1..n and no input report.
std::vector<uint8_t> PartialBoard(uint8_t n) {
  std::vector<uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15,
                            0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01};
  for (uint8_t usage = 1; usage <= n; ++usage) d.insert(d.end(), {0x09, usage, 0x91, 0x02});
  d.push_back(0xC0);
  return d;
}

TEST(Pts, ConstructionCreatesTheVariableTable) {
  TPTS d;
  const auto& t = d.VarTable();
  for (int i = 0; i < 14; ++i) {
    SCOPED_TRACE(kNames[i]);
    EXPECT_EQ(t[i]->VarName(), kNames[i]);
    EXPECT_EQ(t[i]->RptType(), i < 13 ? 1 : 0);
    EXPECT_EQ(t[i]->UsagePage(), 0xFF00);
    EXPECT_EQ(t[i]->Usage(), i + 1);
    EXPECT_EQ(t[i]->VarIdentity(), 1);
    EXPECT_FALSE(t[i]->IsBound());
  }
  EXPECT_EQ(d.Cmd1(), t[0]);
  EXPECT_EQ(d.F10(), t[12]);
  EXPECT_EQ(d.Data1(), t[13]);
}

TEST(Pts, DebugIdsVariablesFirstThenTheDevice) {
  TPTS first;
  const int32_t base = first.VarTable()[0]->ClassDebugID();
  for (int i = 0; i < 14; ++i) EXPECT_EQ(first.VarTable()[i]->ClassDebugID(), base + i);
  EXPECT_EQ(first.ClassDebugID(), base + 14);
  TPTS second;
  EXPECT_EQ(second.ClassDebugID(), base + 29);
}

TEST(Pts, NewObjectHasNothingBoundAndMovesNoReport) {
  TPTS d;
  EXPECT_EQ(d.UnboundVarCount(), 0);
  EXPECT_EQ(d.VariableCount(), 0);
  EXPECT_TRUE(d.IsAllUnbound());
  EXPECT_EQ(d.DeviceIdentity(), 0);
  EXPECT_EQ(d.RptAIndex(), -1);
  EXPECT_EQ(d.RptBIndex(), -1);
  EXPECT_FALSE(d.ReadAllReports());
  EXPECT_FALSE(d.WriteAllReports());
  EXPECT_EQ(d.BoundVarnel(), nullptr);
}

TEST(Pts, BindVarsOnTheBoard) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  TPTS d;
  ASSERT_EQ(d.BindVars(rig.varnel), 0);  // binds the interface opened last
  EXPECT_EQ(d.DeviceIdentity(), 1);
  EXPECT_EQ(d.VariableCount(), 14);
  EXPECT_EQ(d.UnboundVarCount(), 0);
  EXPECT_FALSE(d.IsAllUnbound());
  EXPECT_EQ(d.RptAIndex(), 2);
  EXPECT_EQ(d.RptBIndex(), 3);
  EXPECT_TRUE(d.HasHandle(2));
  EXPECT_FALSE(d.HasHandle(1));
  EXPECT_EQ(d.BoundVarnel(), &rig.varnel);
  for (const auto& v : d.VarTable()) EXPECT_EQ(v->ScaleMode(), smUnscaledOnly);
}

TEST(Pts, BindVarsOnAnotherDeviceReturnsMinusOne) {
  for (const auto& [vid, pid] :
       std::vector<std::pair<uint16_t, uint16_t>>{{6561, 99}, {6560, 100}}) {
    SimRig rig({.statuses = {}, .open = false});
    rig.varnel.SearchOnVID(false);
    rig.varnel.SearchOnPID(false);
    rig.backend.AddDevice(vid, pid, hid::BoardReportDescriptor(), 0, "other");
    ASSERT_TRUE(rig.varnel.OpenDevices());
    TPTS d;
    EXPECT_EQ(d.BindVars(rig.varnel), -1);
    EXPECT_EQ(d.BoundVarnel(), &rig.varnel);
    EXPECT_EQ(d.DeviceIdentity(), 0);
    EXPECT_EQ(d.RptAIndex(), -1);
    for (const auto& v : d.VarTable()) EXPECT_FALSE(v->IsBound());
  }
}

TEST(Pts, ABoardWithoutSomeVariablesLeavesThemUnboundAndReportBUnknown) {
  SimRig rig({.statuses = {}, .open = false});
  rig.backend.AddDevice(hid::kBoardVendorId, hid::kBoardProductId, PartialBoard(5), 0, "part");
  ASSERT_TRUE(rig.varnel.OpenDevices());
  TPTS d;
  EXPECT_EQ(d.BindVars(rig.varnel), 9);
  EXPECT_EQ(d.UnboundVarCount(), 9);
  EXPECT_EQ(d.RptAIndex(), 0);
  EXPECT_EQ(d.RptBIndex(), -1);
  rig.varnel.SelectRpt(0);
  EXPECT_FALSE(d.ReadAllReports());
  EXPECT_EQ(rig.varnel.CurrentRptNum(), 0);  // returned before touching the component
  EXPECT_TRUE(d.WriteAllReports());
  EXPECT_EQ(d.ReBind(rig.varnel), 9);
}

TEST(Pts, HidClosedUnbindsOnlyTheVariablesOfThatHandle) {
  SimRig rig({.statuses = {0x35}});
  TPTS d;
  ASSERT_EQ(d.BindVars(rig.varnel), 0);
  d.HidClosed(nullptr, 1, "x", 77);
  EXPECT_EQ(d.UnboundVarCount(), 0);
  EXPECT_EQ(d.RptAIndex(), 0);
  EXPECT_EQ(d.RptBIndex(), 1);

  d.HidClosed(nullptr, 0, "x", 1);
  EXPECT_EQ(d.UnboundVarCount(), 14);
  EXPECT_TRUE(d.IsAllUnbound());
  EXPECT_EQ(d.RptAIndex(), -1);
  EXPECT_EQ(d.RptBIndex(), -1);
  EXPECT_TRUE(d.HasHandle(1));
  EXPECT_EQ(d.DeviceIdentity(), 1);
  EXPECT_FALSE(d.WriteAllReports());
}

TEST(Pts, ReBindGoesThroughTheComponentGivenToBindVars) {
  SimRig a({.statuses = {0x35}});
  SimRig b({.statuses = {0x8E}});
  TPTS d;
  ASSERT_EQ(d.BindVars(a.varnel), 0);
  a.varnel.SelectOpenIntf(0);
  EXPECT_EQ(d.ReBind(b.varnel), 0);
  EXPECT_EQ(d.BoundVarnel(), &a.varnel);
  for (const auto& v : d.VarTable()) EXPECT_EQ(v->BoundVarnel(), &a.varnel);
  ASSERT_TRUE(d.ReadAllReports());
  EXPECT_EQ(d.Data1()->UnScaledValue(), 0x35);
}

TEST(Pts, ReBindBeforeBindVarsHasNoComponentToBindThrough) {
  SimRig rig({.statuses = {0x35}});
  rig.varnel.SelectOpenIntf(0);
  TPTS d;
  EXPECT_THROW(d.ReBind(rig.varnel), VarnelError);
  EXPECT_EQ(d.UnboundVarCount(), 0);
}

TEST(Pts, UnBindRptForgetsOnlyTheMatchingReport) {
  SimRig rig({.statuses = {0x35}});
  TPTS d;
  ASSERT_EQ(d.BindVars(rig.varnel), 0);
  TOneHidVar feature;
  feature.DoCreate(2, 0xFF00, 1, 1, "F");
  d.UnBindRpt(feature);  // Feature, index -1
  TPTS other;
  SimRig rig2({.statuses = {0x35, 0x8E}});
  ASSERT_EQ(other.BindVars(rig2.varnel), 0);
  d.UnBindRpt(*other.Cmd1());  // output, index 2: not d's report A
  d.UnBindRpt(*other.Data1());
  EXPECT_EQ(d.RptAIndex(), 0);
  EXPECT_EQ(d.RptBIndex(), 1);
  d.UnBindRpt(*d.Data1());
  EXPECT_EQ(d.RptAIndex(), 0);
  EXPECT_EQ(d.RptBIndex(), -1);
  d.UnBindRpt(*d.F3());
  EXPECT_EQ(d.RptAIndex(), -1);
}

TEST(Pts, AReplacedVariableIsReachableByNameButTheOriginalDoesTheWork) {
  SimRig rig({.statuses = {0x35}});
  TPTS d;
  const TPTS::VarPtr original = d.F1();
  auto replacement = std::make_shared<TOneHidVar>();
  d.F1(replacement);
  EXPECT_EQ(d.F1(), replacement);
  EXPECT_EQ(d.VarTable()[3], original);
  ASSERT_EQ(d.BindVars(rig.varnel), 0);
  EXPECT_TRUE(original->IsBound());
  EXPECT_FALSE(replacement->IsBound());
  EXPECT_TRUE(d.HasHandle(1));
  d.F1()->UnScaledValue(99);  // dropped: the replacement is unbound
  original->UnScaledValue(27);
  ASSERT_TRUE(d.WriteAllReports());
  EXPECT_EQ(rig.backend.Received(1).back()[3], 27);
}

TEST(Pts, ReadingANameThatHoldsNothingCreatesAndKeepsAnUnboundVariable) {
  TPTS d;
  d.Data1(nullptr);
  const TPTS::VarPtr made = d.Data1();
  ASSERT_NE(made, nullptr);
  EXPECT_FALSE(made->IsBound());
  EXPECT_EQ(made->VarName(), "");
  EXPECT_EQ(made->ClassDebugID(), d.ClassDebugID() + 1);
  EXPECT_EQ(d.Data1(), made);
  EXPECT_NE(d.VarTable()[13], made);
}

TEST(Pts, BindVarsWithNothingOpenPassesTheComponentFailureOn) {
  // Position -1 is no interface; BindVars itself is not guarded.
  SimRig rig({.statuses = {}});
  TPTS d;
  EXPECT_THROW(d.BindVars(rig.varnel), VarnelError);
}

const hid::OutputWord kWord = {4, 48, 100, 27, 197, 150, 206, 159, 0, 0x50, 0, 0, 0};

// Stages a word through the name properties, as the frequency encoding does.
void Stage(TPTS& d, const hid::OutputWord& w) {
  const TPTS::VarPtr vars[13] = {d.Cmd1(), d.PWMDC(), d.PWMF(), d.F1(), d.F2(), d.F3(), d.F4(),
                                 d.F5(),   d.F6(),    d.F7(),   d.F8(), d.F9(), d.F10()};
  for (std::size_t i = 0; i < 13; ++i) vars[i]->UnScaledValue(w[i]);
}

TEST(PtsWithAgent, ReportAReachesTheBoardAndReportBBringsItsStatus) {
  SimRig rig({.statuses = {0x35}});
  TPTS d;
  ASSERT_EQ(d.BindVars(rig.varnel), 0);
  Stage(d, kWord);
  ASSERT_TRUE(d.WriteAllReports());
  EXPECT_EQ(rig.backend.Received(1), std::vector<hid::OutputWord>{kWord});
  EXPECT_EQ(rig.backend.Output(1), kWord);
  ASSERT_TRUE(d.ReadAllReports());
  EXPECT_EQ(d.Data1()->UnScaledValue(), 0x35);
  EXPECT_EQ(rig.listener.Of("ReportArrived"), std::vector<std::string>{"ReportArrived 1 1"});
  // Command 6 stores F7's model code; the next read-back shows it.
  hid::OutputWord store{};
  store[0] = 6;
  store[9] = 0x70;
  Stage(d, store);
  ASSERT_TRUE(d.WriteAllReports());
  ASSERT_TRUE(d.ReadAllReports());
  EXPECT_EQ(d.Data1()->UnScaledValue(), 0x75);
}

// The main window's use of the device objects: InterfaceOpened binds the
// interface opened last into a new object; InterfaceClosed drops the object
// with the handle and re-binds the others to the open interfaces in order.
class DeviceList {
 public:
  explicit DeviceList(SimRig& rig) : rig_(rig) {
    rig.listener.on_opened = [this](int32_t) { Opened(); };
    rig.listener.on_closed = [this](int32_t still, int32_t handle) { Closed(still, handle); };
    rig.listener.on_arrived = [this](const std::string&) { rig_.varnel.OpenDevices(); };
  }
  std::vector<std::unique_ptr<TPTS>> devices;
  std::vector<int32_t> rebinds;

 private:
  void Opened() {
    if (!devices.empty() && devices.back()->UnboundVarCount() != 0) {
      devices.back()->BindVars(rig_.varnel);
      return;
    }
    auto d = std::make_unique<TPTS>();
    if (d->BindVars(rig_.varnel) >= 0) devices.push_back(std::move(d));
  }
  void Closed(int32_t still_open, int32_t handle) {
    for (std::size_t i = devices.size(); i-- > 0;) {
      devices[i]->HidClosed(nullptr, still_open, "", handle);
      if (devices[i]->HasHandle(handle)) {
        devices[i]->Shutdown();
        devices.erase(devices.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
      rig_.varnel.SelectIntf(rig_.varnel.SelectOpenIntf(static_cast<int32_t>(i)));
      rebinds.push_back(devices[i]->ReBind(rig_.varnel));
    }
  }
  SimRig& rig_;
};

TEST(PtsWithAgent, UnplugDropsTheBoardsObjectAndReBindsTheRest) {
  SimRig rig({.statuses = {0x35, 0x8E, 0x2C}, .open = false});
  DeviceList list(rig);
  ASSERT_TRUE(rig.varnel.OpenDevices());
  ASSERT_EQ(list.devices.size(), 3u);
  TPTS* third = list.devices[2].get();
  rig.backend.Unplug(2);
  rig.Pump();
  ASSERT_EQ(list.devices.size(), 2u);
  EXPECT_EQ(list.devices[1].get(), third);
  EXPECT_EQ(list.rebinds, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(third->RptAIndex(), 2);
  EXPECT_EQ(third->RptBIndex(), 3);
  ASSERT_TRUE(third->ReadAllReports());
  EXPECT_EQ(third->Data1()->UnScaledValue(), 0x2C);
  third->Cmd1()->UnScaledValue(4);
  ASSERT_TRUE(third->WriteAllReports());
  EXPECT_EQ(rig.backend.Output(3)[0], 4);
  EXPECT_EQ(rig.backend.TotalReceived(1), 0u);
}

TEST(PtsWithAgent, ASecondBoardPluggedInWhileRunningJoinsTheList) {
  SimRig rig({.statuses = {0x35}, .open = false});
  DeviceList list(rig);
  ASSERT_TRUE(rig.varnel.OpenDevices());
  rig.AddBoard(0x8E);
  rig.Pump();
  ASSERT_EQ(list.devices.size(), 2u);
  for (auto& d : list.devices) {
    d->Cmd1()->UnScaledValue(4);
    d->F7()->UnScaledValue(0x50);
    EXPECT_TRUE(d->WriteAllReports());
  }
  EXPECT_EQ(rig.backend.Output(1)[9], 0x50);
  EXPECT_EQ(rig.backend.Output(2)[9], 0x50);
  // Unplugged and plugged in again: a new object with a new handle.
  rig.backend.Unplug(1);
  rig.backend.Replug(1);
  rig.Pump();
  ASSERT_EQ(list.devices.size(), 2u);
  EXPECT_TRUE(list.devices[1]->HasHandle(3));
  EXPECT_FALSE(list.devices[1]->HasHandle(1));
  ASSERT_TRUE(list.devices[1]->ReadAllReports());
  EXPECT_EQ(list.devices[1]->Data1()->UnScaledValue(), 0x35);
}

TEST(PtsWithAgent, AFailedWriteReturnsFalseAndTheNextOneGoesThrough) {
  SimRig rig({.statuses = {0x35}});
  TPTS d;
  ASSERT_EQ(d.BindVars(rig.varnel), 0);
  rig.backend.FailNextWrites(1, 1);
  rig.backend.FailNextReads(1, 1);
  EXPECT_FALSE(d.WriteAllReports());
  EXPECT_FALSE(d.ReadAllReports());
  EXPECT_TRUE(d.WriteAllReports());
  EXPECT_TRUE(d.ReadAllReports());
}

}  // namespace
}  // namespace pts
