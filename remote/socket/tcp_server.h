// The SCPI server: a raw TCP socket on the UI thread's event loop, as plain
// non-blocking sockets woken by Qt's notifiers (one read and one write per
// request, no queued events between them). Each client has its own input
// buffer and session (error queue, status registers), attached to the
// Instrument while it is connected; its status byte's MAV says whether
// answers are queued that the socket has not yet taken. Its commands run in
// order through the Instrument, in turns of at most about half a millisecond, so that no
// client holds up the others or the sweep. A client whose commands wait (a
// handler is running, or *OPC? during a single sweep) is not read from
// meanwhile, so what it sends stays in the kernel's buffers.
//
// Bounds: at most kMaxClients at once, kMaxClientsPerPeer of them from one
// peer address, so that one host cannot lock the others out (one more is
// closed at once); a line above kMaxLine is dropped with -223; a client with
// more than kMaxPending bytes of answers unsent (it does not read them) is
// disconnected. A client
// that closes its sending side is answered and then closed; a line it did
// not end is dropped.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "remote/instrument.h"
#include "remote/transport/command_runner.h"
#include "remote/transport/peer_guard.h"

class QSocketNotifier;

namespace pts::remote {

class TcpServer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxClients = 16, kMaxClientsPerPeer = kMaxClients / 2;
  static constexpr size_t kMaxLine = kMaxMessage;
  static constexpr size_t kMaxPending = 1024 * 1024;

  // `busy` says whether a panel handler is running (a box of the operator's
  // is open); commands wait until it returns.
  TcpServer(Instrument& instrument, std::function<bool()> busy, QObject* parent = nullptr);
  ~TcpServer() override;

  // Starts listening. On failure returns false with a one-line reason.
  bool Listen(const std::string& address, uint16_t port, std::string* error);
  std::string Address() const;  // "127.0.0.1:5025", the real port
  int ClientCount() const;      // connected, not counting those being dropped
  // Called with "Remote: ADDR:PORT, N clients" whenever that changes.
  void OnStatus(std::function<void(const std::string&)> f) { on_status_ = std::move(f); }
  std::string Status() const;

 private:
  struct Client;
  void Accept();
  void Serve(Client& c);
  bool NextLine(Client& c, std::string* line);
  void Send(Client& c);
  void Listening(Client& c, bool on);  // whether its input wakes us
  void Drop(Client& c);
  void Reap();
  void StatusChanged();

  Instrument& instrument_;
  CommandRunner runner_;
  int listen_fd_ = -1;
  QSocketNotifier* listener_ = nullptr;
  std::string address_;
  std::list<std::unique_ptr<Client>> clients_;
  PeerCounter peers_{kMaxClientsPerPeer, kMaxClients};  // the clients not dropped
  std::function<void(const std::string&)> on_status_;
};

}  // namespace pts::remote
