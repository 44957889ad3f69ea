#include "ui/command_line.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <system_error>

#include "hid/simulated/simulated_backend.h"

namespace pts {

namespace {

// QApplication's options, with one dash or two; the first group takes a value.
constexpr std::array<std::string_view, 14> kQtValueOptions = {
    "platform",        "platformpluginpath",
    "platformtheme",   "plugin",
    "display",         "style",
    "stylesheet",      "session",
    "qwindowgeometry", "qwindowicon",
    "qwindowtitle",    "geometry",
    "title",           "name"};
constexpr std::array<std::string_view, 5> kQtFlags = {"reverse", "widgetcount", "nograb", "dograb",
                                                      "sync"};

bool Contains(auto& list, std::string_view name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

CommandLine Fail(std::string error) {
  CommandLine c;
  c.action = CommandLine::Action::Error;
  c.error = std::move(error);
  return c;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine c;
  bool have_trace = false;
  bool have_latency = false;
  std::string simulate_list;
  bool have_list = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      c.action = CommandLine::Action::Help;
      return c;
    }
    if (arg == "--version") {
      c.action = CommandLine::Action::Version;
      return c;
    }
    if (arg == "--simulate") {
      c.simulate = true;
      have_list = false;
      continue;
    }
    if (arg.rfind("--simulate=", 0) == 0) {
      c.simulate = true;
      have_list = true;
      simulate_list = arg.substr(11);
      continue;
    }
    if (arg == "--trace" || arg.rfind("--trace=", 0) == 0) {
      if (arg == "--trace") {
        if (i + 1 >= args.size()) return Fail("--trace needs a file name (--trace=FILE)");
        c.trace = args[++i];
      } else {
        c.trace = arg.substr(8);
      }
      if (c.trace.empty()) return Fail("--trace needs a file name (--trace=FILE)");
      have_trace = true;
      continue;
    }
    if (arg == "--write-latency-ms" || arg.rfind("--write-latency-ms=", 0) == 0) {
      constexpr const char* kLatencyError =
          "--write-latency-ms needs a number of milliseconds from 0 to 1000 (e.g. "
          "--write-latency-ms=0.8)";
      std::string value;
      if (arg == "--write-latency-ms") {
        if (i + 1 >= args.size()) return Fail(kLatencyError);
        value = args[++i];
      } else {
        value = arg.substr(19);
      }
      // from_chars: a decimal point whatever the locale says.
      double ms = -1;
      const char* last = value.data() + value.size();
      const auto [end, ec] = std::from_chars(value.data(), last, ms);
      // Negated so that NaN fails too.
      if (ec != std::errc() || end != last || !(ms >= 0 && ms <= 1000)) return Fail(kLatencyError);
      c.write_latency_ms = ms;
      have_latency = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      std::string_view name(arg);
      name.remove_prefix(arg.rfind("--", 0) == 0 ? 2 : 1);
      const auto eq = name.find('=');
      const std::string_view bare = name.substr(0, eq);
      if (Contains(kQtFlags, bare)) continue;
      if (Contains(kQtValueOptions, bare)) {
        if (eq == std::string_view::npos) ++i;  // the value follows
        continue;
      }
      return Fail("unknown option '" + arg + "' (see --help)");
    }
    return Fail("unexpected argument '" + arg + "' (see --help)");
  }
  if (have_trace && !c.simulate) {
    return Fail("--trace works only with --simulate (reports of real boards are not traced)");
  }
  if (have_latency && !c.simulate) {
    return Fail("--write-latency-ms works only with --simulate (real boards take their own time)");
  }
  if (c.simulate) {
    if (have_list) {
      std::string error;
      if (!hid::ParseSimulateList(simulate_list, &c.statuses, &error)) {
        return Fail(error);
      }
    } else {
      c.statuses = {0xFE};  // one board, no model stored, unit 0
    }
  }
  return c;
}

std::string HelpText() {
  return "Usage: pts-panel [--simulate[=LIST]] [--trace=FILE] [--write-latency-ms=X] [--help]\n"
         "                 [--version]\n"
         "\n"
         "Front panel for the USB interface board of PTS frequency synthesizers.\n"
         "Without options it opens the boards attached over USB (vendor 0x19A1,\n"
         "product 0x0064) through Linux hidraw.\n"
         "\n"
         "  --simulate[=LIST]  use simulated boards instead of USB, one per LIST entry;\n"
         "                     an entry is the status byte the board reports (stored\n"
         "                     model code in bits 7..4, unit code in bits 3..1), decimal\n"
         "                     or 0x-hex, e.g. --simulate=0x35,0x8E. Without LIST: one\n"
         "                     board reporting 0xFE (no model stored, unit 0).\n"
         "  --trace=FILE       append one line per report a simulated board receives or\n"
         "                     sends to FILE; needs --simulate (real boards are not traced)\n"
         "  --write-latency-ms=X\n"
         "                     every write to a simulated board takes X ms (0 to 1000,\n"
         "                     a fraction allowed), as a real board's USB transfer\n"
         "                     does; needs --simulate\n"
         "  --help             show this text and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "Qt's own options (-platform, -display, -style ...) are accepted too.\n"
         "Exit status: 0 normally, 2 for a bad command line.\n";
}

}  // namespace pts
