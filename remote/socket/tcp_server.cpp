#include "remote/socket/tcp_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "remote/transport/outbox.h"

namespace pts::remote {

namespace {
constexpr size_t kChunk = 64 * 1024;
}  // namespace

struct TcpServer::Client {
  explicit Client(TcpServer& server)
      : queue(server.runner_, [&server, this] {
          if (!dead) server.Serve(*this);
        }) {}
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() {
    if (instrument) instrument->Detach(session);
    delete readable;
    delete writable;
    if (fd >= 0) ::close(fd);
  }

  Instrument* instrument = nullptr;  // its session is attached to this one
  int fd = -1;
  std::string peer;  // its numeric address
  QSocketNotifier* readable = nullptr;
  QSocketNotifier* writable = nullptr;
  LineBuffer in{kMaxLine};
  bool eof = false;      // the client has sent all it will send
  bool drained = false;  // the last read took all there was; the notifier says when more comes
  Session session;
  CommandRunner::Queue queue;  // the commands of the message being run
  bool dead = false;
  Outbox out;  // answers not yet sent
};

TcpServer::TcpServer(Instrument& instrument, std::function<bool()> busy, QObject* parent)
    : QObject(parent), instrument_(instrument), runner_(instrument, std::move(busy)) {}

TcpServer::~TcpServer() {
  clients_.clear();
  delete listener_;
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool TcpServer::Listen(const std::string& address, uint16_t port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0) {
    *error = "no such address '" + address + "' (" + gai_strerror(rc) + ")";
    return false;
  }
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  bool ok = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
            ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 16) == 0;
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  char host[NI_MAXHOST], serv[NI_MAXSERV];
  ok = ok && ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0 &&
       getnameinfo(reinterpret_cast<sockaddr*>(&bound), len, host, sizeof host, serv, sizeof serv,
                   NI_NUMERICHOST | NI_NUMERICSERV) == 0;
  if (!ok) {
    *error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  listen_fd_ = fd;
  address_ = bound.ss_family == AF_INET6 ? "[" + std::string(host) + "]:" + serv
                                         : std::string(host) + ":" + serv;
  listener_ = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
  connect(listener_, &QSocketNotifier::activated, this, &TcpServer::Accept);
  StatusChanged();
  return true;
}

std::string TcpServer::Address() const {
  return address_;
}

int TcpServer::ClientCount() const {
  int n = 0;
  for (const auto& c : clients_) n += c->dead ? 0 : 1;
  return n;
}

std::string TcpServer::Status() const {
  const int n = ClientCount();
  return "Remote: " + Address() + ", " + std::to_string(n) + (n == 1 ? " client" : " clients");
}

void TcpServer::StatusChanged() {
  if (on_status_) on_status_(Status());
}

void TcpServer::Accept() {
  for (;;) {
    std::string peer;
    const int fd = AcceptWithPeer(listen_fd_, &peer);
    if (fd < 0) return;
    if (!peers_.Take(peer)) {
      ::close(fd);
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto client = std::make_unique<Client>(*this);
    Client* c = client.get();
    c->fd = fd;
    c->peer = peer;
    // MAV: answers queued and not yet handed to the socket, or the message's so far.
    c->session.OutputWaiting([c] { return !c->out.Empty() || c->queue.Answered(); });
    c->instrument = &instrument_;
    instrument_.Attach(c->session);
    c->readable = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    c->writable = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    c->writable->setEnabled(false);
    connect(c->readable, &QSocketNotifier::activated, this, [this, c] {
      if (!c->dead) Serve(*c);
    });
    connect(c->writable, &QSocketNotifier::activated, this, [this, c] {
      if (!c->dead) Send(*c);
    });
    clients_.push_back(std::move(client));
    StatusChanged();
  }
}

void TcpServer::Listening(Client& c, bool on) {
  if (c.readable->isEnabled() != on) c.readable->setEnabled(on);
}

// Takes the next complete line into *line; false when none has arrived yet.
bool TcpServer::NextLine(Client& c, std::string* line) {
  for (;;) {
    if (c.in.Next(line, c.session)) return true;
    if (c.eof || c.drained) return false;
    // Into a buffer of its own: growing the line buffer by a chunk would clear it every time.
    static char chunk[kChunk];
    const ssize_t got = ::recv(c.fd, chunk, kChunk, 0);
    if (got > 0) c.in.Append(chunk, static_cast<size_t>(got));
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      c.eof = true;  // a line it did not end is dropped
      return false;
    }
    if (got < 0) return false;
    c.drained = static_cast<size_t>(got) < kChunk;
  }
}

void TcpServer::Serve(Client& c) {
  c.drained = false;
  CommandRunner::Turn turn;
  std::string line;
  bool more = true;
  while (!c.dead) {
    if (!c.queue.Empty()) {
      if (runner_.Run(c.queue, c.session, &c.out.Buffer(), turn) != CommandRunner::Ran::Done) break;
      continue;
    }
    if (!NextLine(c, &line)) {
      more = false;
      break;
    }
    c.queue.Set(ParseMessage(line));
  }
  if (c.dead) return;
  // Its input waits while its commands do, or until its next turn.
  Listening(c, !more && !c.eof);
  Send(c);
}

void TcpServer::Send(Client& c) {
  if (!c.out.Flush(c.fd)) {
    Drop(c);  // gone
    return;
  }
  if (c.out.Unsent() > kMaxPending) {
    Drop(c);  // it does not read its answers
    return;
  }
  const bool unsent = !c.out.Empty();
  if (c.writable->isEnabled() != unsent) c.writable->setEnabled(unsent);
  // A client that has sent everything leaves once it is answered.
  if (c.eof && !unsent && c.queue.Idle()) Drop(c);
}

void TcpServer::Drop(Client& c) {
  if (c.dead) return;
  c.dead = true;
  peers_.Give(c.peer);
  c.readable->setEnabled(false);
  c.writable->setEnabled(false);
  QTimer::singleShot(0, this, [this] { Reap(); });
  StatusChanged();
}

void TcpServer::Reap() {
  // Never from inside the client's own notifier: Reap runs from timers only.
  clients_.remove_if([](const std::unique_ptr<Client>& c) { return c->dead; });
}

}  // namespace pts::remote
