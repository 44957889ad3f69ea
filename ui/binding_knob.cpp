// Knobs: dials whose value a reader can read and set.
#include <QAccessible>

#include "panel/accessible_names.h"
#include "panel/mainform.h"
#include "ui/binding.h"
#include "ui/knob_widget.h"
#include "ui/panel_widgets.h"  // IndexOf

namespace pts {

namespace {

class KnobBinding : public Binding {
 public:
  KnobBinding(BindingHost& host, Knob& knob, QWidget* parent) : Binding(host, knob), knob_(knob) {
    auto* w = new KnobWidget(parent);
    w->setRange(knob.Min(), knob.Max());
    w->setValue(knob.Value());
    const auto index = int16_t(IndexOf(knob.Name()));
    QObject::connect(w, &KnobWidget::turned, w, [this, index](int value) {
      host_.RunHandler([this, index, value] {
        knob_.Value(value);
        host_.Form().Knob1_Change(index);
      });
    });
    Adopt(w);
    published_ = w->shownValue();
  }

  void Changed(Prop prop) override {
    if (prop == Prop::Value) {
      static_cast<KnobWidget*>(widget_.data())->setValue(knob_.Value());
      return;
    }
    Binding::Changed(prop);
  }

  void Publish() override {
    Name(Q(AccessibleName(host_.Form(), knob_)));
    Description(Q(AccessibleDescription(host_.Form(), knob_)));
    const int v = static_cast<KnobWidget*>(widget_.data())->shownValue();
    if (v == published_) return;
    published_ = v;
    QAccessibleValueChangeEvent event(widget_.data(), v);
    QAccessible::updateAccessibility(&event);
  }

 private:
  Knob& knob_;
  int published_ = 0;
};

}  // namespace

std::unique_ptr<Binding> MakeKnobBinding(BindingHost& host, Knob& knob, QWidget* parent) {
  return std::make_unique<KnobBinding>(host, knob, parent);
}

}  // namespace pts
