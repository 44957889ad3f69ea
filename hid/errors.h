// modErrorHandling and modClassIDGenerator: the one class error that guarded
// members of TOneHidVar and TPTS raise, and the program-wide debug-ID counter.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pts {

inline constexpr int32_t ObjectErrorBase = static_cast<int32_t>(0x80040000u);  // -2147221504
inline constexpr int32_t UnhandledErrorNumber = 9999;

// The uniform error of the HID classes: number, source ("Class:Member Kind")
// and description. No help file, no help context.
class ClassError : public std::runtime_error {
 public:
  ClassError(int32_t number, std::string source, std::string description);
  int32_t Number() const { return number_; }
  const std::string& Source() const { return source_; }
  const std::string& Description() const { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// An arithmetic overflow (a value narrowed past its type, the ID counter past
// its maximum). Unguarded members let it reach their caller as it is.
class OverflowError : public std::overflow_error {
 public:
  using std::overflow_error::overflow_error;
};

// Looks ErrNum up in the message table; the table has no entries, so every
// number gives the fallback text.
std::string ErrorDescription(int32_t ErrNum);

// Raises ClassError(ObjectErrorBase + ErrNum, Source, ErrorDescription(ErrNum)).
[[noreturn]] void RaiseClassError(int32_t ErrNum, const std::string& Source);
// The same with the failure's own description; an empty one gives ErrorDescription(ErrNum).
[[noreturn]] void RaiseClassError(int32_t ErrNum, const std::string& Source,
                                  const std::string& Description);

// Next serial number for ClassDebugID: 1, 2, 3, ... never reset, never reused.
// Throws OverflowError past 2147483647.
int32_t NextClassDebugID();

// Runs `body`; any exception it throws becomes the class error with `source`,
// keeping what the failure said as the description (a class error from a
// member called inside: its description). Work done before the failure stays done.
template <typename Body>
auto Guarded(const char* source, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const ClassError& e) {
    RaiseClassError(UnhandledErrorNumber, source, e.Description());
  } catch (const std::exception& e) {
    RaiseClassError(UnhandledErrorNumber, source, e.what());
  } catch (...) {
    RaiseClassError(UnhandledErrorNumber, source);
  }
}

// Narrows to 16 bits as the original's Integer conversion does: out of range
// throws OverflowError.
int16_t ToInt16(int64_t value);

}  // namespace pts
