// What the announcer decides without a daemon: the default instance name and
// where a listening address's records go.
#include <gtest/gtest.h>
#include <net/if.h>

#include "remote/dnssd/announcer.h"

namespace pts::remote::dnssd {
namespace {

TEST(DefaultName, ModelAndHostInOneLabel) {
  EXPECT_EQ(DefaultName(500, "bench"), "pts-panel PTS 500 on bench");
  EXPECT_EQ(DefaultName(std::nullopt, "bench"), "pts-panel on bench");
  // A long host name is cut to fit a DNS label's 63 bytes, never inside a
  // character: the 41st byte of this one starts a two-byte "é".
  const std::string host = std::string(40, 'h') + "\xC3\xA9" + std::string(30, 'x');
  EXPECT_EQ(DefaultName(3200, host), "pts-panel PTS 3200 on " + std::string(40, 'h'));
}

TEST(ScopeOf, TheInterfaceOfTheAddress) {
  const Scope lo = ScopeOf("127.0.0.1");
  EXPECT_EQ(lo.interface, int(if_nametoindex("lo")));
  EXPECT_EQ(lo.protocol, 0);  // IPv4
  EXPECT_TRUE(lo.loopback);
  // Any address: every interface, over the socket's protocols.
  const Scope any4 = ScopeOf("0.0.0.0"), any6 = ScopeOf("::");
  EXPECT_EQ(std::make_pair(any4.interface, any4.protocol), std::make_pair(-1, 0));
  EXPECT_EQ(std::make_pair(any6.interface, any6.protocol), std::make_pair(-1, -1));
  EXPECT_FALSE(any4.loopback || any6.loopback);
}

}  // namespace
}  // namespace pts::remote::dnssd
