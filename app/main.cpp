// pts-panel: chooses the boards (USB or simulated), builds the panel logic,
// its window (or none) and the remote-control server, and runs the event loop.
#include <QApplication>
#include <QStyleFactory>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/headless.h"
#include "app/signal_ending.h"
#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "panel/mainform.h"
#include "pts_version.h"
#include "remote/instrument.h"
#include "remote/operator_switch.h"
#include "remote/socket/tcp_server.h"
#include "remote/vxi11/vxi11_server.h"
#include "remote/web/web_access.h"
#include "remote/web/web_server.h"
#include "remote/web/web_tls.h"
#include "ui/command_line.h"
#include "ui/main_window.h"
#include "ui/qt_operator.h"
#ifdef PTS_HAVE_HIDRAW
#include "hid/hidraw/hidraw_backend.h"
#endif
#ifdef PTS_HAVE_DNSSD
#include "remote/dnssd/announcer.h"
#endif

namespace {

constexpr const char* kAppName = "pts-panel";

int Usage(const std::string& error) {
  std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
  return 2;
}

void PrintListening(const pts::remote::TcpServer& server) {
  std::printf("listening on %s\n", server.Address().c_str());
  std::fflush(stdout);
}

// Without a window no display is needed: a core application suffices.
std::unique_ptr<QCoreApplication> MakeApplication(const pts::CommandLine& cl, int& argc,
                                                  char** argv) {
  std::unique_ptr<QCoreApplication> app;
  if (cl.no_window) {
    // A service without a window needs no GLib main loop; Qt's own event
    // dispatcher costs less per wake-up (a remote request is one).
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    app = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    app = std::make_unique<QApplication>(argc, argv);
  }
  // QApplication takes the locale from the environment; number texts keep
  // the period whatever the regional settings.
  std::setlocale(LC_NUMERIC, "C");
  QCoreApplication::setApplicationName(QString::fromLatin1(kAppName));
  QCoreApplication::setApplicationVersion(QStringLiteral(PTS_VERSION));
  if (!cl.no_window) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
      QApplication::setStyle(fusion);
    }
  }
  return app;
}

// The simulated boards of the command line, or the USB ones. Null, with the
// reason on stderr, when this build cannot open USB boards.
std::unique_ptr<pts::hid::Backend> ChooseBackend(const pts::CommandLine& cl,
                                                 std::chrono::steady_clock::time_point start,
                                                 std::FILE* trace) {
  if (cl.simulate) {
    auto sim = std::make_unique<pts::hid::SimulatedBackend>(start);
    const auto latency = std::chrono::microseconds(std::lround(cl.write_latency_ms * 1000.0));
    for (uint8_t status : cl.statuses) sim->DelayWrites(sim->AddBoard(status), latency);
    // Boards present at start are found by the open, not announced as arrivals.
    sim->DrainHotplug();
    if (trace) sim->SetTrace(trace);
    return sim;
  }
#ifdef PTS_HAVE_HIDRAW
  return std::make_unique<pts::hid::HidrawBackend>();
#else
  std::fprintf(stderr, "%s: this build has no USB support; use --simulate\n", kAppName);
  return nullptr;
#endif
}

// The logic both runs share: the agent on the boards, the panel behind the
// switch that remote commands use to stand in for the operator, and the
// instrument those commands drive.
struct Logic {
  Logic(pts::hid::Backend& backend, pts::Operator& person)
      : agent(backend),
        op(person),
        form(agent, op, QCoreApplication::applicationDirPath().toStdString()),
        instrument(form, op, PTS_VERSION) {}
  pts::Varnel agent;
  pts::remote::OperatorSwitch op;
  pts::MainForm form;
  pts::remote::Instrument instrument;
};

// Bound before the panel loads, so that a port in use is a plain error; the
// server asks `busy` before it runs a command. Null (status 1) when it cannot.
std::unique_ptr<pts::remote::TcpServer> Listen(const pts::CommandLine& cl,
                                               pts::remote::Instrument& instrument,
                                               std::function<bool()> busy) {
  auto server = std::make_unique<pts::remote::TcpServer>(instrument, std::move(busy));
  std::string error;
  if (!server->Listen(cl.listen_address, cl.listen_port, &error)) {
    std::fprintf(stderr, "%s: cannot listen on %s:%u: %s\n", kAppName, cl.listen_address.c_str(),
                 unsigned(cl.listen_port), error.c_str());
    return nullptr;
  }
  return server;
}

// --vxi11: beside the raw socket, on its address. Null (status 1) when it
// cannot listen or rpcbind does not take the registration.
std::unique_ptr<pts::remote::vxi11::Vxi11Server> ListenVxi11(const pts::CommandLine& cl,
                                                             pts::remote::Instrument& instrument,
                                                             std::function<bool()> busy) {
  auto server = std::make_unique<pts::remote::vxi11::Vxi11Server>(instrument, std::move(busy));
  std::string error;
  if (!server->Listen(cl.listen_address, &error) || !server->Register(&error)) {
    std::fprintf(stderr, "%s: cannot serve VXI-11 on %s: %s\n", kAppName, cl.listen_address.c_str(),
                 error.c_str());
    return nullptr;
  }
  return server;
}

// --http: the web page, bound before the panel loads like the server. Null
// (status 1) when the token file or the address will not do.
std::unique_ptr<pts::remote::WebServer> ServePage(const pts::CommandLine& cl, Logic& logic,
                                                  pts::PanelRunner& runner,
                                                  std::function<bool()> busy) {
  if (!cl.http) return nullptr;
  auto web = std::make_unique<pts::remote::WebServer>(logic.form, logic.instrument, std::move(busy),
                                                      PTS_VERSION);
  std::string error;
  if (!cl.http_token_file.empty()) {
    std::string token;
    if (!pts::remote::ReadTokenFile(cl.http_token_file, &token, &error)) {
      std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
      return nullptr;
    }
    web->RequireToken(std::move(token));
  }
  if (!cl.http_cert.empty()) {
    QSslConfiguration tls;
    if (!pts::remote::LoadTls(cl.http_cert, cl.http_key, &tls, &error)) {
      std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
      return nullptr;
    }
    web->UseTls(std::move(tls));
  }
  if (!web->Listen(cl.http_address, cl.http_port, &error)) {
    std::fprintf(stderr, "%s: cannot listen on %s:%u: %s\n", kAppName, cl.http_address.c_str(),
                 unsigned(cl.http_port), error.c_str());
    return nullptr;
  }
  if (!cl.http_token_file.empty() && !web->Secure() && !web->Loopback()) {
    std::fprintf(stderr,
                 "%s: the web page on %s is plain http: the access token and the control "
                 "cross the network in clear (--http-cert and --http-key serve https)\n",
                 kAppName, web->Address().c_str());
  }
  if (!web->ControlPossible()) {
    std::fprintf(stderr,
                 "%s: the web page on %s only shows the panel: control from another address "
                 "needs --http-token-file\n",
                 kAppName, web->Address().c_str());
  }
  // Any change, whoever made it, reaches the pages: the panel's handlers
  // (the window's, ticks, hot-plug) and every client's commands.
  pts::remote::WebServer* w = web.get();
  runner.OnHandlersDone([w] { w->Changed(); });
  logic.instrument.OnExecuted([w] { w->Changed(); });
  return web;
}

// Where the front ends listen, once they take commands.
void PrintFrontEnds(const pts::remote::TcpServer* server,
                    const pts::remote::vxi11::Vxi11Server* vxi11, pts::remote::WebServer* web) {
  if (server) PrintListening(*server);
  if (vxi11) {
    std::printf("%s\n", vxi11->Description().c_str());
    std::fflush(stdout);
  }
  if (!web) return;
  if (server) {
    // "HOST:PORT" or "[V6]:PORT": the page names each on the address it is reached by.
    std::string host = server->Address();
    const size_t colon = host.rfind(':');
    const std::string port = host.substr(colon + 1);
    host.resize(colon);
    if (!host.empty() && host.front() == '[') host = host.substr(1, host.size() - 2);
    web->AddInterface("SCPI raw socket", host, port + "::SOCKET");
    if (vxi11) web->AddInterface("VXI-11", host, "inst0::INSTR");
  }
  std::printf("%s on %s\n", web->Secure() ? "https" : "http", web->Address().c_str());
  std::fflush(stdout);
}

#ifdef PTS_HAVE_DNSSD
using Announcer = pts::remote::dnssd::Announcer;

// "HOST:PORT" or "[V6]:PORT", as the front ends say where they listen.
void SplitAddress(std::string address, std::string* host, uint16_t* port) {
  const size_t colon = address.rfind(':');
  *port = static_cast<uint16_t>(std::stoul(address.substr(colon + 1)));
  address.resize(colon);
  if (!address.empty() && address.front() == '[') address = address.substr(1, address.size() - 2);
  *host = address;
}

// --announce: what this run serves, published through DNS-SD under the
// panel's model, which the name and records follow.
std::unique_ptr<Announcer> Announce(const pts::CommandLine& cl,
                                    const pts::remote::TcpServer* server,
                                    const pts::remote::WebServer* web, Logic& logic,
                                    pts::PanelRunner& runner) {
  pts::remote::dnssd::Listing listing{cl.announce_name, kAppName, PTS_VERSION, {}};
  std::string host;
  uint16_t port = 0;
  if (server) {
    SplitAddress(server->Address(), &host, &port);
    listing.services.push_back({"_scpi-raw._tcp", port, host});
    // VXI-11 clients find the server through rpcbind's port.
    if (cl.vxi11) listing.services.push_back({"_vxi-11._tcp", 111, host});
  }
  if (web) {
    SplitAddress(web->Address(), &host, &port);
    // Browsers and LXI tools find the page at path=/, over TLS when scheme=https.
    std::vector<std::string> txt{"path=/"};
    if (web->Secure()) txt.push_back("scheme=https");
    listing.services.push_back({"_lxi._tcp", port, host, txt});
    listing.services.push_back({"_http._tcp", port, host, txt});
  }
  auto announcer = std::make_unique<Announcer>(std::move(listing));
  // A menu choice, a read-back or a client's SYST:MOD may change the model.
  Announcer* a = announcer.get();
  const pts::MainForm* form = &logic.form;
  a->SetModel(form->ModelNum);
  runner.OnHandlersDone([a, form] { a->SetModel(form->ModelNum); });
  logic.instrument.OnExecuted([a, form] { a->SetModel(form->ModelNum); });
  announcer->Start();
  return announcer;
}
#else
struct Announcer {};
std::unique_ptr<Announcer> Announce(const pts::CommandLine&, const pts::remote::TcpServer*,
                                    const pts::remote::WebServer*, Logic&, pts::PanelRunner&) {
  std::fprintf(stderr, "%s: --announce: this build has no DNS-SD (Avahi) support\n", kAppName);
  return nullptr;
}
#endif

// --no-window: the panel as a service behind the front ends (one at least).
int RunWithoutWindow(const pts::CommandLine& cl, pts::hid::Backend& backend) {
  // Before anything is registered, and gone last: a signal at any point
  // ends the run through the unwinding below.
  pts::SignalEnding ending;
  if (std::string error; !ending.Watch(&error)) {
    std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
    return 1;
  }
  pts::ConsoleOperator person;
  Logic logic(backend, person);
  pts::Headless host(logic.form);
  // Ticks and hot-plug change the clients' status conditions without a command.
  host.Runner().OnHandlersDone([&logic] { logic.instrument.Update(); });
  bool ready = false;  // commands that arrive early wait until the first read-back is done
  const auto busy = [&ready, &host] { return !ready || host.InHandler(); };
  std::unique_ptr<pts::remote::TcpServer> server;
  std::unique_ptr<pts::remote::vxi11::Vxi11Server> vxi11;
  if (cl.listen) {
    server = Listen(cl, logic.instrument, busy);
    if (!server) return 1;
    if (cl.vxi11 && !(vxi11 = ListenVxi11(cl, logic.instrument, busy))) return 1;
  }
  const auto web = ServePage(cl, logic, host.Runner(), busy);
  if (cl.http && !web) return 1;
  if (!logic.form.Form_Load()) {
    // The open-failure text (on stderr) asks for a click nobody can give here.
    std::fprintf(stderr,
                 "%s: no board: attach one and start again, or run with --simulate for "
                 "simulated boards\n",
                 kAppName);
    return 1;
  }
  host.Start();
  ready = true;
  PrintFrontEnds(server.get(), vxi11.get(), web.get());
  const auto dnssd =
      cl.announce ? Announce(cl, server.get(), web.get(), logic, host.Runner()) : nullptr;
  const int status = ending.Requested() ? 0 : QCoreApplication::exec();
  host.Runner().Unload();  // as closing the window; the front ends go after it
  return status;
}

int RunWithWindow(const pts::CommandLine& cl, pts::hid::Backend& backend) {
  pts::SignalEnding ending;  // as without a window
  if (std::string error; !ending.Watch(&error)) {
    std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
    return 1;
  }
  pts::QtOperator person(QString::fromLatin1(kAppName));
  Logic logic(backend, person);
  // Commands that arrive early wait until the first read-back is done, and
  // then while a handler of the window runs.
  bool ready = false;
  const pts::MainWindow* shown = nullptr;
  std::unique_ptr<pts::remote::TcpServer> server;
  std::unique_ptr<pts::remote::vxi11::Vxi11Server> vxi11;
  std::unique_ptr<Announcer> dnssd;
  if (cl.announce && !cl.listen && !cl.http) {
    std::fprintf(stderr, "%s: --announce: nothing to announce without --listen or --http\n",
                 kAppName);
  }
  if (cl.listen) {
    const auto busy = [&ready, &shown] { return !ready || shown->InHandler(); };
    server = Listen(cl, logic.instrument, busy);
    if (!server) return 1;
    if (cl.vxi11 && !(vxi11 = ListenVxi11(cl, logic.instrument, busy))) return 1;
  }

  pts::MainWindow window(logic.form);
  // Ticks, hot-plug and the operator change the clients' status conditions
  // without a command.
  window.Runner().OnHandlersDone([&logic] { logic.instrument.Update(); });
  const auto web = ServePage(cl, logic, window.Runner(),
                             [&ready, &shown] { return !ready || shown->InHandler(); });
  if (cl.http && !web) return 1;
  // Loading may ask for a board before any window is shown; giving up there
  // (a signal gives up too) has already unloaded the form.
  if (!logic.form.Form_Load()) return 0;
  person.SetParentWindow(&window);
  window.setWindowTitle(QString::fromStdString(logic.form.Caption));
  window.show();
  shown = &window;
  std::function<void()> announce;  // lives as long as the event loop runs
  if (server) {
    server->OnStatus(
        [&window](const std::string& s) { window.SetRemoteStatus(QString::fromStdString(s)); });
  }
  if (server || web) {
    // The activation is queued behind the first show and may hold a box open;
    // the front ends are announced once it has run.
    announce = [&] {
      if (window.InHandler()) {
        QTimer::singleShot(10, &window, announce);
        return;
      }
      ready = true;
      if (server) window.SetRemoteStatus(QString::fromStdString(server->Status()));
      PrintFrontEnds(server.get(), vxi11.get(), web.get());
      if (cl.announce) dnssd = Announce(cl, server.get(), web.get(), logic, window.Runner());
    };
    QTimer::singleShot(0, &window, announce);
  }
  const int status = ending.Requested() ? 0 : QCoreApplication::exec();
  // Closed, or ended by a signal: the panel unloads as the window closes.
  window.Runner().Unload();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // The trace counts seconds from here.
  const auto start = std::chrono::steady_clock::now();

  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const pts::CommandLine cl = pts::ParseCommandLine(args);
  switch (cl.action) {
    case pts::CommandLine::Action::Help:
      std::fputs(pts::HelpText().c_str(), stdout);
      return 0;
    case pts::CommandLine::Action::Version:
      std::printf("%s %s\n", kAppName, PTS_VERSION);
      return 0;
    case pts::CommandLine::Action::Error:
      return Usage(cl.error);
    case pts::CommandLine::Action::Run:
      break;
  }

  // Open the trace before anything shows, so a bad path is a plain error.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, &std::fclose);
  if (!cl.trace.empty()) {
    trace.reset(std::fopen(cl.trace.c_str(), "a"));
    if (!trace) {
      return Usage("cannot open trace file '" + cl.trace + "': " + std::strerror(errno));
    }
  }

  const std::unique_ptr<QCoreApplication> app = MakeApplication(cl, argc, argv);
  const std::unique_ptr<pts::hid::Backend> backend = ChooseBackend(cl, start, trace.get());
  if (!backend) return 1;
  return cl.no_window ? RunWithoutWindow(cl, *backend) : RunWithWindow(cl, *backend);
}
