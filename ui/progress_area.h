// The area under the panel: while a sweep runs, a progress bar and one line
// with the step within the pass, the time left in it and, for a single
// sweep, when it will end; below them the remote-control status line.
// Everything here is hidden while it has nothing to say.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <chrono>

#include "panel/sweep_progress.h"

class QLabel;
class QProgressBar;

namespace pts {

class ProgressArea : public QWidget {
  Q_OBJECT

 public:
  explicit ProgressArea(QWidget* parent);

  // Shows where the sweep stands; hides the bar and its line when none runs.
  void Show(const SweepProgress& progress);
  // One status line; empty text hides it.
  void SetRemoteStatus(const QString& text);

  QProgressBar* Bar() const { return bar_; }
  QLabel* Line() const { return line_; }
  QLabel* Remote() const { return remote_; }

 private:
  void ShowLine();

  QProgressBar* bar_ = nullptr;
  QLabel* line_ = nullptr;
  QLabel* remote_ = nullptr;
  QTimer clock_;  // counts the time left down between steps
  SweepProgress shown_;
  std::chrono::steady_clock::time_point since_;  // when the shown step began
};

}  // namespace pts
