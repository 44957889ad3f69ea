#include "ui/panel_runner.h"

#include <QSocketNotifier>
#include <string>

#include "hid/errors.h"
#include "ui/timer_binding.h"

namespace pts {

PanelRunner::PanelRunner(MainForm& form, QObject* parent) : QObject(parent), form_(form) {}

PanelRunner::~PanelRunner() {
  timers_.clear();
}

void PanelRunner::Failed(const std::exception& error) {
  // The panel traps no errors: like an untrapped run-time error, report it
  // and end the program.
  std::string text;
  if (const auto* e = dynamic_cast<const ClassError*>(&error)) {
    text = "Run-time error '" + std::to_string(e->Number()) + "':\n\n" + e->Description() + "\n(" +
           e->Source() + ")";
  } else {
    text = std::string("Run-time error:\n\n") + error.what();
  }
  form_.Op().MessageBox(text, MsgButtons::Ok, MsgIcon::None, "");
  form_.Agent().WaitWrites();  // a sweep step's writes still going out end whole
  form_.Op().EndProgram(1);
}

void PanelRunner::HandlersDone() {
  // Hot-plug events that came while a handler was running (a modal box
  // inside it) are taken now: they may change Devices, which the handler
  // could have been walking.
  if (hotplug_deferred_ && hotplug_ && !unloaded_) {
    hotplug_deferred_ = false;
    hotplug_->setEnabled(true);
  }
  for (const auto& f : done_) f();
}

void PanelRunner::BindTimers(bool observe) {
  const std::pair<Timer*, void (MainForm::*)()> timers[] = {
      {&form_.TmrDwell, &MainForm::TmrDwell_Timer},
      {&form_.TmrBlink, &MainForm::TmrBlink_Timer},
  };
  for (const auto& [timer, handler] : timers) {
    const bool step = timer == &form_.TmrDwell;
    // The handler reaches the form directly, not through this object's
    // members: a tick may end the program (Off) or unload the form.
    auto binding =
        std::make_unique<TimerBinding>(*timer, [this, form = &form_, handler = handler, step] {
          const bool outer = in_sweep_step_;
          in_sweep_step_ = step;
          Run([form, handler] { (form->*handler)(); });
          in_sweep_step_ = outer;
        });
    if (observe) binding->Attach();
    timers_.push_back(std::move(binding));
  }
}

TimerBinding* PanelRunner::TimerOf(const Timer& timer) const {
  const Timer* controls[] = {&form_.TmrDwell, &form_.TmrBlink};
  for (size_t i = 0; i < timers_.size(); ++i) {
    if (controls[i] == &timer) return timers_[i].get();
  }
  return nullptr;
}

void PanelRunner::StartHotplug() {
  const int fd = form_.Agent().HotplugFd();
  if (fd < 0 || hotplug_) return;
  hotplug_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
  connect(hotplug_, &QSocketNotifier::activated, this, &PanelRunner::OnHotplug);
}

void PanelRunner::OnHotplug() {
  hotplug_->setEnabled(false);
  if (depth_ > 0) {
    hotplug_deferred_ = true;
    return;
  }
  Run([form = &form_] { form->Agent().ProcessHotplug(); });
  if (!unloaded_ && !hotplug_deferred_) hotplug_->setEnabled(true);
}

void PanelRunner::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  Run([form = &form_] { form->Form_Unload(); });
  // An unloaded form has no timers and hears no devices.
  timers_.clear();
  if (hotplug_) hotplug_->setEnabled(false);
}

}  // namespace pts
