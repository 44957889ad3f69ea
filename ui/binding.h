// One binding per panel control: it builds the control's widget, mirrors the
// logic's changes into it, hands the operator's actions to the logic, and
// keeps the widget's accessible face (name, description, value) up to date.
// The window only creates the bindings, lays them out and routes changes.
//
// Accessible names carry what the control shows ("PTS 500", "7", "Send");
// the description says what it is ("Synthesizer model", "Frequency digit,
// 1 MHz"). After any change the window calls Publish() at most at its repaint
// rate, so that a fast sweep does not flood a screen reader with events.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>

#include "panel/controls.h"

class QAction;

namespace pts {

class MainForm;

// The window repaints, and publishes the accessible faces, at most this
// often: a 1 ms sweep changes the panel a thousand times a second, more than
// any screen shows or any reader can say.
inline constexpr int kRepaintIntervalMs = 16;

// What a binding needs of the window.
class BindingHost {
 public:
  virtual ~BindingHost() = default;
  virtual MainForm& Form() = 0;
  virtual int Px(int twips) const = 0;
  // Runs a handler of the logic for an operator's action.
  virtual void RunHandler(const std::function<void()>& handler) = 0;
  // A sweep step is running: its writes may be shown at the next publish.
  virtual bool InSweepStep() const = 0;
};

class Binding {
 public:
  Binding(BindingHost& host, Control& control) : host_(host), control_(control) {}
  virtual ~Binding() = default;
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

  Control& control() const { return control_; }
  QWidget* widget() const { return widget_; }
  QAction* action() const { return action_; }

  // Mirrors a change the logic made. The base places, enables and shows.
  virtual void Changed(Prop prop);
  // Brings the accessible name and description up to what is shown.
  virtual void Publish() {}
  // Sets the widget to the control's place.
  void Place();

 protected:
  // Changes the accessible name or description only when it differs (each
  // change is an event to the screen reader).
  void Name(const QString& name);
  void Description(const QString& description);
  // Names the widget, enables and shows it as the control says.
  void Adopt(QWidget* widget);

  BindingHost& host_;
  Control& control_;
  QPointer<QWidget> widget_;
  QPointer<QAction> action_;
};

// The binding for a control of the panel; null for timers (bound apart) and
// menu items (see MenuBinding).
std::unique_ptr<Binding> MakeBinding(BindingHost& host, Control& control, QWidget* parent);
// Each kind's, in binding_<kind>.cpp.
std::unique_ptr<Binding> MakeTextBoxBinding(BindingHost& host, TextBox& box, QWidget* parent);
std::unique_ptr<Binding> MakeCaptionBinding(BindingHost& host, Label& label, QWidget* parent);
std::unique_ptr<Binding> MakeKnobBinding(BindingHost& host, Knob& knob, QWidget* parent);
std::unique_ptr<Binding> MakeShapeBinding(BindingHost& host, Shape& shape, QWidget* parent);

// A menu item, menu or menu-bar entry bound to its QAction.
class MenuBinding : public Binding {
 public:
  MenuBinding(BindingHost& host, MenuItem& item, QAction* action);
  void Changed(Prop prop) override;
};

// The text boxes' back colours as the logic holds them (dear to change, so
// the window calls it once per outermost handler).
void ShowBackColor(Binding& binding);

QString Q(const std::string& s);
// What a caption shows: without the mnemonic marks and the blanks at the ends.
QString Shown(const std::string& caption);

}  // namespace pts
