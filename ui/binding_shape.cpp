// Shapes: frames, and lights that say whether they are lit.
#include "panel/accessible_names.h"
#include "panel/mainform.h"
#include "ui/binding.h"
#include "ui/panel_widgets.h"

namespace pts {

namespace {

class ShapeBinding : public Binding {
 public:
  ShapeBinding(BindingHost& host, Shape& shape, QWidget* parent)
      : Binding(host, shape), shape_(shape) {
    Adopt(new ShapeWidget(shape, &shape == &host.Form().Shape1 ? 3 : 1, parent));
  }

  void Changed(Prop prop) override {
    if (prop != Prop::Fill) return Binding::Changed(prop);
    widget_->update();
  }

  void Publish() override {
    if (shape_.ShapeKind() != Shape::Kind::Circle) return;
    Name(Q(AccessibleName(host_.Form(), shape_)));
  }

 private:
  Shape& shape_;
};

}  // namespace

std::unique_ptr<Binding> MakeShapeBinding(BindingHost& host, Shape& shape, QWidget* parent) {
  return std::make_unique<ShapeBinding>(host, shape, parent);
}

}  // namespace pts
