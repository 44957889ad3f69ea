#include "remote/web/web_tls.h"

#include <QEventLoop>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

#include "remote/transport/private_file.h"

namespace pts::remote {

namespace {

// The key in whichever algorithm the PEM holds.
QSslKey ReadKey(const QByteArray& pem) {
  for (QSsl::KeyAlgorithm a : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa, QSsl::Dh}) {
    QSslKey key(pem, a, QSsl::Pem, QSsl::PrivateKey);
    if (!key.isNull()) return key;
  }
  return {};
}

// A loopback handshake with the configuration: the TLS library checks the
// key against the certificate only when a connection uses them.
bool SelfHandshake(const QSslConfiguration& config, std::string* error) {
  QSslServer listener;
  listener.setSslConfiguration(config);
  if (!listener.listen(QHostAddress::LocalHost, 0)) {
    *error = "cannot check the certificate: " + listener.errorString().toStdString();
    return false;
  }
  QSslSocket client;
  QEventLoop loop;
  bool done = false, ok = false;
  const auto finish = [&](bool result, const QString& why) {
    if (done) return;
    done = true;
    ok = result;
    if (!result) *error = why.toStdString();
    loop.quit();
  };
  QObject::connect(&listener, &QSslServer::pendingConnectionAvailable, &loop,
                   [&] { finish(true, {}); });
  QObject::connect(
      &listener, &QSslServer::errorOccurred, &loop,
      [&](QSslSocket* s, QAbstractSocket::SocketError) { finish(false, s->errorString()); });
  // The client only has to get the server to use its key; trust is the browser's.
  client.setPeerVerifyMode(QSslSocket::VerifyNone);
  QObject::connect(&client, &QSslSocket::errorOccurred, &loop,
                   [&](QAbstractSocket::SocketError) { finish(false, client.errorString()); });
  QTimer::singleShot(5000, &loop,
                     [&] { finish(false, QStringLiteral("no TLS handshake with itself")); });
  client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), listener.serverPort());
  if (!done) loop.exec();
  return ok;
}

}  // namespace

bool LoadTls(const std::string& cert_path, const std::string& key_path, QSslConfiguration* out,
             std::string* error) {
  if (!QSslSocket::supportsSsl()) {
    *error = "this Qt has no TLS backend";
    return false;
  }
  const QList<QSslCertificate> chain = QSslCertificate::fromPath(
      QString::fromStdString(cert_path), QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
  if (chain.isEmpty()) {
    *error = "no PEM certificate in '" + cert_path + "'";
    return false;
  }
  std::string pem;
  if (!ReadPrivateFile(key_path, "key file", 64 * 1024, &pem, error)) return false;
  const QSslKey key = ReadKey(QByteArray::fromStdString(pem));
  if (key.isNull()) {
    *error = "no unencrypted PEM private key in '" + key_path + "'";
    return false;
  }
  QSslConfiguration config = QSslConfiguration::defaultConfiguration();
  config.setLocalCertificateChain(chain);
  config.setPrivateKey(key);
  config.setPeerVerifyMode(QSslSocket::VerifyNone);  // browsers bring no certificate
  std::string why;
  if (!SelfHandshake(config, &why)) {
    *error =
        "certificate '" + cert_path + "' and key '" + key_path + "' do not work together: " + why;
    return false;
  }
  *out = config;
  return true;
}

}  // namespace pts::remote
