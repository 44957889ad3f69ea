#include "hid/errors.h"

#include <limits>
#include <map>

namespace pts {

ClassError::ClassError(int32_t number, std::string source, std::string description)
    : std::runtime_error(source + ": " + description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

namespace {
// The message table: descriptions keyed by error number. It carries no entries.
const std::map<int32_t, std::string>& MessageTable() {
  static const std::map<int32_t, std::string> table;
  return table;
}

int32_t g_class_debug_id = 0;
}  // namespace

std::string ErrorDescription(int32_t ErrNum) {
  const auto& table = MessageTable();
  if (auto it = table.find(ErrNum); it != table.end()) return it->second;
  return "An unknown error has occurred!";
}

void RaiseClassError(int32_t ErrNum, const std::string& Source) {
  RaiseClassError(ErrNum, Source, std::string());
}

void RaiseClassError(int32_t ErrNum, const std::string& Source, const std::string& Description) {
  // Added in unsigned 32 bits, so a number past the top wraps around instead
  // of overflowing: ObjectErrorBase + 9999 is 0x8004270F.
  const auto number =
      static_cast<int32_t>(static_cast<uint32_t>(ObjectErrorBase) + static_cast<uint32_t>(ErrNum));
  throw ClassError(number, Source, Description.empty() ? ErrorDescription(ErrNum) : Description);
}

int32_t NextClassDebugID() {
  if (g_class_debug_id == std::numeric_limits<int32_t>::max()) {
    throw OverflowError("Overflow");
  }
  return ++g_class_debug_id;
}

int16_t ToInt16(int64_t value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
    throw OverflowError("Overflow");
  }
  return static_cast<int16_t>(value);
}

}  // namespace pts
