#include "ui/command_line.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
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

// Our options. Each takes --name=value and --name value; an optional value is
// taken from the next argument only when that is not an option itself.
enum class Takes { Nothing, Value, OptionalValue };
struct OptionSpec {
  std::string_view name;
  Takes takes;
  std::string_view value_name;  // for messages: --trace=FILE
};
constexpr OptionSpec kOptions[] = {
    {"help", Takes::Nothing, ""},
    {"version", Takes::Nothing, ""},
    {"simulate", Takes::OptionalValue, "LIST"},
    {"trace", Takes::Value, "FILE"},
    {"listen", Takes::OptionalValue, "[ADDR:]PORT"},
    {"no-window", Takes::Nothing, ""},
    {"vxi11", Takes::Nothing, ""},
    {"announce", Takes::OptionalValue, "NAME"},
    {"http", Takes::OptionalValue, "[ADDR:]PORT"},
    {"http-token-file", Takes::Value, "FILE"},
    {"http-cert", Takes::Value, "FILE"},
    {"http-key", Takes::Value, "FILE"},
    {"write-latency-ms", Takes::Value, "X"},
};

bool Contains(auto& list, std::string_view name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& o : kOptions) {
    if (o.name == name) return &o;
  }
  return nullptr;
}

CommandLine Fail(std::string error) {
  CommandLine c;
  c.action = CommandLine::Action::Error;
  c.error = std::move(error);
  return c;
}

// The value of --listen or --http: PORT or ADDR:PORT (an IPv6 address in brackets).
bool ParseAddress(std::string_view value, std::string* address, uint16_t* port_number) {
  std::string_view port = value;
  if (const auto colon = value.rfind(':'); colon != std::string_view::npos) {
    std::string_view addr = value.substr(0, colon);
    port = value.substr(colon + 1);
    if (addr.size() >= 2 && addr.front() == '[' && addr.back() == ']') {
      addr = addr.substr(1, addr.size() - 2);
    }
    if (addr.empty()) return false;
    *address = std::string(addr);
  }
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  const unsigned long n = std::stoul(std::string(port));
  if (n > 65535) return false;
  *port_number = static_cast<uint16_t>(n);
  return true;
}

// The value of --write-latency-ms: milliseconds, 0 to 1000, a fraction allowed.
bool ParseLatency(const std::string& value, double* ms) {
  // from_chars: a decimal point whatever the locale says.
  const char* last = value.data() + value.size();
  const auto result = std::from_chars(value.data(), last, *ms);
  // Negated so that NaN fails too.
  return result.ec == std::errc() && result.ptr == last && *ms >= 0 && *ms <= 1000;
}

// --announce's NAME travels to avahi-daemon over D-Bus, which takes only
// valid UTF-8 (libdbus aborts the program on anything else), and a DNS-SD
// instance name holds no control characters (RFC 6763, 4.1.1).
bool GoodServiceName(std::string_view name) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(QByteArrayView(name.data(), qsizetype(name.size())));
  if (utf8.hasError()) return false;
  return std::none_of(text.begin(), text.end(), [](QChar ch) {
    return ch.unicode() < 0x20 || (ch.unicode() >= 0x7F && ch.unicode() < 0xA0);
  });
}

// Takes one of our options into `c`; returns an error, empty when none.
std::string Apply(std::string_view name, const std::optional<std::string>& value, CommandLine& c) {
  if (name == "simulate") {
    c.simulate = true;
    if (!value) {
      c.statuses = {0xFE};  // one board, no model stored, unit 0
    } else if (std::string error; !hid::ParseSimulateList(*value, &c.statuses, &error)) {
      return error;
    }
  } else if (name == "trace") {
    c.trace = *value;
    if (c.trace.empty()) return "--trace needs a file name (--trace=FILE)";
  } else if (name == "listen") {
    c.listen = true;
    if (value && !ParseAddress(*value, &c.listen_address, &c.listen_port)) {
      return "--listen takes [ADDR:]PORT, e.g. --listen=5025 or --listen=0.0.0.0:5025";
    }
  } else if (name == "no-window") {
    c.no_window = true;
  } else if (name == "vxi11") {
    c.vxi11 = true;
  } else if (name == "announce") {
    c.announce = true;
    c.announce_name = value.value_or("");
    if (!GoodServiceName(c.announce_name)) {
      return "--announce: NAME must be UTF-8 text without control characters";
    }
  } else if (name == "http") {
    c.http = true;
    if (value && !ParseAddress(*value, &c.http_address, &c.http_port)) {
      return "--http takes [ADDR:]PORT, e.g. --http=8080 or --http=0.0.0.0:8080";
    }
  } else if (name == "http-token-file") {
    c.http_token_file = *value;
    if (c.http_token_file.empty()) return "--http-token-file needs a file name";
  } else if (name == "http-cert" || name == "http-key") {
    (name == "http-cert" ? c.http_cert : c.http_key) = *value;
    if (value->empty()) return "--" + std::string(name) + " needs a file name";
  } else if (name == "write-latency-ms") {
    if (!ParseLatency(*value, &c.write_latency_ms)) {
      return "--write-latency-ms needs a number of milliseconds from 0 to 1000 (e.g. "
             "--write-latency-ms=0.8)";
    }
  }
  return {};
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  // --help and --version win over anything else on the line, bad or not.
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      CommandLine c;
      c.action = CommandLine::Action::Help;
      return c;
    }
    if (arg == "--version") {
      CommandLine c;
      c.action = CommandLine::Action::Version;
      return c;
    }
  }

  CommandLine c;
  bool have_latency = false;  // 0 ms is a value too
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      return Fail("unexpected argument '" + arg + "' (see --help)");
    }
    std::string_view name(arg);
    const bool two_dashes = arg.rfind("--", 0) == 0;
    name.remove_prefix(two_dashes ? 2 : 1);
    const auto eq = name.find('=');
    const std::string_view bare = name.substr(0, eq);
    const OptionSpec* spec = two_dashes ? FindOption(bare) : nullptr;
    if (spec == nullptr) {
      if (Contains(kQtFlags, bare)) continue;
      if (Contains(kQtValueOptions, bare)) {
        if (eq == std::string_view::npos) ++i;  // the value follows
        continue;
      }
      return Fail("unknown option '" + arg + "' (see --help)");
    }
    const std::string dashed = "--" + std::string(spec->name);
    std::optional<std::string> value;
    if (eq != std::string_view::npos) {
      if (spec->takes == Takes::Nothing) return Fail(dashed + " takes no value");
      value = std::string(name.substr(eq + 1));
    } else if (spec->takes != Takes::Nothing) {
      // A required value may begin with one dash (a negative number says
      // itself what is wrong with it); two dashes start the next option.
      const std::string_view next = i + 1 < args.size() ? args[i + 1] : std::string_view();
      const bool takes_next = spec->takes == Takes::Value
                                  ? !next.empty() && next.rfind("--", 0) != 0
                                  : !next.empty() && next[0] != '-';
      if (takes_next) {
        value = args[++i];
      } else if (spec->takes == Takes::Value) {
        const std::string form = dashed + "=" + std::string(spec->value_name);
        return Fail(dashed + " needs a value (" + form + " or " + dashed + " " +
                    std::string(spec->value_name) + ")");
      }
    }
    if (std::string error = Apply(spec->name, value, c); !error.empty()) return Fail(error);
    have_latency = have_latency || spec->name == "write-latency-ms";
  }
  if (!c.trace.empty() && !c.simulate) {
    return Fail("--trace works only with --simulate (reports of real boards are not traced)");
  }
  if (have_latency && !c.simulate) {
    return Fail("--write-latency-ms works only with --simulate (real boards take their own time)");
  }
  if (c.no_window && !c.listen && !c.http) {
    return Fail(
        "--no-window needs --listen or --http (without a window the program is driven remotely)");
  }
  if (c.vxi11 && !c.listen) return Fail("--vxi11 needs --listen (it serves on the same address)");
  if (!c.http_token_file.empty() && !c.http)
    return Fail("--http-token-file works only with --http");
  if ((!c.http_cert.empty() || !c.http_key.empty()) && !c.http)
    return Fail("--http-cert and --http-key work only with --http");
  if (c.http_cert.empty() != c.http_key.empty())
    return Fail("--http-cert and --http-key go together (the certificate and its key)");
  return c;
}

// The manual page's OPTIONS section is made from this text at build time
// (packaging/), so an option line starts with two blanks and its dash, and
// the lines that carry on its description are indented further.
std::string HelpText() {
  return "Usage: pts-panel [--simulate[=LIST]] [--trace=FILE] [--write-latency-ms=X]\n"
         "                 [--listen[=[ADDR:]PORT]] [--vxi11] [--announce[=NAME]]\n"
         "                 [--http[=[ADDR:]PORT]] [--http-token-file=FILE]\n"
         "                 [--http-cert=FILE --http-key=FILE]\n"
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
         "  --write-latency-ms=X\n"
         "                     every write to a simulated board takes X ms (0 to 1000,\n"
         "                     a fraction allowed), as a real board's USB transfer\n"
         "                     does; needs --simulate\n"
         "  --listen[=[ADDR:]PORT]\n"
         "                     take SCPI commands over TCP (raw socket). Alone: on\n"
         "                     127.0.0.1:5025; a bare PORT listens on 127.0.0.1; port 0\n"
         "                     picks a free one. There is no authentication: anyone who\n"
         "                     can reach the port controls the boards, so name an address\n"
         "                     other than loopback only on a network you trust.\n"
         "  --vxi11            also serve VXI-11 (TCPIP::host::INSTR) on the --listen\n"
         "                     address (needed), registered with rpcbind\n"
         "  --announce[=NAME]  publish the services on the network through DNS-SD\n"
         "                     (Avahi), under NAME (UTF-8, cut to 63 bytes) or\n"
         "                     \"pts-panel <model> on <host>\"\n"
         "  --http[=[ADDR:]PORT]\n"
         "                     serve the front panel as a web page. Alone: on\n"
         "                     127.0.0.1:8080; a bare PORT listens on 127.0.0.1; port 0\n"
         "                     picks a free one\n"
         "  --http-token-file=FILE\n"
         "                     the page may control the panel only with the token in\n"
         "                     FILE; without it, only when it listens on loopback\n"
         "  --http-cert=FILE --http-key=FILE\n"
         "                     serve the page over TLS only (https, wss), with the PEM\n"
         "                     certificate chain and private key in the FILEs; the key\n"
         "                     file must give its group and other users no permission\n"
         "  --no-window        run without a window or display, driven only through\n"
         "                     --listen or --http (one needed)\n"
         "  --help             show this text and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "Every option also takes its value as the next argument (--trace FILE).\n"
         "SIGTERM, SIGINT and SIGHUP end the program as closing the window does.\n"
         "Qt's own options (-platform, -display, -style ...) are accepted too.\n"
         "\n"
         "Exit status: 0 normally; 1 when this build has no USB support and\n"
         "--simulate is not given, when no board opens without a window, when an\n"
         "address cannot be listened on, when rpcbind does not take the VXI-11\n"
         "registration, or when the token file, certificate or key will not do;\n"
         "2 for a bad command line or a trace file that cannot be opened.\n";
}

}  // namespace pts
