// The page's PANel commands: there for page clients only; they act as the
// operator at the window (the key filter, the limits, disabled controls).
#include <gtest/gtest.h>

#include "remote_rig.h"

namespace pts::testing {
namespace {

TEST(PanelCommands, OnlyForPageClientsAndAsTheOperator) {
  RemoteRig rig;
  remote::Session scpi, page;
  page.PanelClient(true);
  rig.RunMessage("PAN:TEXT FREQ,\"123\"", scpi);
  EXPECT_EQ(RemoteRig::Errors(scpi), std::vector<std::string>{"-113,\"Undefined header\""});
  EXPECT_EQ(rig.form.TextFreq.Text(), "0");

  // Typed characters pass the box's key filter; the box holds the rest.
  rig.RunMessage("PAN:TEXT FREQ,\"12a3.4 x\"", page);
  EXPECT_EQ(rig.form.TextFreq.Text(), "123.4");
  EXPECT_DOUBLE_EQ(rig.form.Frequency, 123.4);
  rig.RunMessage("PAN:KNOB 9,7;:PAN:KNOB 10,14;:PAN:KNOB 11,0;:PAN:UNIT 3", page);
  EXPECT_EQ(rig.form.D(9).Caption(), "7");
  EXPECT_EQ(RemoteRig::Errors(page),
            (std::vector<std::string>{"-222,\"Data out of range\"", "-222,\"Data out of range\"",
                                      "-221,\"Settings conflict;the control is disabled\""}));
  // Send as the window's: over the limit nothing goes out, the panel's text comes back.
  rig.RunMessage("PAN:TEXT FREQ,\"600000000\";:PAN:PRES SEND", page);
  EXPECT_EQ(RemoteRig::Errors(page),
            std::vector<std::string>{
                "-222,\"Data out of range;Frequency >= 500 MHz is NOT Supported on PTS 500\""});
  EXPECT_TRUE(rig.person.boxes.empty());
  rig.RunMessage("PAN:FOC FREQ", page);
  EXPECT_EQ(rig.form.TextFreq.Text(), "");
}

}  // namespace
}  // namespace pts::testing
