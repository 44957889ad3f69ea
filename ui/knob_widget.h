// A rotary knob: an integer value between a minimum and a maximum, turned by
// dragging with the mouse, by the wheel, or by the keys when it has the focus
// (Up/Right +1, Down/Left -1, PageUp/PageDown by a page, Home/End to the ends).
//
// Only the operator's turns are reported (turned); setValue from the program
// moves the pointer silently. A value outside the range is kept as written and
// drawn at the nearest end of the scale.
#pragma once

#include <QWidget>

namespace pts {

class KnobWidget : public QWidget {
  Q_OBJECT

 public:
  explicit KnobWidget(QWidget* parent = nullptr);

  int value() const { return value_; }
  // A program write: no signal.
  void setValue(int v);
  int minimum() const { return min_; }
  int maximum() const { return max_; }
  void setRange(int min, int max);
  // The value the pointer shows: value() clamped to the range.
  int shownValue() const;
  // Turns to `v` (clamped) as the operator would: signals when the shown value changes.
  void turnTo(int v) { TurnTo(v); }

  QSize sizeHint() const override { return {34, 34}; }
  QSize minimumSizeHint() const override { return {16, 16}; }

 signals:
  // The operator turned the knob to a new value.
  void turned(int value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Moves to `v` (clamped) as the operator's turn; signals when the shown value changes.
  void TurnTo(int v);
  // Where a point lies on the scale: degrees clockwise from the minimum (past
  // the maximum in the gap), or -1 too near the centre.
  double ScaleAt(QPointF pos) const;
  int ValueOnScale(double s) const;  // the value at `s` degrees (0..the sweep)
  int ValueAt(QPointF pos) const;    // the scale value nearest to a point
  int DragValueAt(QPointF pos);      // the same while dragging, with end stops
  double AngleOf(int v) const;       // degrees, counter-clockwise from 3 o'clock

  int value_ = 0;
  int min_ = 0;
  int max_ = 9;
  int page_step_ = 3;
  int wheel_rest_ = 0;  // wheel delta not yet turned into steps (high-resolution wheels)
  bool dragging_ = false;
  int stop_ = 0;  // while dragging: held at the maximum (1), the minimum (-1), or free (0)
};

}  // namespace pts
