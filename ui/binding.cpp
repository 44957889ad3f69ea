// The bindings of the panel's control kinds.
#include "ui/binding.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <cmath>

#include "panel/mainform.h"
#include "ui/knob_widget.h"
#include "ui/panel_widgets.h"

namespace pts {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// What a caption shows: without the mnemonic marks and the blanks at the ends.
QString Shown(const std::string& caption) {
  QString s = Q(caption).trimmed();
  for (int i = 0; i < s.size(); ++i) {
    if (s[i] == QLatin1Char('&')) s.remove(i, 1);  // "&&" leaves one
  }
  return s;
}

// ---- Text boxes: named by the caption under them, their text through Qt's
// text interface.
class TextBoxBinding : public Binding {
 public:
  TextBoxBinding(BindingHost& host, TextBox& box, QWidget* parent) : Binding(host, box), box_(box) {
    auto* edit = new QLineEdit(parent);
    edit_ = edit;
    const TextStyle style = StyleOf(box.Name());
    // The longest number the box takes shows whole, not scrolled: the
    // stand-in font is wider than the original's. The frequency box has no
    // limit of its own; the logic cuts its text.
    const int longest = box.MaxLength() > 0 ? box.MaxLength() : int(kTextFreqLimit);
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    frame.rect = QRect(0, 0, host.Px(box.Width()), host.Px(box.Height()));
    frame.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit);
    const QRect inside = edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit);
    // Less the line edit's own margin on each side and the caret.
    edit->setFont(FitFont(PanelFont(style.point_size), QString(longest, QLatin1Char('0')),
                          inside.width() - 2 * 2 - 1, inside.height()));
    edit->setAlignment(style.centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    if (box.MaxLength() > 0) edit->setMaxLength(box.MaxLength());
    edit->setText(Q(box.Text()));
    ShowBack();
    // Edits the logic does not hold yet: the operator's, and a screen
    // reader's writes through the text interface (which Qt makes as program
    // writes). The mirror of the logic's own writes holds its text already,
    // so no change handler runs twice.
    QObject::connect(edit, &QLineEdit::textChanged, edit, [this](const QString& text) {
      std::string typed = text.toStdString();
      if (typed == box_.Text()) return;
      host_.RunHandler([this, &typed] { box_.Text(typed); });
    });
    Adopt(edit);
    Description(AccessibleDescriptionOf(box.Name()));
  }

  void Changed(Prop prop) override {
    if (prop != Prop::Text) return Binding::Changed(prop);
    // Each text change is two events to a screen reader (removed, inserted):
    // the steps of a fast sweep are shown at the repaint rate, from the
    // next publish.
    if (host_.InSweepStep()) {
      const auto now = std::chrono::steady_clock::now();
      if (now - last_shown_ < std::chrono::milliseconds(kRepaintIntervalMs)) {
        pending_ = true;
        return;
      }
    }
    ShowText(host_.InSweepStep());
  }

  // `paced`: a sweep step's text, whose next one waits out the interval.
  void ShowText(bool paced) {
    pending_ = false;
    if (paced) last_shown_ = std::chrono::steady_clock::now();
    // A write that only repeats what the operator just typed changes nothing
    // (the caret stays); while the operator is in the box the caret keeps
    // its place as far as the new text allows.
    const QString q = Q(box_.Text());
    if (edit_->text() == q) return;
    const int caret = edit_->cursorPosition();
    const bool focused = edit_->hasFocus();
    edit_->setText(q);
    if (focused) edit_->setCursorPosition(std::min(caret, int(q.size())));
  }

  void Publish() override {
    if (pending_) ShowText(true);
    const MainForm& f = host_.Form();
    const Label* caption = &box_ == &f.TextFreq       ? &f.Label11
                           : &box_ == &f.TextFreqStop ? &f.Label12
                           : &box_ == &f.TextFreqStep ? &f.Label6
                                                      : &f.Label13;
    Name(Shown(caption->Caption()));
  }

  void ShowBack() {
    const QColor c = ToQColor(box_.BackColor());
    if (edit_->palette().color(QPalette::Base) == c) return;
    QPalette pal = edit_->palette();
    pal.setColor(QPalette::Base, c);
    edit_->setPalette(pal);
  }

 private:
  TextBox& box_;
  QLineEdit* edit_ = nullptr;
  bool pending_ = false;  // a sweep step's text waits for the publish
  std::chrono::steady_clock::time_point last_shown_{};
};

// ---- Labels, buttons and unit buttons: a caption whose font shrinks until
// it fits.
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
    Name(Shown(label_.Caption()));
    Description(AccessibleDescriptionOf(label_.Name()));
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

  void Publish() override {
    const MainForm& f = host_.Form();
    if (&label_ == &f.Label9) {
      // The mark shows no text a reader could say.
      Name(QStringLiteral("Decimal point"));
      return;
    }
    Name(Shown(label_.Caption()));
    const int i = IndexOf(label_.Name());
    if (digit_ && i >= 0 && i < 10) {
      Description(QStringLiteral("Frequency digit, ") + DigitWeight(f, i));
    } else {
      Description(AccessibleDescriptionOf(label_.Name()));
    }
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

  void Publish() override {
    // The caption as it stands ("Unit  0", "Disconect").
    Name(Shown(label_.Caption()));
    Description(QStringLiteral("Unit button %1").arg(IndexOf(label_.Name()) + 1));
  }

 private:
  OptionButton& option_;
};

// ---- Knobs: dials whose value a reader can read and set.
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
    const int i = IndexOf(knob_.Name());
    if (i == 10) {
      Name(QStringLiteral("Output level knob"));
      Description(QStringLiteral("Output level"));
    } else {
      Name(QStringLiteral("Frequency digit %1 knob").arg(i + 1));
      Description(DigitWeight(host_.Form(), i));
    }
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

// ---- Shapes: frames, and lights that say whether they are lit.
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
    Name(AccessibleDescriptionOf(shape_.Name()) +
         (shape_.Filled() ? QStringLiteral(", lit") : QStringLiteral(", dark")));
  }

 private:
  Shape& shape_;
};

}  // namespace

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
    b = std::make_unique<TextBoxBinding>(host, *box, parent);
  } else if (auto* knob = dynamic_cast<Knob*>(&control)) {
    b = std::make_unique<KnobBinding>(host, *knob, parent);
  } else if (auto* shape = dynamic_cast<Shape*>(&control)) {
    b = std::make_unique<ShapeBinding>(host, *shape, parent);
  } else if (auto* option = dynamic_cast<OptionButton*>(&control)) {
    b = std::make_unique<OptionBinding>(host, *option, parent);
  } else if (dynamic_cast<MenuItem*>(&control)) {
    return nullptr;
  } else if (auto* button = dynamic_cast<Button*>(&control)) {
    b = std::make_unique<ButtonBinding>(host, *button, parent);
  } else if (auto* label = dynamic_cast<Label*>(&control)) {
    b = std::make_unique<LabelBinding>(host, *label, parent);
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

void ShowBackColor(Binding& binding) {
  if (auto* box = dynamic_cast<TextBoxBinding*>(&binding)) box->ShowBack();
}

QString DigitWeight(const MainForm& form, int index) {
  // Hertz as a power of ten: 10^8 for the first digit, 10^9 with the PTS 3200.
  const int e = (form.ModelNum == 3200 ? 9 : 8) - index;
  if (e < 0) return QStringLiteral("0.1 Hz");
  static const char* const kUnits[] = {"Hz", "kHz", "MHz", "GHz"};
  const int group = std::min(e / 3, 3);
  return QStringLiteral("%1 %2").arg(int(std::pow(10, e - 3 * group))).arg(kUnits[group]);
}

}  // namespace pts
