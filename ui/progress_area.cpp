#include "ui/progress_area.h"

#include <QDateTime>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>

namespace pts {

namespace {
// A progress bar counts in int; longer passes are shown in parts of this.
constexpr int64_t kBarMax = 1000000;
}  // namespace

ProgressArea::ProgressArea(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ProgressArea"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("SweepProgress"));
  bar_->setAccessibleName(QStringLiteral("Sweep progress"));
  bar_->setFocusPolicy(Qt::NoFocus);
  bar_->setRange(0, 1);
  bar_->setValue(0);
  line_ = new QLabel(this);
  line_->setObjectName(QStringLiteral("SweepProgressText"));
  line_->setTextFormat(Qt::PlainText);
  remote_ = new QLabel(this);
  remote_->setObjectName(QStringLiteral("RemoteStatus"));
  remote_->setTextFormat(Qt::PlainText);
  layout->addWidget(bar_);
  layout->addWidget(line_);
  layout->addWidget(remote_);
  layout->addStretch(1);
  bar_->hide();
  line_->hide();
  remote_->hide();
  clock_.setInterval(1000);
  connect(&clock_, &QTimer::timeout, this, &ProgressArea::ShowLine);
}

void ProgressArea::Show(const SweepProgress& p) {
  if (!p.running) {
    shown_ = p;
    clock_.stop();
    bar_->hide();
    line_->hide();
    return;
  }
  if (!shown_.running || p.step != shown_.step || p.steps != shown_.steps ||
      p.single != shown_.single || p.list != shown_.list) {
    since_ = std::chrono::steady_clock::now();
  }
  shown_ = p;
  const int64_t top = std::min(p.steps, kBarMax);
  bar_->setRange(0, int(top));
  bar_->setValue(int(p.steps <= kBarMax ? p.step : p.step * kBarMax / p.steps));
  ShowLine();
  bar_->show();
  line_->show();
  if (!clock_.isActive()) clock_.start();
}

void ProgressArea::ShowLine() {
  if (!shown_.running) return;
  const double elapsed =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since_).count();
  const double left = std::max(0.0, shown_.ms_left - elapsed);
  QString text = QString::fromStdString(StepText(shown_)) + QStringLiteral(", ") +
                 QString::fromStdString(DurationText(left)) + QStringLiteral(" left");
  if (shown_.single) {
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime end = now.addMSecs(qint64(left));
    text += QStringLiteral(", ends at ") + end.toString(end.date() == now.date()
                                                            ? QStringLiteral("HH:mm:ss")
                                                            : QStringLiteral("ddd d MMM HH:mm"));
  } else {
    text += QStringLiteral(" in this pass");
  }
  if (line_->text() != text) line_->setText(text);
}

void ProgressArea::SetRemoteStatus(const QString& text) {
  if (remote_->text() != text) remote_->setText(text);
  remote_->setVisible(!text.isEmpty());
}

}  // namespace pts
