// The VXI-11 server (TCPIP::host::INSTR): the core channel and the abort
// channel as ONC RPC over TCP, on ports the kernel picks, registered with
// rpcbind. Plain non-blocking sockets on the event loop, woken by Qt's
// notifiers, as the raw socket server's are: records are reassembled here,
// calls decoded, and the device (device.h) answers them, at once or later.
// A connection's calls are taken one at a time: while one waits for its
// answer, what the client sends next stays in the kernel's buffers.
//
// Bounds: kMaxConnections per channel (when full, a new one replaces the
// oldest that holds no link, or is closed at once); a record above the
// channel's bound is answered without being kept (a write with error 5,
// anything else with GARBAGE_ARGS); a connection whose replies stay unread
// is not read from. A record that is no call ends its connection.
#pragma once

#include <sys/socket.h>

#include <QObject>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "remote/instrument.h"
#include "remote/vxi11/device.h"
#include "remote/vxi11/rpcbind.h"

class QSocketNotifier;

namespace pts::remote::vxi11 {

class Vxi11Server : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxConnections = 2 * Device::kMaxLinks;
  static constexpr uint32_t kCoreProgram = 0x0607AF;
  static constexpr uint32_t kAbortProgram = 0x0607B0;

  // `busy` says whether a panel handler is running; commands wait meanwhile.
  Vxi11Server(Instrument& instrument, std::function<bool()> busy, QObject* parent = nullptr);
  ~Vxi11Server() override;  // unregisters first

  // Opens both channels on `address`. False with a one-line reason.
  bool Listen(const std::string& address, std::string* error);
  // Registers both channels with rpcbind. False with a one-line reason.
  bool Register(std::string* error);
  // "vxi11 on 127.0.0.1 (core 40123, abort 40124)"
  std::string Description() const;
  uint16_t CorePort() const { return channels_[0].port; }
  uint16_t AbortPort() const { return channels_[1].port; }

 private:
  struct Channel {
    int fd = -1;
    QSocketNotifier* listener = nullptr;
    uint16_t port = 0;
    sockaddr_storage address{};
    bool abort = false;
    size_t max_record = 0;
  };
  struct Connection;

  bool Open(Channel& ch, const std::string& address, std::string* error);
  void Accept(Channel& ch);
  void Readable(Connection& c);
  void Process(Connection& c);
  void Dispatch(Connection& c, const std::string& record, bool oversized);
  void Reply(uint64_t id, std::string record);
  void Send(Connection& c);
  void Drop(Connection& c);
  void Reap();
  Connection* Find(uint64_t id);

  Device device_;
  Channel channels_[2];
  std::string host_;
  std::list<std::unique_ptr<Connection>> connections_;
  uint64_t next_id_ = 1;
  Connection* dispatching_ = nullptr;  // its reply needs no resume
  std::unique_ptr<Registration> registration_;
};

}  // namespace pts::remote::vxi11
