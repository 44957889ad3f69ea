// TPTS over the agent over simulated boards: what the front panel relies on.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "hid/errors.h"
#include "hid/pts_device.h"
#include "support/sim_fixture.h"

namespace pts {
namespace {

using testing::SimRig;

const hid::OutputWord kWord = {4, 48, 100, 27, 197, 150, 206, 159, 0, 0x50, 0, 0, 0};

void Stage(TPTS& d, const hid::OutputWord& w) {
  const std::vector<TPTS::VarPtr> vars = {d.Cmd1(), d.PWMDC(), d.PWMF(), d.F1(), d.F2(),
                                          d.F3(),   d.F4(),    d.F5(),   d.F6(), d.F7(),
                                          d.F8(),   d.F9(),    d.F10()};
  for (std::size_t i = 0; i < vars.size(); ++i) vars[i]->UnScaledValue(w[i]);
}

TEST(PtsEndToEnd, BindWriteAndRead) {
  SimRig rig({.statuses = {0x35}});
  ASSERT_EQ(rig.varnel.OpenCount(), 1);
  TPTS d;
  EXPECT_EQ(d.BindVars(rig.varnel), 0);
  EXPECT_EQ(d.DeviceIdentity(), 1);
  EXPECT_EQ(d.VariableCount(), 14);
  EXPECT_EQ(d.UnboundVarCount(), 0);
  EXPECT_EQ(d.RptAIndex(), d.Cmd1()->RptIndex());
  EXPECT_EQ(d.RptBIndex(), d.Data1()->RptIndex());
  EXPECT_NE(d.RptAIndex(), d.RptBIndex());
  EXPECT_TRUE(d.HasHandle(rig.listener.opened_handles.at(0)));

  Stage(d, kWord);
  ASSERT_TRUE(d.WriteAllReports());
  ASSERT_EQ(rig.backend.Received(1).size(), 1u);
  EXPECT_EQ(rig.backend.Received(1)[0], kWord);
  EXPECT_EQ(rig.backend.Output(1), kWord);

  ASSERT_TRUE(d.ReadAllReports());
  EXPECT_EQ(d.Data1()->UnScaledValue(), 0x35);
  EXPECT_EQ(rig.listener.Of("ReportArrived"),
            (std::vector<std::string>{"ReportArrived " + std::to_string(d.RptBIndex()) + " " +
                                      std::to_string(d.RptBIndex())}));
}

TEST(PtsEndToEnd, CommandSixStoresTheModelCodeThatReadBackSees) {
  SimRig rig({.statuses = {0xFE}});
  TPTS d;
  ASSERT_EQ(d.BindVars(rig.varnel), 0);
  hid::OutputWord w{};
  w[0] = 6;
  w[9] = 0x30;  // F7: PTS 200
  Stage(d, w);
  ASSERT_TRUE(d.WriteAllReports());
  ASSERT_TRUE(d.ReadAllReports());
  EXPECT_EQ(d.Data1()->UnScaledValue(), 0x3E);
}

TEST(PtsEndToEnd, TwoBoardsBoundFromInterfaceOpenedEachGetTheirWord) {
  SimRig rig({.statuses = {0x35, 0x8E}, .open = false});
  std::vector<std::unique_ptr<TPTS>> devices;
  rig.listener.on_opened = [&](int32_t) {
    auto d = std::make_unique<TPTS>();
    if (d->BindVars(rig.varnel) >= 0) devices.push_back(std::move(d));
  };
  ASSERT_TRUE(rig.varnel.OpenDevices());
  ASSERT_EQ(devices.size(), 2u);
  hid::OutputWord w2 = kWord;
  w2[3] = 255;
  Stage(*devices[0], kWord);
  Stage(*devices[1], w2);
  ASSERT_TRUE(devices[0]->WriteAllReports());
  ASSERT_TRUE(devices[1]->WriteAllReports());
  EXPECT_EQ(rig.backend.Output(1), kWord);
  EXPECT_EQ(rig.backend.Output(2), w2);
  ASSERT_TRUE(devices[1]->ReadAllReports());
  EXPECT_EQ(devices[1]->Data1()->UnScaledValue(), 0x8E);
}

}  // namespace
}  // namespace pts
