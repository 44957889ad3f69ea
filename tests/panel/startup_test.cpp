// Loading, the open-and-retry loop, and unloading.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/mainform.h"
#include "support/panel_fixture.h"

namespace pts::testing {
namespace {

const std::string kFailureText =
    "Unable to open USB device: \r\n\r\nPTS USB Interface\r\n\r\n"
    "Please attach the device and click OK,\r\n  or click Cancel to exit";

TEST(Startup, DesignTimeAgentSettings) {
  PanelFixture p({}, PanelStart::Constructed);
  EXPECT_EQ(p.agent.LogFile(), "HidLog.txt");
  EXPECT_EQ(p.agent.TimeOut(), 3000);
  EXPECT_FALSE(p.agent.Logging());
  EXPECT_FALSE(p.agent.Verbose());
  EXPECT_FALSE(p.agent.ShowOperations());
  EXPECT_FALSE(p.agent.SearchOnVID());
  EXPECT_FALSE(p.agent.SearchOnPID());
  EXPECT_EQ(p.agent.VID_To_Match(), 0);
  EXPECT_EQ(p.agent.PID_To_Match(), 0);
  EXPECT_FALSE(p.form.JustStarting);
}

TEST(Startup, LoadsWithABoard) {
  PanelFixture p({0x35}, PanelStart::Loaded);
  EXPECT_TRUE(p.loaded);
  EXPECT_FALSE(p.form.JustStarting);
  EXPECT_EQ(p.form.Caption, "Test program for Brenvik project: PTS USB Interface");
  EXPECT_EQ(p.form.HelpFile, "/opt/pts-panel/PcSideH.hlp");
  EXPECT_EQ(p.agent.OpenCount(), 1);
  EXPECT_EQ(p.agent.VID_To_Match(), 6561);
  EXPECT_EQ(p.agent.PID_To_Match(), 100);
  EXPECT_TRUE(p.agent.SearchOnVID());
  EXPECT_TRUE(p.agent.SearchOnPID());
  EXPECT_FALSE(p.agent.ShowOperations());
  EXPECT_FALSE(p.agent.Verbose());
  EXPECT_EQ(p.agent.LogFile(), "HidLog.txt");  // left as designed
  EXPECT_EQ(p.agent.TimeOut(), 3000);
  for (const ShownBox& box : p.startup_boxes) EXPECT_NE(box.text, kFailureText);
}

TEST(Startup, HelpFileBesideTheProgram) {
  hid::SimulatedBackend backend;
  backend.AddBoard(0x35);
  Varnel agent(backend);
  ScriptedOperator op;
  MainForm form(agent, op, "/usr/lib/pts/");
  ASSERT_TRUE(form.Form_Load());
  EXPECT_EQ(form.HelpFile, "/usr/lib/pts/PcSideH.hlp");
}

// Without a board the operator is asked until he gives up.
TEST(Startup, RetriesOnOkAndGivesUpOnCancel) {
  PanelFixture p({}, PanelStart::Constructed);
  p.op.answers = {MsgAnswer::Ok, MsgAnswer::Ok, MsgAnswer::Cancel};
  std::vector<bool> starting;
  p.op.on_box = [&](const ShownBox&) { starting.push_back(p.form.JustStarting); };
  EXPECT_FALSE(p.form.Form_Load());
  ASSERT_EQ(p.op.boxes.size(), 3u);
  for (const ShownBox& box : p.op.boxes) {
    EXPECT_EQ(box.text, kFailureText);
    EXPECT_EQ(box.buttons, MsgButtons::OkCancel);
    EXPECT_EQ(box.icon, MsgIcon::Information);
    EXPECT_EQ(box.title, "");  // the application's title
  }
  const std::vector<std::string> each = {"beep", "box:" + kFailureText};
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), each.begin(), each.end());
  EXPECT_EQ(p.op.events, expected);
  EXPECT_EQ(starting, (std::vector<bool>{true, true, true}));
  EXPECT_FALSE(p.form.JustStarting);
  // The caption was set before the first attempt.
  EXPECT_EQ(p.form.Caption, "Test program for Brenvik project: PTS USB Interface");
}

TEST(Startup, BoardAttachedWhileAsking) {
  PanelFixture p({}, PanelStart::Constructed);
  p.op.answers = {MsgAnswer::Ok, MsgAnswer::Ok};
  p.op.on_box = [&](const ShownBox&) {
    if (p.op.boxes.size() == 2) p.backend.AddBoard(0x8E);  // plugged in during the second box
  };
  EXPECT_TRUE(p.form.Form_Load());
  EXPECT_EQ(p.op.boxes.size(), 2u);
  EXPECT_EQ(p.agent.OpenCount(), 1);
  EXPECT_FALSE(p.form.JustStarting);
}

TEST(Startup, CancelUnloadsAndClosesOnce) {
  PanelFixture p({}, PanelStart::Loaded, {MsgAnswer::Cancel});
  EXPECT_FALSE(p.loaded);
  EXPECT_FALSE(p.activated);
  // A board opened afterwards is no longer the window's to close: the window
  // calling Form_Unload again on its way out must not close devices again.
  p.backend.AddBoard(0x35);
  ASSERT_TRUE(p.agent.OpenDevices());
  p.form.Form_Unload();
  EXPECT_EQ(p.agent.OpenCount(), 1);
}

TEST(Unload, ClosesEveryDeviceOnce) {
  PanelFixture p({0x35, 0x8E}, PanelStart::Loaded);
  ASSERT_EQ(p.agent.OpenCount(), 2);
  p.form.Form_Unload();
  EXPECT_EQ(p.agent.OpenCount(), 0);
  ASSERT_TRUE(p.agent.OpenDevices());
  p.form.Form_Unload();  // the window may unload again on close
  EXPECT_EQ(p.agent.OpenCount(), 2);
}

}  // namespace
}  // namespace pts::testing
