#include "hid/pts_device.h"

#include "hid/board.h"
#include "hid/errors.h"
#include "hid/varnel.h"

namespace pts {

namespace {

constexpr int32_t kVendorPage = 0xFF00;

struct VarRow {
  const char* name;
  int32_t rpt_type;
  int32_t usage;
  const char* get_source;
  const char* let_source;
};

// The board's variables in table order: positions 0..13. All on the vendor
// page with identity 1.
constexpr VarRow kRows[14] = {
    {"Cmd1", 1, 1, "TPTS:Cmd1 Property Get", "TPTS:Cmd1 Property Let"},
    {"PWMDC", 1, 2, "TPTS:PWMDC Property Get", "TPTS:PWMDC Property Let"},
    {"PWMF", 1, 3, "TPTS:PWMF Property Get", "TPTS:PWMF Property Let"},
    {"F1", 1, 4, "TPTS:F1 Property Get", "TPTS:F1 Property Let"},
    {"F2", 1, 5, "TPTS:F2 Property Get", "TPTS:F2 Property Let"},
    {"F3", 1, 6, "TPTS:F3 Property Get", "TPTS:F3 Property Let"},
    {"F4", 1, 7, "TPTS:F4 Property Get", "TPTS:F4 Property Let"},
    {"F5", 1, 8, "TPTS:F5 Property Get", "TPTS:F5 Property Let"},
    {"F6", 1, 9, "TPTS:F6 Property Get", "TPTS:F6 Property Let"},
    {"F7", 1, 10, "TPTS:F7 Property Get", "TPTS:F7 Property Let"},
    {"F8", 1, 11, "TPTS:F8 Property Get", "TPTS:F8 Property Let"},
    {"F9", 1, 12, "TPTS:F9 Property Get", "TPTS:F9 Property Let"},
    {"F10", 1, 13, "TPTS:F10 Property Get", "TPTS:F10 Property Let"},
    {"Data1", 0, 14, "TPTS:Data1 Property Get", "TPTS:Data1 Property Let"},
};

constexpr std::size_t kCmd1 = 0;
constexpr std::size_t kData1 = 13;
constexpr int32_t kSharedIdentity = 3;  // variables that belong to every device identity

}  // namespace

TPTS::TPTS() {
  for (std::size_t i = 0; i < var_table_.size(); ++i) {
    auto v = std::make_shared<TOneHidVar>();
    v->DoCreate(kRows[i].rpt_type, kVendorPage, kRows[i].usage, 1, kRows[i].name);
    var_table_[i] = v;
    by_name_[i] = v;
  }
  class_debug_id_ = NextClassDebugID();
}

// Releases the variables; nothing goes to the board.
TPTS::~TPTS() = default;

int32_t TPTS::ClassDebugID() const {
  return class_debug_id_;
}

void TPTS::HidClosed(void* /*Sender*/, int32_t /*NumStillOpen*/, const std::string& /*AName*/,
                     int32_t AHidHandle) {
  for (const VarPtr& v : var_table_) {
    if (v->HidHandle() == AHidHandle) {
      UnBindRpt(*v);
      v->UnBind();
    }
  }
}

void TPTS::HidRptArrived(void* /*Sender*/, int32_t /*RptIndexInIntf*/, int32_t /*AllRptIndex*/) {}

int32_t TPTS::BindVars(Varnel& AVarnel) {
  bound_varnel_ = &AVarnel;
  const int32_t n = AVarnel.OpenCount();
  AVarnel.SelectOpenIntf(n - 1);
  int32_t result = -1;
  if (DeviceIsMatched()) {
    result = BindAllVars();
    FindRptIndexes();
  }
  return result;
}

int32_t TPTS::ReBind(Varnel& /*AVarnel*/) {
  for (const VarPtr& v : var_table_) {
    UnBindRpt(*v);
    v->UnBind();
  }
  const int32_t count = BindAllVars();
  FindRptIndexes();
  return count;
}

void TPTS::Shutdown() {}

bool TPTS::ReadInputRptB() {
  if (rpt_b_index_ < 0) return false;
  bound_varnel_->SelectRpt(rpt_b_index_);
  return bound_varnel_->ReadRpt();
}

bool TPTS::WriteOutputRptA() {
  if (rpt_a_index_ < 0) return false;
  bound_varnel_->SelectRpt(rpt_a_index_);
  return bound_varnel_->WriteRpt();
}

bool TPTS::ReadAllReports() {
  return ReadInputRptB();
}
bool TPTS::WriteAllReports() {
  return WriteOutputRptA();
}

int32_t TPTS::UnboundVarCount() const {
  int32_t n = 0;
  for (const VarPtr& v : var_table_) {
    const int32_t id = v->VarIdentity();
    if (!v->IsBound() && (id == device_identity_ || id == kSharedIdentity)) ++n;
  }
  return n;
}

int32_t TPTS::VariableCount() const {
  int32_t n = 0;
  for (const VarPtr& v : var_table_) {
    const int32_t id = v->VarIdentity();
    if (id == device_identity_ || id == kSharedIdentity) ++n;
  }
  return n;
}

bool TPTS::IsAllUnbound() const {
  return VariableCount() == UnboundVarCount();
}

bool TPTS::HasHandle(int32_t AHidHandle) const {
  for (const VarPtr& v : var_table_) {
    if (v->HidHandle() == AHidHandle) return true;
  }
  return false;
}

void TPTS::UnBindRpt(const TOneHidVar& AVar) {
  const int32_t index = AVar.RptIndex();
  const int16_t type = AVar.RptType();
  if (type == 0 && index == rpt_b_index_) {
    rpt_b_index_ = -1;
  } else if (type == 1 && index == rpt_a_index_) {
    rpt_a_index_ = -1;
  }
}

int32_t TPTS::DeviceIdentity() const {
  return device_identity_;
}

bool TPTS::DeviceIsMatched() {
  return Guarded("TPTS:DeviceIsMatched Method", [&] {
    if (bound_varnel_->CurVendorID() != hid::kBoardVendorId) return false;
    return bound_varnel_->CurProductID() == hid::kBoardProductId;
  });
}

int32_t TPTS::BindAllVars() {
  // ReBind before any BindVars has no component to bind through.
  if (!bound_varnel_) throw VarnelError("TPTS: no component to bind through");
  int32_t count = 14;
  for (const VarPtr& v : var_table_) {
    if (v->IsBound()) {
      --count;
    } else if (v->Bind(*bound_varnel_)) {
      --count;
      if (v->VarIdentity() != kSharedIdentity && device_identity_ == 0) {
        device_identity_ = v->VarIdentity();
      }
    }
  }
  return count;
}

void TPTS::FindRptIndexes() {
  if (var_table_[kCmd1]->RptIndex() >= 0) rpt_a_index_ = var_table_[kCmd1]->RptIndex();
  if (var_table_[kData1]->RptIndex() >= 0) rpt_b_index_ = var_table_[kData1]->RptIndex();
}

// The 28 name properties share one body each for reading and writing.
#define PTS_VAR_PROPERTY(Name, Pos)                                        \
  const TPTS::VarPtr& TPTS::Name() {                                       \
    return Guarded(kRows[Pos].get_source, [&]() -> const VarPtr& {         \
      if (!by_name_[Pos]) by_name_[Pos] = std::make_shared<TOneHidVar>();  \
      return by_name_[Pos];                                                \
    });                                                                    \
  }                                                                        \
  void TPTS::Name(VarPtr v) {                                              \
    Guarded(kRows[Pos].let_source, [&] { by_name_[Pos] = std::move(v); }); \
  }

PTS_VAR_PROPERTY(Cmd1, 0)
PTS_VAR_PROPERTY(PWMDC, 1)
PTS_VAR_PROPERTY(PWMF, 2)
PTS_VAR_PROPERTY(F1, 3)
PTS_VAR_PROPERTY(F2, 4)
PTS_VAR_PROPERTY(F3, 5)
PTS_VAR_PROPERTY(F4, 6)
PTS_VAR_PROPERTY(F5, 7)
PTS_VAR_PROPERTY(F6, 8)
PTS_VAR_PROPERTY(F7, 9)
PTS_VAR_PROPERTY(F8, 10)
PTS_VAR_PROPERTY(F9, 11)
PTS_VAR_PROPERTY(F10, 12)
PTS_VAR_PROPERTY(Data1, 13)

#undef PTS_VAR_PROPERTY

}  // namespace pts
