#include "remote/transport/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace pts::remote {

bool ReadPrivateFile(const std::string& path, const char* what, size_t max_bytes,
                     std::string* contents, std::string* error) {
  const std::string name = std::string(what) + " '" + path + "'";
  // O_NONBLOCK: a FIFO put in its place must not hang the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *error = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  // The checks are on the file opened, not on the name, which could change
  // in between.
  struct stat st {};
  std::string text;
  bool ok = false;
  if (::fstat(fd, &st) != 0) {
    *error = "cannot read " + name + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *error = name + " is not a regular file";
  } else if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    *error = name + " is open to other users (mode " + mode + "; chmod go-rwx)";
  } else if (size_t(st.st_size) > max_bytes) {
    *error = name + " is too large";
  } else {
    ok = true;
    char buf[4096];
    ssize_t n = 0;
    // Read to the end whatever fstat said: the file may have grown since.
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
      text.append(buf, size_t(n));
      if (text.size() > max_bytes) {
        *error = name + " is too large";
        ok = false;
        break;
      }
    }
    if (ok && n < 0) {
      *error = "cannot read " + name + ": " + std::strerror(errno);
      ok = false;
    }
  }
  ::close(fd);
  if (ok) *contents = std::move(text);
  return ok;
}

}  // namespace pts::remote
