// The web page over TLS: the certificate chain and private key from PEM
// files, checked at start so that a missing, unreadable or mismatched pair is
// a one-line error rather than a failed handshake for every browser later.
#pragma once

#include <QSslConfiguration>
#include <string>

namespace pts::remote {

// Refuses (false, one-line reason) a path that is not a regular file or that
// its group or other users may read or write: a secret others can read is none.
bool CheckPrivateFile(const std::string& what, const std::string& path, std::string* error);

// A server configuration with the chain in `cert_path` (leaf first) and the
// key in `key_path`, after a handshake with itself over loopback proved that
// they belong together.
bool LoadTls(const std::string& cert_path, const std::string& key_path, QSslConfiguration* out,
             std::string* error);

}  // namespace pts::remote
