// The bindings' common part, the choice of a control's binding and the menu items.
#include "ui/binding.h"

#include <QAction>
#include <algorithm>
#include <cmath>

#include "panel/mainform.h"
#include "panel/models.h"
#include "ui/panel_widgets.h"

namespace pts {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QString Shown(const std::string& caption) {
  return StripMnemonic(Q(caption).trimmed());
}

void Binding::Changed(Prop prop) {
  switch (prop) {
    case Prop::Left:
    case Prop::Width:
      Place();
      break;
    case Prop::Enabled:
      if (action_) action_->setEnabled(control_.Enabled());
      if (widget_) widget_->setEnabled(control_.Enabled());
      break;
    case Prop::Visible:
      if (action_) action_->setVisible(control_.Visible());
      if (widget_) widget_->setVisible(control_.Visible());
      break;
    default:
      break;
  }
}

void Binding::Place() {
  if (!widget_) return;
  const Control& c = control_;
  const int x = host_.Px(c.Left()), y = host_.Px(c.Top());
  widget_->setGeometry(x, y, host_.Px(c.Left() + c.Width()) - x,
                       host_.Px(c.Top() + c.Height()) - y);
}

void Binding::Name(const QString& name) {
  if (widget_ && widget_->accessibleName() != name) widget_->setAccessibleName(name);
}

void Binding::Description(const QString& description) {
  if (widget_ && widget_->accessibleDescription() != description) {
    widget_->setAccessibleDescription(description);
  }
}

void Binding::Adopt(QWidget* widget) {
  widget_ = widget;
  widget->setObjectName(Q(control_.Name()));
  widget->setEnabled(control_.Enabled());
  widget->setVisible(control_.Visible());
  Place();
}

std::unique_ptr<Binding> MakeBinding(BindingHost& host, Control& control, QWidget* parent) {
  std::unique_ptr<Binding> b;
  if (auto* box = dynamic_cast<TextBox*>(&control)) {
    b = MakeTextBoxBinding(host, *box, parent);
  } else if (auto* knob = dynamic_cast<Knob*>(&control)) {
    b = MakeKnobBinding(host, *knob, parent);
  } else if (auto* shape = dynamic_cast<Shape*>(&control)) {
    b = MakeShapeBinding(host, *shape, parent);
  } else if (dynamic_cast<MenuItem*>(&control)) {
    return nullptr;
  } else if (auto* label = dynamic_cast<Label*>(&control)) {
    b = MakeCaptionBinding(host, *label, parent);
  }
  if (b) b->Publish();
  return b;
}

MenuBinding::MenuBinding(BindingHost& host, MenuItem& item, QAction* action) : Binding(host, item) {
  action_ = action;
  action->setObjectName(Q(item.Name()));
  action->setEnabled(item.Enabled());
  action->setVisible(item.Visible());
}

void MenuBinding::Changed(Prop prop) {
  auto& item = static_cast<MenuItem&>(control_);
  switch (prop) {
    case Prop::Checked:
      action_->setChecked(item.Checked());
      break;
    case Prop::Caption:
      action_->setText(Q(item.Caption()));
      break;
    default:
      Binding::Changed(prop);
  }
}

}  // namespace pts
