// The web server's guards: caps per peer address on connections, heads
// being sent and pages; the time-outs of heads and of idle connections; the
// WebSocket handshake's own checks; the limiter of wrong tokens.
#include "remote/web/web_guard.h"

#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

#include "remote/web/web_server.h"

namespace pts::remote {

bool WebServer::Welcome(QTcpSocket* socket) {
  const std::string peer = PeerOf(*socket);
  if (!connections_.Take(peer)) {
    // Past a cap nothing is read or answered: answering costs what the
    // flood is meant to cost.
    socket->abort();
    socket->deleteLater();
    return false;
  }
  // Whoever ends up owning the socket (the HTTP server, a page), its end
  // gives the place back.
  connect(socket, &QObject::destroyed, this, [this, peer] { connections_.Give(peer); });
  if (!heads_.Take(peer)) {
    socket->abort();
    socket->deleteLater();
    return false;
  }
  inspecting_.emplace(socket, peer);
  return true;
}

bool WebServer::StopInspecting(QTcpSocket* socket) {
  auto it = inspecting_.find(socket);
  if (it == inspecting_.end()) return false;
  heads_.Give(it->second);
  inspecting_.erase(it);
  return true;
}

void WebServer::Unhook(QTcpSocket* socket) {
  // The gate's own signals only: the guards' count of the socket stays
  // until it is destroyed.
  disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
  disconnect(socket, &QTcpSocket::disconnected, this, nullptr);
}

void WebServer::Answering(QTcpSocket* socket) {
  // An answer that is not read, no byte of it for kIdleMs, is given up.
  auto* idle = new QTimer(socket);
  idle->setSingleShot(true);
  idle->setInterval(kIdleMs);
  connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
  connect(socket, &QTcpSocket::bytesWritten, idle, qOverload<>(&QTimer::start));
  idle->start();
}

void WebServer::Answered(QTcpSocket* socket) {
  // Closed once all is written; the HTTP server deletes the socket when it
  // is gone. A request that came behind this one, in the same packets,
  // never passed the gate: it is not answered.
  socket->setProperty("pts-answered", true);
  socket->disconnectFromHost();
}

bool WebServer::Unanswered(QTcpSocket* socket) {
  return !socket->property("pts-answered").isValid();
}

int WebServer::HandshakeStatus(const HttpHead& head, QTcpSocket* socket, const char** reason,
                               const char** extra) {
  const struct {
    bool bad;
    int status;
    const char* reason;
    const char* extra;
  } checks[] = {
      {!HeaderHasToken(head.Header("upgrade"), "websocket"), 400, "no such upgrade", nullptr},
      {head.method != "GET", 405, "a WebSocket opens with GET", "Allow: GET"},
      {!hosts_->HostAllowed(head.Header("host")), 421, "unknown host", nullptr},
      {!hosts_->OriginAllowed(head.Header("origin")), 403, "foreign origin", nullptr},
      {head.target != "/ws", 404, "no such WebSocket", nullptr},
      {!HeaderHasToken(head.Header("connection"), "upgrade"), 400, "not an upgrade", nullptr},
      {head.Header("sec-websocket-version") != "13", 426, "WebSocket version 13 only",
       "Sec-WebSocket-Version: 13"},
      {!WebSocketKeyValid(head.Header("sec-websocket-key")), 400, "bad Sec-WebSocket-Key", nullptr},
      {PageCount() >= kMaxPages, 503, "too many pages open", nullptr},
  };
  for (const auto& c : checks) {
    if (c.bad) {
      *reason = c.reason, *extra = c.extra;
      return c.status;
    }
  }
  const std::string peer = PeerOf(*socket);
  if (!page_peers_.Take(peer)) {
    *reason = "too many pages open from this address";
    return 503;
  }
  connect(socket, &QObject::destroyed, this, [this, peer] { page_peers_.Give(peer); });
  return 0;
}

bool WebServer::Guess(const std::string& peer, const std::string& token) {
  // Looked at only when the address may guess (the caller has waited).
  const bool ok =
      guesses_.Wait(peer, GuessLimiter::Clock::now()).count() == 0 && TokensEqual(token, token_);
  if (ok) {
    guesses_.Right(peer);
  } else {
    WrongGuess(peer);
  }
  return ok;
}

void WebServer::WrongGuess(const std::string& peer) {
  if (!guesses_.Wrong(peer, GuessLimiter::Clock::now())) return;
  std::fprintf(stderr,
               "pts-panel: web page: %d wrong access tokens from %s; none taken from it for "
               "%lld s\n",
               guesses_.rules().burst, peer.c_str(),
               static_cast<long long>(guesses_.rules().lockout.count() / 1000));
}

}  // namespace pts::remote
