// pts-panel: chooses the boards (USB or simulated), builds the panel logic and
// its window, and runs the event loop.
#include <QApplication>
#include <QStyleFactory>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hid/simulated/simulated_backend.h"
#include "hid/varnel.h"
#include "panel/mainform.h"
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

  QApplication app(argc, argv);
  // QApplication takes the locale from the environment; number texts keep
  // the period whatever the regional settings.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QString::fromLatin1(kAppName));
  QApplication::setApplicationVersion(QStringLiteral(PTS_VERSION));
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
    QApplication::setStyle(fusion);
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
  pts::QtOperator op(QString::fromLatin1(kAppName));
  pts::MainForm form(agent, op, QCoreApplication::applicationDirPath().toStdString());
  pts::MainWindow window(form);

  // Loading may ask for a board before any window is shown; giving up there
  // has already unloaded the form.
  if (!form.Form_Load()) return 0;
  op.SetParentWindow(&window);
  window.setWindowTitle(QString::fromStdString(form.Caption));
  window.show();
  return app.exec();
}
