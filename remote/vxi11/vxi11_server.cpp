#include "remote/vxi11/vxi11_server.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "remote/transport/outbox.h"
#include "remote/transport/peer_guard.h"

namespace pts::remote::vxi11 {

namespace {

constexpr size_t kChunk = 64 * 1024;
// A core call carries at most a write of maxRecvSize, and its header; an
// abort call a link id.
constexpr size_t kMaxCoreRecord = Device::kMaxRecvSize + 4096;
constexpr size_t kMaxAbortRecord = 1024;
// Replies the client has not taken before its next call is read.
constexpr size_t kMaxUnsent = 2 * Device::kMaxOutput;

}  // namespace

struct Vxi11Server::Connection {
  Connection(uint64_t connection_id, const Channel& ch)
      : id(connection_id), channel(&ch), reader(ch.max_record) {}
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    delete readable;
    delete writable;
    if (fd >= 0) ::close(fd);
  }
  size_t Unsent() const { return out.Unsent(); }

  uint64_t id;
  const Channel* channel;
  std::string peer;  // numeric address of the client
  int fd = -1;
  QSocketNotifier* readable = nullptr;
  QSocketNotifier* writable = nullptr;
  RecordReader reader;
  bool outstanding = false;  // a call waits for its answer
  bool dead = false;
  Outbox out;  // replies not yet sent
};

Vxi11Server::Vxi11Server(Instrument& instrument, std::function<bool()> busy, QObject* parent)
    : QObject(parent),
      device_(instrument, std::move(busy),
              [this](uint64_t id, std::string record) { Reply(id, std::move(record)); }) {
  channels_[1].abort = true;
  channels_[0].max_record = kMaxCoreRecord;
  channels_[1].max_record = kMaxAbortRecord;
}

Vxi11Server::~Vxi11Server() {
  registration_.reset();  // before the ports close: rpcbind must not hand out dead ones
  connections_.clear();
  for (Channel& ch : channels_) {
    delete ch.listener;
    if (ch.fd >= 0) ::close(ch.fd);
  }
}

bool Vxi11Server::Listen(const std::string& address, std::string* error) {
  if (!Open(channels_[0], address, error) || !Open(channels_[1], address, error)) return false;
  device_.AbortPort(channels_[1].port);
  char host[NI_MAXHOST];
  const auto& a = channels_[0].address;
  const socklen_t len = a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&a), len, host, sizeof host, nullptr, 0,
                  NI_NUMERICHOST) != 0) {
    *error = "cannot name the address";
    return false;
  }
  host_ = host;
  return true;
}

bool Vxi11Server::Open(Channel& ch, const std::string& address, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(address.c_str(), "0", &hints, &found); rc != 0) {
    *error = "no such address '" + address + "' (" + gai_strerror(rc) + ")";
    return false;
  }
  const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  bool ok = fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 16) == 0;
  freeaddrinfo(found);
  socklen_t len = sizeof ch.address;
  ok = ok && ::getsockname(fd, reinterpret_cast<sockaddr*>(&ch.address), &len) == 0;
  if (!ok) {
    *error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ch.fd = fd;
  const auto& a = ch.address;
  ch.port = ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(a).sin6_port
                                          : reinterpret_cast<const sockaddr_in&>(a).sin_port);
  ch.listener = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
  connect(ch.listener, &QSocketNotifier::activated, this, [this, &ch] { Accept(ch); });
  return true;
}

bool Vxi11Server::Register(std::string* error) {
  auto r = std::make_unique<Registration>();
  for (const Channel& ch : channels_) {
    const uint32_t prog = ch.abort ? kAbortProgram : kCoreProgram;
    if (!r->Add(prog, 1, ch.address, error)) return false;
    // "::" takes IPv4 clients too (unless the system says IPv6 only): they ask
    // rpcbind for "tcp", not "tcp6".
    const auto& a6 = reinterpret_cast<const sockaddr_in6&>(ch.address);
    int v6only = 1;
    socklen_t len = sizeof v6only;
    if (ch.address.ss_family == AF_INET6 && IN6_IS_ADDR_UNSPECIFIED(&a6.sin6_addr) &&
        ::getsockopt(ch.fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, &len) == 0 && !v6only) {
      sockaddr_storage any{};
      auto& a4 = reinterpret_cast<sockaddr_in&>(any);
      a4.sin_family = AF_INET;
      a4.sin_port = a6.sin6_port;
      a4.sin_addr.s_addr = htonl(INADDR_ANY);
      if (!r->Add(prog, 1, any, error)) return false;
    }
  }
  registration_ = std::move(r);
  return true;
}

std::string Vxi11Server::Description() const {
  return "vxi11 on " + host_ + " (core " + std::to_string(CorePort()) + ", abort " +
         std::to_string(AbortPort()) + ")";
}

Vxi11Server::Connection* Vxi11Server::Find(uint64_t id) {
  for (auto& c : connections_) {
    if (c->id == id && !c->dead) return c.get();
  }
  return nullptr;
}

void Vxi11Server::Accept(Channel& ch) {
  for (;;) {
    std::string peer;
    const int fd = AcceptWithPeer(ch.fd, &peer);
    if (fd < 0) return;
    int open = 0;
    Connection* idle = nullptr;  // the oldest without a link or a call
    for (auto& c : connections_) {
      if (c->dead || c->channel != &ch) continue;
      ++open;
      if (!idle && !c->outstanding && !device_.HasLinks(c->id)) idle = c.get();
    }
    if (open >= kMaxConnections) {
      if (!idle) {
        ::close(fd);
        continue;
      }
      Drop(*idle);
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto conn = std::make_unique<Connection>(next_id_++, ch);
    Connection* c = conn.get();
    c->fd = fd;
    c->peer = peer;
    c->readable = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    c->writable = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    c->writable->setEnabled(false);
    connect(c->readable, &QSocketNotifier::activated, this, [this, c] {
      if (!c->dead) Readable(*c);
    });
    connect(c->writable, &QSocketNotifier::activated, this, [this, c] {
      if (c->dead) return;
      Send(*c);
      // Replies taken: its next calls may be read again.
      if (!c->dead && !c->readable->isEnabled() && !c->outstanding) Process(*c);
    });
    connections_.push_back(std::move(conn));
  }
}

void Vxi11Server::Readable(Connection& c) {
  // Into a buffer of its own; the reader keeps only what makes a record.
  static char chunk[kChunk];
  const ssize_t got = ::recv(c.fd, chunk, kChunk, 0);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    Drop(c);  // gone: so are its links
    return;
  }
  if (got > 0) c.reader.Feed(chunk, static_cast<size_t>(got));
  Process(c);
}

// Takes the calls received, one at a time; stops reading while one waits.
void Vxi11Server::Process(Connection& c) {
  std::string record;
  while (!c.dead && !c.outstanding && c.Unsent() <= kMaxUnsent) {
    const RecordReader::Got got = c.reader.Next(&record);
    if (got == RecordReader::Got::None) break;
    Dispatch(c, record, got == RecordReader::Got::Oversized);
  }
  if (c.dead) return;
  const bool listen = !c.outstanding && c.Unsent() <= kMaxUnsent;
  if (c.readable->isEnabled() != listen) c.readable->setEnabled(listen);
}

void Vxi11Server::Dispatch(Connection& c, const std::string& record, bool oversized) {
  CallHeader call;
  switch (DecodeCall(record, &call)) {
    case Header::Garbage:
      Drop(c);  // no call, nothing to answer: the stream cannot be trusted further
      return;
    case Header::RpcMismatch:
      Reply(c.id, MismatchReply(call.xid));
      return;
    case Header::Call:
      break;
  }
  if (call.prog != (c.channel->abort ? kAbortProgram : kCoreProgram)) {
    Reply(c.id, ErrorReply(call.xid, kProgUnavail));
    return;
  }
  if (call.vers != 1) {
    Reply(c.id, ErrorReply(call.xid, kProgMismatch));
    return;
  }
  c.outstanding = true;
  dispatching_ = &c;
  if (c.channel->abort) {
    device_.Abort(c.id, c.peer, call, record, oversized);
  } else {
    device_.Core(c.id, c.peer, call, record, oversized);
  }
  dispatching_ = nullptr;
}

void Vxi11Server::Reply(uint64_t id, std::string record) {
  Connection* c = Find(id);
  if (!c) return;  // gone meanwhile
  const bool resume = c->outstanding && c != dispatching_;
  c->outstanding = false;
  c->out.Append(record);
  Send(*c);
  // A deferred answer: the calls received meanwhile are taken on the next turn.
  if (resume && !c->dead) {
    QTimer::singleShot(0, this, [this, id] {
      if (Connection* again = Find(id); again && !again->outstanding) Process(*again);
    });
  }
}

void Vxi11Server::Send(Connection& c) {
  if (!c.out.Flush(c.fd)) {
    Drop(c);
    return;
  }
  const bool unsent = !c.out.Empty();
  if (c.writable->isEnabled() != unsent) c.writable->setEnabled(unsent);
}

void Vxi11Server::Drop(Connection& c) {
  if (c.dead) return;
  c.dead = true;
  c.readable->setEnabled(false);
  c.writable->setEnabled(false);
  device_.Dropped(c.id);
  QTimer::singleShot(0, this, [this] { Reap(); });
}

void Vxi11Server::Reap() {
  // Never from inside the connection's own notifier: Reap runs from timers only.
  connections_.remove_if([](const std::unique_ptr<Connection>& c) { return c->dead; });
}

}  // namespace pts::remote::vxi11
