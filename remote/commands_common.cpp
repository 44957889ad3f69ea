// The IEEE 488.2 common commands and the error queue.
#include "panel/encoding.h"
#include "remote/commands.h"

namespace pts::remote {

namespace {

void Idn(Ctx& c) {
  c.Answer("pts-panel," + ModelName(c.f.ModelNum, "PTS") + "," +
           std::to_string(c.f.Devices.size()) + "," + c.version);
}

void Rst(Ctx& c) {
  MainForm& f = c.f;
  f.CmdStop_Click();
  f.TextFreqStop.Text("");
  f.TextFreqStep.Text("");
  f.TextSweepTime.Text("");
  f.Knob1(10).Value(kLevelMin);
  f.Knob1_Change(10);
  if (f.TextFreq.Text() == "0") {
    f.TextFreq_Change();
  } else {
    f.TextFreq.Text("0");
  }
}

void Opc(Ctx& c, bool answer) {
  // Waits for a single sweep only: a repeating one never ends by itself.
  if (c.f.SnglSweepFlag && Sweeping(c.f)) {
    c.wait = true;
    return;
  }
  if (answer) c.Answer("1");
}

}  // namespace

void AddCommonCommands(CommandList& t) {
  t.Add("*IDN", nullptr, Idn);
  t.AddPlain("*RST", Rst);
  t.Add(
      "*CLS", [](Ctx& c) { c.s.Clear(); }, nullptr);
  t.Add("*OPC", nullptr, [](Ctx& c) { Opc(c, true); });
  t.Add(
      "*WAI", [](Ctx& c) { Opc(c, false); }, nullptr);
  t.Add("*ESR", nullptr, [](Ctx& c) { c.Answer(std::to_string(c.s.TakeEsr())); });
  t.Add("*TST", nullptr, [](Ctx& c) { c.Answer("0"); });
  t.Add("SYSTem ERRor [NEXT]", nullptr, [](Ctx& c) { c.Answer(c.s.Pop()); });
  t.Add("SYSTem ERRor COUNt", nullptr, [](Ctx& c) { c.Answer(std::to_string(c.s.Count())); });
}

}  // namespace pts::remote
