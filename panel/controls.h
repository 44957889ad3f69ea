// The front panel's controls as plain objects: just the properties the logic
// reads or writes. MainForm owns them. Each notifies its observer (the Qt
// window) after a change so the window can mirror it without echoing it back.
//
// Writes that the original toolkit echoes as an event run the handler
// synchronously: setting a TextBox's text runs its change handler, selecting
// an OptionButton from code runs its click handler. A program write to a Knob
// does not run the knob handler.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pts {

// Colours as 0x00BBGGRR like the original toolkit; system colours are marked.
struct Color {
  uint32_t value = 0;
  bool system = false;  // value is a system colour index when true
  bool operator==(const Color&) const = default;
};
inline constexpr Color kGreen{0x00FF00, false};  // RGB(0,255,0) = 65280
inline constexpr Color kRed{0x0000FF, false};
inline constexpr Color kWindowBackground{5, true};  // system colour index 5
inline constexpr Color kScrollBars{0, true};        // system colour index 0

// A colour's red, green and blue where the panel fixes them, for the window
// and the web page alike: its own colours, and the scroll bars' classic
// light grey. False for the other system colours: the desktop's palette.
struct Rgb {
  uint8_t r, g, b;
};
constexpr bool FixedRgb(Color c, Rgb* rgb) {
  if (c.system && c.value != kScrollBars.value) return false;
  const uint32_t v = c.system ? 0xC8C8C8 : c.value;
  *rgb = {uint8_t(v & 0xFF), uint8_t((v >> 8) & 0xFF), uint8_t((v >> 16) & 0xFF)};
  return true;
}

enum class Prop {
  Text,
  Caption,
  Value,
  Left,
  Width,
  Enabled,
  Selected,
  Checked,
  Fill,
  BackColor,
  Visible,
  Interval
};

class Control;
class ControlObserver {
 public:
  virtual ~ControlObserver() = default;
  virtual void Changed(Control& control, Prop prop) = 0;
};

class Control {
 public:
  explicit Control(std::string name) : name_(std::move(name)) {}
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // The control's name as the window knows it: "TextFreq", "Knob1(3)", "D(10)".
  const std::string& Name() const { return name_; }
  void SetObserver(ControlObserver* o) { observer_ = o; }

  // Placement in twips (left, top, width, height).
  int32_t Left() const { return left_; }
  void Left(int32_t v) { Set(left_, v, Prop::Left); }
  int32_t Top() const { return top_; }
  int32_t Width() const { return width_; }
  void Width(int32_t v) { Set(width_, v, Prop::Width); }
  int32_t Height() const { return height_; }
  void Place(int32_t left, int32_t top, int32_t width, int32_t height) {
    left_ = left, top_ = top, width_ = width, height_ = height;
  }
  bool Enabled() const { return enabled_; }
  void Enabled(bool v) { Set(enabled_, v, Prop::Enabled); }
  bool Visible() const { return visible_; }
  void Visible(bool v) { Set(visible_, v, Prop::Visible); }

 protected:
  template <typename T>
  void Set(T& field, const T& v, Prop p) {
    if (field == v) return;
    field = v;
    Notify(p);
  }
  void Notify(Prop p) {
    if (observer_) observer_->Changed(*this, p);
  }

 private:
  std::string name_;
  ControlObserver* observer_ = nullptr;
  int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool enabled_ = true;
  bool visible_ = true;
};

class TextBox : public Control {
 public:
  using Control::Control;
  const std::string& Text() const { return text_; }
  // Sets the text and, like the original toolkit, runs the change handler when it changed.
  void Text(const std::string& v) {
    if (v == text_) return;
    text_ = v;
    Notify(Prop::Text);
    if (on_change_) on_change_();
  }
  Color BackColor() const { return back_color_; }
  void BackColor(Color v) { Set(back_color_, v, Prop::BackColor); }
  int MaxLength() const { return max_length_; }  // 0: no limit
  void MaxLength(int v) { max_length_ = v; }
  void OnChange(std::function<void()> f) { on_change_ = std::move(f); }

 private:
  std::string text_;
  Color back_color_ = kWindowBackground;
  int max_length_ = 0;
  std::function<void()> on_change_;
};

class Label : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void Caption(const std::string& v) { Set(caption_, v, Prop::Caption); }

 private:
  std::string caption_;
};

class Button : public Label {
 public:
  using Label::Label;
};

class OptionButton : public Label {
 public:
  using Label::Label;
  bool Value() const { return value_; }  // selected
  // Selecting from code runs the click handler (also when already selected,
  // as the original toolkit does for a programmatic Value = True).
  void Value(bool v) {
    if (v && group_) {
      for (OptionButton* other : *group_) {
        if (other != this) other->Clear();
      }
    }
    const bool changed = v != value_;
    value_ = v;
    if (changed) Notify(Prop::Selected);
    if (v && on_click_) on_click_();
  }
  // Buttons of one group: selecting one clears the others.
  void Group(const std::vector<OptionButton*>* group) { group_ = group; }
  // Clears the selection without running any handler.
  void Clear() { Set(value_, false, Prop::Selected); }
  void OnClick(std::function<void()> f) { on_click_ = std::move(f); }

 private:
  bool value_ = false;
  const std::vector<OptionButton*>* group_ = nullptr;
  std::function<void()> on_click_;
};

class Knob : public Control {
 public:
  using Control::Control;
  int32_t Value() const { return value_; }
  // A program write: moves the knob, raises no change event.
  void Value(int32_t v) { Set(value_, v, Prop::Value); }
  int32_t Min() const { return min_; }
  int32_t Max() const { return max_; }
  void Range(int32_t min, int32_t max) { min_ = min, max_ = max; }

 private:
  int32_t value_ = 0;
  int32_t min_ = 0;
  int32_t max_ = 9;
};

// Rectangles and circles. Filled() is the fill style: solid (lit) or
// transparent (outline only).
class Shape : public Control {
 public:
  enum class Kind { Rectangle, Circle };
  Shape(std::string name, Kind kind) : Control(std::move(name)), kind_(kind) {}
  Kind ShapeKind() const { return kind_; }
  Color FillColor() const { return fill_color_; }
  void FillColor(Color v) { Set(fill_color_, v, Prop::Fill); }
  bool Filled() const { return filled_; }
  void Filled(bool v) { Set(filled_, v, Prop::Fill); }

 private:
  Kind kind_;
  Color fill_color_{};
  bool filled_ = false;
};

class MenuItem : public Label {
 public:
  using Label::Label;
  bool Checked() const { return checked_; }
  void Checked(bool v) { Set(checked_, v, Prop::Checked); }

 private:
  bool checked_ = false;
};

class Timer : public Control {
 public:
  using Control::Control;
  int32_t Interval() const { return interval_; }  // ms
  void Interval(int32_t v) { Set(interval_, v, Prop::Interval); }

 private:
  int32_t interval_ = 0;
};

}  // namespace pts
