#include "ui/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "ui/knob_widget.h"
#include "ui/panel_widgets.h"

namespace pts {

namespace {

// A knob: the dial role and the value interface. Setting the value turns the
// knob as the operator would, from the event loop.
class KnobAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit KnobAccessible(KnobWidget* knob) : QAccessibleWidget(knob, QAccessible::Dial) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return QString::number(Knob()->shownValue());
    return QAccessibleWidget::text(t);
  }

  QVariant currentValue() const override { return Knob()->shownValue(); }
  QVariant maximumValue() const override { return Knob()->maximum(); }
  QVariant minimumValue() const override { return Knob()->minimum(); }
  QVariant minimumStepSize() const override { return 1; }
  void setCurrentValue(const QVariant& value) override {
    bool ok = false;
    const double v = value.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return;
    const int target =
        int(std::lround(std::clamp(v, double(Knob()->minimum()), double(Knob()->maximum()))));
    QPointer<KnobWidget> knob = Knob();
    QTimer::singleShot(0, knob, [knob, target] {
      if (knob && knob->isEnabled()) knob->turnTo(target);
    });
  }

 private:
  KnobWidget* Knob() const { return static_cast<KnobWidget*>(widget()); }
};

// A unit button: a radio button with its checked state; its press is Qt's
// animated click, as for the push buttons.
class UnitAccessible : public QAccessibleWidget {
 public:
  explicit UnitAccessible(UnitButton* button)
      : QAccessibleWidget(button, QAccessible::RadioButton) {}

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = true;
    s.checked = Button()->isChecked();
    return s;
  }
  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& name) override {
    if (name != pressAction()) return QAccessibleWidget::doAction(name);
    if (Button()->isEnabled()) Button()->animateClick();
  }

 private:
  UnitButton* Button() const { return static_cast<UnitButton*>(widget()); }
};

// A menu item without a submenu. Its press triggers the action from the
// event loop; the menu itself is Qt's.
class MenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  explicit MenuItemAccessible(QAction* action) : action_(action) {}

  bool isValid() const override { return action_ && Owner(); }
  QObject* object() const override { return action_; }
  QWindow* window() const override {
    QWidget* owner = Owner();
    return owner && owner->window() ? owner->window()->windowHandle() : nullptr;
  }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(Owner());
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    if (!action_) return {};
    switch (t) {
      case QAccessible::Name:
        return StripMnemonic(action_->text());
      case QAccessible::Accelerator:
        return action_->shortcut().toString(QKeySequence::NativeText);
      default:
        return {};
    }
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    QRect r;
    QWidget* owner = Owner();
    if (auto* menu = qobject_cast<QMenu*>(owner)) r = menu->actionGeometry(action_);
    if (auto* bar = qobject_cast<QMenuBar*>(owner)) r = bar->actionGeometry(action_);
    if (r.isNull() || !owner) return {};
    return QRect(owner->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override {
    return action_ && action_->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
  }
  QAccessible::State state() const override {
    QAccessible::State s;
    if (!action_) return s;
    QWidget* owner = Owner();
    s.disabled = !action_->isEnabled();
    s.invisible = !action_->isVisible() || !owner || !owner->isVisible();
    s.focusable = true;
    s.checkable = action_->isCheckable();
    s.checked = action_->isChecked();
    if (auto* menu = qobject_cast<QMenu*>(owner)) s.focused = menu->activeAction() == action_;
    if (auto* bar = qobject_cast<QMenuBar*>(owner)) s.focused = bar->activeAction() == action_;
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
  }

  QStringList actionNames() const override {
    if (!action_ || !action_->isEnabled()) return {};
    return {pressAction()};
  }
  void doAction(const QString& name) override {
    if (name != pressAction() || !action_ || !action_->isEnabled()) return;
    QTimer::singleShot(0, action_, [action = action_] {
      if (action) action->trigger();
    });
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  QWidget* Owner() const {
    if (!action_) return nullptr;
    for (QObject* o : action_->associatedObjects()) {
      if (qobject_cast<QMenu*>(o) || qobject_cast<QMenuBar*>(o)) return static_cast<QWidget*>(o);
    }
    return nullptr;
  }

  QPointer<QAction> action_;
};

QAccessibleInterface* Factory(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String("pts::KnobWidget")) {
    return new KnobAccessible(static_cast<KnobWidget*>(object));
  }
  if (class_name == QLatin1String("pts::UnitButton")) {
    return new UnitAccessible(static_cast<UnitButton*>(object));
  }
  if (class_name == QLatin1String("pts::ShapeWidget")) {
    // A light says in its name what it is and whether it is lit; frames
    // are only drawing.
    auto* shape = static_cast<ShapeWidget*>(object);
    return new QAccessibleWidget(shape,
                                 shape->IsLight() ? QAccessible::Graphic : QAccessible::Client);
  }
  if (class_name == QLatin1String("QAction")) {
    auto* action = static_cast<QAction*>(object);
    // Items of the panel's menus only; those with a submenu stay Qt's.
    if (!action->menu() && action->property("pts-panel-item").toBool()) {
      return new MenuItemAccessible(action);
    }
  }
  return nullptr;
}

}  // namespace

void InstallAccessibleFactory() {
  QAccessible::installFactory(&Factory);  // Qt ignores a second install
}

}  // namespace pts
