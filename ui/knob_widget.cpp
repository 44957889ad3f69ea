#include "ui/knob_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace pts {

namespace {
// The scale runs clockwise over 270 degrees, from lower left (minimum) to
// lower right (maximum), with the gap at the bottom.
constexpr double kStartAngle = 225.0;
constexpr double kSweep = 270.0;
constexpr double kPi = 3.14159265358979323846;

QPointF Polar(QPointF centre, double radius, double degrees) {
  const double r = degrees * kPi / 180.0;
  return {centre.x() + radius * std::cos(r), centre.y() - radius * std::sin(r)};
}
}  // namespace

KnobWidget::KnobWidget(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void KnobWidget::setValue(int v) {
  if (v == value_) return;
  value_ = v;
  update();
}

void KnobWidget::setRange(int min, int max) {
  if (max < min) std::swap(min, max);
  min_ = min;
  max_ = max;
  page_step_ = std::max(1, (max_ - min_) / 3);
  update();
}

int KnobWidget::shownValue() const {
  return std::clamp(value_, min_, max_);
}

void KnobWidget::TurnTo(int v) {
  v = std::clamp(v, min_, max_);
  if (v == shownValue()) return;
  value_ = v;
  update();
  emit turned(v);
}

double KnobWidget::AngleOf(int v) const {
  if (max_ == min_) return kStartAngle;
  return kStartAngle - kSweep * (std::clamp(v, min_, max_) - min_) / double(max_ - min_);
}

double KnobWidget::ScaleAt(QPointF pos) const {
  const QPointF c = QRectF(rect()).center();
  // Too near the centre the angle is noise.
  if (std::hypot(pos.x() - c.x(), pos.y() - c.y()) < std::min(width(), height()) * 0.12)
    return -1.0;
  const double angle = std::atan2(-(pos.y() - c.y()), pos.x() - c.x()) * 180.0 / kPi;
  return std::fmod(kStartAngle - angle + 720.0, 360.0);  // 0 at the minimum, clockwise
}

int KnobWidget::ValueAt(QPointF pos) const {
  double s = ScaleAt(pos);
  if (s < 0) return shownValue();
  if (s > kSweep) s = s < (kSweep + 360.0) / 2 ? kSweep : 0.0;  // in the gap: nearer end
  return ValueOnScale(s);
}

int KnobWidget::ValueOnScale(double s) const {
  return min_ + int(std::lround(s / kSweep * (max_ - min_)));
}

int KnobWidget::DragValueAt(QPointF pos) {
  const double s = ScaleAt(pos);
  if (s < 0) return shownValue();
  if (s > kSweep) {
    // Dragged into the gap: the knob stops at the end it was turned against
    // rather than jumping round to the other one.
    if (stop_ == 0) stop_ = (shownValue() - min_) * 2 >= (max_ - min_) ? 1 : -1;
    return stop_ > 0 ? max_ : min_;
  }
  // Held at a stop until the pointer comes back round to that end's half.
  if (stop_ > 0 && s < kSweep / 2) return max_;
  if (stop_ < 0 && s > kSweep / 2) return min_;
  stop_ = 0;
  return ValueOnScale(s);
}

void KnobWidget::keyPressEvent(QKeyEvent* event) {
  const int shown = shownValue();
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
      TurnTo(shown + 1);
      break;
    case Qt::Key_Down:
    case Qt::Key_Left:
      TurnTo(shown - 1);
      break;
    case Qt::Key_PageUp:
      TurnTo(shown + page_step_);
      break;
    case Qt::Key_PageDown:
      TurnTo(shown - page_step_);
      break;
    case Qt::Key_Home:
      TurnTo(min_);
      break;
    case Qt::Key_End:
      TurnTo(max_);
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

void KnobWidget::wheelEvent(QWheelEvent* event) {
  wheel_rest_ += event->angleDelta().y();
  const int steps = wheel_rest_ / 120;
  wheel_rest_ -= steps * 120;
  if (steps != 0) TurnTo(shownValue() + steps);
  event->accept();
}

void KnobWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  dragging_ = true;
  stop_ = 0;
  TurnTo(ValueAt(event->position()));
  event->accept();
}

void KnobWidget::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  TurnTo(DragValueAt(event->position()));
  event->accept();
}

void KnobWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  event->accept();
}

void KnobWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const double side = std::min(width(), height());
  const QPointF c = QRectF(rect()).center();
  const double outer = side / 2.0 - 0.5;
  const double tick_in = outer * 0.80;
  const double body = outer * 0.66;
  const bool on = isEnabled();
  const QPalette& pal = palette();
  const QColor ink = on ? QColor(40, 40, 40) : pal.color(QPalette::Disabled, QPalette::WindowText);

  // Tick marks, one per value; the current one longer and coloured.
  const int shown = shownValue();
  for (int v = min_; v <= max_; ++v) {
    const double a = AngleOf(v);
    const bool current = v == shown;
    p.setPen(QPen(current && on ? QColor(200, 0, 0) : ink, current ? 2.0 : 1.0, Qt::SolidLine,
                  Qt::FlatCap));
    p.drawLine(Polar(c, current ? tick_in * 0.92 : tick_in, a), Polar(c, outer, a));
  }

  // Body.
  QRadialGradient shade(c - QPointF(body / 3, body / 3), body * 1.6);
  shade.setColorAt(0, on ? QColor(250, 250, 250) : QColor(235, 235, 235));
  shade.setColorAt(1, on ? QColor(140, 140, 140) : QColor(190, 190, 190));
  p.setBrush(shade);
  p.setPen(QPen(ink, 1.0));
  p.drawEllipse(c, body, body);

  // Pointer from near the centre to the rim.
  p.setPen(
      QPen(on ? QColor(200, 0, 0) : ink, std::max(1.5, side / 16.0), Qt::SolidLine, Qt::RoundCap));
  p.drawLine(Polar(c, body * 0.15, AngleOf(shown)), Polar(c, body * 0.92, AngleOf(shown)));

  if (hasFocus()) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal.color(QPalette::Highlight), 1.5));
    p.drawEllipse(c, body + 1.6, body + 1.6);
  }
}

}  // namespace pts
