#include "remote/scpi_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace pts::remote {
namespace {

// Commands as "PATH[?] params | ...": N<number><suffix>, W<word>, S<string>, E<code>.
std::string Describe(const std::vector<Command>& cmds) {
  std::string out;
  for (const Command& c : cmds) {
    if (!out.empty()) out += " | ";
    if (c.error != kNoError) {
      out += "E" + std::to_string(c.error);
      continue;
    }
    for (size_t i = 0; i < c.path.size(); ++i) {
      out += (i ? ":" : "") + c.path[i].keyword;
      if (c.path[i].suffix >= 0) out += std::to_string(c.path[i].suffix);
    }
    if (c.query) out += "?";
    for (const Param& p : c.params) {
      char num[32];
      std::snprintf(num, sizeof num, "%.10g", p.number);
      out += p.kind == Param::Kind::Number ? " N" + std::string(num) + p.text
             : p.kind == Param::Kind::Word ? " W" + p.text
                                           : " S" + p.text;
    }
  }
  return out;
}

TEST(ScpiParser, Messages) {
  const std::pair<std::string, std::string> rows[] = {
      {"", ""},
      {"   ", ""},
      {"*idn?", "*IDN?"},
      {":sour:freq:star 1.5e3KHZ;STOP .5 mhz", "SOUR:FREQ:STAR N1500KHZ | SOUR:FREQ:STOP N0.5MHZ"},
      // The path rule: a relative header continues from the previous one's parent.
      {"FREQ 1;STAR 2", "FREQ N1 | STAR N2"},
      {"FREQ:CW 1;STAR 2", "FREQ:CW N1 | FREQ:STAR N2"},
      {"UNIT2:DATA?;MOD?", "UNIT2:DATA? | UNIT2:MOD?"},
      {"SWE:STEP 1;*OPC?;TIME 2", "SWE:STEP N1 | *OPC? | SWE:TIME N2"},
      {"SWE:STEP 1; :FREQ 2;", "SWE:STEP N1 | FREQ N2"},
      {"LEV\tmax", "LEV WMAX"},
      {"SYST:MOD 'PTS 500',\"a\"\"b\"", "SYST:MOD SPTS 500 Sa\"b"},
      {"F +1,-1.5E-3,5.,1e400,-1E+400,1e-400", "F N1 N-0.0015 N5 Ninf N-inf N0"},
      {"UNIT99999999999999:DATA?", "UNIT1000000000:DATA?"},
      {"FREQ1MHZ", "FREQ1MHZ"},  // one (unknown) mnemonic
      // Errors end the message; what came before stays.
      {"*IDN?;;FREQ 1", "*IDN? | E-102"},
      {";", "E-102"},
      {"FREQ 1e", "E-102"},
      {"FREQ 1 2", "E-102"},
      {"FREQ 1.2.3", "E-102"},
      {"FREQ 1,", "E-102"},
      {"FREQ \"abc", "E-102"},
      {"FREQ 1 @;*IDN?", "E-102"},
      {"FREQ?x", "E-102"},
      {"FREQ:", "E-102"},
      {"*", "E-102"},
      {"*IDN2?", "E-102"},
      {"FREQ #H1F", "E-102"},
      {std::string("*IDN?\0", 6), "E-102"},
      {"FREQ 1\r", "E-102"},
      {"FREQ \"\x01\"", "E-102"},
      {"FREQ \xff", "E-102"},
  };
  for (const auto& [message, expected] : rows) {
    EXPECT_EQ(Describe(ParseMessage(message)), expected) << message;
  }
}

}  // namespace
}  // namespace pts::remote
