// The one QApplication of the ui tests (offscreen), created on first use.
#pragma once

#include <QApplication>
#include <QString>

namespace pts::testing {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "pts_ui_tests";
  static char* argv[] = {name, nullptr};
  // Kept for the life of the process: Qt must not be torn down between tests.
  static QApplication* app = [] {
    // The offscreen platform cannot fix a window's size and says so each time.
    static const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
          if (message.contains(QLatin1String("propagateSizeHints"))) return;
          previous(type, context, message);
        });
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace pts::testing
