// How the web server's guards name a peer. Internal to the web server.
#pragma once

#include <QHostAddress>
#include <string>

namespace pts::remote {

// The peer's address as text; an IPv4 address reached over IPv6 as itself,
// so that one host has one name whichever way it came in.
template <typename Socket>
std::string PeerOf(const Socket& socket) {
  QHostAddress a = socket.peerAddress();
  bool v4 = false;
  const quint32 ip = a.toIPv4Address(&v4);
  if (v4) a = QHostAddress(ip);
  a.setScopeId(QString());
  return a.toString().toStdString();
}

}  // namespace pts::remote
