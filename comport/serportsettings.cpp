// The four settings objects. Each setter compares, stores and asks its port to apply the
// group again; the port decides whether the device sees it now (open, no update block) or
// at the next Open / outermost EndUpdate.
#include "comport/serport.h"

namespace {

template <typename T>
bool store(T &field, T value) {
  if (field == value)
    return false;
  field = value;
  return true;
}

}  // namespace

void TComParity::SetBits(TParityBits Value) {
  if (store(bits_, Value) && port_)
    port_->ApplyDCB();
}
void TComParity::SetCheck(bool Value) {
  if (store(check_, Value) && port_)
    port_->ApplyDCB();
}
void TComParity::SetReplace(bool Value) {
  if (store(replace_, Value) && port_)
    port_->ApplyDCB();
}
void TComParity::SetReplaceChar(char Value) {
  if (store(replace_char_, Value) && port_)
    port_->ApplyDCB();
}
void TComParity::AssignTo(TComParity &Dest) const {
  Dest.bits_ = bits_;
  Dest.check_ = check_;
  Dest.replace_ = replace_;
  Dest.replace_char_ = replace_char_;
}

void TComFlowControl::Changed() {
  if (port_)
    port_->ApplyDCB();
}
void TComFlowControl::SetOutCTSFlow(bool Value) {
  if (store(out_cts_flow_, Value))
    Changed();
}
void TComFlowControl::SetOutDSRFlow(bool Value) {
  if (store(out_dsr_flow_, Value))
    Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) {
  if (store(control_dtr_, Value))
    Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) {
  if (store(control_rts_, Value))
    Changed();
}
void TComFlowControl::SetXonXoffOut(bool Value) {
  if (store(xon_xoff_out_, Value))
    Changed();
}
void TComFlowControl::SetXonXoffIn(bool Value) {
  if (store(xon_xoff_in_, Value))
    Changed();
}
void TComFlowControl::SetDSRSensitivity(bool Value) {
  if (store(dsr_sensitivity_, Value))
    Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool Value) {
  if (store(tx_continue_on_xoff_, Value))
    Changed();
}
void TComFlowControl::SetXonChar(char Value) {
  if (store(xon_char_, Value))
    Changed();
}
void TComFlowControl::SetXoffChar(char Value) {
  if (store(xoff_char_, Value))
    Changed();
}

TFlowControl TComFlowControl::FlowControl() const {
  // DTR and DSR are not looked at: the summary is about RTS/CTS and XON/XOFF only.
  if (control_rts_ == rtsHandshake && out_cts_flow_ && !xon_xoff_in_ && !xon_xoff_out_)
    return fcHardware;
  if (control_rts_ == rtsDisable && !out_cts_flow_ && xon_xoff_in_ && xon_xoff_out_)
    return fcSoftware;
  if (control_rts_ == rtsDisable && !out_cts_flow_ && !xon_xoff_in_ && !xon_xoff_out_)
    return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl Value) {
  if (Value != fcCustom) {
    control_rts_ = rtsDisable;
    out_cts_flow_ = false;
    xon_xoff_in_ = false;
    xon_xoff_out_ = false;
  }
  if (Value == fcHardware) {
    control_rts_ = rtsHandshake;
    out_cts_flow_ = true;
  } else if (Value == fcSoftware) {
    xon_xoff_in_ = true;
    xon_xoff_out_ = true;
  }
  Changed();
}

void TComFlowControl::AssignTo(TComFlowControl &Dest) const {
  Dest.out_cts_flow_ = out_cts_flow_;
  Dest.out_dsr_flow_ = out_dsr_flow_;
  Dest.control_dtr_ = control_dtr_;
  Dest.control_rts_ = control_rts_;
  Dest.xon_xoff_out_ = xon_xoff_out_;
  Dest.xon_xoff_in_ = xon_xoff_in_;
  Dest.dsr_sensitivity_ = dsr_sensitivity_;
  Dest.tx_continue_on_xoff_ = tx_continue_on_xoff_;
  Dest.xon_char_ = xon_char_;
  Dest.xoff_char_ = xoff_char_;
}

void TComTimeouts::Set(int &field, int Value) {
  if (store(field, Value) && port_)
    port_->ApplyTimeouts();
}
void TComTimeouts::SetReadInterval(int Value) { Set(read_interval_, Value); }
void TComTimeouts::SetReadTotalMultiplier(int Value) { Set(read_total_multiplier_, Value); }
void TComTimeouts::SetReadTotalConstant(int Value) { Set(read_total_constant_, Value); }
void TComTimeouts::SetWriteTotalMultiplier(int Value) { Set(write_total_multiplier_, Value); }
void TComTimeouts::SetWriteTotalConstant(int Value) { Set(write_total_constant_, Value); }
void TComTimeouts::AssignTo(TComTimeouts &Dest) const {
  Dest.read_interval_ = read_interval_;
  Dest.read_total_multiplier_ = read_total_multiplier_;
  Dest.read_total_constant_ = read_total_constant_;
  Dest.write_total_multiplier_ = write_total_multiplier_;
  Dest.write_total_constant_ = write_total_constant_;
}

void TComBuffer::Set(int &field, int Value) {
  if (field == Value)
    return;
  // Drivers want even queue sizes; a negative odd value is left for SetupComm to refuse.
  if (Value > 0 && Value % 2 != 0)
    --Value;
  field = Value;
  if (port_)
    port_->ApplyBuffer();
}
void TComBuffer::SetInputSize(int Value) { Set(input_size_, Value); }
void TComBuffer::SetOutputSize(int Value) { Set(output_size_, Value); }
void TComBuffer::AssignTo(TComBuffer &Dest) const {
  Dest.input_size_ = input_size_;
  Dest.output_size_ = output_size_;
}
