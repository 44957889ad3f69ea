#include "ui/panel_widgets.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "panel/accessible_names.h"

namespace pts {

QColor ToQColor(Color color) {
  if (Rgb rgb{}; FixedRgb(color, &rgb)) return QColor(rgb.r, rgb.g, rgb.b);
  const QPalette pal = QApplication::palette();
  switch (color.value) {
    case 5:  // window background: where text is typed
      return pal.color(QPalette::Base);
    case 7:  // menu text
    case 8:  // window text
      return pal.color(QPalette::Text);
    case 15:  // button face
      return pal.color(QPalette::Button);
    case 18:  // button text
      return pal.color(QPalette::ButtonText);
    default:
      return pal.color(QPalette::Window);
  }
}

ShapeWidget::ShapeWidget(const Shape& shape, int border_width, QWidget* parent)
    : QWidget(parent), shape_(shape), border_width_(border_width) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ShapeWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QBrush fill = shape_.Filled() ? QBrush(ToQColor(shape_.FillColor())) : QBrush(Qt::NoBrush);
  const double bw = border_width_;
  if (shape_.ShapeKind() == Shape::Kind::Circle) {
    // A circle of the smaller side, centred in its box.
    p.setRenderHint(QPainter::Antialiasing);
    const double d = std::min(width(), height()) - bw;
    const QPointF c = QRectF(rect()).center();
    p.setPen(QPen(Qt::black, bw));
    p.setBrush(fill);
    p.drawEllipse(c, d / 2, d / 2);
    return;
  }
  // The border lies inside the box.
  const QRectF r = QRectF(rect()).adjusted(bw / 2, bw / 2, -bw / 2, -bw / 2);
  p.setPen(QPen(Qt::black, bw, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(fill);
  p.drawRect(r);
}

TextStyle StyleOf(const std::string& name) {
  static const std::map<std::string, TextStyle> kStyles = {
      {"TextFreq", {12, true, false}},     {"TextFreqStop", {12, true, false}},
      {"TextFreqStep", {12, true, false}}, {"TextSweepTime", {12, true, false}},
      {"Label5", {19.5, true, true}},      {"Label8", {13.5, true, false}},
      {"D(10)", {12, true, false}},        {"Label2", {8, true, true}},
      {"Label3", {8, true, true}},         {"Label4", {8, true, true}},
      {"Label11", {8, true, false}},       {"Label12", {8, true, false}},
      {"Label6", {8, true, false}},        {"Label13", {8, true, false}},
      {"Label7", {8, true, false}},
  };
  if (auto it = kStyles.find(name); it != kStyles.end()) return it->second;
  if (name.rfind("D(", 0) == 0) return {12, true, true};  // the digit labels
  return {};
}

QFont PanelFont(double point_size) {
  static const QString family = [] {
    for (const char* f : {"DejaVu Sans Condensed", "DejaVu Sans", "Liberation Sans"}) {
      if (QFontDatabase::hasFamily(QString::fromLatin1(f))) return QString::fromLatin1(f);
    }
    return QString();
  }();
  QFont font;
  if (!family.isEmpty()) font.setFamily(family);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(point_size);
  return font;
}

QFont FitFont(QFont font, const QString& text, int width, int height) {
  if (text.isEmpty() || width <= 0 || height <= 0) return font;
  for (double pt = font.pointSizeF(); pt > 5.0; pt -= 0.5) {
    font.setPointSizeF(pt);
    const QFontMetricsF m(font);
    if (m.horizontalAdvance(text) <= width && m.height() <= height + 1) break;
  }
  return font;
}

QString StripMnemonic(QString text) {
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&')) text.remove(i, 1);  // "&&" leaves one
  }
  return text;
}

QString AccessibleDescriptionOf(const std::string& name) {
  return QString::fromStdString(DescriptionOfName(name));
}

int IndexOf(const std::string& name) {
  const auto open = name.find('(');
  if (open == std::string::npos) return -1;
  return std::atoi(name.c_str() + open + 1);
}

}  // namespace pts
