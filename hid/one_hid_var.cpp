#include "hid/one_hid_var.h"

#include "hid/errors.h"
#include "hid/varnel.h"

namespace pts {

TOneHidVar::TOneHidVar() : class_debug_id_(NextClassDebugID()) {}

// Releases the component reference only; nothing goes to the device.
TOneHidVar::~TOneHidVar() = default;

void TOneHidVar::DoCreate(int32_t MyRptType, int32_t MyUsgPage, int32_t MyUsg, int32_t MyID,
                          const std::string& MyName) {
  rpt_type_ = ToInt16(MyRptType);  // throws before anything is stored
  usage_page_ = MyUsgPage;
  usage_ = MyUsg;
  var_identity_ = MyID;
  var_name_ = MyName;
}

int32_t TOneHidVar::VarIdentity() const {
  return var_identity_;
}

int32_t TOneHidVar::ScaleMode() const {
  if (var_index_ < 0) return smUnscaledOnly;
  bound_varnel_->SelectVar(var_index_);
  return bound_varnel_->CurScaleMode();
}

void TOneHidVar::ScaleMode(int32_t vScaleMode) {
  if (var_index_ < 0) return;
  bound_varnel_->SelectVar(var_index_);
  bound_varnel_->SetScaleMode(vScaleMode);
}

int32_t TOneHidVar::Tag() const {
  return tag_;
}
void TOneHidVar::Tag(int32_t vData) {
  tag_ = vData;
}

bool TOneHidVar::BoolValue() const {
  return false;
}
void TOneHidVar::BoolValue(bool /*vData*/) {}

int32_t TOneHidVar::UnScaledValue() const {
  if (var_index_ < 0) return 0;
  return bound_varnel_->GetUnscaled(var_index_);
}

void TOneHidVar::UnScaledValue(int32_t vData) {
  if (var_index_ < 0) return;
  bound_varnel_->SetUnscaled(var_index_, vData);
}

const std::string& TOneHidVar::StringDescriptor() const {
  return string_descriptor_;
}
const std::string& TOneHidVar::VarName() const {
  return var_name_;
}
int32_t TOneHidVar::RptIndex() const {
  return rpt_index_;
}
int32_t TOneHidVar::VarIndex() const {
  return var_index_;
}
int16_t TOneHidVar::RptType() const {
  return rpt_type_;
}
int32_t TOneHidVar::Usage() const {
  return usage_;
}
int32_t TOneHidVar::UsagePage() const {
  return usage_page_;
}
int32_t TOneHidVar::HidHandle() const {
  return hid_handle_;
}
int32_t TOneHidVar::PhysicalMinimum() const {
  return physical_minimum_;
}
int32_t TOneHidVar::PhysicalMaximum() const {
  return physical_maximum_;
}
int32_t TOneHidVar::LogicalMinimum() const {
  return logical_minimum_;
}
int32_t TOneHidVar::LogicalMaximum() const {
  return logical_maximum_;
}

bool TOneHidVar::IsButton() const {
  return Guarded("OneHidVar:IsButton Method", [&] { return is_button_; });
}
bool TOneHidVar::Volatile() const {
  return Guarded("OneHidVar:Volatile Method", [&] { return volatile_; });
}
bool TOneHidVar::NoWrap() const {
  return Guarded("OneHidVar:NoWrap Method", [&] { return no_wrap_; });
}
bool TOneHidVar::NoPrefState() const {
  return Guarded("OneHidVar:NoPrefState Method", [&] { return no_pref_state_; });
}
bool TOneHidVar::Linear() const {
  return Guarded("OneHidVar:Linear Method", [&] { return linear_; });
}
bool TOneHidVar::HasNullState() const {
  return Guarded("OneHidVar:HasNullState Method", [&] { return has_null_state_; });
}
bool TOneHidVar::BitsNotBuffer() const {
  return Guarded("OneHidVar:BitsNotBuffer Method", [&] { return bits_not_buffer_; });
}
bool TOneHidVar::ArrayNotVariable() const {
  return Guarded("OneHidVar:ArrayNotVariable Method", [&] { return array_not_variable_; });
}
bool TOneHidVar::AbsoluteNotRelative() const {
  return Guarded("OneHidVar:AbsoluteNotRelative Method", [&] { return absolute_not_relative_; });
}

int16_t TOneHidVar::SizeInBits() const {
  return Guarded("OneHidVar:SizeInBits Method", [&] { return ToInt16(size_in_bits_); });
}

int32_t TOneHidVar::ScaledValue() const {
  return Guarded("OneHidVar:ScaledValue Property Get", [&]() -> int32_t {
    if (var_index_ < 0) return 0;
    return bound_varnel_->GetScaled(var_index_);
  });
}

void TOneHidVar::ScaledValue(int32_t vData) {
  Guarded("OneHidVar:ScaledValue Property Let", [&] {
    if (var_index_ < 0) return;
    bound_varnel_->SetScaled(var_index_, vData);
  });
}

bool TOneHidVar::IsBound() const {
  return Guarded("OneHidVar:IsBound Method", [&] { return var_index_ >= 0; });
}

bool TOneHidVar::Update(bool DataIn) {
  return Guarded("OneHidVar:Update Method", [&] {
    if (rpt_index_ < 0) return false;
    bound_varnel_->CurrentRptNum(rpt_index_);
    switch (rpt_type_) {
      case 0:
        return bound_varnel_->ReadRpt();
      case 1:
        return bound_varnel_->WriteRpt();
      case 2:
        return DataIn ? bound_varnel_->ReadRpt() : bound_varnel_->WriteRpt();
      default:
        return false;
    }
  });
}

void TOneHidVar::UnBind() {
  Guarded("OneHidVar:UnBind Method", [&] {
    var_index_ = -1;
    rpt_index_ = -1;
    logical_maximum_ = 0;
    logical_minimum_ = 0;
    physical_maximum_ = 0;
    physical_minimum_ = 0;
    var_name_.clear();
    string_descriptor_.clear();
  });
}

bool TOneHidVar::Bind(Varnel& AVarnel) {
  return Guarded("OneHidVar:Bind Method", [&] {
    bound_varnel_ = &AVarnel;
    var_index_ = AVarnel.FindVar(usage_page_, usage_, rpt_type_, false);
    if (var_index_ < 0) return false;
    AVarnel.SelectVar(var_index_);
    hid_handle_ = AVarnel.CurHidHandle();
    rpt_index_ = AVarnel.VarRptIndex(var_index_);
    absolute_not_relative_ = AVarnel.AbsoluteNotRelative();
    array_not_variable_ = AVarnel.ArrayNotVariable();
    bits_not_buffer_ = AVarnel.BitsNotBuffer();
    has_null_state_ = AVarnel.HasNullState();
    is_button_ = AVarnel.VarIsButton(var_index_);
    linear_ = AVarnel.Linear();
    logical_maximum_ = AVarnel.LogicalMaximum();
    logical_minimum_ = AVarnel.LogicalMinimum();
    no_pref_state_ = AVarnel.NoPrefState();
    no_wrap_ = AVarnel.NoWrap();
    physical_maximum_ = AVarnel.PhysicalMaximum();
    physical_minimum_ = AVarnel.PhysicalMinimum();
    size_in_bits_ = AVarnel.SizeInBits();
    string_descriptor_ = AVarnel.StringDescriptor();
    volatile_ = AVarnel.Volatile();
    AVarnel.NameVar(var_index_, var_name_);
    AVarnel.SetScaleMode(smUnscaledOnly);
    return true;
  });
}

int32_t TOneHidVar::ClassDebugID() const {
  return class_debug_id_;
}
Varnel* TOneHidVar::BoundVarnel() const {
  return bound_varnel_;
}

}  // namespace pts
