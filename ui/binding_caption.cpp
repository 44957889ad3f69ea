// Labels, command buttons and unit buttons: a caption whose font shrinks
// until it fits.
#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>

#include "panel/accessible_names.h"
#include "panel/mainform.h"
#include "ui/binding.h"
#include "ui/panel_widgets.h"

namespace pts {

namespace {

class CaptionBinding : public Binding {
 public:
  CaptionBinding(BindingHost& host, Label& label) : Binding(host, label), label_(label) {
    point_size_ = StyleOf(label.Name()).point_size;
    digit_ = label.Name().rfind("D(", 0) == 0;
  }

  void Changed(Prop prop) override {
    if (prop != Prop::Caption) return Binding::Changed(prop);
    ShowCaption();
  }

  void Publish() override {
    Name(Q(AccessibleName(host_.Form(), label_)));
    Description(Q(AccessibleDescription(host_.Form(), label_)));
  }

 protected:
  void ShowCaption() {
    const QString text = Q(label_.Caption());
    auto* label = qobject_cast<QLabel*>(widget_.data());
    if (label) {
      label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget_.data())) {
      button->setText(text);
    }
    if (digit_ && text.trimmed().size() <= 1) {
      // A single digit always fits (the common case, on every sweep step).
      if (widget_->font().pointSizeF() != point_size_) widget_->setFont(PanelFont(point_size_));
      return;
    }
    // Room for the text: less the frame (a plain label has none), and for a
    // radio button its indicator.
    int room = host_.Px(control_.Width());
    if (!label || label->frameWidth() > 0) room -= 4;
    if (qobject_cast<QRadioButton*>(widget_.data())) room -= 18;
    if (qobject_cast<QPushButton*>(widget_.data())) room -= 4;
    QString shown = digit_ ? text.trimmed() : text;
    shown.remove(QLatin1Char('&'));
    widget_->setFont(FitFont(PanelFont(point_size_), shown, room, host_.Px(control_.Height())));
  }

  Label& label_;
  double point_size_ = 8.0;
  bool digit_ = false;
};

class LabelBinding : public CaptionBinding {
 public:
  LabelBinding(BindingHost& host, Label& label, QWidget* parent) : CaptionBinding(host, label) {
    const TextStyle style = StyleOf(label.Name());
    auto* w = new QLabel(parent);
    w->setTextFormat(Qt::PlainText);
    w->setAlignment((style.centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                    (style.border ? Qt::AlignVCenter : Qt::AlignTop));
    if (style.border) w->setFrameStyle(QFrame::Box | QFrame::Plain);
    w->setFont(PanelFont(style.point_size));
    Adopt(w);
    ShowCaption();
  }
};

class ButtonBinding : public CaptionBinding {
 public:
  ButtonBinding(BindingHost& host, Button& button, QWidget* parent) : CaptionBinding(host, button) {
    static const std::pair<const char*, void (MainForm::*)()> kHandlers[] = {
        {"CmdSend", &MainForm::CmdSend_Click}, {"CmdStart", &MainForm::CmdStart_Click},
        {"CmdStop", &MainForm::CmdStop_Click}, {"CmdSngl", &MainForm::CmdSngl_Click},
        {"ComdOff", &MainForm::ComdOff_Click},
    };
    auto* push = new QPushButton(parent);
    // Enter on a focused button presses it, as Space does (outside a dialog
    // this is all that auto-default does). Qt's accessible press is an
    // animated click, which returns before the handler runs.
    push->setAutoDefault(true);
    for (const auto& entry : kHandlers) {
      if (button.Name() != entry.first) continue;
      const auto handler = entry.second;
      QObject::connect(push, &QPushButton::clicked, push, [this, handler] {
        MainForm* form = &host_.Form();
        host_.RunHandler([form, handler] { (form->*handler)(); });
      });
    }
    Adopt(push);
    ShowCaption();
  }
};

// Unit buttons: radio buttons whose group the logic keeps.
class OptionBinding : public CaptionBinding {
 public:
  OptionBinding(BindingHost& host, OptionButton& option, QWidget* parent)
      : CaptionBinding(host, option), option_(option) {
    auto* radio = new UnitButton(parent);
    // The logic keeps the group: selecting one clears the others.
    radio->setAutoExclusive(false);
    radio->setChecked(option.Value());
    QObject::connect(radio, &QRadioButton::clicked, radio, [this, radio] {
      // A click on the selected unit changes nothing; on another one it selects it.
      if (!option_.Value()) host_.RunHandler([this] { option_.Value(true); });
      radio->setChecked(option_.Value());
    });
    Adopt(radio);
    ShowCaption();
  }

  void Changed(Prop prop) override {
    if (prop != Prop::Selected) return CaptionBinding::Changed(prop);
    static_cast<QRadioButton*>(widget_.data())->setChecked(option_.Value());
  }

 private:
  OptionButton& option_;
};

}  // namespace

std::unique_ptr<Binding> MakeCaptionBinding(BindingHost& host, Label& label, QWidget* parent) {
  if (auto* option = dynamic_cast<OptionButton*>(&label)) {
    return std::make_unique<OptionBinding>(host, *option, parent);
  }
  if (auto* button = dynamic_cast<Button*>(&label)) {
    return std::make_unique<ButtonBinding>(host, *button, parent);
  }
  return std::make_unique<LabelBinding>(host, label, parent);
}

}  // namespace pts
