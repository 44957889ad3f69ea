// Building the window from the panel's controls and mirroring their changes.
#include "ui/main_window.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>
#include <cmath>

#include "ui/knob_widget.h"
#include "ui/panel_widgets.h"
#include "ui/timer_binding.h"

namespace pts {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Shows a program write in a line edit. A write that only repeats what the
// operator just typed changes nothing (the caret stays); while the operator
// is in the box the caret keeps its place as far as the new text allows.
void SetLineText(QLineEdit* edit, const std::string& text) {
  const QString q = Q(text);
  if (edit->text() == q) return;
  const int caret = edit->cursorPosition();
  const bool focused = edit->hasFocus();
  edit->setText(q);
  if (focused) edit->setCursorPosition(std::min(caret, int(q.size())));
}

}  // namespace

MainWindow::MainWindow(MainForm& form, QWidget* parent) : QMainWindow(parent), form_(form) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    scale_ = screen->logicalDotsPerInchX() / 96.0;
  }
  setObjectName(QStringLiteral("MainForm"));
  BuildMenus();
  BuildPanel();
  BindTimers();
  layout()->setSizeConstraint(QLayout::SetFixedSize);  // a fixed front panel
  paint_later_ = new QTimer(this);
  paint_later_->setSingleShot(true);
  connect(paint_later_, &QTimer::timeout, this, [this] {
    QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
  });
  setWindowTitle(Q(form_.Caption));
}

MainWindow::~MainWindow() {
  for (auto& [control, bound] : bound_) {
    const_cast<Control*>(control)->SetObserver(nullptr);
  }
  timers_.clear();
}

int MainWindow::Px(int twips) const {
  return int(std::lround(twips / 15.0 * scale_));
}

TimerBinding* MainWindow::TimerOf(const Timer& timer) const {
  auto it = bound_.find(&timer);
  return it == bound_.end() ? nullptr : it->second.timer;
}

void MainWindow::Observe(Control* control, Bound bound) {
  bound.control = control;
  bound_[control] = bound;
  control->SetObserver(this);
}

void MainWindow::BuildMenus() {
  // Captions as designed; the logic's own caption wins when it has one.
  auto caption = [](MenuItem& item, const char* designed) {
    return item.Caption().empty() ? QString::fromUtf8(designed) : Q(item.Caption());
  };
  auto bind = [&](MenuItem& item, QAction* action) {
    action->setObjectName(Q(item.Name()));
    action->setEnabled(item.Enabled());
    action->setVisible(item.Visible());
    Bound b;
    b.action = action;
    Observe(&item, b);
  };
  auto add_item = [&](QMenu* menu, MenuItem& item, const char* designed,
                      void (MainForm::*handler)(), bool checkable) {
    QAction* action = menu->addAction(caption(item, designed));
    action->setCheckable(checkable);
    action->setChecked(item.Checked());
    connect(action, &QAction::triggered, this, [this, handler] { RunMenu(handler); });
    bind(item, action);
  };

  QMenu* file = menuBar()->addMenu(caption(form_.mnuFile, "&Save to EEPROM"));
  bind(form_.mnuFile, file->menuAction());
  add_item(file, form_.mnuSaveFreq, "&Save Frequency to EEPROM", &MainForm::mnuSaveFreq_Click,
           false);
  add_item(file, form_.mnuSaveModel, "&Save PTS Model to EEPROM", &MainForm::mnuSaveModel_Click,
           false);

  QMenu* setup = menuBar()->addMenu(caption(form_.mnuSetUp, "&Set-up"));
  bind(form_.mnuSetUp, setup->menuAction());
  QMenu* model = setup->addMenu(caption(form_.mnuModel, "&PTS Model"));
  bind(form_.mnuModel, model->menuAction());
  struct ModelItem {
    MenuItem& item;
    const char* caption;
    void (MainForm::*handler)();
  };
  const ModelItem models[] = {
      {form_.mnuPTS10, "&PTS 10", &MainForm::mnuPTS10_Click},
      {form_.MNUpts160, "&PTS 160", &MainForm::MNUpts160_Click},
      {form_.mnuPTs200, "&PTS 200", &MainForm::mnuPTs200_Click},
      {form_.mnuPTS310, "&PTS 310", &MainForm::mnuPTS310_Click},
      {form_.mnuPTS500, "&PTS 500", &MainForm::mnuPTS500_Click},
      {form_.mnuPTS620, "&PTS 620", &MainForm::mnuPTS620_Click},
      {form_.mnuOther, "&PTS1000", &MainForm::mnuOther_Click},
      {form_.mnuPTS3200, "&PTS3200", &MainForm::mnuPTS3200_Click},
  };
  for (const ModelItem& m : models) add_item(model, m.item, m.caption, m.handler, true);

  // Info has no items: choosing it on the bar runs its command.
  QAction* info = menuBar()->addAction(caption(form_.mnuInfo, "&Info"));
  connect(info, &QAction::triggered, this, [this] { RunMenu(&MainForm::mnuInfo_Click); });
  bind(form_.mnuInfo, info);
}

void MainWindow::RunMenu(void (MainForm::*handler)()) {
  Run([form = &form_, handler] { (form->*handler)(); });
  // Qt toggles a checkable item by itself; the logic decides the marks.
  for (MenuItem* item : form_.ModelItems()) {
    if (auto it = bound_.find(item); it != bound_.end() && it->second.action) {
      it->second.action->setChecked(item->Checked());
    }
  }
}

void MainWindow::BuildPanel() {
  panel_ = new QWidget(this);
  panel_->setObjectName(QStringLiteral("ClientArea"));
  panel_->setFixedSize(Px(9360), Px(8190));
  setCentralWidget(panel_);
  // Disabled captions (the unit buttons at start) stay legible on the grey panel.
  QPalette pal = panel_->palette();
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    pal.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
  }
  panel_->setPalette(pal);

  std::vector<QWidget*> frames;
  QWidget* outer = nullptr;
  for (Control* control : form_.AllControls()) {
    // Menu items and timers have no place on the panel; they are bound apart.
    if (dynamic_cast<MenuItem*>(control) || dynamic_cast<Timer*>(control)) continue;
    if (bound_.count(control)) continue;
    Bound b;
    b.control = control;
    QWidget* w = MakeWidget(control, b);
    if (!w) continue;
    w->setObjectName(Q(control->Name()));
    w->setAccessibleName(AccessibleNameOf(control->Name()));
    w->setEnabled(control->Enabled());
    w->setVisible(control->Visible());
    Observe(control, b);
    Place(bound_[control]);
    if (auto* shape = dynamic_cast<Shape*>(control);
        shape && shape->ShapeKind() == Shape::Kind::Rectangle) {
      if (control == &form_.Shape1) {
        outer = w;
      } else {
        frames.push_back(w);
      }
    }
  }
  // Frames lie behind the controls they frame, the outer panel behind all.
  for (QWidget* f : frames) f->lower();
  if (outer) outer->lower();
}

QWidget* MainWindow::MakeWidget(Control* control, Bound& b) {
  const std::string& name = control->Name();
  const TextStyle style = StyleOf(name);
  b.point_size = style.point_size;
  const Qt::Alignment align = (style.centred ? Qt::AlignHCenter : Qt::AlignLeft) |
                              (style.border ? Qt::AlignVCenter : Qt::AlignTop);

  if (auto* box = dynamic_cast<TextBox*>(control)) {
    auto* edit = new QLineEdit(panel_);
    // The longest number the box takes shows whole, not scrolled: the
    // stand-in font is wider than the original's. The frequency box has no
    // limit of its own; the logic cuts its text.
    const int longest = box->MaxLength() > 0 ? box->MaxLength() : int(kTextFreqLimit);
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    frame.rect = QRect(0, 0, Px(box->Width()), Px(box->Height()));
    frame.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit);
    const QRect inside = edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit);
    // Less the line edit's own margin on each side and the caret.
    edit->setFont(FitFont(PanelFont(style.point_size), QString(longest, QLatin1Char('0')),
                          inside.width() - 2 * 2 - 1, inside.height()));
    edit->setAlignment(style.centred ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    if (box->MaxLength() > 0) edit->setMaxLength(box->MaxLength());
    edit->setText(Q(box->Text()));
    SetBackColor(edit, box->BackColor());
    // User edits only: the logic runs its own change handler for program writes.
    connect(edit, &QLineEdit::textEdited, this, [this, box](const QString& text) {
      Run([box, &text] { box->Text(text.toStdString()); });
    });
    if (box == &form_.TextFreq) text_freq_ = edit;
    if (box == &form_.TextFreqStop) text_freq_stop_ = edit;
    if (box == &form_.TextFreq || box == &form_.TextFreqStop) edit->installEventFilter(this);
    b.widget = edit;
    return edit;
  }
  if (auto* knob = dynamic_cast<Knob*>(control)) {
    auto* w = new KnobWidget(panel_);
    w->setRange(knob->Min(), knob->Max());
    w->setValue(knob->Value());
    const auto index = int16_t(IndexOf(name));
    connect(w, &KnobWidget::turned, this, [this, knob, index](int value) {
      Run([this, knob, index, value] {
        knob->Value(value);
        form_.Knob1_Change(index);
      });
    });
    b.widget = w;
    return w;
  }
  if (auto* shape = dynamic_cast<Shape*>(control)) {
    b.widget = new ShapeWidget(*shape, shape == &form_.Shape1 ? 3 : 1, panel_);
    if (shape->ShapeKind() == Shape::Kind::Circle) {
      b.widget->setAccessibleDescription(shape->Filled() ? QStringLiteral("lit")
                                                         : QStringLiteral("dark"));
    }
    return b.widget;
  }
  if (auto* option = dynamic_cast<OptionButton*>(control)) {
    auto* radio = new QRadioButton(panel_);
    // The logic keeps the group: selecting one clears the others.
    radio->setAutoExclusive(false);
    radio->setChecked(option->Value());
    connect(radio, &QRadioButton::clicked, this, [this, option, radio] {
      // A click on the selected unit changes nothing; on another one it selects it.
      if (!option->Value()) Run([option] { option->Value(true); });
      radio->setChecked(option->Value());
    });
    b.widget = radio;
    b.fit = true;
    SetCaption(b, option->Caption());
    return radio;
  }
  if (auto* button = dynamic_cast<Button*>(control)) {
    static const std::pair<const char*, void (MainForm::*)()> kHandlers[] = {
        {"CmdSend", &MainForm::CmdSend_Click}, {"CmdStart", &MainForm::CmdStart_Click},
        {"CmdStop", &MainForm::CmdStop_Click}, {"CmdSngl", &MainForm::CmdSngl_Click},
        {"ComdOff", &MainForm::ComdOff_Click},
    };
    auto* push = new QPushButton(panel_);
    // Enter on a focused button presses it, as Space does (outside a dialog
    // this is all that auto-default does).
    push->setAutoDefault(true);
    for (const auto& [button_name, handler] : kHandlers) {
      if (name == button_name) {
        connect(push, &QPushButton::clicked, this, [this, handler = handler] {
          Run([form = &form_, handler] { (form->*handler)(); });
        });
      }
    }
    b.widget = push;
    b.fit = true;
    SetCaption(b, button->Caption());
    return push;
  }
  if (auto* label = dynamic_cast<Label*>(control)) {
    auto* w = new QLabel(panel_);
    w->setTextFormat(Qt::PlainText);
    w->setAlignment(align);
    if (style.border) w->setFrameStyle(QFrame::Box | QFrame::Plain);
    w->setFont(PanelFont(style.point_size));
    b.widget = w;
    b.fit = true;
    b.digit = name.rfind("D(", 0) == 0;
    SetCaption(b, label->Caption());
    return w;
  }
  return nullptr;
}

void MainWindow::SetRemoteStatus(const QString& text) {
  if (!remote_status_) {
    remote_status_ = new QLabel(panel_);
    remote_status_->setObjectName(QStringLiteral("RemoteStatus"));
    remote_status_->setAccessibleName(QStringLiteral("Remote control status"));
    remote_status_->setTextFormat(Qt::PlainText);
    remote_status_->setFont(PanelFont(8));
    // Below the panel's frame, across its width.
    const int x = Px(840), y = Px(5640);
    remote_status_->setGeometry(x, y, Px(840 + 8295) - x, Px(5640 + 300) - y);
  }
  remote_status_->setText(text);
  remote_status_->setVisible(!text.isEmpty());
}

void MainWindow::BindTimers() {
  const std::pair<Timer*, void (MainForm::*)()> timers[] = {
      {&form_.TmrDwell, &MainForm::TmrDwell_Timer},
      {&form_.TmrBlink, &MainForm::TmrBlink_Timer},
  };
  for (const auto& [timer, handler] : timers) {
    auto binding = std::make_unique<TimerBinding>(*timer, [this, handler = handler] {
      Run([form = &form_, handler] { (form->*handler)(); });
    });
    Bound b;
    b.timer = binding.get();
    Observe(timer, b);
    timers_.push_back(std::move(binding));
  }
}

void MainWindow::Place(const Bound& b) {
  if (!b.widget) return;
  const Control& c = *b.control;
  const int x = Px(c.Left()), y = Px(c.Top());
  b.widget->setGeometry(x, y, Px(c.Left() + c.Width()) - x, Px(c.Top() + c.Height()) - y);
}

void MainWindow::SetCaption(Bound& b, const std::string& caption) {
  const QString text = Q(caption);
  if (b.action) {
    b.action->setText(text);
    return;
  }
  if (auto* label = qobject_cast<QLabel*>(b.widget)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(b.widget)) {
    button->setText(text);
  } else {
    return;
  }
  if (!b.fit) return;
  if (b.digit && text.trimmed().size() <= 1) {
    // A single digit always fits (the common case, on every sweep step).
    if (b.widget->font().pointSizeF() != b.point_size) b.widget->setFont(PanelFont(b.point_size));
    return;
  }
  // Room for the text: less the frame (a plain label has none), and for a
  // radio button its indicator.
  const Control& c = *b.control;
  int room = Px(c.Width());
  const auto* label = qobject_cast<QLabel*>(b.widget);
  if (!label || label->frameWidth() > 0) room -= 4;
  if (qobject_cast<QRadioButton*>(b.widget)) room -= 18;
  if (qobject_cast<QPushButton*>(b.widget)) room -= 4;
  QString shown = b.digit ? text.trimmed() : text;
  shown.remove(QLatin1Char('&'));
  b.widget->setFont(FitFont(PanelFont(b.point_size), shown, room, Px(c.Height())));
}

void MainWindow::SetBackColor(QWidget* widget, Color color) {
  const QColor c = ToQColor(color);
  if (widget->palette().color(QPalette::Base) == c) return;
  QPalette pal = widget->palette();
  pal.setColor(QPalette::Base, c);
  widget->setPalette(pal);
}

void MainWindow::ShowBackColors() {
  back_colors_pending_ = false;
  for (TextBox* box :
       {&form_.TextFreq, &form_.TextFreqStop, &form_.TextFreqStep, &form_.TextSweepTime}) {
    if (auto it = bound_.find(box); it != bound_.end() && it->second.widget) {
      SetBackColor(it->second.widget, box->BackColor());
    }
  }
}

void MainWindow::Changed(Control& control, Prop prop) {
  auto it = bound_.find(&control);
  if (it == bound_.end()) return;
  Bound& b = it->second;
  if (b.timer) {
    b.timer->Changed(control, prop);
    return;
  }
  switch (prop) {
    case Prop::Text:
      if (auto* edit = qobject_cast<QLineEdit*>(b.widget)) {
        SetLineText(edit, static_cast<TextBox&>(control).Text());
      }
      break;
    case Prop::Caption:
      if (auto* label = dynamic_cast<Label*>(&control)) SetCaption(b, label->Caption());
      break;
    case Prop::Value:
      if (auto* knob = dynamic_cast<Knob*>(&control)) {
        if (auto* w = qobject_cast<KnobWidget*>(b.widget)) w->setValue(knob->Value());
      }
      break;
    case Prop::Left:
    case Prop::Width:
      Place(b);
      break;
    case Prop::Enabled:
      if (b.action) b.action->setEnabled(control.Enabled());
      if (b.widget) b.widget->setEnabled(control.Enabled());
      break;
    case Prop::Visible:
      if (b.action) b.action->setVisible(control.Visible());
      if (b.widget) b.widget->setVisible(control.Visible());
      break;
    case Prop::Selected:
      if (auto* option = dynamic_cast<OptionButton*>(&control)) {
        if (auto* radio = qobject_cast<QRadioButton*>(b.widget)) radio->setChecked(option->Value());
      }
      break;
    case Prop::Checked:
      if (auto* item = dynamic_cast<MenuItem*>(&control); item && b.action) {
        b.action->setChecked(item->Checked());
      }
      break;
    case Prop::Fill:
      if (b.widget) {
        b.widget->update();
        if (auto* shape = dynamic_cast<Shape*>(&control);
            shape && shape->ShapeKind() == Shape::Kind::Circle) {
          b.widget->setAccessibleDescription(shape->Filled() ? QStringLiteral("lit")
                                                             : QStringLiteral("dark"));
        }
      }
      break;
    case Prop::BackColor:
      // Every sweep step clears the green and sets it again; a palette
      // change is dear, so within a handler only the final colour is shown.
      if (depth_ > 0) {
        back_colors_pending_ = true;
      } else {
        ShowBackColors();
      }
      break;
    case Prop::Interval:
      break;
  }
}

}  // namespace pts
