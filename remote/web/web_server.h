// The web page: the instrument's identity and its live front panel, for a
// browser on this or another machine. Qt HttpServer serves the page (compiled
// in as resources); a WebSocket at /ws carries the page's commands (SCPI and
// the PANel commands, as a client of the engine with a session of its own)
// and the panel's state pushed back after every change, coalesced.
//
// A gate in front reads each connection's request head (one request per
// connection): a WebSocket handshake is answered by the gate itself only if
// its Host and Origin name this server (else 421 or 403, and no control) and
// it is one RFC 6455 allows, and the page's frames are then read by
// PageSocket; every plain request's Host is checked again by the HTTP side. Control needs the
// access token when one is set, and without one is allowed only on a loopback address; otherwise
// pages only watch.
//
// Bounds: at most kMaxPages pages; messages (and frames) up to kMaxMessage,
// as on every front end; a page that
// sends anything but the protocol's JSON, more than kMaxRate messages a
// second, more than kMaxQueued waiting messages, or leaves more than
// kMaxBacklog bytes unread, is closed. Connections that do not finish their
// request head within 5 s, or send more than 8 KiB of it, are closed; an
// HTTP connection is closed after its answer, or after kIdleMs if the answer
// is not read. Each peer address has caps of its
// own on connections, heads being sent and pages, and wrong tokens from it
// are slowed and then locked out, so that one host cannot lock out another.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "panel/mainform.h"
#include "remote/instrument.h"
#include "remote/transport/command_runner.h"
#include "remote/transport/peer_guard.h"
#include "remote/web/lxi_identification.h"
#include "remote/web/page_state.h"
#include "remote/web/web_access.h"

class QHttpServerRequest;
class QTcpSocket;

namespace pts::remote {

class PageSocket;

class WebServer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxPages = 16;
  static constexpr int kMaxRate = 200;  // messages per second
  static constexpr int kMaxQueued = 64;
  static constexpr int64_t kMaxBacklog = 1024 * 1024;
  static constexpr int kMaxPagesPerPeer = kMaxPages / 2;
  static constexpr int kMaxConnections = 512, kMaxConnectionsPerPeer = 32;
  static constexpr int kMaxHeads = 128, kMaxHeadsPerPeer = 8;
  static constexpr int kHeadTimeoutMs = 5000, kIdleMs = 15000;
  static constexpr std::chrono::milliseconds kMaxTokenHold{2000};

  // `busy` says whether a panel handler is running; commands wait until it
  // returns. `version` is the program's.
  WebServer(MainForm& form, Instrument& instrument, std::function<bool()> busy, std::string version,
            QObject* parent = nullptr);
  ~WebServer() override;

  // Control from the page then needs `token`, on any address. Before Listen.
  void RequireToken(std::string token) { token_ = std::move(token), need_token_ = true; }
  // Page and WebSocket over TLS only (see LoadTls). Before Listen.
  void UseTls(QSslConfiguration config) { tls_config_ = std::move(config), tls_ = true; }
  bool Secure() const { return tls_; }
  bool Loopback() const { return loopback_; }  // listens on a loopback address
  // Starts listening. On failure returns false with a one-line reason.
  bool Listen(const std::string& address, uint16_t port, std::string* error);
  std::string Address() const;  // "127.0.0.1:8080", the real port
  // Whether a page can control the panel at all (with the token if one is set).
  bool ControlPossible() const { return need_token_ || loopback_; }
  // A way in that the page and the identification list: "SCPI raw socket"
  // on its listen address ("0.0.0.0", "127.0.0.1"), its resource's end ("5025::SOCKET").
  void AddInterface(std::string name, std::string host, std::string suffix);
  // Something may have changed: the pages get the state soon.
  void Changed();
  int PageCount() const;

 private:
  struct Page;
  void Admit(QTcpSocket* socket);  // a new connection: its head is read first
  void Inspect(QTcpSocket* socket);
  void Refuse(QTcpSocket* socket, int status, const char* reason, const char* extra = nullptr);
  // The guards against hosts that would lock the others out (web_guard.cpp).
  bool Welcome(QTcpSocket* socket);
  bool StopInspecting(QTcpSocket* socket);
  void Unhook(QTcpSocket* socket);
  void Answering(QTcpSocket* socket);
  void Answered(QTcpSocket* socket);
  static bool Unanswered(QTcpSocket* socket);
  int HandshakeStatus(const HttpHead& head, QTcpSocket* socket, const char** reason,
                      const char** extra);
  bool Guess(const std::string& peer, const std::string& token);
  void WrongGuess(const std::string& peer);
  void Token(Page& p, std::string token);
  void AcceptPage(PageSocket* socket);
  void Received(Page& p, const QString& message);
  void Serve(Page& p);
  void Finish(Page& p);
  void SendTo(Page& p, const std::string& frame);
  void Close(Page& p, int code, const char* reason);
  void Reap();
  void Push();
  void Serve(const QHttpServerRequest& request, QTcpSocket* socket);
  std::string IndexPage(const std::string& host, const QHostAddress& local) const;
  std::string Identification(const std::string& host, const QHostAddress& local) const;
  std::vector<std::pair<std::string, std::string>> SecurityHeaders(const std::string& host) const;

  class Gate;
  class Http;
  MainForm& form_;
  Instrument& instrument_;
  CommandRunner runner_;
  std::string version_;
  std::string token_;
  bool need_token_ = false;
  bool loopback_ = false;
  std::string address_;
  std::unique_ptr<HostPolicy> hosts_;
  std::vector<FrontEnd> fronts_;
  QHostAddress listen_host_;
  bool tls_ = false;
  QSslConfiguration tls_config_;
  Gate* gate_ = nullptr;
  Http* http_ = nullptr;
  std::map<QTcpSocket*, std::string> inspecting_;  // to the peer's address
  PeerCounter connections_{kMaxConnectionsPerPeer, kMaxConnections};
  PeerCounter heads_{kMaxHeadsPerPeer, kMaxHeads};
  PeerCounter page_peers_{kMaxPagesPerPeer, kMaxPages};
  GuessLimiter guesses_;
  std::list<std::unique_ptr<Page>> pages_;
  PageState state_;
  QTimer push_, countdown_;
  std::chrono::steady_clock::time_point last_push_{};
};

}  // namespace pts::remote
