#include "remote/scpi_parser.h"

#include <charconv>
#include <limits>

namespace pts::remote {

const char* CodeText(int code) {
  switch (code) {
    case kNoError:
      return "No error";
    case kCommandError:
      return "Command error";
    case kSyntaxError:
      return "Syntax error";
    case kDataTypeError:
      return "Data type error";
    case kParameterNotAllowed:
      return "Parameter not allowed";
    case kMissingParameter:
      return "Missing parameter";
    case kUndefinedHeader:
      return "Undefined header";
    case kHeaderSuffixOutOfRange:
      return "Header suffix out of range";
    case kInvalidSuffix:
      return "Invalid suffix";
    case kExecutionError:
      return "Execution error";
    case kTriggerIgnored:
      return "Trigger ignored";
    case kSettingsConflict:
      return "Settings conflict";
    case kDataOutOfRange:
      return "Data out of range";
    case kTooMuchData:
      return "Too much data";
    case kIllegalParameterValue:
      return "Illegal parameter value";
    case kHardwareError:
      return "Hardware error";
    case kHardwareMissing:
      return "Hardware missing";
    case kMassStorageError:
      return "Mass storage error";
    case kFileNameNotFound:
      return "File name not found";
    case kQueueOverflow:
      return "Queue overflow";
    case kQueryError:
      return "Query error";
    default:
      return "Error";
  }
}

namespace {

bool IsAlpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Reads one message left to right. Every method leaves `pos_` after what it
// took and returns false on a syntax error.
class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}

  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
  bool Take(char c) {
    if (Peek() != c || AtEnd()) return false;
    ++pos_;
    return true;
  }
  // Blanks between the parts of a command: space and tab.
  bool SkipBlanks() {
    const size_t start = pos_;
    while (!AtEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    return pos_ > start;
  }

  // A mnemonic: a letter, then letters, digits or underscores. Trailing
  // digits are the numeric suffix.
  bool Mnemonic(Node* node) {
    if (!IsAlpha(Peek())) return false;
    const size_t start = pos_;
    while (!AtEnd() && (IsAlpha(s_[pos_]) || IsDigit(s_[pos_]) || s_[pos_] == '_')) ++pos_;
    size_t end = pos_;
    while (end > start && IsDigit(s_[end - 1])) --end;
    node->keyword.clear();
    for (size_t i = start; i < end; ++i) node->keyword += Upper(s_[i]);
    node->suffix = -1;
    if (end < pos_) {
      // Any suffix longer than nine digits is out of every range; it must not overflow.
      int64_t v = 0;
      for (size_t i = end; i < pos_; ++i) {
        v = v * 10 + (s_[i] - '0');
        if (v > 1000000000) v = 1000000000;
      }
      node->suffix = v;
    }
    return true;
  }

  bool Header(Command* cmd, bool* absolute, std::vector<Node>* nodes) {
    nodes->clear();
    *absolute = false;
    if (Take('*')) {
      Node n;
      if (!Mnemonic(&n)) return false;
      if (n.suffix >= 0) return false;  // a common command has no suffix
      n.keyword.insert(0, 1, '*');
      nodes->push_back(std::move(n));
    } else {
      *absolute = Take(':');
      do {
        Node n;
        if (!Mnemonic(&n)) return false;
        nodes->push_back(std::move(n));
      } while (Take(':'));
    }
    cmd->query = Take('?');
    return true;
  }

  bool Number(Param* p) {
    const size_t start = pos_;
    Take('+') || Take('-');
    size_t digits = 0;
    while (IsDigit(Peek())) ++pos_, ++digits;
    if (Take('.')) {
      while (IsDigit(Peek())) ++pos_, ++digits;
    }
    if (digits == 0) return false;
    if (Peek() == 'e' || Peek() == 'E') {
      // An exponent needs its digits; a letter E alone would begin a suffix
      // no command knows, so it is a syntax error either way.
      ++pos_;
      Take('+') || Take('-');
      if (!IsDigit(Peek())) return false;
      while (IsDigit(Peek())) ++pos_;
    }
    std::string_view text = s_.substr(start, pos_ - start);
    const bool negative = text.front() == '-';
    if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
      // Too large or too small for a double: which, the exponent's sign says.
      const size_t e = text.find_first_of("eE");
      const bool tiny = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
      v = tiny ? 0 : std::numeric_limits<double>::infinity();
    } else if (r.ec != std::errc()) {
      return false;
    }
    p->kind = Param::Kind::Number;
    p->number = negative ? -v : v;
    // A suffix may follow after blanks: "1MHZ", "1 MHZ".
    const size_t before = pos_;
    SkipBlanks();
    p->text.clear();
    if (IsAlpha(Peek())) {
      while (IsAlpha(Peek())) p->text += Upper(s_[pos_++]);
    } else {
      pos_ = before;
    }
    return true;
  }

  bool String(Param* p) {
    const char quote = s_[pos_++];
    p->kind = Param::Kind::String;
    p->text.clear();
    for (;;) {
      if (AtEnd()) return false;
      const char c = s_[pos_++];
      if (c == quote) {
        if (!Take(quote)) return true;  // a doubled quote stands for one
      } else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
        return false;
      }
      p->text += c;
    }
  }

  bool Parameter(Param* p) {
    const char c = Peek();
    if (c == '"' || c == '\'') return String(p);
    if (IsDigit(c) || c == '+' || c == '-' || c == '.') return Number(p);
    if (IsAlpha(c)) {
      Node n;
      Mnemonic(&n);
      p->kind = Param::Kind::Word;
      p->text = n.keyword;
      if (n.suffix >= 0) p->text += std::to_string(n.suffix);
      return true;
    }
    return false;
  }

 private:
  std::string_view s_;
  size_t pos_ = 0;
};

}  // namespace

std::vector<Command> ParseMessage(std::string_view message) {
  std::vector<Command> out;
  Reader r(message);
  std::vector<Node> current;  // the path a relative header starts from
  std::vector<Node> nodes;
  auto fail = [&out](int code) {
    Command c;
    c.error = code;
    out.push_back(std::move(c));
    return out;
  };
  for (;;) {
    r.SkipBlanks();
    if (r.AtEnd()) return out;
    Command cmd;
    bool absolute = false;
    if (!r.Header(&cmd, &absolute, &nodes)) return fail(kSyntaxError);
    const bool blank = r.SkipBlanks();
    if (!r.AtEnd() && r.Peek() != ';') {
      if (!blank) return fail(kSyntaxError);  // "FREQ1MHZ", "FREQ?x"
      for (;;) {
        Param p;
        if (!r.Parameter(&p)) return fail(kSyntaxError);
        cmd.params.push_back(std::move(p));
        r.SkipBlanks();
        if (!r.Take(',')) break;
        r.SkipBlanks();
      }
    }
    if (!r.AtEnd() && !r.Take(';')) return fail(kSyntaxError);
    if (nodes.front().keyword.front() == '*') {
      cmd.path = nodes;  // common commands leave the path alone
    } else {
      cmd.path = absolute ? std::vector<Node>{} : current;
      cmd.path.insert(cmd.path.end(), nodes.begin(), nodes.end());
      current.assign(cmd.path.begin(), cmd.path.end() - 1);
    }
    out.push_back(std::move(cmd));
    if (r.AtEnd()) return out;
    // ";;" is an empty command; a lone ";" at the end is accepted.
    r.SkipBlanks();
    if (r.Peek() == ';') return fail(kSyntaxError);
  }
}

}  // namespace pts::remote
