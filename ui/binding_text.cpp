// Text boxes: named by the caption under them, their text through Qt's
// text interface.
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

#include "panel/accessible_names.h"
#include "panel/mainform.h"
#include "ui/binding.h"
#include "ui/panel_widgets.h"

namespace pts {

namespace {

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
    Name(Q(AccessibleName(host_.Form(), box_)));
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

}  // namespace

std::unique_ptr<Binding> MakeTextBoxBinding(BindingHost& host, TextBox& box, QWidget* parent) {
  return std::make_unique<TextBoxBinding>(host, box, parent);
}

void ShowBackColor(Binding& binding) {
  if (auto* box = dynamic_cast<TextBoxBinding*>(&binding)) box->ShowBack();
}

}  // namespace pts
