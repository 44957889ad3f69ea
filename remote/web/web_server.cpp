#include "remote/web/web_server.h"

#include <QAbstractHttpServer>
#include <QCryptographicHash>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocketProtocol>
#include <cctype>
#include <cstring>
#include <deque>

#include "panel/models.h"
#include "remote/web/markup.h"
#include "remote/web/page_socket.h"
#include "remote/web/web_guard.h"

namespace pts::remote {

namespace {

// Pushes to the pages are at least this far apart; a change after a quiet
// spell goes out on the next turn of the event loop.
constexpr auto kPushInterval = std::chrono::milliseconds(20);
constexpr int kMaxHead = 8 * 1024;
constexpr int kMaxBadTokens = 5;

QByteArray Resource(const char* name) {
  QFile f(QString::fromLatin1(":/pts-web/") + QString::fromLatin1(name));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char* StatusText(int status) {
  switch (status) {
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 426:
      return "Upgrade Required";
    case 421:
      return "Misdirected Request";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "OK";
  }
}

}  // namespace

// Reads the head of every new connection before anyone else does: a
// WebSocket handshake is checked and handed to the WebSocket server, any
// other request passed on to the HTTP server, both with the bytes unread.
class WebServer::Gate : public QTcpServer {
 public:
  explicit Gate(WebServer* owner, const QSslConfiguration* tls)
      : QTcpServer(owner), owner_(owner), tls_(tls) {}
  void Pass(QTcpSocket* socket) {
    addPendingConnection(socket);
    emit newConnection();
  }

 protected:
  void incomingConnection(qintptr fd) override {
    // Over TLS the head is read once decrypted; a client that speaks plain
    // HTTP fails the handshake and gets nothing.
    QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(fd)) {
      delete socket;
      return;
    }
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
      ssl->setSslConfiguration(*tls_);
      ssl->startServerEncryption();
    }
    owner_->Admit(socket);
  }

 private:
  WebServer* owner_;
  const QSslConfiguration* tls_;
};

class WebServer::Http : public QAbstractHttpServer {
 public:
  explicit Http(WebServer* owner) : QAbstractHttpServer(owner), owner_(owner) {}
  static QHttpServerResponder Responder(const QHttpServerRequest& r, QTcpSocket* s) {
    return makeResponder(r, s);
  }

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    owner_->Serve(request, socket);
    return true;
  }
  void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

 private:
  WebServer* owner_;
};

struct WebServer::Page {
  explicit Page(WebServer& server)
      : run(server.runner_, [&server, this] {
          if (!dead) server.Serve(*this);
        }) {}
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;
  PageSocket* socket = nullptr;
  Instrument* instrument = nullptr;
  std::string peer;  // its address, as the guards know it
  Session session;
  bool control = false;
  bool dead = false;
  int bad_tokens = 0;
  std::string guess;  // a token held until its address may guess again
  QTimer guess_timer;
  std::deque<std::pair<double, std::string>> queue;  // (id, message) not yet begun
  CommandRunner::Queue run;                          // the commands of the message being run
  double id = 0;
  bool running = false;  // a message is begun and not yet answered
  // The page's latest message that has run, and the one the last state push
  // to it included: the page keeps its own edits until a push includes them.
  double done = 0, acked = 0;
  std::string out;
  std::chrono::steady_clock::time_point second{};  // the rate counter's second
  int in_second = 0;
  ~Page() {
    if (instrument) instrument->Detach(session);
  }
};

WebServer::WebServer(MainForm& form, Instrument& instrument, std::function<bool()> busy,
                     std::string version, QObject* parent)
    : QObject(parent),
      form_(form),
      instrument_(instrument),
      runner_(instrument, std::move(busy)),
      version_(std::move(version)),
      state_(form) {
  push_.setTimerType(Qt::PreciseTimer);
  push_.setSingleShot(true);
  connect(&push_, &QTimer::timeout, this, &WebServer::Push);
  // The progress line's time left counts down between steps, as the window's does.
  countdown_.setInterval(1000);
  connect(&countdown_, &QTimer::timeout, this, &WebServer::Changed);
}

WebServer::~WebServer() {
  for (auto& p : pages_) {
    p->socket->disconnect(this);
    p->socket->abort();
    delete p->socket;
  }
  pages_.clear();
}

bool WebServer::Listen(const std::string& address, uint16_t port, std::string* error) {
  QHostAddress host;
  if (address == "localhost") {
    host = QHostAddress(QHostAddress::LocalHost);
  } else if (!host.setAddress(QString::fromStdString(address))) {
    *error = "no such address '" + address + "' (give a numeric address)";
    return false;
  }
  gate_ = new Gate(this, tls_ ? &tls_config_ : nullptr);
  if (!gate_->listen(host, port)) {
    *error = gate_->errorString().toStdString();
    return false;
  }
  const uint16_t real = gate_->serverPort();
  const std::string shown = host.toString().toStdString();
  address_ = host.protocol() == QAbstractSocket::IPv6Protocol ? "[" + shown + "]:" : shown + ":";
  address_ += std::to_string(real);
  loopback_ = host.isLoopback();
  listen_host_ = host;
  // The names this server is reached by: its address; on loopback the
  // usual loopback names; on every address the machine's own.
  std::vector<std::string> names{shown, "localhost", "127.0.0.1", "::1"};
  if (!loopback_) {
    const std::string me = QHostInfo::localHostName().toStdString();
    names.insert(names.end(), {me, me + ".local"});
    if (host == QHostAddress::AnyIPv4 || host == QHostAddress::AnyIPv6 ||
        host == QHostAddress::Any) {
      for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        QHostAddress plain = a;
        plain.setScopeId(QString());
        names.push_back(plain.toString().toStdString());
      }
    }
  }
  hosts_ = std::make_unique<HostPolicy>(names, real, tls_);
  http_ = new Http(this);
  http_->bind(gate_);
  return true;
}

std::string WebServer::Address() const {
  return address_;
}

void WebServer::AddInterface(std::string name, std::string host, std::string suffix) {
  fronts_.push_back({std::move(name), std::move(host), std::move(suffix)});
}

int WebServer::PageCount() const {
  int n = 0;
  for (const auto& p : pages_) n += p->dead ? 0 : 1;
  return n;
}

// ---- The gate ----

void WebServer::Admit(QTcpSocket* socket) {
  if (!Welcome(socket)) return;
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Inspect(socket); });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
    if (StopInspecting(socket)) socket->deleteLater();
  });
  QTimer::singleShot(kHeadTimeoutMs, socket, [this, socket] {
    if (StopInspecting(socket)) {
      socket->abort();
      socket->deleteLater();
    }
  });
  Inspect(socket);
}

void WebServer::Inspect(QTcpSocket* socket) {
  if (!inspecting_.count(socket) || socket->bytesAvailable() == 0) return;
  const QByteArray bytes = socket->peek(kMaxHead);
  HttpHead head;
  bool complete = false;
  const bool ok =
      ParseHead(std::string_view(bytes.constData(), size_t(bytes.size())), &head, &complete);
  if (!complete) {
    if (bytes.size() >= kMaxHead) Refuse(socket, 431, "request head too large");
    return;
  }
  if (!ok) return Refuse(socket, 400, "not an HTTP request");
  if (const int status = hosts_->TargetStatus(head.target); status != 0) {
    return Refuse(socket, status, status == 421 ? "unknown host" : "bad request target");
  }
  if (head.Header("upgrade").empty()) {
    Unhook(socket);
    StopInspecting(socket);
    Answering(socket);
    gate_->Pass(socket);
    emit socket->readyRead();  // the head is buffered already
    return;
  }
  const char* extra = nullptr;
  const char* reason = nullptr;
  if (const int status = HandshakeStatus(head, socket, &reason, &extra); status != 0) {
    return Refuse(socket, status, reason, extra);
  }
  Unhook(socket);
  StopInspecting(socket);
  // The handshake's answer; the head is read off, anything behind it is the
  // page's first frames.
  const QByteArray accept =
      QCryptographicHash::hash(QByteArray::fromStdString(head.Header("sec-websocket-key")) +
                                   "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                               QCryptographicHash::Sha1)
          .toBase64();
  socket->read(bytes.indexOf("\r\n\r\n") + 4);
  socket->write(
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Accept: " +
      accept + "\r\n\r\n");
  AcceptPage(new PageSocket(socket, kMaxMessage, kHeadTimeoutMs, this));
}

void WebServer::Refuse(QTcpSocket* socket, int status, const char* reason, const char* extra) {
  // Repeated calls would come from a socket already being refused.
  Unhook(socket);
  StopInspecting(socket);
  const std::string body = std::string(reason) + "\n";
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
                    "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\nConnection: close\r\n";
  if (extra) out += std::string(extra) + "\r\n";
  for (const auto& [k, v] : SecurityHeaders({})) out += k + ": " + v + "\r\n";
  out += "\r\n" + body;
  socket->write(out.data(), qint64(out.size()));
  connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  socket->disconnectFromHost();
  QTimer::singleShot(kHeadTimeoutMs, socket, [socket] { socket->abort(); });
}

// ---- Plain HTTP ----

std::vector<std::pair<std::string, std::string>> WebServer::SecurityHeaders(
    const std::string& host) const {
  // 'self' does not cover ws: everywhere: the page's own WebSocket is named.
  std::string csp =
      "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
      "connect-src 'self'";
  if (!host.empty()) csp += (tls_ ? " wss://" : " ws://") + host;
  csp += "; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";
  return {{"Content-Security-Policy", csp},
          {"X-Content-Type-Options", "nosniff"},
          {"Referrer-Policy", "no-referrer"},
          {"X-Frame-Options", "DENY"},
          {"Cache-Control", "no-store"}};
}

void WebServer::Serve(const QHttpServerRequest& request, QTcpSocket* socket) {
  if (!Unanswered(socket)) return;  // a request sent behind the first: not read
  const std::string host = request.value("host").toStdString();
  int status = 200;
  QByteArray body, type = "text/plain; charset=utf-8";
  const QString path = request.url().path();
  const bool head = request.method() == QHttpServerRequest::Method::Head;
  if (!hosts_->HostAllowed(host)) {
    status = 421;
  } else if (request.method() != QHttpServerRequest::Method::Get && !head) {
    status = 405;
  } else if (path == QLatin1String("/")) {
    body = QByteArray::fromStdString(IndexPage(host, socket->localAddress()));
    type = "text/html; charset=utf-8";
  } else if (path == QLatin1String("/lxi/identification")) {
    body = QByteArray::fromStdString(Identification(host, socket->localAddress()));
    type = "text/xml; charset=utf-8";
  } else if (path == QLatin1String("/panel.js")) {
    body = Resource("panel.js");
    type = "text/javascript; charset=utf-8";
  } else if (path == QLatin1String("/panel.css")) {
    body = Resource("panel.css");
    type = "text/css; charset=utf-8";
  } else if (path == QLatin1String("/favicon.ico")) {
    status = 204;  // none, and no error in the browser's console for it
  } else {
    status = 404;
  }
  if (status != 200 && status != 204) body = QByteArray(StatusText(status)) + "\n";
  QHttpServerResponder responder = Http::Responder(request, socket);
  responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(status));
  responder.writeHeader("Content-Type", type);
  responder.writeHeader("Content-Length", QByteArray::number(body.size()));
  // One request per connection: only the first head is read by the gate
  // (the HTTP server takes the Host header over an absolute target's host),
  // and no connection is left idle. A page is three small requests.
  responder.writeHeader("Connection", "close");
  for (const auto& [k, v] : SecurityHeaders(status == 421 ? std::string() : host)) {
    responder.writeHeader(QByteArray::fromStdString(k), QByteArray::fromStdString(v));
  }
  responder.writeBody(head ? QByteArray() : body);
  Answered(socket);
}

// The ways in as a client on the page's side can open them: through the
// address the page came in on, or where a front end listens on one address
// only, that one.
std::string WebServer::IndexPage(const std::string& host, const QHostAddress& local) const {
  std::string page = Resource("index.html").toStdString();
  std::string ways;
  const QHostAddress reached = Plain(IsWildcard(listen_host_) ? local : listen_host_);
  for (const FrontEnd& f : fronts_) {
    std::string resource = ResourceOn(f, reached);
    if (resource.empty()) resource = ResourceOn(f, QHostAddress(QString::fromStdString(f.host)));
    ways +=
        "<dt>" + MarkupEscape(f.name) + "</dt><dd><code>" + MarkupEscape(resource) + "</code></dd>";
  }
  const std::string scheme = tls_ ? "https://" : "http://";
  ways += "<dt>Web page</dt><dd><code>" + scheme + MarkupEscape(host) + "/</code></dd>";
  const std::string control = need_token_ ? "needs the access token"
                              : loopback_ ? "allowed from this machine"
                                          : "none: this page only shows the panel";
  const std::string model = ModelDisplayName(form_.ModelNum, "none");
  const std::pair<const char*, std::string> fields[] = {
      {"{{model}}", model},      {"{{boards}}", std::to_string(form_.Devices.size())},
      {"{{version}}", version_}, {"{{host}}", QHostInfo::localHostName().toStdString()},
      {"{{control}}", control},  {"{{token}}", need_token_ ? "" : " hidden"},
  };
  for (const auto& [key, value] : fields) {
    for (size_t at = page.find(key); at != std::string::npos; at = page.find(key, at)) {
      const std::string v = MarkupEscape(value);
      page.replace(at, std::strlen(key), v);
      at += v.size();
    }
  }
  if (const size_t at = page.find("{{ways}}"); at != std::string::npos) page.replace(at, 8, ways);
  return page;
}

std::string WebServer::Identification(const std::string& host, const QHostAddress& local) const {
  Identity id;
  id.manufacturer = "pts-panel";  // the fields of *IDN?
  id.model = ModelScpiName(form_.ModelNum, "PTS");
  id.serial = std::to_string(form_.Devices.size());
  id.firmware = version_;
  id.description = "Front panel of a " + ModelDisplayName(form_.ModelNum, "PTS") +
                   " frequency synthesizer (USB interface board)";
  id.hostname = QHostInfo::localHostName().toStdString();
  id.identification_url = (tls_ ? "https://" : "http://") + host + "/lxi/identification";
  return IdentificationXml(id, ReachableAddresses(listen_host_, local), fronts_);
}

// ---- Pages ----

void WebServer::AcceptPage(PageSocket* socket) {
  auto page = std::make_unique<Page>(*this);
  Page* p = page.get();
  p->socket = socket;
  p->instrument = &instrument_;
  p->peer = PeerOf(*socket);
  p->control = !need_token_ && loopback_;
  p->session.PanelClient(true);
  instrument_.Attach(p->session);
  connect(socket, &PageSocket::textMessageReceived, this, [this, p](const QString& m) {
    if (!p->dead) Received(*p, m);
  });
  // The held token, once the wait is over (another page of the address may
  // have made it longer meanwhile: it is held again then).
  connect(&p->guess_timer, &QTimer::timeout, this, [this, p] {
    if (!p->dead) Token(*p, std::exchange(p->guess, {}));
  });
  connect(socket, &PageSocket::binaryMessageReceived, this, [this, p] {
    if (!p->dead) Close(*p, QWebSocketProtocol::CloseCodeDatatypeNotSupported, "text only");
  });
  connect(socket, &PageSocket::disconnected, this, [this, p] {
    if (!p->dead) Close(*p, QWebSocketProtocol::CloseCodeNormal, "");
  });
  pages_.push_back(std::move(page));
  SendTo(*p, std::string("{\"t\":\"hello\",\"control\":") + (p->control ? "true" : "false") +
                 ",\"token\":" + (need_token_ ? "true" : "false") +
                 ",\"possible\":" + (ControlPossible() ? "true" : "false") + "}");
  // What the others have already seen, then everything as it stands.
  if (const std::string changes = state_.Changes(); !changes.empty()) {
    for (auto& other : pages_) {
      if (other.get() != p && !other->dead) SendTo(*other, changes);
    }
  }
  if (!p->dead) SendTo(*p, state_.Full());
}

void WebServer::Received(Page& p, const QString& message) {
  const auto now = std::chrono::steady_clock::now();
  if (now - p.second >= std::chrono::seconds(1)) {
    p.second = now;
    p.in_second = 0;
  }
  if (++p.in_second > kMaxRate)
    return Close(p, QWebSocketProtocol::CloseCodePolicyViolated, "flood");
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(message.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) {
    return Close(p, QWebSocketProtocol::CloseCodeProtocolError, "not JSON");
  }
  const QJsonObject o = doc.object();
  if (o.contains(QLatin1String("token"))) {
    const QJsonValue t = o.value(QLatin1String("token"));
    if (!t.isString()) return Close(p, QWebSocketProtocol::CloseCodeProtocolError, "bad token");
    return Token(p, t.toString().toStdString());
  }
  const QJsonValue scpi = o.value(QLatin1String("scpi"));
  const QJsonValue id = o.value(QLatin1String("id"));
  if (!scpi.isString() || !id.isDouble()) {
    return Close(p, QWebSocketProtocol::CloseCodeProtocolError, "unknown message");
  }
  if (!p.control) {
    SendTo(p,
           "{\"t\":\"reply\",\"id\":" + std::to_string(int64_t(id.toDouble())) +
               ",\"out\":\"\",\"alerts\":[\"This page only shows the panel: it has no control\"]}");
    return;
  }
  if (int(p.queue.size()) >= kMaxQueued) {
    return Close(p, QWebSocketProtocol::CloseCodePolicyViolated, "too many waiting");
  }
  p.queue.emplace_back(id.toDouble(), scpi.toString().toStdString());
  if (!p.running) Serve(p);
}

// A token from a page: looked at now, or held while its address waits after
// a wrong one, so that someone who mistyped is not refused for being quick.
// Only one is held per page; a longer wait, or another token while one is
// held, is a wrong guess, unread.
void WebServer::Token(Page& p, std::string token) {
  bool ok = false;
  if (need_token_) {
    const auto wait = guesses_.Wait(p.peer, GuessLimiter::Clock::now());
    if (p.guess_timer.isActive() || wait > kMaxTokenHold) {
      WrongGuess(p.peer);
    } else if (wait.count() > 0) {
      p.guess = std::move(token);
      p.guess_timer.setSingleShot(true);
      p.guess_timer.start(wait);
      return;
    } else {
      ok = Guess(p.peer, token);
    }
  }
  if (ok) p.control = true;
  if (!ok && need_token_ && ++p.bad_tokens >= kMaxBadTokens) {
    return Close(p, QWebSocketProtocol::CloseCodePolicyViolated, "wrong token");
  }
  SendTo(p, std::string("{\"t\":\"auth\",\"ok\":") + (ok ? "true" : "false") +
                ",\"control\":" + (p.control ? "true" : "false") + "}");
}

void WebServer::Serve(Page& p) {
  CommandRunner::Turn turn;
  while (!p.dead) {
    if (!p.run.Empty()) {
      if (runner_.Run(p.run, p.session, &p.out, turn) != CommandRunner::Ran::Done) return;
      continue;
    }
    if (p.running) Finish(p);
    if (p.queue.empty() || p.dead) return;
    p.id = p.queue.front().first;
    p.run.Set(ParseMessage(p.queue.front().second));
    p.queue.pop_front();
    p.running = true;
  }
}

// The message's answers, and what the panel would have shown in a box.
void WebServer::Finish(Page& p) {
  std::string alerts;
  while (p.session.Count() > 0) {
    if (!alerts.empty()) alerts += ',';
    alerts += JsonString(p.session.PopText());
  }
  std::string id = QString::number(p.id, 'g', 17).toStdString();
  SendTo(p, "{\"t\":\"reply\",\"id\":" + id + ",\"out\":" + JsonString(p.out) + ",\"alerts\":[" +
                alerts + "]}");
  p.out.clear();
  p.running = false;
  p.done = p.id;
  Changed();  // even when nothing changed, the page learns that its edit has run
}

void WebServer::SendTo(Page& p, const std::string& frame) {
  if (p.dead) return;
  p.socket->sendTextMessage(QString::fromUtf8(frame.data(), qsizetype(frame.size())));
  if (p.socket->bytesToWrite() > kMaxBacklog) {
    Close(p, QWebSocketProtocol::CloseCodePolicyViolated, "not reading");
  }
}

void WebServer::Close(Page& p, int code, const char* reason) {
  if (p.dead) return;
  p.dead = true;
  p.socket->disconnect(this);
  if (p.socket->state() == QAbstractSocket::ConnectedState) {
    p.socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), QString::fromUtf8(reason));
  }
  QTimer::singleShot(0, this, [this] { Reap(); });
}

void WebServer::Reap() {
  // Never from inside a page's own signal: Reap runs from timers only.
  pages_.remove_if([](const std::unique_ptr<Page>& p) {
    if (!p->dead) return false;
    p->socket->deleteLater();
    return true;
  });
}

// ---- Pushing the state ----

void WebServer::Changed() {
  if (pages_.empty() || push_.isActive()) return;
  const auto since = std::chrono::steady_clock::now() - last_push_;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(kPushInterval - since);
  push_.start(int(std::max<int64_t>(0, wait.count())));
}

void WebServer::Push() {
  last_push_ = std::chrono::steady_clock::now();
  const std::string frame = state_.Changes();
  if (state_.Counting() != countdown_.isActive()) {
    if (state_.Counting()) {
      countdown_.start();
    } else {
      countdown_.stop();
    }
  }
  // Every page gets the same parts, each with its own acknowledgement.
  const std::string parts = frame.empty() ? "{\"t\":\"state\",\"full\":false,\"parts\":{}}" : frame;
  for (auto& p : pages_) {
    if (frame.empty() && p->done == p->acked) continue;
    p->acked = p->done;
    SendTo(*p, parts.substr(0, parts.size() - 1) +
                   ",\"ack\":" + QString::number(p->done, 'g', 17).toStdString() + "}");
  }
}

}  // namespace pts::remote
