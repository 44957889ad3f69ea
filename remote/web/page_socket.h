// A page's WebSocket after the gate's handshake: the client's frames read
// with ws::Decoder, so that what RFC 6455 forbids (an unmasked frame above
// all) closes the connection with the code it names. The little of
// QWebSocket's interface the server uses, under the same names.
#pragma once

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include "remote/web/ws_frames.h"

class QTcpSocket;

namespace pts::remote {

class PageSocket : public QObject {
  Q_OBJECT

 public:
  // Takes `socket`, whose handshake has been answered; what it has already
  // received is read at once.
  PageSocket(QTcpSocket* socket, size_t max_message, int close_timeout_ms,
             QObject* parent = nullptr);
  ~PageSocket() override;

  void sendTextMessage(const QString& text);
  // Sends the close frame and ends the connection once it is written.
  void close(int code, const QString& reason);
  void abort();
  QAbstractSocket::SocketState state() const;
  qint64 bytesToWrite() const;
  QHostAddress peerAddress() const;

 signals:
  void textMessageReceived(const QString& message);
  void binaryMessageReceived(const QByteArray& message);
  void disconnected();

 private:
  void Read();
  void Write(const std::string& frame);

  QTcpSocket* socket_;
  ws::Decoder decoder_;
  int close_timeout_ms_;
  bool closing_ = false;  // our close frame is sent
  bool gone_ = false;     // disconnected was emitted
};

}  // namespace pts::remote
