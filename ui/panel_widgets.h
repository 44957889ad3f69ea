// Small pieces of the front panel's look: the shape widget (rectangles and
// indicator circles), colours, fonts that fit their boxes, and the accessible
// descriptions of the controls.
#pragma once

#include <QColor>
#include <QFont>
#include <QRadioButton>
#include <QString>
#include <QWidget>
#include <string>

#include "panel/controls.h"

namespace pts {

// The original's colours: 0x00BBGGRR, or a system colour index.
QColor ToQColor(Color color);

// A rectangle or a circle drawn from its Shape control: border only, or filled
// with the fill colour when the control is filled.
class ShapeWidget : public QWidget {
  Q_OBJECT

 public:
  ShapeWidget(const Shape& shape, int border_width, QWidget* parent);
  bool IsLight() const { return shape_.ShapeKind() == Shape::Kind::Circle; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const Shape& shape_;
  int border_width_;
};

// A unit button: a radio button whose group the logic keeps (its own class so
// that screen readers get it as a radio button, see accessible.h).
class UnitButton : public QRadioButton {
  Q_OBJECT

 public:
  using QRadioButton::QRadioButton;
};

// How a control's text is set in the panel: nominal point size, centred,
// single border.
struct TextStyle {
  double point_size = 8.0;
  bool centred = false;
  bool border = false;
};
TextStyle StyleOf(const std::string& name);

// The panel's sans font at `point_size`; DejaVu Sans (condensed when present)
// stands in for the original's MS Sans Serif.
QFont PanelFont(double point_size);
// Shrinks `font` until `text` fits in `width` x `height` pixels.
QFont FitFont(QFont font, const QString& text, int width, int height);

// A caption or menu text without its mnemonic marks ("&&" leaves one "&").
QString StripMnemonic(QString text);

// What the control is for, for screen readers (the accessible description;
// for the lights, the start of their name).
QString AccessibleDescriptionOf(const std::string& name);

// The index inside "Knob1(3)"; -1 when the name has none.
int IndexOf(const std::string& name);

}  // namespace pts
