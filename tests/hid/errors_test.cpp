// The class error and the debug-ID counter.
#include "hid/errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace pts {
namespace {

TEST(ClassErrors, EveryNumberHasTheFallbackDescription) {
  EXPECT_EQ(ErrorDescription(9999), "An unknown error has occurred!");
  EXPECT_EQ(ErrorDescription(0), "An unknown error has occurred!");
}

TEST(ClassErrors, RaiseClassErrorAddsTheObjectErrorBase) {
  try {
    RaiseClassError(UnhandledErrorNumber, "TPTS:Cmd1 Property Get");
    FAIL() << "did not raise";
  } catch (const ClassError& e) {
    EXPECT_EQ(e.Number(), -2147211505);
    EXPECT_EQ(static_cast<uint32_t>(e.Number()), 0x8004270Fu);
    EXPECT_EQ(e.Source(), "TPTS:Cmd1 Property Get");
    EXPECT_EQ(e.Description(), "An unknown error has occurred!");
  }
}

// Any failure becomes the class error of the guarded member (its number and
// source), described by what the failure said when it said anything.
TEST(ClassErrors, GuardedRaisesTheClassErrorWithTheFailuresText) {
  struct Row {
    const char* name;
    std::function<void()> fail;
    const char* description;
  };
  const Row rows[] = {
      {"Overflow", [] { ToInt16(40000); }, "Overflow"},
      {"Component", [] { throw std::runtime_error("Varnel: no current interface"); },
       "Varnel: no current interface"},
      {"InnerMember", [] { Guarded("OneHidVar:Update Method", [] { ToInt16(-40000); }); },
       "Overflow"},
      {"Unknown", [] { throw 42; }, "An unknown error has occurred!"},
      {"Wordless", [] { throw std::runtime_error(""); }, "An unknown error has occurred!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int done = 0;
    try {
      Guarded("TPTS:WriteAllReports Method", [&] {
        ++done;
        row.fail();
      });
      ADD_FAILURE() << "did not raise";
    } catch (const ClassError& e) {
      EXPECT_EQ(e.Number(), -2147211505);
      EXPECT_EQ(e.Source(), "TPTS:WriteAllReports Method");
      EXPECT_EQ(e.Description(), row.description);
    }
    EXPECT_EQ(done, 1);  // work before the failure stays done
  }
  EXPECT_EQ(Guarded("x", [] { return 7; }), 7);
}

TEST(ClassErrors, DebugIdsIncreaseByOne) {
  const int32_t a = NextClassDebugID();
  EXPECT_EQ(NextClassDebugID(), a + 1);
}

}  // namespace
}  // namespace pts
