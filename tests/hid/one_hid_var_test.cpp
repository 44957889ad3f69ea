// TOneHidVar over the agent and a simulated board.
#include "hid/one_hid_var.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "hid/errors.h"
#include "support/sim_fixture.h"

namespace pts {
namespace {

using testing::SimRig;

constexpr int32_t kPage = 0xFF00;
constexpr int32_t kClassErrorNumber = -2147211505;

// A variable of the board, created as the device object creates it.
void Create(TOneHidVar& v, int32_t type, int32_t usage, const std::string& name) {
  v.DoCreate(type, kPage, usage, 1, name);
}

// Runs `call` and checks that it raises the class error with `source`,
// described by the component's own message.
void ExpectClassError(const std::function<void()>& call, const std::string& source,
                      const std::string& description) {
  try {
    call();
    ADD_FAILURE() << "no error, expected one from " << source;
  } catch (const ClassError& e) {
    EXPECT_EQ(e.Number(), kClassErrorNumber);
    EXPECT_EQ(e.Source(), source);
    EXPECT_EQ(e.Description(), description);
  }
}

TEST(OneHidVar, NewObjectIsUnboundAndNeverCallsTheComponent) {
  TOneHidVar v;
  EXPECT_FALSE(v.IsBound());
  EXPECT_EQ(v.VarIndex(), -1);
  EXPECT_EQ(v.RptIndex(), -1);
  EXPECT_EQ(v.HidHandle(), 0);
  EXPECT_EQ(v.ScaleMode(), smUnscaledOnly);
  EXPECT_EQ(v.UnScaledValue(), 0);
  EXPECT_EQ(v.ScaledValue(), 0);
  EXPECT_FALSE(v.BoolValue());
  EXPECT_EQ(v.VarName(), "");
  EXPECT_EQ(v.BoundVarnel(), nullptr);
  // Writes are dropped without an error; Update answers False.
  v.UnScaledValue(7);
  v.ScaledValue(7);
  v.ScaleMode(smBoth);
  EXPECT_EQ(v.UnScaledValue(), 0);
  EXPECT_EQ(v.ScaleMode(), smUnscaledOnly);
  EXPECT_FALSE(v.Update(true));
  EXPECT_FALSE(v.Update(false));
}

TEST(OneHidVar, DebugIdsAreDrawnInCreationOrder) {
  TOneHidVar a;
  TOneHidVar b;
  EXPECT_EQ(b.ClassDebugID(), a.ClassDebugID() + 1);
}

TEST(OneHidVar, TagAndBoolValue) {
  TOneHidVar v;
  v.Tag(-42);
  EXPECT_EQ(v.Tag(), -42);
  v.BoolValue(true);
  EXPECT_FALSE(v.BoolValue());
}

TEST(OneHidVar, DoCreateStoresTheIdentity) {
  TOneHidVar v;
  v.DoCreate(2, 0xFF01, 9, 3, "X");
  EXPECT_EQ(v.RptType(), 2);
  EXPECT_EQ(v.UsagePage(), 0xFF01);
  EXPECT_EQ(v.Usage(), 9);
  EXPECT_EQ(v.VarIdentity(), 3);
  EXPECT_EQ(v.VarName(), "X");
}

TEST(OneHidVar, DoCreateWithAnOversizedReportTypeFailsBeforeStoringAnything) {
  TOneHidVar v;
  v.DoCreate(1, kPage, 1, 1, "Cmd1");
  EXPECT_THROW(v.DoCreate(40000, 5, 6, 7, "Other"), OverflowError);
  EXPECT_THROW(v.DoCreate(-32769, 5, 6, 7, "Other"), OverflowError);
  EXPECT_EQ(v.RptType(), 1);
  EXPECT_EQ(v.UsagePage(), kPage);
  EXPECT_EQ(v.Usage(), 1);
  EXPECT_EQ(v.VarIdentity(), 1);
  EXPECT_EQ(v.VarName(), "Cmd1");
}

TEST(OneHidVar, BindCopiesTheAttributesNamesTheVariableAndSetsUnscaledOnly) {
  SimRig rig({.statuses = {0x35}});
  rig.varnel.SelectOpenIntf(0);
  TOneHidVar v;
  Create(v, 1, 2, "PWMDC");
  ASSERT_TRUE(v.Bind(rig.varnel));
  EXPECT_TRUE(v.IsBound());
  EXPECT_EQ(v.VarIndex(), 1);
  EXPECT_EQ(v.RptIndex(), 0);
  EXPECT_EQ(v.HidHandle(), 1);
  EXPECT_EQ(v.BoundVarnel(), &rig.varnel);
  EXPECT_EQ(v.LogicalMinimum(), 0);
  EXPECT_EQ(v.LogicalMaximum(), 255);
  EXPECT_EQ(v.PhysicalMinimum(), 0);
  EXPECT_EQ(v.PhysicalMaximum(), 0);
  EXPECT_EQ(v.SizeInBits(), 8);
  EXPECT_EQ(v.StringDescriptor(), "");
  EXPECT_TRUE(v.AbsoluteNotRelative());
  EXPECT_FALSE(v.ArrayNotVariable());
  EXPECT_TRUE(v.BitsNotBuffer());
  EXPECT_FALSE(v.HasNullState());
  EXPECT_TRUE(v.Linear());
  EXPECT_FALSE(v.NoPrefState());
  EXPECT_TRUE(v.NoWrap());
  EXPECT_FALSE(v.Volatile());
  EXPECT_FALSE(v.IsButton());
  EXPECT_EQ(rig.varnel.VarName(1), "PWMDC");
  EXPECT_EQ(v.ScaleMode(), smUnscaledOnly);
  v.ScaleMode(smScaledOnly);
  EXPECT_EQ(v.ScaleMode(), smScaledOnly);
  EXPECT_EQ(rig.varnel.CurrentVarNum(), 1);  // ScaleMode selects the variable
  v.UnScaledValue(66);
  EXPECT_EQ(rig.varnel.GetUnscaled(1), 66);
  EXPECT_EQ(v.UnScaledValue(), 66);
  EXPECT_EQ(v.ScaledValue(), 66);
}

TEST(OneHidVar, BindWithoutAMatchRemembersTheComponentAndKeepsTheOldReport) {
  SimRig rig({.statuses = {0x35, 0x8E}});
  rig.varnel.SelectOpenIntf(1);
  TOneHidVar v;
  Create(v, 0, 14, "Data1");
  ASSERT_TRUE(v.Bind(rig.varnel));
  ASSERT_EQ(v.RptIndex(), 3);
  // Now look for a usage the board does not have.
  v.DoCreate(0, kPage, 99, 1, "Data1");
  SimRig other({.statuses = {0x35}});
  other.varnel.SelectOpenIntf(0);
  EXPECT_FALSE(v.Bind(other.varnel));
  EXPECT_FALSE(v.IsBound());
  EXPECT_LT(v.VarIndex(), 0);
  EXPECT_EQ(v.BoundVarnel(), &other.varnel);
  EXPECT_EQ(v.RptIndex(), 3);
  EXPECT_EQ(v.HidHandle(), 2);
  EXPECT_EQ(v.LogicalMaximum(), 255);
  EXPECT_EQ(v.VarName(), "Data1");
}

TEST(OneHidVar, UnBindClearsTheIndexesLimitsAndNamesOnly) {
  SimRig rig({.statuses = {0x35}});
  rig.varnel.SelectOpenIntf(0);
  TOneHidVar v;
  Create(v, 1, 1, "Cmd1");
  v.Tag(5);
  ASSERT_TRUE(v.Bind(rig.varnel));
  rig.varnel.CloseDevices();  // the component would now fail any lookup
  v.UnBind();
  EXPECT_FALSE(v.IsBound());
  EXPECT_EQ(v.VarIndex(), -1);
  EXPECT_EQ(v.RptIndex(), -1);
  EXPECT_EQ(v.VarName(), "");
  EXPECT_EQ(v.StringDescriptor(), "");
  EXPECT_EQ(v.LogicalMaximum(), 0);
  EXPECT_EQ(v.LogicalMinimum(), 0);
  EXPECT_EQ(v.PhysicalMaximum(), 0);
  EXPECT_EQ(v.PhysicalMinimum(), 0);
  EXPECT_EQ(v.HidHandle(), 1);
  EXPECT_EQ(v.SizeInBits(), 8);
  EXPECT_TRUE(v.Linear());
  EXPECT_TRUE(v.NoWrap());
  EXPECT_EQ(v.BoundVarnel(), &rig.varnel);
  EXPECT_EQ(v.Usage(), 1);
  EXPECT_EQ(v.Tag(), 5);
  // A later Bind hands the emptied name to the component.
  rig.varnel.OpenDevices();
  rig.varnel.SelectOpenIntf(0);
  ASSERT_TRUE(v.Bind(rig.varnel));
  EXPECT_EQ(rig.varnel.VarName(v.VarIndex()), "");
  EXPECT_EQ(v.HidHandle(), 2);
}

struct UpdateCase {
  std::string name;
  int32_t type;
  int32_t usage;
  bool data_in;
  bool expect_read;
  bool expect_write;
};

class OneHidVarUpdate : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(OneHidVarUpdate, TransfersTheReportOfItsType) {
  const UpdateCase& c = GetParam();
  SimRig rig({.statuses = {0x35}});
  rig.varnel.SelectOpenIntf(0);
  TOneHidVar v;
  Create(v, c.type, c.usage, "V");
  ASSERT_TRUE(v.Bind(rig.varnel));
  EXPECT_TRUE(v.Update(c.data_in));
  EXPECT_EQ(rig.varnel.CurrentRptNum(), v.RptIndex());
  EXPECT_EQ(rig.listener.Of("ReportArrived").size(), c.expect_read ? 1u : 0u);
  EXPECT_EQ(rig.backend.TotalReceived(1), c.expect_write ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(ByType, OneHidVarUpdate,
                         ::testing::Values(UpdateCase{"InputDataIn", 0, 14, true, true, false},
                                           UpdateCase{"InputDataOut", 0, 14, false, true, false},
                                           UpdateCase{"OutputDataIn", 1, 1, true, false, true},
                                           UpdateCase{"OutputDataOut", 1, 1, false, false, true}),
                         [](const auto& info) { return info.param.name; });

TEST(OneHidVar, UpdateOfAnUnknownReportTypeSelectsTheReportAndTransfersNothing) {
  SimRig rig({.statuses = {0x35}});
  rig.varnel.SelectOpenIntf(0);
  rig.varnel.SelectRpt(1);
  TOneHidVar v;
  Create(v, 1, 1, "Cmd1");
  ASSERT_TRUE(v.Bind(rig.varnel));
  v.DoCreate(7, kPage, 1, 1, "Cmd1");
  EXPECT_FALSE(v.Update(false));
  EXPECT_EQ(rig.varnel.CurrentRptNum(), 0);
  EXPECT_EQ(rig.backend.TotalReceived(1), 0u);
}

TEST(OneHidVar, UpdateReportsAFailedTransferAsFalse) {
  SimRig rig({.statuses = {0x35}});
  rig.varnel.SelectOpenIntf(0);
  TOneHidVar v;
  Create(v, 1, 1, "Cmd1");
  ASSERT_TRUE(v.Bind(rig.varnel));
  rig.backend.FailNextWrites(1, 1);
  EXPECT_FALSE(v.Update(false));
  EXPECT_TRUE(v.Update(false));
}

TEST(OneHidVar, ComponentFailuresInGuardedMembersBecomeTheClassError) {
  SimRig rig({.statuses = {0x35}});
  TOneHidVar v;
  Create(v, 1, 1, "Cmd1");
  // No current interface: FindVar fails inside Bind.
  ExpectClassError([&] { v.Bind(rig.varnel); }, "OneHidVar:Bind Method",
                   "Varnel: no current interface");
  EXPECT_EQ(v.BoundVarnel(), &rig.varnel);  // work before the failure stays done

  rig.varnel.SelectOpenIntf(0);
  ASSERT_TRUE(v.Bind(rig.varnel));
  rig.varnel.CloseDevices();  // the variable still holds indexes the component no longer has
  const std::string gone = "Varnel: variable index 0 out of range";
  ExpectClassError([&] { (void)v.ScaledValue(); }, "OneHidVar:ScaledValue Property Get", gone);
  ExpectClassError([&] { v.ScaledValue(1); }, "OneHidVar:ScaledValue Property Let", gone);
  ExpectClassError([&] { v.Update(false); }, "OneHidVar:Update Method",
                   "Varnel: report index 0 out of range");
  // Members without an error source pass the failure on unchanged.
  EXPECT_THROW((void)v.UnScaledValue(), VarnelError);
  EXPECT_THROW(v.UnScaledValue(1), VarnelError);
  EXPECT_THROW((void)v.ScaleMode(), VarnelError);
  EXPECT_THROW(v.ScaleMode(1), VarnelError);
}

}  // namespace
}  // namespace pts
