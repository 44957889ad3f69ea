// The SCPI status subsystem: each client's OPERation and QUEStionable
// registers, whose conditions Instrument::Update keeps, and SYSTem:VERSion.
#include <string>

#include "remote/commands.h"

namespace pts::remote {

namespace {

using Register = StatusRegister& (*)(Session&);
using Field = uint16_t StatusRegister::*;

StatusRegister& Oper(Session& s) {
  return s.Operation();
}
StatusRegister& Ques(Session& s) {
  return s.Questionable();
}

// Handlers are plain functions: one instance per register and field.
template <Register R, Field F>
void SetField(Ctx& c) {
  int v = 0;
  // 0 .. 65535 is taken, as a client setting every bit sends it; bit 15 does not exist.
  if (RegisterValue(c, 0xFFFF, &v)) R(c.s).*F = static_cast<uint16_t>(v & StatusRegister::kBits);
}

template <Register R, Field F>
void QueryField(Ctx& c) {
  c.Answer(std::to_string(R(c.s).*F));
}

template <Register R>
void QueryEvent(Ctx& c) {
  c.Answer(std::to_string(R(c.s).TakeEvent()));
}

template <Register R>
void AddRegister(CommandList& t, const std::string& node) {
  const std::string base = "STATus " + node + " ";
  t.Add((base + "[EVENt]").c_str(), nullptr, QueryEvent<R>);
  t.Add((base + "CONDition").c_str(), nullptr, QueryField<R, &StatusRegister::condition>);
  t.Add((base + "ENABle").c_str(), SetField<R, &StatusRegister::enable>,
        QueryField<R, &StatusRegister::enable>);
  t.Add((base + "PTRansition").c_str(), SetField<R, &StatusRegister::ptr>,
        QueryField<R, &StatusRegister::ptr>);
  t.Add((base + "NTRansition").c_str(), SetField<R, &StatusRegister::ntr>,
        QueryField<R, &StatusRegister::ntr>);
}

}  // namespace

void AddStatusCommands(CommandList& t) {
  AddRegister<Oper>(t, "OPERation");
  AddRegister<Ques>(t, "QUEStionable");
  t.AddPlain("STATus PRESet", [](Ctx& c) {
    c.s.Operation().Preset();
    c.s.Questionable().Preset();
  });
  t.AddPlain("SYSTem VERSion", nullptr, [](Ctx& c) { c.Answer("1999.0"); });
}

}  // namespace pts::remote
