#include "remote/tcp_server.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>

namespace pts::remote {

namespace {
// One client's turn ends after this much work (checked every few commands);
// the rest of its input is served on a later turn of the event loop.
constexpr auto kTurn = std::chrono::microseconds(500);
// Qt reads no further ahead than this while a client's commands wait.
constexpr qint64 kReadAhead = 256 * 1024;
}  // namespace

struct TcpServer::Client {
  QTcpSocket* socket = nullptr;
  std::string in;         // received bytes; lines are taken from `head` on
  size_t head = 0;        // start of the line not yet taken
  size_t scan = 0;        // no LF before this offset
  bool overlong = false;  // dropping a line above kMaxLine up to its LF
  Session session;
  std::vector<Command> pending;  // the commands of the message being run
  size_t next = 0;
  bool waiting = false;    // pending[next] waits for a handler or a single sweep
  bool scheduled = false;  // to be served on the next turn
  bool dead = false;
  std::string out;
};

TcpServer::TcpServer(Instrument& instrument, std::function<bool()> busy, QObject* parent)
    : QObject(parent), instrument_(instrument), busy_(std::move(busy)) {
  poll_.setTimerType(Qt::PreciseTimer);
  poll_.setInterval(1);
  connect(&poll_, &QTimer::timeout, this, &TcpServer::Poll);
}

TcpServer::~TcpServer() {
  for (auto& c : clients_) {
    c->socket->disconnect(this);
    c->socket->abort();
    delete c->socket;
  }
}

bool TcpServer::Listen(const std::string& address, uint16_t port, std::string* error) {
  QHostAddress addr;
  if (!addr.setAddress(QString::fromStdString(address))) {
    const QHostInfo info = QHostInfo::fromName(QString::fromStdString(address));
    if (info.addresses().isEmpty()) {
      *error = "no such address '" + address + "'";
      return false;
    }
    addr = info.addresses().constFirst();
  }
  server_ = new QTcpServer(this);
  if (!server_->listen(addr, port)) {
    *error = server_->errorString().toStdString();
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QTcpServer::newConnection, this, &TcpServer::Accept);
  StatusChanged();
  return true;
}

std::string TcpServer::Address() const {
  if (!server_) return {};
  const QHostAddress a = server_->serverAddress();
  QString host = a.toString();
  if (a.protocol() == QAbstractSocket::IPv6Protocol)
    host = QLatin1Char('[') + host + QLatin1Char(']');
  return host.toStdString() + ":" + std::to_string(server_->serverPort());
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
  while (QTcpSocket* s = server_->nextPendingConnection()) {
    if (ClientCount() >= kMaxClients) {
      s->close();
      s->deleteLater();
      continue;
    }
    auto client = std::make_unique<Client>();
    Client* c = client.get();
    c->socket = s;
    s->setReadBufferSize(kReadAhead);
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(s, &QTcpSocket::readyRead, this, [this, c] {
      if (!c->dead && !c->waiting && !c->scheduled) Serve(*c);
    });
    connect(s, &QTcpSocket::disconnected, this, [this, c] {
      if (c->dead) return;
      // What came complete before the close still runs; no one reads the answers.
      if (!c->waiting) Serve(*c);
      Drop(*c);
    });
    clients_.push_back(std::move(client));
    StatusChanged();
  }
}

// Takes the next complete line into *line; false when none has arrived yet.
static bool NextLine(QTcpSocket* socket, std::string& in, size_t& head, size_t& scan,
                     bool& overlong, Session& session, std::string* line) {
  for (;;) {
    const size_t lf = in.find('\n', scan);
    if (lf != std::string::npos) {
      const size_t start = head;
      head = scan = lf + 1;
      if (overlong) {
        overlong = false;
        session.Push(kTooMuchData);
        continue;
      }
      if (lf - start > TcpServer::kMaxLine) {
        session.Push(kTooMuchData);
        continue;
      }
      size_t end = lf;
      if (end > start && in[end - 1] == '\r') --end;
      line->assign(in, start, end - start);
      return true;
    }
    // Nothing complete: keep only the partial line, or drop it when it is too long.
    in.erase(0, head);
    head = 0;
    scan = in.size();
    if (in.size() > TcpServer::kMaxLine) {
      overlong = true;
      in.clear();
      scan = 0;
    }
    const qint64 available = socket->bytesAvailable();
    if (available <= 0) return false;
    const size_t old = in.size();
    in.resize(old + static_cast<size_t>(available));
    const qint64 got = socket->read(in.data() + old, available);
    in.resize(old + static_cast<size_t>(got > 0 ? got : 0));
    if (got <= 0) return false;
  }
}

void TcpServer::Serve(Client& c) {
  const auto start = std::chrono::steady_clock::now();
  int done = 0;
  std::string line;
  while (!c.dead) {
    if (c.next < c.pending.size()) {
      if (busy_() || !instrument_.Execute(c.pending[c.next], c.session, &c.out)) {
        c.waiting = true;
        if (!poll_.isActive()) poll_.start();
        break;
      }
      c.waiting = false;
      if (++c.next == c.pending.size()) {
        c.pending.clear();
        c.next = 0;
      }
      if (++done % 16 == 0 && std::chrono::steady_clock::now() - start > kTurn) {
        Later(c);
        break;
      }
      continue;
    }
    c.waiting = false;
    if (!NextLine(c.socket, c.in, c.head, c.scan, c.overlong, c.session, &line)) break;
    c.pending = ParseMessage(line);
    c.next = 0;
  }
  if (c.dead || c.out.empty()) return;
  c.socket->write(c.out.data(), static_cast<qint64>(c.out.size()));
  c.out.clear();
  if (c.socket->bytesToWrite() > kMaxPending) {
    Drop(c);  // it does not read its answers
    return;
  }
  c.socket->flush();
}

void TcpServer::Later(Client& c) {
  if (c.scheduled) return;
  c.scheduled = true;
  QTimer::singleShot(0, this, [this] {
    for (auto& client : clients_) {
      if (client->scheduled && !client->dead) {
        client->scheduled = false;
        Serve(*client);
      }
    }
    Reap();
  });
}

void TcpServer::Poll() {
  bool any = false;
  for (auto& c : clients_) {
    if (c->waiting && !c->dead) {
      Serve(*c);
      any = any || c->waiting;
    }
  }
  if (!any) poll_.stop();
  Reap();
}

void TcpServer::Drop(Client& c) {
  if (c.dead) return;
  c.dead = true;
  c.socket->disconnect(this);
  c.socket->abort();
  QTimer::singleShot(0, this, [this] { Reap(); });
  StatusChanged();
}

void TcpServer::Reap() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if ((*it)->dead) {
      (*it)->socket->deleteLater();
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace pts::remote
