// SCPI program messages: one line (without its LF) becomes a list of
// commands. Keywords are upper-cased and split from their numeric suffix;
// the header path rule of `;` and `:` is applied, so each command carries its
// full path from the root. No Qt: the parser is fuzzed and tested alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pts::remote {

// The SCPI error codes the remote interface reports.
enum Code : int {
  kNoError = 0,
  kCommandError = -100,
  kSyntaxError = -102,
  kDataTypeError = -104,
  kParameterNotAllowed = -108,
  kMissingParameter = -109,
  kUndefinedHeader = -113,
  kHeaderSuffixOutOfRange = -114,
  kInvalidSuffix = -131,
  kExecutionError = -200,
  kTriggerIgnored = -211,
  kSettingsConflict = -221,
  kDataOutOfRange = -222,
  kTooMuchData = -223,
  kIllegalParameterValue = -224,
  kHardwareError = -240,
  kHardwareMissing = -241,
  kMassStorageError = -250,
  kFileNameNotFound = -256,
  kQueueOverflow = -350,
  kQueryError = -400,
};

// The standard text of a code ("Syntax error").
const char* CodeText(int code);

struct Param {
  enum class Kind { Number, Word, String };
  Kind kind = Kind::Number;
  double number = 0;  // Number: +/-inf when the exponent overflows
  std::string text;   // Number: the suffix, upper case ("MHZ", empty for none);
                      // Word: the mnemonic, upper case; String: the contents
};

struct Node {
  std::string keyword;  // upper case, without the suffix; "*IDN" for a common command
  int64_t suffix = -1;  // -1: none
};

struct Command {
  int error = kNoError;  // a parse error: nothing after it in the message is parsed
  std::vector<Node> path;
  bool query = false;
  std::vector<Param> params;
};

// Parses one program message. Empty commands at the end (a trailing `;`) and
// blank messages give nothing. A command that cannot be parsed becomes the
// last element, with its error set.
std::vector<Command> ParseMessage(std::string_view message);

}  // namespace pts::remote
