// What every remote front end does with a client's input on the event loop:
// split it into program messages (lines) and run their commands through the
// Instrument in order, each message's answers going out as one response
// message once the whole message has run, in turns of at most about half a
// millisecond, so that no client holds up the others or the sweep. A command waits while a panel
// handler runs (`busy`: a box of the operator's is open) and while *OPC? or
// *WAI waits for a single sweep; a waiting client is tried again every
// millisecond, one whose turn ran out on a later turn of the event loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "remote/instrument.h"
#include "remote/transport/limits.h"
#include "remote/transport/line_buffer.h"

namespace pts::remote {

class CommandRunner : public QObject {
  Q_OBJECT

 public:
  CommandRunner(Instrument& instrument, std::function<bool()> busy, QObject* parent = nullptr);
  ~CommandRunner() override;

  // One client's commands: those of the message being run. `serve` is called
  // when the client may go on (it waited, or its turn ran out); it must not
  // destroy the queue.
  class Queue {
   public:
    Queue(CommandRunner& runner, std::function<void()> serve);
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;
    void Set(std::vector<Command> commands) {
      commands_ = std::move(commands);
      next_ = 0;
      response_.Clear();
    }
    bool Empty() const { return next_ >= commands_.size(); }
    // Nothing left to run and no later turn due.
    bool Idle() const { return Empty() && !waiting_ && !scheduled_; }
    // A query of the message being run has answered: its response waits for
    // the rest of the message (MAV counts it).
    bool Answered() const { return !response_.Empty(); }
    void Clear() {
      commands_.clear();
      next_ = 0;
      waiting_ = false;
      response_.Clear();
    }

   private:
    friend class CommandRunner;
    CommandRunner& runner_;
    std::function<void()> serve_;
    std::vector<Command> commands_;
    size_t next_ = 0;
    Response response_;       // the answers of the message so far
    bool waiting_ = false;    // commands_[next_] waits for a handler or a single sweep
    bool scheduled_ = false;  // to be served on a later turn
  };

  // One turn: the work a client may do before the others get theirs.
  class Turn {
   public:
    Turn() : start_(std::chrono::steady_clock::now()) {}
    bool Over();  // checked every few commands

   private:
    std::chrono::steady_clock::time_point start_;
    int done_ = 0;
  };

  enum class Ran {
    Done,     // every command ran: the client may take its next message
    Waiting,  // a command waits; `serve` is called again once it may go on
    Later,    // the turn is over; `serve` is called on a later turn
  };
  // Runs q's commands for `session`; once the message's last has run, its
  // response message (LF-ended, none when no query answered) is appended to *out.
  Ran Run(Queue& q, Session& session, std::string* out, Turn& turn);

 private:
  void Poll();
  void ServeScheduled();

  Instrument& instrument_;
  std::function<bool()> busy_;
  std::vector<Queue*> queues_;
  QTimer poll_;
  bool later_ = false;  // a later turn is due
};

}  // namespace pts::remote
