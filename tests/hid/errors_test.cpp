// The class error and the debug-ID counter.
#include "hid/errors.h"

#include <gtest/gtest.h>

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

TEST(ClassErrors, GuardedTurnsAnyFailureIntoTheClassErrorAndKeepsEarlierWork) {
  int done = 0;
  try {
    Guarded("OneHidVar:Bind Method", [&] {
      ++done;
      ToInt16(40000);
    });
    FAIL() << "did not raise";
  } catch (const ClassError& e) {
    EXPECT_EQ(e.Source(), "OneHidVar:Bind Method");
  }
  EXPECT_EQ(done, 1);
  EXPECT_EQ(Guarded("x", [] { return 7; }), 7);
}

TEST(ClassErrors, DebugIdsIncreaseByOne) {
  const int32_t a = NextClassDebugID();
  EXPECT_EQ(NextClassDebugID(), a + 1);
}

}  // namespace
}  // namespace pts
