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
#include <memory>
#include <string>
#include <vector>

#include "app/headless.h"
#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "panel/mainform.h"
#include "pts_version.h"
#include "remote/command_table.h"
#include "remote/operator_switch.h"
#include "remote/tcp_server.h"
#include "ui/command_line.h"
#include "ui/main_window.h"
#include "ui/qt_operator.h"
#ifdef PTS_HAVE_HIDRAW
#include "hid/hidraw/hidraw_backend.h"
#endif

namespace {

constexpr const char* kAppName = "pts-panel";

int Usage(const std::string& error) {
  std::fprintf(stderr, "%s: %s\n", kAppName, error.c_str());
  return 2;
}

int CannotListen(const pts::CommandLine& cl, const std::string& reason) {
  std::fprintf(stderr, "%s: cannot listen on %s:%u: %s\n", kAppName, cl.listen_address.c_str(),
               unsigned(cl.listen_port), reason.c_str());
  return 1;
}

void PrintListening(const pts::remote::TcpServer& server) {
  std::printf("listening on %s\n", server.Address().c_str());
  std::fflush(stdout);
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

  // Without a window no display is needed: a core application suffices.
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

  std::unique_ptr<pts::hid::Backend> backend;
  if (cl.simulate) {
    auto sim = std::make_unique<pts::hid::SimulatedBackend>(start);
    const auto latency = std::chrono::microseconds(std::lround(cl.write_latency_ms * 1000.0));
    for (uint8_t status : cl.statuses) sim->DelayWrites(sim->AddBoard(status), latency);
    // Boards present at start are found by the open, not announced as arrivals.
    sim->DrainHotplug();
    if (trace) sim->SetTrace(trace.get());
    backend = std::move(sim);
  } else {
#ifdef PTS_HAVE_HIDRAW
    backend = std::make_unique<pts::hid::HidrawBackend>();
#else
    std::fprintf(stderr, "%s: this build has no USB support; use --simulate\n", kAppName);
    return 1;
#endif
  }

  pts::Varnel agent(*backend);
  std::unique_ptr<pts::Operator> person;
  pts::QtOperator* qt_operator = nullptr;
  if (cl.no_window) {
    person = std::make_unique<pts::ConsoleOperator>();
  } else {
    auto qt = std::make_unique<pts::QtOperator>(QString::fromLatin1(kAppName));
    qt_operator = qt.get();
    person = std::move(qt);
  }
  // Remote commands put their own stand-in in front of the panel while they run.
  pts::remote::OperatorSwitch op(*person);
  pts::MainForm form(agent, op, QCoreApplication::applicationDirPath().toStdString());
  pts::remote::Instrument instrument(form, op, PTS_VERSION);

  // Bound before anything else happens, so a port in use is a plain error;
  // commands that arrive early wait until the first read-back is done.
  bool ready = false;
  std::function<bool()> busy = [&ready] { return !ready; };
  std::unique_ptr<pts::remote::TcpServer> server;
  if (cl.listen) {
    server = std::make_unique<pts::remote::TcpServer>(instrument, [&busy] { return busy(); });
    std::string error;
    if (!server->Listen(cl.listen_address, cl.listen_port, &error)) return CannotListen(cl, error);
  }

  if (cl.no_window) {
    pts::Headless host(form);
    std::string error;
    if (!host.WatchSignals(&error)) return Usage(error);
    // No board: the open-failure text went to stderr; nobody can attach one here.
    if (!form.Form_Load()) return 1;
    host.Start();
    busy = [&host] { return host.InHandler(); };
    ready = true;
    PrintListening(*server);
    return app->exec();
  }

  pts::MainWindow window(form);
  // Loading may ask for a board before any window is shown; giving up there
  // has already unloaded the form.
  if (!form.Form_Load()) return 0;
  qt_operator->SetParentWindow(&window);
  window.setWindowTitle(QString::fromStdString(form.Caption));
  window.show();
  std::function<void()> announce;  // lives as long as the event loop runs
  if (server) {
    busy = [&] { return !ready || window.InHandler(); };
    server->OnStatus(
        [&window](const std::string& s) { window.SetRemoteStatus(QString::fromStdString(s)); });
    // The activation is queued behind the first show and may hold a box open;
    // the server is announced once it has run.
    announce = [&] {
      if (window.InHandler()) {
        QTimer::singleShot(10, &window, announce);
        return;
      }
      ready = true;
      window.SetRemoteStatus(QString::fromStdString(server->Status()));
      PrintListening(*server);
    };
    QTimer::singleShot(0, &window, announce);
  }
  return app->exec();
}
