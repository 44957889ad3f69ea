// Files that hold a secret (an access token, a TLS key): read only when
// nobody but their owner may touch them. No Qt.
#pragma once

#include <cstddef>
#include <string>

namespace pts::remote {

// The whole of the file at `path` into `contents`. Refused (false, with a
// one-line reason naming the file as `what`, e.g. "token file") when it
// cannot be read, is not a regular file, is larger than `max_bytes`, or
// gives its group or other users any permission: a secret that anyone else
// on the machine can read, or replace, is none.
bool ReadPrivateFile(const std::string& path, const char* what, size_t max_bytes,
                     std::string* contents, std::string* error);

}  // namespace pts::remote
