#include "ui/command_line.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

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

// The value of --listen: PORT or ADDR:PORT (an IPv6 address in brackets).
bool ParseListen(std::string_view value, CommandLine& c, std::string* error) {
  *error = "--listen takes [ADDR:]PORT, e.g. --listen=5025 or --listen=0.0.0.0:5025";
  std::string_view port = value;
  if (const auto colon = value.rfind(':'); colon != std::string_view::npos) {
    std::string_view addr = value.substr(0, colon);
    port = value.substr(colon + 1);
    if (addr.size() >= 2 && addr.front() == '[' && addr.back() == ']') {
      addr = addr.substr(1, addr.size() - 2);
    }
    if (addr.empty()) return false;
    c.listen_address = std::string(addr);
  }
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const unsigned long n = std::stoul(std::string(port));
  if (n > 65535) return false;
  c.listen_port = static_cast<uint16_t>(n);
  return true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine c;
  bool have_trace = false;
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
    if (arg == "--listen") {
      c.listen = true;
      continue;
    }
    if (arg.rfind("--listen=", 0) == 0) {
      std::string error;
      if (!ParseListen(std::string_view(arg).substr(9), c, &error)) return Fail(error);
      c.listen = true;
      continue;
    }
    if (arg == "--no-window") {
      c.no_window = true;
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
  if (c.no_window && !c.listen) {
    return Fail("--no-window needs --listen (without a window the program is driven remotely)");
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
  return "Usage: pts-panel [--simulate[=LIST]] [--trace=FILE] [--listen[=[ADDR:]PORT]]\n"
         "                 [--no-window] [--help] [--version]\n"
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
         "  --listen[=[ADDR:]PORT]\n"
         "                     take SCPI commands over TCP (raw socket). Alone: on\n"
         "                     127.0.0.1:5025; a bare PORT listens on 127.0.0.1; port 0\n"
         "                     picks a free one. There is no authentication: anyone who\n"
         "                     can reach the port controls the boards, so name an address\n"
         "                     other than loopback only on a network you trust.\n"
         "  --no-window        run without a window or display, driven only through\n"
         "                     --listen (needed); SIGTERM or SIGINT ends it\n"
         "  --help             show this text and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "Qt's own options (-platform, -display, -style ...) are accepted too.\n"
         "Exit status: 0 normally, 1 when no board opens without a window or the\n"
         "address cannot be listened on, 2 for a bad command line.\n";
}

}  // namespace pts
