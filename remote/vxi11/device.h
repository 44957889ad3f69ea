// The instrument as VXI-11 links see it, behind the server's sockets. A link
// (create_link) is one more remote client: its own session (error queue,
// status registers) attached to the Instrument, its input split into
// program messages at LF or at a write's END, its commands run through the
// same turns as a socket client's, its answers kept until device_read takes
// them. device_lock is one exclusive lock across links.
//
// Calls that must wait (a read for its answer, a call for the lock, a write
// for room) are answered later, from the event loop: nothing here blocks.
// The server sends a connection's next call only once its last one is
// answered.
//
// Bounds: kMaxLinks links, kMaxLinksPerPeer of them from one peer address
// (create_link answers error 9 beyond either); a device_write above kMaxRecvSize fails with
// error 5; a line above kMaxLine is dropped with -223 as on the raw socket;
// a link's commands stop while kMaxOutput bytes of its answers are unread
// (its writes then wait for room until their io_timeout).
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "remote/transport/command_runner.h"
#include "remote/vxi11/rpc_stream.h"

namespace pts::remote::vxi11 {

// Device_ErrorCode values this device answers with.
enum DeviceError : int {
  kNoError = 0,
  kDeviceNotAccessible = 3,
  kInvalidLink = 4,
  kParameterError = 5,
  kChannelNotEstablished = 6,
  kOperationNotSupported = 8,
  kOutOfResources = 9,
  kDeviceLocked = 11,
  kNoLockHeld = 12,
  kIoTimeout = 15,
  kAborted = 23,
};

class Device : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxLinks = 16, kMaxLinksPerPeer = kMaxLinks / 2;
  static constexpr uint32_t kMaxRecvSize = 64 * 1024;
  static constexpr size_t kMaxLine = kMaxMessage;
  static constexpr size_t kMaxOutput = 1024 * 1024;

  // Sends a reply record on a connection.
  using Replier = std::function<void(uint64_t connection, std::string record)>;
  Device(Instrument& instrument, std::function<bool()> busy, Replier reply,
         QObject* parent = nullptr);
  ~Device() override;
  void AbortPort(uint16_t port) { abort_port_ = port; }

  // A call of the core channel, or of the abort channel, received on
  // `connection` from `peer` (its numeric address); `oversized` when the
  // record was cut. Every call is answered, at once or later.
  void Core(uint64_t connection, const std::string& peer, const CallHeader& call,
            const std::string& record, bool oversized);
  void Abort(uint64_t connection, const std::string& peer, const CallHeader& call,
             const std::string& record, bool oversized);
  // The connection is gone: its call is dropped, the links it made destroyed.
  void Dropped(uint64_t connection);
  bool HasLinks(uint64_t connection) const;
  int LinkCount() const { return static_cast<int>(links_.size()); }
  int LinksFrom(const std::string& peer) const;

 private:
  struct Link;
  struct Pending;
  enum class Gate { Go, Wait, Locked };

  void Start(Pending p);
  bool Try(Pending& p);  // true once answered
  bool TryWrite(Pending& p, Link& l);
  bool TryRead(Pending& p, Link& l);
  Gate LockGate(Pending& p) const;
  static bool IoExpired(Pending& p);
  void Answer(Pending& p, std::string record);
  // Answers with `error` (kNoError too) in the result type of p's procedure.
  void Finish(Pending& p, int error);
  void Serve(Link& l);
  void Retry();
  void Arm();
  Link* Find(int32_t id);
  // The link `id` if `connection` made it; null for anyone else.
  Link* Owned(int32_t id, uint64_t connection);
  void Destroy(int32_t id);

  Instrument& instrument_;
  CommandRunner runner_;
  Replier reply_;
  uint16_t abort_port_ = 0;
  std::list<std::unique_ptr<Link>> links_;
  int32_t next_id_ = 1;
  int32_t lock_ = 0;  // the link holding the lock, 0 when none
  std::list<Pending> pending_;
  bool retrying_ = false;
  bool again_ = false;
  QTimer timer_;  // the next deadline of a waiting call
};

}  // namespace pts::remote::vxi11
