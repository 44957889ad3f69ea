#include "remote/transport/command_runner.h"

#include <algorithm>

namespace pts::remote {

namespace {
// One client's turn ends after this much work (checked every few commands).
constexpr auto kTurn = std::chrono::microseconds(500);
}  // namespace

CommandRunner::CommandRunner(Instrument& instrument, std::function<bool()> busy, QObject* parent)
    : QObject(parent), instrument_(instrument), busy_(std::move(busy)) {
  poll_.setTimerType(Qt::PreciseTimer);
  poll_.setInterval(1);
  connect(&poll_, &QTimer::timeout, this, &CommandRunner::Poll);
}

CommandRunner::~CommandRunner() = default;

CommandRunner::Queue::Queue(CommandRunner& runner, std::function<void()> serve)
    : runner_(runner), serve_(std::move(serve)) {
  runner_.queues_.push_back(this);
}

CommandRunner::Queue::~Queue() {
  auto& all = runner_.queues_;
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

bool CommandRunner::Turn::Over() {
  return ++done_ % 16 == 0 && std::chrono::steady_clock::now() - start_ > kTurn;
}

CommandRunner::Ran CommandRunner::Run(Queue& q, Session& session, std::string* out, Turn& turn) {
  while (!q.Empty()) {
    if (busy_() || !instrument_.Execute(q.commands_[q.next_], session, &q.response_)) {
      q.waiting_ = true;
      if (!poll_.isActive()) poll_.start();
      return Ran::Waiting;
    }
    q.waiting_ = false;
    if (++q.next_ == q.commands_.size()) {
      q.response_.EndInto(out);
      q.Clear();
    }
    if (turn.Over()) {
      q.scheduled_ = true;
      if (!later_) {
        later_ = true;
        QTimer::singleShot(0, this, &CommandRunner::ServeScheduled);
      }
      return Ran::Later;
    }
  }
  q.waiting_ = false;
  return Ran::Done;
}

// Each serve may end other queues (a client dropped): only those still here are served.
void CommandRunner::Poll() {
  const std::vector<Queue*> all = queues_;
  for (Queue* q : all) {
    if (std::find(queues_.begin(), queues_.end(), q) != queues_.end() && q->waiting_) q->serve_();
  }
  if (std::none_of(queues_.begin(), queues_.end(), [](Queue* q) { return q->waiting_; })) {
    poll_.stop();
  }
}

void CommandRunner::ServeScheduled() {
  later_ = false;
  const std::vector<Queue*> all = queues_;
  for (Queue* q : all) {
    if (std::find(queues_.begin(), queues_.end(), q) == queues_.end() || !q->scheduled_) continue;
    q->scheduled_ = false;
    q->serve_();
  }
}

}  // namespace pts::remote
