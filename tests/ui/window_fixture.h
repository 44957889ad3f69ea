// A window over a real panel on simulated boards, shown as the program shows it.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <cstdint>
#include <memory>
#include <vector>

#include "qt_app.h"
#include "support/panel_fixture.h"
#include "ui/main_window.h"

namespace pts::testing {

class WindowFixture : public ::testing::Test {
 protected:
  // Loads the panel the way the program does, then shows the window, whose
  // first show runs the activation.
  void Open(std::vector<uint8_t> boards = {0x5E}) {
    App();
    panel = std::make_unique<PanelFixture>(std::move(boards), PanelStart::Loaded);
    window = std::make_unique<MainWindow>(panel->form);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QCoreApplication::processEvents();  // the activation is queued behind the show
    panel->op.Clear();
  }
  void TearDown() override {
    window.reset();
    panel.reset();
  }

  std::unique_ptr<PanelFixture> panel;
  std::unique_ptr<MainWindow> window;
};

}  // namespace pts::testing
