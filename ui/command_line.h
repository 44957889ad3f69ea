// The program's command line. Qt's own options (-platform, -display, -style
// ...) are left for QApplication; everything else must be ours.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pts {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  bool simulate = false;
  std::vector<uint8_t> statuses;  // one per simulated board
  std::string trace;              // trace file; empty: none
  // --listen[=[ADDR:]PORT]: the remote-control server (loopback unless an address is named).
  bool listen = false;
  std::string listen_address = "127.0.0.1";
  uint16_t listen_port = 5025;  // 0: any free port
  bool no_window = false;       // --no-window: needs --listen or --http
  bool vxi11 = false;           // --vxi11: the VXI-11 server beside --listen (needed)
  // --announce[=NAME]: DNS-SD records through Avahi; an empty name: the default one.
  bool announce = false;
  std::string announce_name;
  // --http[=[ADDR:]PORT]: the web page (loopback unless an address is named).
  bool http = false;
  std::string http_address = "127.0.0.1";
  uint16_t http_port = 8080;        // 0: any free port
  std::string http_token_file;      // --http-token-file=FILE: control needs its token
  std::string http_cert, http_key;  // --http-cert/--http-key: TLS (both or neither)
  double write_latency_ms = 0;      // how long every write to a simulated board takes
  std::string error;                // one line, for Action::Error
};

CommandLine ParseCommandLine(const std::vector<std::string>& args);  // without argv[0]
std::string HelpText();

}  // namespace pts
