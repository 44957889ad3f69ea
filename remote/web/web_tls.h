// The web page over TLS: the certificate chain and private key from PEM
// files, checked at start so that a missing, unreadable or mismatched pair is
// a one-line error rather than a failed handshake for every browser later.
#pragma once

#include <QSslConfiguration>
#include <string>

namespace pts::remote {

// A server configuration with the chain in `cert_path` (leaf first) and the
// key in `key_path` (a private file: see ReadPrivateFile), after a handshake with itself over
// loopback proved that they belong together.
bool LoadTls(const std::string& cert_path, const std::string& key_path, QSslConfiguration* out,
             std::string* error);

}  // namespace pts::remote
