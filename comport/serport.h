// The serial port component: TComPort keeps the settings of one serial port, opens and closes
// the device, reads and writes it (also from worker threads), and runs an event thread that
// turns device events into its own events and into notifications of registered links.
//
// Threads: Open, Close, settings, link registration and the event handlers belong to the
// GUI thread (with the default smThreadSync every handler and link runs there). Write,
// WriteStr and the async calls may come from any thread, also while the event thread is
// delivering. Failures raise EComPort / EComPortExt on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "comport/serporttypes.h"
#include "platform/comm.h"
#include "platform/gui.h"

class TCustomComPort;
class IniFile;
class RegistryKey;

// ---- errors ----

// The message of an error code: "Unable to open com port" for 1, … "Registry error" for 23,
// "Unknown Error #<n>" for any other code.
std::string ComErrorMessage(int Code);

// A failure of the port. Code is the error code (0 when made from a plain message).
class EComPort : public std::runtime_error {
 public:
  // Message: Port + " Error: " + ComErrorMessage(Code).
  EComPort(const std::string &Port, int Code);
  explicit EComPort(const std::string &Msg);
  uint8_t Code() const { return code_; }

 protected:
  EComPort(const std::string &Msg, uint8_t Code) : std::runtime_error(Msg), code_(Code) {}

 private:
  uint8_t code_ = 0;
};

// A failure of a device call; WinCode is that call's Windows error number.
class EComPortExt : public EComPort {
 public:
  // Message: "COM Port Error: " + ComErrorMessage(Code) + " on " + Port.
  EComPortExt(const std::string &Port, int Code, int32_t WinCode);
  int32_t WinCode() const { return win_code_; }

 private:
  int32_t win_code_;
};

// "<Ok>" for no errors, otherwise "<ComError:" + names in ordinal order joined by "," + ">".
std::string ComErrorsToStr(TComErrors Errors);

// Fills List with the serial ports of this machine, sorted. Raises EComPortExt
// ("EnumComPorts", 23, error) when the system's list cannot be read.
void EnumComPorts(std::vector<std::string> &List);

// ---- events and links ----

using TComNotifyEvent = std::function<void(TCustomComPort *Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort *Sender, int Count)>;
using TRxBufEvent = std::function<void(TCustomComPort *Sender, const char *Buffer, int Count)>;
using TComSignalEvent = std::function<void(TCustomComPort *Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort *Sender, TComErrors Errors)>;
// The device went away while open (adapter pulled, far end closed): SystemError is the
// failed wait's error number (COMM_ERR_…). Fired once per open, on the delivering thread.
using TComDeviceLostEvent = std::function<void(TCustomComPort *Sender, uint32_t SystemError)>;

// The observer through which another component (the terminal, a LED, a packet splitter)
// follows a port without taking its event handlers. The owner creates the link, fills the
// slots it needs, registers it with RegisterLink and unregisters it before the link dies.
// Slots are called on the thread that delivers (see the port's SyncMethod) or, for OnTx and
// OnTxBuf, on the thread that writes.
class TComLink {
 public:
  TComSignalEvent OnConn;  // open (true) and close (false)
  TRxBufEvent OnRxBuf;     // every block of received bytes
  TRxBufEvent OnTxBuf;     // a copy of the bytes of each completed overlapped write
  TComNotifyEvent OnTxEmpty;
  TComNotifyEvent OnRxFlag;
  TComSignalEvent OnCTSChange;  // also at open (line state) and close (false)
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComNotifyEvent OnRing;
  TComSignalEvent OnTx;  // true when a write starts, false on transmit-empty
  TComSignalEvent OnRx;  // true when bytes are found waiting, false when a read empties the queue
  // The port is being destroyed: forget it (unregistering is allowed, and not needed).
  TComNotifyEvent OnDestroy;
};

// ---- asynchronous operations ----

// One overlapped read or write; the caller owns it between SerportInitAsync and
// SerportDoneAsync.
struct TSerPortAsync {
  CommAsync Overlapped;
  TOperationKind Kind = okWrite;
  char *Data = nullptr;  // private copy of a write's bytes; owned by the record
  int Size = 0;
  std::shared_ptr<CommDevice> Device;  // the device the operation runs on; null when none started
};
using PSerPortAsync = TSerPortAsync *;

void SerportInitAsync(PSerPortAsync &AsyncPtr);
// Frees the record (and Data) and sets AsyncPtr to null. Null is allowed.
void SerportDoneAsync(PSerPortAsync &AsyncPtr);

// ---- settings objects ----

// Base of the four settings objects: the back-reference to the owning port, set by the port
// when it creates the object and never copied.
class TComSettings {
 public:
  TCustomComPort *ComPort() const { return port_; }

 protected:
  friend class TCustomComPort;
  TCustomComPort *port_ = nullptr;
};

class TComParity : public TComSettings {
 public:
  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  char ReplaceChar() const { return replace_char_; }
  void SetBits(TParityBits Value);
  void SetCheck(bool Value);
  void SetReplace(bool Value);
  void SetReplaceChar(char Value);
  // Copies every setting, applies nothing.
  void AssignTo(TComParity &Dest) const;

 private:
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  char replace_char_ = 0;
};

class TComFlowControl : public TComSettings {
 public:
  bool OutCTSFlow() const { return out_cts_flow_; }
  bool OutDSRFlow() const { return out_dsr_flow_; }
  TDTRFlowControl ControlDTR() const { return control_dtr_; }
  TRTSFlowControl ControlRTS() const { return control_rts_; }
  bool XonXoffOut() const { return xon_xoff_out_; }
  bool XonXoffIn() const { return xon_xoff_in_; }
  bool DSRSensitivity() const { return dsr_sensitivity_; }
  bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }
  char XonChar() const { return xon_char_; }
  char XoffChar() const { return xoff_char_; }
  // The classification of the current settings (hardware, software, none or custom).
  TFlowControl FlowControl() const;

  void SetOutCTSFlow(bool Value);
  void SetOutDSRFlow(bool Value);
  void SetControlDTR(TDTRFlowControl Value);
  void SetControlRTS(TRTSFlowControl Value);
  void SetXonXoffOut(bool Value);
  void SetXonXoffIn(bool Value);
  void SetDSRSensitivity(bool Value);
  void SetTxContinueOnXoff(bool Value);
  void SetXonChar(char Value);
  void SetXoffChar(char Value);
  // Sets the fields of a named flow control (fcCustom changes nothing), then applies once.
  void SetFlowControl(TFlowControl Value);
  void AssignTo(TComFlowControl &Dest) const;

 private:
  void Changed();
  bool out_cts_flow_ = false;
  bool out_dsr_flow_ = false;
  TDTRFlowControl control_dtr_ = dtrDisable;
  TRTSFlowControl control_rts_ = rtsDisable;
  bool xon_xoff_out_ = false;
  bool xon_xoff_in_ = false;
  bool dsr_sensitivity_ = false;
  bool tx_continue_on_xoff_ = false;
  char xon_char_ = 17;
  char xoff_char_ = 19;
};

class TComTimeouts : public TComSettings {
 public:
  int ReadInterval() const { return read_interval_; }
  int ReadTotalMultiplier() const { return read_total_multiplier_; }
  int ReadTotalConstant() const { return read_total_constant_; }
  int WriteTotalMultiplier() const { return write_total_multiplier_; }
  int WriteTotalConstant() const { return write_total_constant_; }
  void SetReadInterval(int Value);
  void SetReadTotalMultiplier(int Value);
  void SetReadTotalConstant(int Value);
  void SetWriteTotalMultiplier(int Value);
  void SetWriteTotalConstant(int Value);
  void AssignTo(TComTimeouts &Dest) const;

 private:
  void Set(int &field, int Value);
  int read_interval_ = -1;
  int read_total_multiplier_ = 0;
  int read_total_constant_ = 0;
  int write_total_multiplier_ = 100;
  int write_total_constant_ = 1000;
};

class TComBuffer : public TComSettings {
 public:
  int InputSize() const { return input_size_; }
  int OutputSize() const { return output_size_; }
  // An odd positive size is lowered to the even size below it.
  void SetInputSize(int Value);
  void SetOutputSize(int Value);
  void AssignTo(TComBuffer &Dest) const;

 private:
  void Set(int &field, int Value);
  int input_size_ = 1024;
  int output_size_ = 1024;
};

// ---- the event thread ----

class TComThread;

// ---- the port ----

class TCustomComPort {
 public:
  TCustomComPort();
  // Closes the port (waiting for the event thread), then frees settings and links.
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort &) = delete;
  TCustomComPort &operator=(const TCustomComPort &) = delete;

  // Where devices come from; the OS backend unless a test hands in another (the fake).
  // Only while closed. The backend must outlive the port's use of it.
  void SetCommBackend(CommBackend *Backend) { backend_ = Backend; }

  // -- lifecycle (GUI thread) --
  void Open();
  void Close();
  bool Connected() const { return connected_.load(); }
  void SetConnected(bool Value);
  // Form loading: settings are only stored between BeginLoading and Loaded; Loaded opens
  // the port when Connected was stored true (an open failure is logged, the port stays closed).
  void BeginLoading() { loading_ = true; }
  void Loaded();

  // -- settings --
  const std::string &Port() const { return port_; }
  void SetPort(const std::string &Value);
  TBaudRate BaudRate() const { return baud_rate_; }
  void SetBaudRate(TBaudRate Value);
  int CustomBaudRate() const { return custom_baud_rate_; }
  void SetCustomBaudRate(int Value);
  TDataBits DataBits() const { return data_bits_; }
  void SetDataBits(TDataBits Value);
  TStopBits StopBits() const { return stop_bits_; }
  void SetStopBits(TStopBits Value);
  bool DiscardNull() const { return discard_null_; }
  void SetDiscardNull(bool Value);
  char EventChar() const { return event_char_; }
  void SetEventChar(char Value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents Value) { events_ = Value; }
  TSyncMethod SyncMethod() const { return sync_method_; }
  void SetSyncMethod(TSyncMethod Value);
  TThreadPriority EventThreadPriority() const { return event_thread_priority_; }
  void SetEventThreadPriority(TThreadPriority Value);
  // True only when the stored value is true and no link takes read data.
  bool TriggersOnRxChar() const;
  void SetTriggersOnRxChar(bool Value);
  bool Overlapped() const { return overlapped_; }
  void SetOverlapped(bool Value);
  TStoredProps StoredProps() const { return stored_props_; }
  void SetStoredProps(TStoredProps Value) { stored_props_ = Value; }
  // The component's name: the section of stored settings and the last part of their key.
  const std::string &Name() const { return name_; }
  void SetName(const std::string &Value) { name_ = Value; }

  // -- stored settings (GUI thread) --
  // Writes the groups of StoredProps to the ini file or registry key named by Location (a
  // registry path begins with its root: "HKEY_CURRENT_USER\\Software\\Example"). Nothing
  // is written unless every value could be; any failure raises EComPort code 16.
  void StoreSettings(TStoreType StoreType, const std::string &Location);
  // Reads the groups of StoredProps back inside one update block, so that an open port gets
  // what was read once (also when the load failed half-way). Any failure raises code 17.
  void LoadSettings(TStoreType StoreType, const std::string &Location);

  TComParity &Parity() { return parity_; }
  TComFlowControl &FlowControl() { return flow_control_; }
  TComTimeouts &Timeouts() { return timeouts_; }
  TComBuffer &Buffer() { return buffer_; }
  const TComParity &Parity() const { return parity_; }
  const TComFlowControl &FlowControl() const { return flow_control_; }
  const TComTimeouts &Timeouts() const { return timeouts_; }
  const TComBuffer &Buffer() const { return buffer_; }
  // Copy a whole settings object (no comparison), then apply.
  void SetParity(const TComParity &Value);
  void SetFlowControl(const TComFlowControl &Value);
  void SetTimeouts(const TComTimeouts &Value);
  void SetBuffer(const TComBuffer &Value);

  // Settings changed inside an update block reach the device once, at the outermost EndUpdate.
  void BeginUpdate();
  void EndUpdate();

  // The records the settings turn into (what ApplyDCB, ApplyTimeouts pass to the device).
  CommDcb BuildDCB() const;
  CommTimeouts BuildTimeouts() const;

  // -- I/O (any thread) --
  int Write(const void *Buffer, int Count);
  int WriteStr(const std::string &Str);
  int WriteAsync(const void *Buffer, int Count, PSerPortAsync &AsyncPtr);
  int WriteStrAsync(const std::string &Str, PSerPortAsync &AsyncPtr);
  int Read(void *Buffer, int Count);
  int ReadStr(std::string &Str, int Count);
  int ReadAsync(void *Buffer, int Count, PSerPortAsync &AsyncPtr);
  // Str is sized to Count and must stay alive and untouched until the operation completes.
  int ReadStrAsync(std::string &Str, int Count, PSerPortAsync &AsyncPtr);
  int WaitForAsync(PSerPortAsync &AsyncPtr);
  bool IsAsyncCompleted(PSerPortAsync AsyncPtr);
  void AbortAllAsync();
  bool _SyncRead(void *Buffer, int &Count);
  bool _SyncWrite(const void *Buffer, int Count);

  // -- queues, signals, status --
  int InputCount();
  int OutputCount();
  uint8_t StateFlags();
  TComErrors LastErrors();
  TComSignals Signals();
  void ClearBuffer(bool Input, bool Output);
  void SetBreak(bool OnOff);
  void SetDTR(bool OnOff);
  void SetRTS(bool OnOff);
  void SetXonXoff(bool OnOff);
  void TransmitChar(char Ch);
  // For callers without the event thread. StopEvent may be null; TimeoutMs < 0 waits for ever.
  void WaitForEvent(TComEvents &Events, const CommEvent *StopEvent, int TimeoutMs);

  // -- links --
  void RegisterLink(TComLink *Link);
  void UnRegisterLink(TComLink *Link);
  bool HasLink() const { return has_link_.load(); }

  // -- events (set on the GUI thread before Open) --
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TComNotifyEvent OnTxEmpty;
  TComNotifyEvent OnBreak;
  TComNotifyEvent OnRing;
  TComNotifyEvent OnRxFlag;
  TComNotifyEvent OnRx80Full;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComErrorEvent OnError;
  TComDeviceLostEvent OnDeviceLost;
  TComNotifyEvent OnBeforeOpen;
  TComNotifyEvent OnAfterOpen;
  TComNotifyEvent OnBeforeClose;
  TComNotifyEvent OnAfterClose;

  // The smWindowSync receiver: message 1025 with the event's mask bit. Runs the Call…
  // method of that bit while connected; an exception is logged, not passed on.
  void WindowMethod(uint32_t Msg, uint32_t WParam);

  // The event thread's entry into the port: the Call… method of each event.
  void CallError();
  void CallRxChar();
  void CallTxEmpty();
  void CallBreak();
  void CallRing();
  void CallCTSChange();
  void CallDSRChange();
  void CallRLSDChange();
  void CallRxFlag();
  void CallRx80Full();
  void CallDeviceLost(uint32_t SystemError);
  // The smWindowSync road of CallDeviceLost: queued like an event message.
  void PostDeviceLost(uint32_t SystemError);

 protected:
  virtual void CreateHandle();
  virtual void DestroyHandle();
  virtual void ApplyDCB();
  virtual void ApplyTimeouts();
  virtual void ApplyBuffer();
  virtual void SetupComPort();
  virtual void StoreIniFile(IniFile &Ini);
  virtual void LoadIniFile(const IniFile &Ini);
  virtual void StoreRegistry(RegistryKey &Key);
  virtual void LoadRegistry(const RegistryKey &Key);

  virtual void DoRxChar(int Count);
  virtual void DoRxBuf(const char *Buffer, int Count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoRx80Full();
  virtual void DoCTSChange(bool OnOff);
  virtual void DoDSRChange(bool OnOff);
  virtual void DoRLSDChange(bool OnOff);
  virtual void DoError(TComErrors Errors);
  virtual void DoDeviceLost(uint32_t SystemError);
  virtual void DoBeforeOpen();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoAfterClose();

  void CallBeforeOpen();
  void CallAfterOpen();
  void CallBeforeClose();
  void CallAfterClose();
  void CheckSignals(bool Open);

  void SendSignalToLink(TComLinkEvent Signal, bool OnOff);
  void NotifyLink(TComLinkEvent Event);
  void TxNotifyLink(const char *Buffer, int Count);

  // The open device, or null; a copy keeps it alive for a call on another thread.
  std::shared_ptr<CommDevice> Handle() const;
  bool Applicable() const;  // connected, no update block, not loading

 private:
  friend class TComThread;
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;

  int WriteAsyncWrapper(const void *Buffer, int Count);
  // Read, also giving what the input queue still holds afterwards (-1 with no device).
  int ReadBlock(void *Buffer, int Count, int &Left);
  // After a read: the count still waiting; an emptied queue switches the links' Rx off.
  int AfterRead();
  std::vector<TComLink *> LinksSnapshot() const;
  void RecomputeHasLink();
  void ClearCommErrorOrRaise(uint32_t &Errors, CommStat &Stat);
  void Escape(uint32_t Function);
  void SendEvents(TComEvents Events);

  CommBackend *backend_ = nullptr;
  mutable std::mutex handle_mutex_;
  std::shared_ptr<CommDevice> handle_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> closing_{false};  // inside Close: a failing wait is no loss
  bool stored_connected_ = false;
  bool loading_ = false;
  int update_count_ = 0;
  std::unique_ptr<TComThread> event_thread_;
  bool thread_created_ = false;
  // Bumped at each close: smWindowSync messages queued before it are dropped.
  std::shared_ptr<std::atomic<uint64_t>> window_generation_ = std::make_shared<std::atomic<uint64_t>>(0);
  bool window_created_ = false;

  // The record of the port's own reads: one event for the life of the port rather than one
  // per read. A read that finds it busy (reads from two threads at once) takes its own.
  std::mutex read_record_mutex_;
  TSerPortAsync read_record_;

  mutable std::mutex links_mutex_;
  std::vector<TComLink *> links_;
  std::atomic<bool> has_link_{false};

  std::string name_ = "ComPort";
  std::string port_ = "COM1";
  TBaudRate baud_rate_ = br9600;
  int custom_baud_rate_ = 9600;
  TDataBits data_bits_ = dbEight;
  TStopBits stop_bits_ = sbOneStopBit;
  bool discard_null_ = false;
  char event_char_ = 0;
  TComEvents events_ = kAllComEvents;
  TSyncMethod sync_method_ = smThreadSync;
  TThreadPriority event_thread_priority_ = tpNormal;
  bool triggers_on_rx_char_ = true;
  bool overlapped_ = true;
  TStoredProps stored_props_{spBasic};
  TComParity parity_;
  TComFlowControl flow_control_;
  TComTimeouts timeouts_;
  TComBuffer buffer_;
};

// Makes `Link` follow the port `To` instead of `Bound` (either may be null): the link leaves
// the old port with `Bound` already cleared, then joins the new one; `Bound` ends as `To`.
// What every component that follows a port does when it is given another.
void RebindComLink(TComLink &Link, TCustomComPort *&Bound, TCustomComPort *To);

// The published component.
class TComPort : public TCustomComPort {};

// The thread that waits for device events of one open port and hands them to the port.
// Created by Open, stopped and joined by Close. The join keeps serving synchronised
// calls, so a delivery queued before the stop still runs on the GUI thread.
class TComThread {
 public:
  // Sets the device's event mask from the port's Events and starts the thread.
  explicit TComThread(TCustomComPort *Port);
  // Stop, then wait until the thread has ended.
  ~TComThread();
  TComThread(const TComThread &) = delete;
  TComThread &operator=(const TComThread &) = delete;

  // Sets the stop event: a wait in progress ends at once.
  void Stop();
  // The events of the last wake-up.
  TComEvents Events() const { return TComEvents::FromBits(events_.load()); }

 protected:
  void Execute();
  void DispatchComMsg();
  void DoEvents();
  void SendEvents();
  // The device failed a wait: tell the port's owner through the same road as the events.
  void DispatchDeviceLost(uint32_t SystemError);

 private:
  TCustomComPort *port_;
  std::shared_ptr<CommDevice> device_;
  CommEvent stop_event_;
  std::atomic<uint16_t> events_{0};
  GuiJoinableThread thread_;
};

// A stream over a port: Read and Write go through the port's Read and Write.
class TComStream {
 public:
  explicit TComStream(TCustomComPort &Port) : port_(Port) {}
  int Read(void *Buffer, int Count) { return port_.Read(Buffer, Count); }
  int Write(const void *Buffer, int Count) { return port_.Write(Buffer, Count); }
  int64_t Seek(int64_t /*Offset*/, int /*Origin*/) { return 0; }

 private:
  TCustomComPort &port_;
};
