#include "remote/web/page_socket.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <vector>

namespace pts::remote {

PageSocket::PageSocket(QTcpSocket* socket, size_t max_message, int close_timeout_ms,
                       QObject* parent)
    : QObject(parent), socket_(socket), decoder_(max_message), close_timeout_ms_(close_timeout_ms) {
  socket_->setParent(this);
  connect(socket_, &QTcpSocket::readyRead, this, &PageSocket::Read);
  connect(socket_, &QTcpSocket::disconnected, this, [this] {
    if (!gone_) {
      gone_ = true;
      emit disconnected();
    }
  });
  // Frames sent right behind the handshake; not before the owner connects.
  QTimer::singleShot(0, this, &PageSocket::Read);
}

PageSocket::~PageSocket() {
  socket_->disconnect(this);
  if (closing_ && socket_->state() != QAbstractSocket::UnconnectedState) {
    // Let the close frame go out: the socket ends on its own, by the
    // time-out at the latest.
    socket_->setParent(parent());
    connect(socket_, &QTcpSocket::disconnected, socket_, &QObject::deleteLater);
    QTimer::singleShot(close_timeout_ms_, socket_, &QObject::deleteLater);
  } else {
    socket_->abort();
  }
}

void PageSocket::Read() {
  const QByteArray bytes = socket_->readAll();
  if (bytes.isEmpty() || closing_) return;
  std::vector<ws::Event> events;
  decoder_.Feed(std::string_view(bytes.constData(), size_t(bytes.size())), &events);
  // A slot may close or delete this page: stop then.
  QPointer<PageSocket> self(this);
  for (ws::Event& e : events) {
    if (!self || closing_) return;
    switch (e.kind) {
      case ws::Event::kText:
        emit textMessageReceived(QString::fromUtf8(e.data.data(), qsizetype(e.data.size())));
        break;
      case ws::Event::kBinary:
        emit binaryMessageReceived(QByteArray(e.data.data(), qsizetype(e.data.size())));
        break;
      case ws::Event::kPing:
        Write(ws::Frame(ws::Op::kPong, e.data));
        break;
      case ws::Event::kPong:
        break;
      case ws::Event::kClose:
        // Answered with the same code (or none if it gave none), then gone.
        close(e.code == ws::kNoStatus ? 0 : e.code, QString());
        break;
      case ws::Event::kError:
        close(e.code, QString::fromStdString(e.data));
        break;
    }
  }
}

void PageSocket::Write(const std::string& frame) {
  socket_->write(frame.data(), qint64(frame.size()));
}

void PageSocket::sendTextMessage(const QString& text) {
  if (closing_) return;
  const QByteArray utf8 = text.toUtf8();
  Write(ws::Frame(ws::Op::kText, std::string_view(utf8.constData(), size_t(utf8.size()))));
}

void PageSocket::close(int code, const QString& reason) {
  if (closing_) return;
  closing_ = true;
  if (socket_->state() != QAbstractSocket::ConnectedState) return;
  const QByteArray why = reason.toUtf8();
  Write(code == 0 ? ws::Frame(ws::Op::kClose, {})
                  : ws::CloseFrame(uint16_t(code),
                                   std::string_view(why.constData(), size_t(why.size()))));
  socket_->disconnectFromHost();
  QTimer::singleShot(close_timeout_ms_, socket_, &QTcpSocket::abort);
}

void PageSocket::abort() {
  closing_ = true;
  socket_->abort();
}

QAbstractSocket::SocketState PageSocket::state() const {
  return closing_ ? QAbstractSocket::ClosingState : socket_->state();
}

qint64 PageSocket::bytesToWrite() const {
  return socket_->bytesToWrite();
}

QHostAddress PageSocket::peerAddress() const {
  return socket_->peerAddress();
}

}  // namespace pts::remote
