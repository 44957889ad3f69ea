// One remote client's status: its error queue, its IEEE 488.2 status byte
// and event status register, and its SCPI OPERation and QUEStionable
// registers. The conditions are the instrument's, shared by every client;
// what each client latched from them, and its enables, are its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace pts::remote {

// Bits of the event status register.
inline constexpr int kEsrOperationComplete = 1 << 0;
inline constexpr int kEsrQueryError = 1 << 2;
inline constexpr int kEsrDeviceError = 1 << 3;
inline constexpr int kEsrExecutionError = 1 << 4;
inline constexpr int kEsrCommandError = 1 << 5;

// Bits of the status byte.
inline constexpr int kStbErrorQueue = 1 << 2;
inline constexpr int kStbQuestionable = 1 << 3;
inline constexpr int kStbMav = 1 << 4;
inline constexpr int kStbEsb = 1 << 5;
inline constexpr int kStbMss = 1 << 6;
inline constexpr int kStbOperation = 1 << 7;

// Condition bits of the OPERation and QUEStionable registers.
inline constexpr uint16_t kOperSweeping = 1 << 3;
inline constexpr uint16_t kOperWaitingForTrigger = 1 << 5;
inline constexpr uint16_t kQuesFrequency = 1 << 5;

// An SCPI status register as one client sees it: 15 bits, bit 15 always 0.
struct StatusRegister {
  static constexpr uint16_t kBits = 0x7FFF;

  uint16_t condition = 0;  // as this client last saw it
  uint16_t event = 0;
  uint16_t enable = 0;
  uint16_t ptr = kBits;
  uint16_t ntr = 0;

  // Latches the transitions from the condition last seen to `now`.
  void See(uint16_t now) {
    const uint16_t rising = now & ~condition, falling = condition & ~now;
    event = static_cast<uint16_t>(event | (((rising & ptr) | (falling & ntr)) & kBits));
    condition = now;
  }
  uint16_t TakeEvent() {
    const uint16_t v = event;
    event = 0;
    return v;
  }
  void Preset() {
    enable = 0;
    ptr = kBits;
    ntr = 0;
  }
  bool Summary() const { return (event & enable) != 0; }
};

class Session {
 public:
  static constexpr size_t kQueueSize = 20;

  // Queues an error ("<code>,"<text>[;<detail>]"") and sets its event status bit.
  // A full queue keeps its oldest entries; its newest becomes -350.
  void Push(int code, const std::string& detail = {});
  // The oldest entry as SYSTem:ERRor? answers it, "0,"No error"" when none.
  std::string Pop();
  // The oldest entry as a person reads it (the queue must not be empty): the
  // detail as it was pushed, else the error's text.
  std::string PopText();
  // Every entry, oldest first, comma-separated; the queue is emptied.
  std::string PopAll();
  size_t Count() const { return errors_.size(); }

  // *ESR?: the register, then cleared.
  int TakeEsr() {
    const int v = esr_;
    esr_ = 0;
    return v;
  }
  int Ese() const { return ese_; }
  void Ese(int v) { ese_ = v & 0xFF; }
  int Sre() const { return sre_; }
  void Sre(int v) { sre_ = v & 0xFF & ~kStbMss; }  // bit 6 cannot be enabled

  // The transport says through this whether the client has output it has
  // not yet been given (MAV). Without it MAV stays 0.
  void OutputWaiting(std::function<bool()> unread) { unread_ = std::move(unread); }
  // *STB?: the status byte with MSS in bit 6. Reading it clears nothing.
  int StatusByte() const;

  StatusRegister& Operation() { return oper_; }
  StatusRegister& Questionable() { return ques_; }
  // The instrument's conditions now: transitions since the last call are
  // latched. The first call only takes them in, so a new client starts clean.
  void See(uint16_t oper, uint16_t ques);

  // *OPC: ESR bit 0 is set once no operation is pending (OperationsDone).
  void AwaitOperations() { opc_pending_ = true; }
  void CancelOperationWait() { opc_pending_ = false; }
  void OperationsDone() {
    if (opc_pending_) esr_ |= kEsrOperationComplete;
    opc_pending_ = false;
  }

  // A client of the panel's own web page: the PANel commands, which act as
  // the operator on the window's controls, are there for it alone.
  bool PanelClient() const { return panel_client_; }
  void PanelClient(bool on) { panel_client_ = on; }

  // *CLS: the error queue, the event registers and a pending *OPC; not the enables.
  void Clear() {
    errors_.clear();
    esr_ = 0;
    oper_.event = 0;
    ques_.event = 0;
    opc_pending_ = false;
  }

 private:
  struct Entry {
    int code;
    std::string detail;  // as pushed: quoted only when formatted
  };
  std::deque<Entry> errors_;
  int esr_ = 0;
  int ese_ = 0;
  int sre_ = 0;
  bool opc_pending_ = false;
  bool seen_ = false;
  bool panel_client_ = false;
  StatusRegister oper_, ques_;
  std::function<bool()> unread_;
};

}  // namespace pts::remote
