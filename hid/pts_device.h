// TPTS: one interface board as its 14 named HID variables. Binds them through
// the agent when the board's interface has opened, unbinds them when an
// interface closes, and moves output report A and input report B.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "hid/one_hid_var.h"

namespace pts {

class Varnel;

class TPTS {
 public:
  using VarPtr = std::shared_ptr<TOneHidVar>;

  TPTS();  // creates the 14 variables, then draws its own class debug ID
  ~TPTS();
  TPTS(const TPTS&) = delete;
  TPTS& operator=(const TPTS&) = delete;

  int32_t ClassDebugID() const;
  // Unbinds every variable whose HidHandle equals AHidHandle; only that argument is used.
  void HidClosed(void* Sender, int32_t NumStillOpen, const std::string& AName, int32_t AHidHandle);
  void HidRptArrived(void* Sender, int32_t RptIndexInIntf, int32_t AllRptIndex);
  // -1 when the interface opened last is not the board, else the number left unbound.
  int32_t BindVars(Varnel& AVarnel);
  int32_t ReBind(Varnel& AVarnel);
  void Shutdown();
  bool ReadInputRptB();
  bool WriteOutputRptA();
  bool ReadAllReports();
  bool WriteAllReports();
  int32_t UnboundVarCount() const;
  int32_t VariableCount() const;
  bool IsAllUnbound() const;
  bool HasHandle(int32_t AHidHandle) const;
  void UnBindRpt(const TOneHidVar& AVar);
  int32_t DeviceIdentity() const;

  // The variable properties. Reading a name that holds nothing creates a new,
  // unbound TOneHidVar there. Writing replaces the object under the name only;
  // VarTable keeps the one made at construction. Guarded: "TPTS:<Name>
  // Property Get" / "TPTS:<Name> Property Let". A read gives the holder
  // itself, not a copy: the sweep reads thirteen of them per board and step.
  const VarPtr& Cmd1();
  void Cmd1(VarPtr v);
  const VarPtr& PWMDC();
  void PWMDC(VarPtr v);
  const VarPtr& PWMF();
  void PWMF(VarPtr v);
  const VarPtr& F1();
  void F1(VarPtr v);
  const VarPtr& F2();
  void F2(VarPtr v);
  const VarPtr& F3();
  void F3(VarPtr v);
  const VarPtr& F4();
  void F4(VarPtr v);
  const VarPtr& F5();
  void F5(VarPtr v);
  const VarPtr& F6();
  void F6(VarPtr v);
  const VarPtr& F7();
  void F7(VarPtr v);
  const VarPtr& F8();
  void F8(VarPtr v);
  const VarPtr& F9();
  void F9(VarPtr v);
  const VarPtr& F10();
  void F10(VarPtr v);
  const VarPtr& Data1();
  void Data1(VarPtr v);

  // Read access for tests and diagnostics.
  int32_t RptAIndex() const { return rpt_a_index_; }
  int32_t RptBIndex() const { return rpt_b_index_; }
  Varnel* BoundVarnel() const { return bound_varnel_; }
  const std::array<VarPtr, 14>& VarTable() const { return var_table_; }

 private:
  bool DeviceIsMatched();  // guarded: "TPTS:DeviceIsMatched Method"
  int32_t BindAllVars();
  void FindRptIndexes();

  std::array<VarPtr, 14> var_table_;  // positions 0..13 in the variable table's order
  std::array<VarPtr, 14> by_name_;    // what each name property holds now
  int32_t class_debug_id_ = 0;
  Varnel* bound_varnel_ = nullptr;
  int32_t device_identity_ = 0;
  int32_t rpt_a_index_ = -1;
  int32_t rpt_b_index_ = -1;
};

}  // namespace pts
