// Varnel: the HID agent. Opens the interfaces that match a vendor and product
// id through a Backend, numbers the variables and reports of all open
// interfaces from 0 (all-variable and all-report indexes), keeps a current
// interface, variable and report, keeps a copy of every report and moves
// reports whole. Events go to one listener (the main window).
//
// Properties are a getter `Name()` and a setter `Name(value)`. Every call
// comes from one thread (the UI thread), and every call waits for what it
// does, except PostRpts (below), whose writes finish later on the
// interfaces' I/O workers.
// Failures of a call (an index out of range, no current interface...) throw
// VarnelError; a missing variable or report is reported by return values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/backend.h"
#include "hid/descriptor.h"

namespace pts {

class VarnelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Scale modes of a variable.
inline constexpr int32_t smBoth = 0;
inline constexpr int32_t smUnscaledOnly = 1;
inline constexpr int32_t smScaledOnly = 2;

// Events of the agent, in the order the original component declares them.
class VarnelListener {
 public:
  virtual ~VarnelListener() = default;
  // An interface was opened; it is now the last open one. The three values
  // are the interface's handle, vendor id and product id; the text its name.
  virtual void InterfaceOpened(int32_t AHidHandle, int32_t VendorID, int32_t ProductID,
                               const std::string& IntfName) = 0;
  // An interface was closed (by CloseDevices or because its device went away).
  virtual void InterfaceClosed(int32_t NumStillOpen, const std::string& IntfName,
                               int32_t AHidHandle) = 0;
  // An input report was read into the report copy.
  virtual void ReportArrived(int32_t RptIndexInIntf, int32_t AllRptIndex) = 0;
  // A matching device was attached. Value: 0; text: its path.
  virtual void DeviceArrived(int32_t Value, const std::string& Text) = 0;
  // A device was detached. For an open interface the text begins with its
  // 0-based position among the open interfaces, then a blank and the path;
  // InterfaceClosed for it follows. For one that was not open: "-1 <path>".
  virtual void DeviceRemoved(int32_t Value, const std::string& Text) = 0;
  // Free-text notices (for example: a board was found but access was denied).
  virtual void Notice(const std::string& /*Text*/) {}
  virtual void ValueNotice(int32_t /*Value*/) {}
};

class Varnel {
 public:
  // The backend must outlive the agent.
  explicit Varnel(hid::Backend& backend);
  ~Varnel();
  Varnel(const Varnel&) = delete;
  Varnel& operator=(const Varnel&) = delete;

  void SetListener(VarnelListener* listener);

  // Design-time settings.
  const std::string& LogFile() const;
  void LogFile(const std::string& v);
  int32_t TimeOut() const;  // ms for input reports; 3000
  void TimeOut(int32_t v);
  bool Logging() const;
  void Logging(bool v);
  bool Verbose() const;
  void Verbose(bool v);
  bool ShowOperations() const;
  void ShowOperations(bool v);
  int32_t VID_To_Match() const;
  void VID_To_Match(int32_t v);
  int32_t PID_To_Match() const;
  void PID_To_Match(int32_t v);
  bool SearchOnVID() const;
  void SearchOnVID(bool v);
  bool SearchOnPID() const;
  void SearchOnPID(bool v);

  void InitAgent();
  // Opens every matching interface that is not open yet, raising
  // InterfaceOpened for each. True when any interface is open afterwards.
  bool OpenDevices();
  // Closes every open interface, raising InterfaceClosed for each.
  void CloseDevices();
  int32_t OpenCount() const;

  // Interfaces. SelectOpenIntf returns a reference that SelectIntf accepts.
  int32_t SelectOpenIntf(int32_t position);
  void SelectIntf(int32_t ref);
  int32_t CurHidHandle() const;
  int32_t CurVendorID() const;
  int32_t CurProductID() const;

  // Variables (all-variable indexes).
  int32_t FindVar(int32_t UsagePage, int32_t Usage, int32_t RptType, bool Exact) const;
  void SelectVar(int32_t VarIndex);
  int32_t CurrentVarNum() const;
  int32_t VarCount() const;
  bool AbsoluteNotRelative() const;
  bool ArrayNotVariable() const;
  bool BitsNotBuffer() const;
  bool HasNullState() const;
  bool Linear() const;
  bool NoPrefState() const;
  bool NoWrap() const;
  bool Volatile() const;
  int32_t LogicalMaximum() const;
  int32_t LogicalMinimum() const;
  int32_t PhysicalMaximum() const;
  int32_t PhysicalMinimum() const;
  int32_t SizeInBits() const;
  std::string StringDescriptor() const;
  int32_t VarRptIndex(int32_t VarIndex) const;
  bool VarIsButton(int32_t VarIndex) const;
  void NameVar(int32_t VarIndex, const std::string& VarName);
  std::string VarName(int32_t VarIndex) const;
  void SetScaleMode(int32_t Mode);  // current variable
  int32_t CurScaleMode() const;     // current variable
  int32_t GetUnscaled(int32_t VarIndex) const;
  int32_t GetScaled(int32_t VarIndex) const;
  void SetUnscaled(int32_t VarIndex, int32_t Value);
  void SetScaled(int32_t VarIndex, int32_t Value);

  // Reports (all-report indexes).
  int32_t RptCount() const;
  int32_t CurrentRptNum() const;
  void CurrentRptNum(int32_t RptIndex);
  void SelectRpt(int32_t RptIndex);
  // Move the current report and return when it is done. False when the
  // transfer failed or timed out; a device found gone is closed
  // (DeviceRemoved, then InterfaceClosed).
  bool ReadRpt();
  bool WriteRpt();
  // Writes several output reports at once: the writes to different interfaces
  // run side by side (each interface's own I/O worker), those to one interface
  // one after another in the order given, and the call returns when all are
  // done. Then, in the order given, it calls `done(k, ok)` for report k with
  // what WriteRpt would have returned, after closing a device the write found
  // gone as WriteRpt does. A negative index stands for no report: its result
  // is false. Another index out of range throws before anything is written.
  // The current report is the last one given, as after SelectRpt and WriteRpt.
  using WriteDone = std::function<void(std::size_t k, bool ok)>;
  void WriteRpts(std::span<const int32_t> RptIndexes, const WriteDone& done);

  // Posted writes, for a sweep's steps: PostRpts hands the output reports to
  // the interfaces' I/O workers and returns before they are written (a
  // device whose writes never block is written at once, as by WriteRpts).
  // Each interface writes its posted reports in the order posted; while it
  // is still writing one, the next ones wait, up to 8 of them; a ninth drops
  // the oldest waiting one, so the newest report always goes out. A dropped
  // report's result is Skipped (it never went out).
  //
  // Results come back on the caller's thread, never from a worker: `done(k,
  // result)` for report k of a post, in the order given, posts in the order
  // posted, once a post's writes have all finished, from the first of
  // DeliverWrites, FinishWrites or PostRpts itself (which delivers what has
  // finished, its own quick writes among them) after that. A device a
  // posted write found gone is closed then, before its `done`, as
  // WriteRpts does. Indexes are checked as by WriteRpts, before anything is
  // posted. Calls made from inside a `done` deliver nothing more.
  //
  // Every other call that moves a report or closes an interface (WriteRpt,
  // WriteRpts, ReadRpt, CloseDevices, ProcessHotplug and the destructor)
  // first waits for the posted writes, so that a device never has two
  // transfers at once, but delivers none of their results: call
  // FinishWrites before them to have the results in order.
  enum class Posted { Written, Failed, Skipped };
  using PostDone = std::function<void(std::size_t k, Posted result)>;
  void PostRpts(std::span<const int32_t> RptIndexes, PostDone done);
  // Whether a post's results have not been delivered yet.
  bool WritesPending() const;
  // Delivers the results of the posts whose writes have all finished; waits for none.
  void DeliverWrites();
  // Waits until every posted write has gone out, then delivers every result.
  void FinishWrites();
  // Waits until every posted write has gone out; delivers nothing, raises no
  // event. Safe at any time on the caller's thread, also inside a `done`.
  void WaitWrites();
  // Waits as WaitWrites, then drops the results unseen (the listener is going away).
  void DiscardWrites();

  // Hot-plug: the fd to watch (-1 if none) and the call to make when it is readable.
  int HotplugFd();
  void ProcessHotplug();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pts
