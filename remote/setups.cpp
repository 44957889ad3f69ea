#include "remote/setups.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace pts::remote {

namespace {

constexpr std::string_view kHeader = "pts-panel setup 1";
constexpr const char* kNoDir = "no directory for set-ups (XDG_STATE_HOME and HOME are not set)";

enum Key {
  kFreq,
  kStop,
  kStep,
  kTime,
  kLevel,
  kMode,
  kListFreq,
  kListDwell,
  kSweepCount,  // this one and those after it came later: a file may lack them
  kListCount,
  kListDir,
  kKeyCount
};
constexpr const char* kKeys[kKeyCount] = {"freq",        "stop",       "step",      "time",
                                          "level",       "mode",       "list_freq", "list_dwell",
                                          "sweep_count", "list_count", "list_dir"};
constexpr uint32_t kMaxCount = 2147483647;

constexpr std::pair<SourceState::Mode, std::string_view> kModes[] = {
    {SourceState::Mode::kCw, "CW"},
    {SourceState::Mode::kSweep, "SWE"},
    {SourceState::Mode::kList, "LIST"},
};

void AppendNumber(std::string& out, double v) {
  // Plain decimals read best; the exponent form only where they would be long.
  char buf[64];
  std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  if (r.ec != std::errc()) r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendList(std::string& out, const std::vector<double>& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += ',';
    AppendNumber(out, list[i]);
  }
}

// Valid UTF-8 without control characters (C0, DEL, C1): a box can show it,
// and it stays one line of the file.
bool GoodText(std::string_view t) {
  for (size_t i = 0; i < t.size();) {
    const auto b = static_cast<unsigned char>(t[i]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F) return false;
      ++i;
      continue;
    }
    size_t n = 0;
    uint32_t cp = 0, min = 0;
    if ((b & 0xE0) == 0xC0) {
      n = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      n = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      n = 3, cp = b & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (t.size() - i <= n) return false;
    for (size_t k = 1; k <= n; ++k) {
      const auto c = static_cast<unsigned char>(t[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0xA0) return false;
    i += n + 1;
  }
  return true;
}

bool ReadDouble(std::string_view t, double* v) {
  const char* end = t.data() + t.size();
  const std::from_chars_result r = std::from_chars(t.data(), end, *v);
  return !t.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(*v) && *v >= 0;
}

bool ReadList(std::string_view t, std::vector<double>* list) {
  list->clear();
  if (t.empty()) return true;
  while (true) {
    if (list->size() == kMaxListPoints) return false;
    const size_t comma = t.find(',');
    double v = 0;
    if (!ReadDouble(t.substr(0, comma), &v)) return false;
    list->push_back(v);
    if (comma == std::string_view::npos) return true;
    t.remove_prefix(comma + 1);
  }
}

void AppendCount(std::string& out, uint32_t count) {
  out += count == SourceState::kForever ? "INF" : std::to_string(count);
}

bool ReadCount(std::string_view t, uint32_t* count) {
  if (t == "INF") {
    *count = SourceState::kForever;
    return true;
  }
  const char* end = t.data() + t.size();
  const std::from_chars_result r = std::from_chars(t.data(), end, *count);
  return !t.empty() && r.ec == std::errc() && r.ptr == end && *count >= 1 && *count <= kMaxCount;
}

bool ReadValue(Key key, std::string_view value, SavedSetup* s) {
  switch (key) {
    case kFreq:
    case kStop:
    case kStep:
    case kTime: {
      std::string* texts[] = {&s->freq, &s->stop, &s->step, &s->time};
      if (!GoodText(value)) return false;
      *texts[key] = value;
      return true;
    }
    case kLevel: {
      const char* end = value.data() + value.size();
      const std::from_chars_result r = std::from_chars(value.data(), end, s->level);
      return !value.empty() && r.ec == std::errc() && r.ptr == end && s->level >= kLevelMin &&
             s->level <= kLevelMax;
    }
    case kMode:
      for (const auto& [mode, name] : kModes) {
        if (value == name) {
          s->mode = mode;
          return true;
        }
      }
      return false;
    case kListFreq:
      return ReadList(value, &s->list_freq);
    case kListDwell:
      return ReadList(value, &s->list_dwell);
    case kSweepCount:
      return ReadCount(value, &s->sweep_count);
    case kListCount:
      return ReadCount(value, &s->list_count);
    case kListDir:
      s->list_down = value == "DOWN";
      return value == "UP" || value == "DOWN";
    case kKeyCount:
      break;
  }
  return false;
}

// Both give false, for `return Reason(...)` where a step fails.
bool Reason(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

bool Errno(std::string* why, int err) {
  *why = std::strerror(err);
  return false;
}

// Creates the directory and any missing parent, each mode 0700.
bool MakeDirs(const std::string& dir, std::string* why) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return Errno(why, errno);
    if (slash == std::string::npos) return true;
  }
}

// Save's temporaries: ".setup-N.txt." and mkostemp's six letters or digits.
bool TemporaryName(std::string_view name) {
  constexpr std::string_view kHead = ".setup-", kTail = ".txt.";
  constexpr size_t kRandom = 6;
  if (name.size() != kHead.size() + 1 + kTail.size() + kRandom || !name.starts_with(kHead)) {
    return false;
  }
  const char slot = name[kHead.size()];
  if (slot < '0' || slot > '9' || name.substr(kHead.size() + 1, kTail.size()) != kTail) {
    return false;
  }
  for (const char ch : name.substr(name.size() - kRandom)) {
    if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string FormatSetup(const SavedSetup& s) {
  std::string out(kHeader);
  out += '\n';
  const std::string* texts[] = {&s.freq, &s.stop, &s.step, &s.time};
  for (int k = kFreq; k <= kTime; ++k) out += std::string(kKeys[k]) + '=' + *texts[k] + '\n';
  out += "level=" + std::to_string(s.level) + '\n';
  for (const auto& [mode, name] : kModes) {
    if (mode == s.mode) out += "mode=" + std::string(name) + '\n';
  }
  out += "list_freq=";
  AppendList(out, s.list_freq);
  out += "\nlist_dwell=";
  AppendList(out, s.list_dwell);
  out += "\nsweep_count=";
  AppendCount(out, s.sweep_count);
  out += "\nlist_count=";
  AppendCount(out, s.list_count);
  out += s.list_down ? "\nlist_dir=DOWN\n" : "\nlist_dir=UP\n";
  return out;
}

bool ParseSetup(std::string_view text, SavedSetup* out, std::string* why) {
  if (text.size() > kMaxSetupFileSize) return Reason(why, "larger than 1 MiB");
  if (!text.starts_with(kHeader) || text.substr(kHeader.size(), 1) != "\n") {
    return Reason(why, "not a pts-panel setup 1 file");
  }
  text.remove_prefix(kHeader.size() + 1);
  SavedSetup s;
  bool seen[kKeyCount] = {};
  for (int line_no = 2; !text.empty(); ++line_no) {
    const size_t lf = text.find('\n');
    // Every line ends in LF: a file cut short is not taken for a whole one.
    if (lf == std::string_view::npos) return Reason(why, "the last line has no end");
    const std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf + 1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      return Reason(why, "line " + std::to_string(line_no) + " is not key=value");
    }
    const std::string_view name = line.substr(0, eq);
    int key = 0;
    while (key < kKeyCount && name != kKeys[key]) ++key;
    if (key == kKeyCount) continue;  // added later: this reader does without it
    if (seen[key]) return Reason(why, std::string(name) + " is given twice");
    seen[key] = true;
    if (!ReadValue(static_cast<Key>(key), line.substr(eq + 1), &s)) {
      return Reason(why, "bad " + std::string(name));
    }
  }
  for (int key = 0; key < kSweepCount; ++key) {
    if (!seen[key]) return Reason(why, "no " + std::string(kKeys[key]));
  }
  *out = std::move(s);
  return true;
}

std::string SetupDir(const char* state_directory, const char* xdg_state_home, const char* home) {
  const auto usable = [](const char* v) { return v && v[0] == '/'; };
  if (usable(state_directory)) {
    const std::string_view dirs = state_directory;
    return std::string(dirs.substr(0, dirs.find(':')));
  }
  if (usable(xdg_state_home)) return std::string(xdg_state_home) + "/pts-panel";
  if (usable(home)) return std::string(home) + "/.local/state/pts-panel";
  return {};
}

std::string SetupDirFromEnvironment() {
  return SetupDir(std::getenv("STATE_DIRECTORY"), std::getenv("XDG_STATE_HOME"),
                  std::getenv("HOME"));
}

std::string SetupStore::SlotPath(int slot) const {
  return dir_ + "/setup-" + std::to_string(slot) + ".txt";
}

bool SetupStore::Save(int slot, const SavedSetup& s, std::string* why) {
  // Never write what could not be recalled.
  const std::string* texts[] = {&s.freq, &s.stop, &s.step, &s.time};
  for (int k = kFreq; k <= kTime; ++k) {
    if (!GoodText(*texts[k])) return Reason(why, "bad " + std::string(kKeys[k]));
  }
  const std::string text = FormatSetup(s);
  SavedSetup check;
  if (!ParseSetup(text, &check, why)) return false;
  if (dir_.empty()) return Reason(why, kNoDir);
  if (!MakeDirs(dir_, why)) return false;

  // mkostemp: O_CREAT|O_EXCL, mode 0600, a name no other saver uses.
  std::string temp = dir_ + "/.setup-" + std::to_string(slot) + ".txt.XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Errno(why, errno);
  // Held until closed: another instance starting meanwhile sees it in use.
  flock(fd, LOCK_EX);
  int err = 0;
  for (size_t done = 0; done < text.size() && err == 0;) {
    const size_t left = text.size() - done;
    const ssize_t n =
        writer_ ? writer_(fd, text.data() + done, left) : write(fd, text.data() + done, left);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      err = EIO;
    } else if (errno != EINTR) {
      err = errno;
    }
  }
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(temp.c_str(), SlotPath(slot).c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    return Errno(why, err);
  }
  // The rename is durable only once the directory is on the disk too.
  const int dir_fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return Errno(why, errno);
  if (fsync(dir_fd) != 0) err = errno;
  close(dir_fd);
  return err == 0 || Errno(why, err);
}

int SetupStore::RemoveLeftovers() {
  if (dir_.empty()) return 0;
  DIR* dir = opendir(dir_.c_str());
  if (!dir) return 0;  // none yet: nothing left either
  int removed = 0;
  while (const dirent* e = readdir(dir)) {
    if (!TemporaryName(e->d_name)) continue;
    const int fd = openat(dirfd(dir), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    const bool stale =
        fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (stale && unlinkat(dirfd(dir), e->d_name, 0) == 0) ++removed;
    close(fd);
  }
  closedir(dir);
  return removed;
}

SetupStore::Loaded SetupStore::Load(int slot, SavedSetup* s, std::string* why) const {
  if (dir_.empty()) {
    *why = kNoDir;
    return Loaded::kFailed;
  }
  // Non-blocking: a FIFO in the slot's place must not hang the instrument.
  const int fd = open(SlotPath(slot).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return Loaded::kEmpty;
    Errno(why, errno);
    return Loaded::kFailed;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    Errno(why, errno);
    close(fd);
    return Loaded::kFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    *why = "not a regular file";
    return Loaded::kDamaged;
  }
  // One byte beyond the bound tells a file that is too large.
  std::string text(kMaxSetupFileSize + 1, '\0');
  size_t got = 0;
  int err = 0;
  while (got < text.size()) {
    const ssize_t n = read(fd, text.data() + got, text.size() - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      err = errno;
      break;
    }
  }
  close(fd);
  if (err != 0) {
    Errno(why, err);
    return Loaded::kFailed;
  }
  text.resize(got);
  return ParseSetup(text, s, why) ? Loaded::kOk : Loaded::kDamaged;
}

}  // namespace pts::remote
