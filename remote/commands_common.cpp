// The IEEE 488.2 common commands and the error queue.
#include <cmath>

#include "panel/encoding.h"
#include "panel/models.h"
#include "remote/commands.h"

namespace pts::remote {

namespace {

void Idn(Ctx& c) {
  c.Answer("pts-panel," + ModelScpiName(c.f.ModelNum, "PTS") + "," +
           std::to_string(c.f.Devices.size()) + "," + c.version);
}

// The panel's boxes and level as at start; the status enables, the error
// queue and saved set-ups stay as they are.
void Rst(Ctx& c) {
  MainForm& f = c.f;
  f.CmdStop_Click();
  ResetSource(c);
  f.TextFreqStop.Text("");
  f.TextFreqStep.Text("");
  f.TextSweepTime.Text("");
  f.Knob1(10).Value(kLevelMin);
  f.Knob1_Change(10);
  f.WriteFreqText("0");
  c.s.CancelOperationWait();  // a reset device waits for no earlier *OPC
}

void Opc(Ctx& c, bool answer) {
  if (OperationPending(c.f)) {
    c.wait = true;
    return;
  }
  if (answer) c.Answer("1");
}

void Number(Ctx& c, int v) {
  c.Answer(std::to_string(v));
}

}  // namespace

// A repeating sweep never ends by itself: only a single pass is waited for.
bool OperationPending(const MainForm& f) {
  return f.SnglSweepFlag && f.Sweeping();
}

bool RegisterValue(Ctx& c, int max, int* v) {
  double x = 0;
  int extreme = 0;
  if (!OneNumber(c, Unit::None, false, &x, &extreme)) return false;
  x = std::round(x);
  if (!(x >= 0 && x <= max)) {
    c.Error(kDataOutOfRange);
    return false;
  }
  *v = static_cast<int>(x);
  return true;
}

void AddCommonCommands(CommandList& t) {
  t.AddPlain("*CLS", [](Ctx& c) { c.s.Clear(); });
  t.Add(
      "*ESE",
      [](Ctx& c) {
        int v = 0;
        if (RegisterValue(c, 255, &v)) c.s.Ese(v);
      },
      [](Ctx& c) { Number(c, c.s.Ese()); });
  t.Add("*ESR", nullptr, [](Ctx& c) { Number(c, c.s.TakeEsr()); });
  t.Add("*IDN", nullptr, Idn);
  t.AddPlain(
      "*OPC", [](Ctx& c) { c.s.AwaitOperations(); }, [](Ctx& c) { Opc(c, true); });
  t.Add("*OPT", nullptr, [](Ctx& c) { c.Answer("0"); });
  t.AddPlain("*RST", Rst);
  t.AddPlain("SYSTem PRESet", Rst);  // SCPI's reset of the instrument's own settings
  t.Add(
      "*SRE",
      [](Ctx& c) {
        int v = 0;
        if (RegisterValue(c, 255, &v)) c.s.Sre(v);
      },
      [](Ctx& c) { Number(c, c.s.Sre()); });
  t.Add("*STB", nullptr, [](Ctx& c) { Number(c, c.s.StatusByte()); });
  t.Add("*TST", nullptr, [](Ctx& c) { c.Answer("0"); });
  t.AddPlain("*WAI", [](Ctx& c) { Opc(c, false); });
  t.Add("SYSTem ERRor [NEXT]", nullptr, [](Ctx& c) { c.Answer(c.s.Pop()); });
  t.Add("SYSTem ERRor ALL", nullptr, [](Ctx& c) { c.Answer(c.s.PopAll()); });
  t.Add("SYSTem ERRor COUNt", nullptr, [](Ctx& c) { Number(c, static_cast<int>(c.s.Count())); });
}

}  // namespace pts::remote
