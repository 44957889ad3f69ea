#include "ui/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pts {
namespace {

using Action = CommandLine::Action;

struct ArgsRow {
  const char* name;
  std::vector<std::string> args;
  Action action;
  std::vector<uint8_t> statuses;
  std::string error_part;  // for errors: a piece of the message
};

class CommandLineArgs : public ::testing::TestWithParam<ArgsRow> {};

TEST_P(CommandLineArgs, Parses) {
  const ArgsRow& row = GetParam();
  const CommandLine c = ParseCommandLine(row.args);
  ASSERT_EQ(c.action, row.action) << c.error;
  if (row.action == Action::Error) {
    EXPECT_NE(c.error.find(row.error_part), std::string::npos) << c.error;
    EXPECT_EQ(c.error.find('\n'), std::string::npos);  // one line
  } else {
    EXPECT_EQ(c.statuses, row.statuses);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandLineArgs,
    ::testing::Values(
        ArgsRow{"Nothing", {}, Action::Run, {}, ""},
        ArgsRow{"SimulateOneDefaultBoard", {"--simulate"}, Action::Run, {0xFE}, ""},
        ArgsRow{"SimulateList", {"--simulate=0x35,142"}, Action::Run, {0x35, 0x8E}, ""},
        ArgsRow{"TraceWithSimulate", {"--simulate", "--trace=/tmp/t"}, Action::Run, {0xFE}, ""},
        ArgsRow{"TraceSeparateValue", {"--trace", "/tmp/t", "--simulate"}, Action::Run, {0xFE}, ""},
        ArgsRow{"SimulateSeparateList", {"--simulate", "0x35,142"}, Action::Run, {0x35, 0x8E}, ""},
        ArgsRow{"SimulateLeavesNextOption",
                {"--simulate", "-platform", "offscreen"},
                Action::Run,
                {0xFE},
                ""},
        ArgsRow{"QtOptionsPassThrough",
                {"-platform", "offscreen", "--style=fusion", "-reverse"},
                Action::Run,
                {},
                ""},
        ArgsRow{"HelpWinsOverBadValues", {"--simulate=zzz", "--help"}, Action::Help, {}, ""},
        ArgsRow{"HelpFirst", {"--help", "--bogus"}, Action::Help, {}, ""},
        ArgsRow{"Version", {"--version"}, Action::Version, {}, ""},
        ArgsRow{"BadList", {"--simulate=0x1FF"}, Action::Error, {}, "--simulate"},
        ArgsRow{"TraceNeedsSimulate", {"--trace=/tmp/t"}, Action::Error, {}, "--simulate"},
        ArgsRow{"TraceNeedsFile", {"--simulate", "--trace="}, Action::Error, {}, "file"},
        ArgsRow{"TraceMissingValue", {"--simulate", "--trace"}, Action::Error, {}, "--trace"},
        ArgsRow{"TraceValueIsNextOption",
                {"--trace", "--simulate"},
                Action::Error,
                {},
                "--trace needs a value"},
        ArgsRow{"FlagWithValue", {"--help=yes"}, Action::Error, {}, "--help takes no value"},
        ArgsRow{"LatencyNeedsSimulate", {"--write-latency-ms=1"}, Action::Error, {}, "--simulate"},
        ArgsRow{"LatencyMissingValue",
                {"--simulate", "--write-latency-ms"},
                Action::Error,
                {},
                "--write-latency-ms needs a value"},
        ArgsRow{"LatencyNotANumber",
                {"--simulate", "--write-latency-ms=0.8ms"},
                Action::Error,
                {},
                "number"},
        ArgsRow{"LatencyNegative",
                {"--simulate", "--write-latency-ms=-1"},
                Action::Error,
                {},
                "number"},
        ArgsRow{
            "LatencyNaN", {"--simulate", "--write-latency-ms=nan"}, Action::Error, {}, "number"},
        // What avahi-daemon's bus would refuse (libdbus aborts) is a usage error.
        ArgsRow{"AnnounceNotUtf8", {"--announce=\xff\xfeX"}, Action::Error, {}, "--announce"},
        ArgsRow{"AnnounceCutInsideACharacter",
                {"--announce", "Bench \xc3"},
                Action::Error,
                {},
                "--announce"},
        ArgsRow{"AnnounceOverlong", {"--announce=a\xc0\xaf"}, Action::Error, {}, "--announce"},
        ArgsRow{"AnnounceSurrogate", {"--announce=\xed\xa0\x80"}, Action::Error, {}, "UTF-8"},
        ArgsRow{"AnnounceControl", {"--announce=Bench\t7"}, Action::Error, {}, "control"},
        ArgsRow{"AnnounceC1Control", {"--announce=\xc2\x85"}, Action::Error, {}, "control"},
        ArgsRow{"AnnounceUtf8", {"--announce=Prüfplatz 7 ✓"}, Action::Run, {}, ""},
        ArgsRow{"AnnounceLongIsCut", {"--announce=" + std::string(100, 'x')}, Action::Run, {}, ""},
        ArgsRow{"UnknownOption", {"--bogus"}, Action::Error, {}, "--bogus"},
        ArgsRow{"StrayArgument", {"board"}, Action::Error, {}, "board"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, ListenAndNoWindow) {
  struct Row {
    std::vector<std::string> args;
    bool ok;
    std::string address;
    int port;  // -1: not listening
    bool no_window;
  };
  const Row rows[] = {
      {{}, true, "127.0.0.1", -1, false},
      {{"--listen"}, true, "127.0.0.1", 5025, false},
      {{"--listen=0"}, true, "127.0.0.1", 0, false},
      {{"--listen=0.0.0.0:6000"}, true, "0.0.0.0", 6000, false},
      {{"--listen=[::1]:65535"}, true, "::1", 65535, false},
      {{"--no-window", "--listen=7"}, true, "127.0.0.1", 7, true},
      {{"--listen="}, false, "", 0, false},
      {{"--listen=65536"}, false, "", 0, false},
      {{"--listen=:5025"}, false, "", 0, false},
      {{"--listen=host:"}, false, "", 0, false},
      {{"--listen=50x"}, false, "", 0, false},
      {{"--no-window"}, false, "", 0, false},
      {{"--vxi11"}, false, "", 0, false},
      {{"--http-token-file=t"}, false, "", 0, false},
      {{"--http-cert=c"}, false, "", 0, false},
      {{"--http", "--http-key=k"}, false, "", 0, false},
  };
  for (const Row& row : rows) {
    const CommandLine c = ParseCommandLine(row.args);
    const std::string what = row.args.empty() ? "(none)" : row.args.back();
    if (!row.ok) {
      EXPECT_EQ(c.action, Action::Error) << what;
      EXPECT_NE(c.error.find(row.args.back().substr(0, 8)), std::string::npos) << c.error;
      continue;
    }
    ASSERT_EQ(c.action, Action::Run) << what << ": " << c.error;
    EXPECT_EQ(c.listen, row.port >= 0) << what;
    if (row.port >= 0) {
      EXPECT_EQ(c.listen_address, row.address) << what;
      EXPECT_EQ(c.listen_port, row.port) << what;
    }
    EXPECT_EQ(c.no_window, row.no_window) << what;
  }
}

TEST(CommandLine, NetworkServices) {
  const CommandLine c = ParseCommandLine({"--no-window", "--http=0.0.0.0:0", "--announce=Rack 3",
                                          "--listen", "--vxi11", "--http-token-file", "/t"});
  ASSERT_EQ(c.action, Action::Run) << c.error;
  EXPECT_TRUE(c.http && c.vxi11 && c.announce && c.no_window);
  EXPECT_EQ(c.http_address + ":" + std::to_string(c.http_port), "0.0.0.0:0");
  EXPECT_EQ(c.announce_name, "Rack 3");
  EXPECT_EQ(c.http_token_file, "/t");
  const CommandLine d = ParseCommandLine({"--http", "--announce"});
  EXPECT_EQ(d.http_address + ":" + std::to_string(d.http_port), "127.0.0.1:8080");
  EXPECT_EQ(d.announce_name, "");
}

TEST(CommandLine, WriteLatencyTakesFractionsInBothForms) {
  EXPECT_EQ(ParseCommandLine({"--simulate"}).write_latency_ms, 0.0);
  EXPECT_EQ(ParseCommandLine({"--simulate", "--write-latency-ms=0.8"}).write_latency_ms, 0.8);
  EXPECT_EQ(ParseCommandLine({"--write-latency-ms", "2", "--simulate"}).write_latency_ms, 2.0);
}

TEST(CommandLine, HelpNamesEveryOption) {
  const std::string help = HelpText();
  for (const char* option : {"--simulate", "--trace", "--write-latency-ms", "--listen", "--vxi11",
                             "--announce", "--http", "--http-token-file", "--http-cert",
                             "--http-key", "--no-window", "--help", "--version"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace pts
