// Building the window from the panel's controls and routing their changes to
// the bindings.
#include "ui/main_window.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "panel/models.h"
#include "panel/sweep_progress.h"
#include "ui/accessible.h"
#include "ui/panel_widgets.h"
#include "ui/progress_area.h"
#include "ui/timer_binding.h"

namespace pts {

MainWindow::MainWindow(MainForm& form, QWidget* parent) : QMainWindow(parent), form_(form) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    scale_ = screen->logicalDotsPerInchX() / 96.0;
  }
  InstallAccessibleFactory();
  setObjectName(QStringLiteral("MainForm"));
  runner_ = new PanelRunner(form_, this);
  runner_->OnHandlersDone([this] { HandlersDone(); });
  BuildMenus();
  BuildPanel();
  BindTimers();
  SetTabOrder();
  layout()->setSizeConstraint(QLayout::SetFixedSize);  // a fixed front panel
  paint_later_ = new QTimer(this);
  paint_later_->setSingleShot(true);
  connect(paint_later_, &QTimer::timeout, this, [this] {
    QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
  });
  WatchInput();
  publish_later_ = new QTimer(this);
  publish_later_->setSingleShot(true);
  connect(publish_later_, &QTimer::timeout, this, &MainWindow::PublishNow);
  setWindowTitle(Q(form_.Caption));
}

MainWindow::~MainWindow() {
  for (auto& entry : bindings_) const_cast<Control*>(entry.first)->SetObserver(nullptr);
  form_.TmrDwell.SetObserver(nullptr);
  form_.TmrBlink.SetObserver(nullptr);
}

int MainWindow::Px(int twips) const {
  return int(std::lround(twips / 15.0 * scale_));
}

QWidget* MainWindow::WidgetOf(const Control& control) const {
  auto it = bindings_.find(&control);
  return it == bindings_.end() ? nullptr : it->second->widget();
}

void MainWindow::BuildMenus() {
  // Captions as designed; the logic's own caption wins when it has one.
  auto caption = [](MenuItem& item, const char* designed) {
    return item.Caption().empty() ? QString::fromUtf8(designed) : Q(item.Caption());
  };
  auto bind = [&](MenuItem& item, QAction* action) {
    bindings_[&item] = std::make_unique<MenuBinding>(Host(), item, action);
    item.SetObserver(this);
  };
  // A command: its press through the accessibility bus returns at once.
  auto command = [&](MenuItem& item, QAction* action, void (MainForm::*handler)()) {
    action->setProperty("pts-panel-item", true);
    connect(action, &QAction::triggered, this, [this, handler] { RunMenu(handler); });
    bind(item, action);
  };
  auto add_item = [&](QMenu* menu, MenuItem& item, const char* designed,
                      void (MainForm::*handler)(), bool checkable) {
    QAction* action = menu->addAction(caption(item, designed));
    action->setCheckable(checkable);
    action->setChecked(item.Checked());
    command(item, action, handler);
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
  for (const MainForm::ModelChoice& m : form_.ModelChoices()) {
    add_item(model, *m.item, ModelRowOfItem(m.item->Name())->caption, m.click, true);
  }

  // Info has no items: choosing it on the bar runs its command.
  command(form_.mnuInfo, menuBar()->addAction(caption(form_.mnuInfo, "&Info")),
          &MainForm::mnuInfo_Click);
}

void MainWindow::RunMenu(void (MainForm::*handler)()) {
  Run([form = &form_, handler] { (form->*handler)(); });
  // Qt toggles a checkable item by itself; the logic decides the marks.
  for (MenuItem* item : form_.ModelItems()) {
    if (auto it = bindings_.find(item); it != bindings_.end() && it->second->action()) {
      it->second->action()->setChecked(item->Checked());
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
    if (bindings_.count(control)) continue;
    std::unique_ptr<Binding> b = MakeBinding(Host(), *control, panel_);
    if (!b) continue;
    if (auto* shape = dynamic_cast<Shape*>(control);
        shape && shape->ShapeKind() == Shape::Kind::Rectangle) {
      if (control == &form_.Shape1) {
        outer = b->widget();
      } else {
        frames.push_back(b->widget());
      }
    }
    bindings_[control] = std::move(b);
    control->SetObserver(this);
  }
  // Frames lie behind the controls they frame, the outer panel behind all.
  for (QWidget* f : frames) f->lower();
  if (outer) outer->lower();

  text_freq_ = qobject_cast<QLineEdit*>(WidgetOf(form_.TextFreq));
  text_freq_stop_ = qobject_cast<QLineEdit*>(WidgetOf(form_.TextFreqStop));
  for (QLineEdit* edit : {text_freq_, text_freq_stop_}) {
    if (edit) edit->installEventFilter(this);
  }

  // The empty area under the panel's outer frame.
  progress_ = new ProgressArea(panel_);
  const Shape& s = form_.Shape1;
  const int top = Px(s.Top() + s.Height() + 120);
  progress_->setGeometry(Px(s.Left()), top, Px(s.Left() + s.Width()) - Px(s.Left()),
                         Px(8190 - 120) - top);
}

void MainWindow::SetTabOrder() {
  // The panel's order: the boxes, the command row, the digit knobs from left
  // to right, the level, the units, Off.
  std::vector<Control*> order = {&form_.TextFreq,      &form_.TextFreqStop, &form_.TextFreqStep,
                                 &form_.TextSweepTime, &form_.CmdSend,      &form_.CmdStart,
                                 &form_.CmdStop,       &form_.CmdSngl};
  for (int i = 0; i <= 10; ++i) order.push_back(&form_.Knob1(i));
  for (int i = 0; i < 4; ++i) order.push_back(&form_.Option1(i));
  order.push_back(&form_.ComdOff);
  QWidget* previous = nullptr;
  for (Control* c : order) {
    QWidget* w = WidgetOf(*c);
    if (!w) continue;
    if (previous) QWidget::setTabOrder(previous, w);
    previous = w;
  }
}

void MainWindow::BindTimers() {
  // The window observes the timers too (the sweep's progress follows them)
  // and forwards their changes to the bindings.
  runner_->BindTimers(false);
  form_.TmrDwell.SetObserver(this);
  form_.TmrBlink.SetObserver(this);
}

void MainWindow::ShowBackColors() {
  back_colors_pending_ = false;
  for (TextBox* box :
       {&form_.TextFreq, &form_.TextFreqStop, &form_.TextFreqStep, &form_.TextSweepTime}) {
    if (auto it = bindings_.find(box); it != bindings_.end()) ShowBackColor(*it->second);
  }
}

void MainWindow::SetRemoteStatus(const QString& text) {
  progress_->SetRemoteStatus(text);
}

void MainWindow::Dirty() {
  if (publish_later_->isActive()) return;
  const auto since = std::chrono::steady_clock::now() - last_publish_;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
      std::chrono::milliseconds(kRepaintIntervalMs) - since);
  publish_later_->start(int(std::max<int64_t>(0, wait.count())));
}

void MainWindow::PublishNow() {
  publish_later_->stop();
  last_publish_ = std::chrono::steady_clock::now();
  for (auto& entry : bindings_) entry.second->Publish();
  progress_->Show(SweepProgressOf(form_));
}

void MainWindow::Changed(Control& control, Prop prop) {
  // Any change may move the sweep's progress or what a name says.
  Dirty();
  if (&control == &form_.TmrDwell || &control == &form_.TmrBlink) {
    if (TimerBinding* t = runner_->TimerOf(static_cast<Timer&>(control))) t->Changed(control, prop);
    return;
  }
  auto it = bindings_.find(&control);
  if (it == bindings_.end()) return;
  if (prop == Prop::BackColor) {
    // Every sweep step clears the green and sets it again; a palette
    // change is dear, so within a handler only the final colour is shown.
    if (runner_->InHandler()) {
      back_colors_pending_ = true;
    } else {
      ShowBackColors();
    }
    return;
  }
  it->second->Changed(prop);
}

}  // namespace pts
