// TOneHidVar: one data variable (one field of one report) of an interface the
// agent has opened. The value lives in the agent's copy of the report; writing
// it only stages it there.
//
// Properties are a getter `Name()` and a setter `Name(value)`. Members marked
// "guarded" turn every failure inside them into the class error (errors.h)
// with the source given; the others let a failure reach the caller unchanged.
//
// The /// lines are the members' help texts as they have always read. Where
// they name Windows, the line below says what happens here: hidraw passes raw
// reports, and the agent does the scaling and hands out the handles.
#pragma once

#include <cstdint>
#include <string>

namespace pts {

class Varnel;

class TOneHidVar {
 public:
  TOneHidVar();  // draws the next class debug ID
  ~TOneHidVar();
  TOneHidVar(const TOneHidVar&) = delete;
  TOneHidVar& operator=(const TOneHidVar&) = delete;

  // Stores RptType (narrowed to 16 bits; out of range throws OverflowError
  // before anything is stored), UsagePage, Usage, VarIdentity and VarName.
  void DoCreate(int32_t MyRptType, int32_t MyUsgPage, int32_t MyUsg, int32_t MyID,
                const std::string& MyName);

  int32_t VarIdentity() const;

  /// Sets scaling mode for reading this HID data variable. 0 = smBoth: read both unscaled and
  /// scaled values, 1 = smUnscaledOnly: read only unscaled values, 2 = smScaledOnly: read only
  /// scaled values
  int32_t ScaleMode() const;
  void ScaleMode(int32_t vScaleMode);

  /// Stores a user-defined number which you can use for any purpose
  int32_t Tag() const;
  void Tag(int32_t vData);

  /// Boolean equivalent of value of this var. False = 0, True = 1
  bool BoolValue() const;
  void BoolValue(bool vData);

  /// Returns the RAW numerical value of this variable, BEFORE it is scaled by Windows
  // The field's value in the report, before the agent scales it.
  int32_t UnScaledValue() const;
  void UnScaledValue(int32_t vData);

  /// Returns contents of string descriptor (if any), embedded in the device, which describes
  /// this var
  const std::string& StringDescriptor() const;
  /// Returns name of this var
  const std::string& VarName() const;
  /// Returns RptIndex of the Report which contains this var, showing the Report's index in
  /// Varnel's list of all available HID Reports
  int32_t RptIndex() const;
  /// Returns AllVarIndex of this var, showing its index in Varnel's list of all available HID
  /// variables
  int32_t VarIndex() const;
  /// Returns the type of HID Report (0 = Input, 1 = Output, 2 = Feature) that contains this var
  int16_t RptType() const;
  /// Returns Usage for this var, as defined in Report Descriptor of device
  int32_t Usage() const;
  /// Returns Usage Page for this var, as defined in Report Descriptor of device
  int32_t UsagePage() const;
  /// Returns Windows handle for the HID Interface which contains this var
  // The agent's number for that open interface, never reused (unlike a hidraw fd).
  int32_t HidHandle() const;
  /// Returns Physical Minimum for this var, as defined in Report Descriptor of device
  int32_t PhysicalMinimum() const;
  /// Returns Physical Maximum for this var, as defined in Report Descriptor of device
  int32_t PhysicalMaximum() const;
  /// Returns Logical Minimum of this var, as defined in Report Descriptor of device
  int32_t LogicalMinimum() const;
  /// Returns Logical Maximum for this var, as defined in Report Descriptor of device
  int32_t LogicalMaximum() const;

  // Guarded ("OneHidVar:<Name> Method").
  /// Returns True if this var is a 1-bit "button" type.
  bool IsButton() const;
  /// Pertains to Output or Feature vars only. Returns True if this var can be changed by device
  /// itself in addition to values sent by PC.
  bool Volatile() const;
  /// Returns True if this var does not wrap around to opposite extreme value if it exceeds max or
  /// min value.
  bool NoWrap() const;
  /// Returns True if this device does not have a state to which it automatically returns in the
  /// absence of user interaction (like a joystick which returns to center when released).
  bool NoPrefState() const;
  /// Returns True if this variable has a linear relationship to the physical quantity being
  /// measured by the device.
  bool Linear() const;
  /// Returns True if this var represents a quantity or control in the device which has a state in
  /// which it is not sending meaningful data.
  bool HasNullState() const;
  /// Returns True if this var is a normal bitfield, and not a "buffered bytes" variable.
  bool BitsNotBuffer() const;
  /// Returns True if this var contains a HID array (of "buttons").
  bool ArrayNotVariable() const;
  /// Returns True if the value of this var is not relative to the last value it had.
  bool AbsoluteNotRelative() const;

  /// Returns size of this var, in bits, when the var is packed into a HID Report for I/O from or
  /// to device.  SizeInBits is related to the maximum raw value that may be expected from this
  /// var.
  int16_t SizeInBits() const;  // guarded: "OneHidVar:SizeInBits Method"

  /// Returns the numerical value of this variable, after it is scaled by Windows
  // Scaled by the agent from the logical to the physical range.
  int32_t ScaledValue() const;      // guarded: "OneHidVar:ScaledValue Property Get"
  void ScaledValue(int32_t vData);  // guarded: "OneHidVar:ScaledValue Property Let"

  /// Returns true if this var is currently bound.
  bool IsBound() const;  // guarded: "OneHidVar:IsBound Method"

  /// Reads or writes the HID Report that contains this variable. Parameter DataIn is used only if
  /// var is contained in a Feature Report: Report is read if DataIn = True. Returns True if I/O
  /// operation is successful.
  bool Update(bool DataIn);  // guarded: "OneHidVar:Update Method"

  /// Un-binds this HID variable, as when its Interface is closed
  void UnBind();  // guarded: "OneHidVar:UnBind Method"

  bool Bind(Varnel& AVarnel);  // guarded: "OneHidVar:Bind Method"

  int32_t ClassDebugID() const;
  Varnel* BoundVarnel() const;

 private:
  // First, together: a sweep step reads these two of every output variable.
  Varnel* bound_varnel_ = nullptr;
  int32_t var_index_ = -1;
  int32_t class_debug_id_;
  int32_t tag_ = 0;
  int16_t rpt_type_ = 0;
  int32_t usage_ = 0;
  int32_t usage_page_ = 0;
  int32_t hid_handle_ = 0;
  int32_t rpt_index_ = -1;
  int32_t var_identity_ = 0;
  int32_t logical_maximum_ = 0;
  int32_t logical_minimum_ = 0;
  int32_t physical_maximum_ = 0;
  int32_t physical_minimum_ = 0;
  int32_t size_in_bits_ = 0;
  std::string var_name_;
  std::string string_descriptor_;
  bool absolute_not_relative_ = false;
  bool array_not_variable_ = false;
  bool bits_not_buffer_ = false;
  bool has_null_state_ = false;
  bool linear_ = false;
  bool no_pref_state_ = false;
  bool no_wrap_ = false;
  bool volatile_ = false;
  bool is_button_ = false;
};

}  // namespace pts
