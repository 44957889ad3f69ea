// Settings that drivers send where the source has one choice: the sweep's
// direction, spacing, generation and mode, the list's mode, and the output
// switch that the boards do not have. The one choice is taken; any other
// valid word is refused with what the source does instead.
#include "remote/commands.h"

namespace pts::remote {

namespace {

// `words[0]` is the source's choice; `why` goes with the others.
void Choose(Ctx& c, std::initializer_list<const char*> words, const char* why) {
  if (OneWord(c, words) > 0) c.Error(kIllegalParameterValue, why);
}

}  // namespace

void AddFixedCommands(CommandList& t) {
  // Start and Single sweep from the start box to the stop box, whichever is higher.
  t.Add(
      "[SOURce] SWEep DIRection",
      [](Ctx& c) {
        Choose(c, {"UP", "DOWN"}, "the sweep runs from start to stop: set a start above the stop");
      },
      [](Ctx& c) { c.Answer("UP"); });
  t.Add(
      "[SOURce] SWEep SPACing",
      [](Ctx& c) {
        Choose(c, {"LINear", "LOGarithmic"}, "the sweep's steps are linear");
      },
      [](Ctx& c) { c.Answer("LIN"); });
  t.Add(
      "[SOURce] SWEep GENeration",
      [](Ctx& c) {
        Choose(c, {"STEPped", "ANALog"}, "the sweep is stepped");
      },
      [](Ctx& c) { c.Answer("STEP"); });
  t.Add(
      "[SOURce] SWEep MODE",
      [](Ctx& c) {
        Choose(c, {"AUTO", "MANual"}, "the sweep steps by itself");
      },
      [](Ctx& c) { c.Answer("AUTO"); });
  t.Add(
      "[SOURce] LIST MODE",
      [](Ctx& c) {
        Choose(c, {"AUTO", "MANual"}, "the list steps by itself");
      },
      [](Ctx& c) { c.Answer("AUTO"); });
  t.Add(
      "OUTPut [STATe]",
      [](Ctx& c) {
        bool on = false;
        if (OneBoolean(c, &on) && !on) {
          c.Error(kSettingsConflict, "the board has no output switch: the output stays on");
        }
      },
      [](Ctx& c) { c.Answer("1"); });
}

}  // namespace pts::remote
