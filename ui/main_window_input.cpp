// The operator's side of the window: focus and keys of the frequency boxes,
// the first show, closing, hot-plug, and running handlers.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShowEvent>
#include <functional>
#include <utility>

#include "ui/main_window.h"
#include "ui/timer_binding.h"

namespace pts {

void MainWindow::HandlersDone() {
  if (back_colors_pending_) ShowBackColors();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_once_ || event->spontaneous()) return;
  shown_once_ = true;
  // No box starts with the focus: the operator's first click or Tab into
  // TextFreq is then a move into it (GotFocus), as it would be later on.
  if (!focusWidget()) panel_->setFocus(Qt::OtherFocusReason);
  runner_->StartHotplug();
  // Activation runs once, after the window is up; Qt's later WindowActivate
  // events (a box closing, the application regaining focus) do not re-run it.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!runner_->Unloaded()) runner_->Activate();
      },
      Qt::QueuedConnection);
}

void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
    focus_when_inactive_ = focusWidget();
  }
  QMainWindow::changeEvent(event);
}

namespace {

// Sees the operator's presses anywhere in the application before they are
// delivered.
class InputWatch : public QObject {
 public:
  InputWatch(std::function<void()> on_input, QObject* parent)
      : QObject(parent), on_input_(std::move(on_input)) {}

  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::Wheel:
        if (event->spontaneous()) on_input_();
        break;
      case QEvent::InputMethod:
        on_input_();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  std::function<void()> on_input_;
};

}  // namespace

void MainWindow::WatchInput() {
  QCoreApplication::instance()->installEventFilter(
      new InputWatch([this] { InputArrived(); }, this));
}

void MainWindow::InputArrived() {
  // What the operator types or clicks is shown at once; the pace below is
  // for the changes of a fast sweep. A held repaint is asked for again now:
  // it comes after the input's own event, so it shows the input too.
  paint_input_ = true;
  if (paint_later_->isActive()) {
    paint_later_->stop();
    QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest));
  }
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::UpdateRequest) {
    // Qt asks once for a repaint of everything marked dirty since the last
    // one and asks again only after that repaint. Held back here, the marks
    // gather until the repaint a little later paints them all.
    const auto now = std::chrono::steady_clock::now();
    const auto since = now - last_paint_;
    const bool input = std::exchange(paint_input_, false);
    if (!input && since < std::chrono::milliseconds(kRepaintIntervalMs)) {
      if (!paint_later_->isActive()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
            std::chrono::milliseconds(kRepaintIntervalMs) - since);
        paint_later_->start(int(wait.count()));
      }
      return true;
    }
    last_paint_ = now;
    // A repaint inside a handler (under a modal box) shows the colours too.
    if (back_colors_pending_) ShowBackColors();
  }
  return QMainWindow::event(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  runner_->Unload();
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (!edit || (edit != text_freq_ && edit != text_freq_stop_)) {
    return QMainWindow::eventFilter(watched, event);
  }
  switch (event->type()) {
    case QEvent::KeyPress:
      return FilterKey(edit, static_cast<QKeyEvent*>(event));
    case QEvent::InputMethod:
      return FilterInputMethod(edit, static_cast<QInputMethodEvent*>(event));
    case QEvent::FocusIn:
      if (edit == text_freq_) {
        // Only the operator moving into the box; not the focus coming back
        // when the window is re-activated or a box or menu closes.
        switch (static_cast<QFocusEvent*>(event)->reason()) {
          case Qt::MouseFocusReason:
          case Qt::TabFocusReason:
          case Qt::BacktabFocusReason:
          case Qt::ShortcutFocusReason:
          case Qt::OtherFocusReason:
            Run([this] { form_.TextFreq_GotFocus(); });
            break;
          case Qt::ActiveWindowFocusReason:
            // A click into the box of an inactive window arrives as the
            // window's activation; it is a move into the box when the box
            // did not have the focus before.
            if (focus_when_inactive_ != edit) Run([this] { form_.TextFreq_GotFocus(); });
            break;
          default:
            break;
        }
      }
      return false;
    default:
      return false;
  }
}

int16_t MainWindow::KeyPress(QLineEdit* edit, int16_t code) {
  Run([&] {
    if (edit == text_freq_) {
      form_.TextFreq_KeyPress(code);
    } else {
      form_.TextFreqStop_KeyPress(code);
    }
  });
  return code;
}

bool MainWindow::FilterKey(QLineEdit* edit, QKeyEvent* event) {
  if (replaying_key_) return false;
  int16_t code = 0;
  switch (event->key()) {
    // Keys that type no character (moving the caret, deleting forward) are
    // not the filter's business.
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Delete:
    case Qt::Key_Insert:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
      return false;
    case Qt::Key_Backspace:
      code = 8;
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      code = 13;
      break;
    default:
      if (event->text().isEmpty()) return false;  // modifiers, function keys
      code = int16_t(event->text().at(0).unicode());
      break;
  }
  const int16_t original = code;
  code = KeyPress(edit, code);
  if (code == 0) return true;  // dropped
  if (code == original) return false;
  // The filter replaced the character: type the replacement instead.
  QKeyEvent replaced(QEvent::KeyPress, 0, event->modifiers(), QString(QChar(char16_t(code))));
  replaying_key_ = true;
  QCoreApplication::sendEvent(edit, &replaced);
  replaying_key_ = false;
  return true;
}

bool MainWindow::FilterInputMethod(QLineEdit* edit, QInputMethodEvent* event) {
  // Composed input (dead keys, input methods) goes through the same filter;
  // a commit with any refused character is dropped whole.
  for (QChar ch : event->commitString()) {
    const auto code = int16_t(ch.unicode());
    if (KeyPress(edit, code) != code) return true;
  }
  return false;
}

}  // namespace pts
