// TCustomComPort: reads and writes (blocking and overlapped), the async records, and the
// queue, line and status calls.
#include "comport/serport.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "comport/serport_debug.h"

namespace {

// Frees an async record however the operation ends.
struct AsyncGuard {
  PSerPortAsync ptr = nullptr;
  AsyncGuard() { SerportInitAsync(ptr); }
  ~AsyncGuard() { SerportDoneAsync(ptr); }
};

}  // namespace

void SerportInitAsync(PSerPortAsync &AsyncPtr) {
  AsyncPtr = std::make_unique<TSerPortAsync>().release();  // ownership passes to the caller's pointer
}

void SerportDoneAsync(PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    return;
  std::unique_ptr<TSerPortAsync> record(AsyncPtr);
  std::unique_ptr<char[]> data(record->Data);
  AsyncPtr = nullptr;
}

// ---- writes and reads ----

int TCustomComPort::WriteAsync(const void *Buffer, int Count, PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  if (Count < 0)
    Count = 0;
  AsyncPtr->Kind = okWrite;
  std::unique_ptr<char[]> old(AsyncPtr->Data);
  AsyncPtr->Data = nullptr;
  // A private copy: the caller's buffer may go before the write completes.
  auto copy = std::make_unique<char[]>(static_cast<size_t>(Count) + 1);
  if (Count > 0)
    std::memcpy(copy.get(), Buffer, static_cast<size_t>(Count));
  AsyncPtr->Data = copy.release();
  AsyncPtr->Size = Count;
  auto dev = Handle();
  AsyncPtr->Device = dev;
  uint32_t written = 0;
  uint32_t rc =
      dev ? dev->WriteFile(AsyncPtr->Data, static_cast<uint32_t>(Count), written, &AsyncPtr->Overlapped)
          : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK && rc != COMM_ERR_IO_PENDING) {
    AsyncPtr->Device.reset();
    throw EComPortExt(port_, 2, static_cast<int32_t>(rc));
  }
  SendSignalToLink(leTx, true);
  return static_cast<int>(written);
}

int TCustomComPort::WriteStrAsync(const std::string &Str, PSerPortAsync &AsyncPtr) {
  if (Str.empty())
    return 0;
  return WriteAsync(Str.data(), static_cast<int>(Str.size()), AsyncPtr);
}

int TCustomComPort::WriteAsyncWrapper(const void *Buffer, int Count) {
  AsyncGuard async;
  WriteAsync(Buffer, Count, async.ptr);
  return WaitForAsync(async.ptr);
}

int TCustomComPort::Write(const void *Buffer, int Count) {
  if (overlapped_)
    return WriteAsyncWrapper(Buffer, Count);
  return _SyncWrite(Buffer, Count) ? Count : 0;
}

int TCustomComPort::WriteStr(const std::string &Str) {
  if (!overlapped_)
    return _SyncWrite(Str.data(), static_cast<int>(Str.size())) ? static_cast<int>(Str.size()) : 0;
  OutputDebugLine("TCustomComPort.WriteStr");
  if (Str.empty())
    return 0;
  return WriteAsyncWrapper(Str.data(), static_cast<int>(Str.size()));
}

int TCustomComPort::ReadAsync(void *Buffer, int Count, PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  AsyncPtr->Kind = okRead;
  AsyncPtr->Device.reset();
  if (Count <= 0)
    return 0;
  auto dev = Handle();
  if (!dev)
    return 0;
  uint32_t read = 0;
  uint32_t rc = dev->ReadFile(Buffer, static_cast<uint32_t>(Count), read, &AsyncPtr->Overlapped);
  // A read that cannot start yields nothing, and the wait that follows must not wait for it.
  if (rc != COMM_OK && rc != COMM_ERR_IO_PENDING) {
    return 0;
  }
  AsyncPtr->Device = dev;
  return static_cast<int>(read);
}

int TCustomComPort::ReadStrAsync(std::string &Str, int Count, PSerPortAsync &AsyncPtr) {
  if (Count <= 0)
    return 0;
  Str.resize(static_cast<size_t>(Count));
  return ReadAsync(Str.data(), Count, AsyncPtr);
}

int TCustomComPort::Read(void *Buffer, int Count) {
  int left = 0;
  return ReadBlock(Buffer, Count, left);
}

int TCustomComPort::ReadBlock(void *Buffer, int Count, int &Left) {
  std::unique_lock lock(read_record_mutex_, std::try_to_lock);
  std::optional<AsyncGuard> own;
  PSerPortAsync record = &read_record_;
  if (!lock.owns_lock())
    record = own.emplace().ptr;
  // The record must not keep a closed device alive until the next read.
  struct Release {
    PSerPortAsync record;
    ~Release() { record->Device.reset(); }
  } release{record};
  ReadAsync(Buffer, Count, record);
  uint32_t transferred = 0;
  if (auto dev = record->Device) {
    uint32_t rc = dev->GetOverlappedResult(record->Overlapped, transferred, true);
    if (rc != COMM_OK)
      throw EComPortExt(port_, 3, static_cast<int32_t>(rc));
  }
  Left = AfterRead();
  return static_cast<int>(transferred);
}

int TCustomComPort::AfterRead() {
  if (!Handle())
    return -1;
  const int left = InputCount();
  if (left == 0)
    SendSignalToLink(leRx, false);
  return left;
}

int TCustomComPort::ReadStr(std::string &Str, int Count) {
  Str.resize(static_cast<size_t>(std::max(Count, 0)));
  int n = Count > 0 ? Read(Str.data(), Count) : 0;
  Str.resize(static_cast<size_t>(std::max(n, 0)));
  return n;
}

int TCustomComPort::WaitForAsync(PSerPortAsync &AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  uint32_t transferred = 0;
  if (auto dev = AsyncPtr->Device) {
    uint32_t rc = dev->GetOverlappedResult(AsyncPtr->Overlapped, transferred, true);
    if (rc != COMM_OK)
      throw EComPortExt(port_, AsyncPtr->Kind == okWrite ? 2 : 3, static_cast<int32_t>(rc));
  }
  if (AsyncPtr->Kind == okRead) {
    AfterRead();
  } else if (AsyncPtr->Data) {
    TxNotifyLink(AsyncPtr->Data, AsyncPtr->Size);
  }
  return static_cast<int>(transferred);
}

bool TCustomComPort::IsAsyncCompleted(PSerPortAsync AsyncPtr) {
  if (!AsyncPtr)
    throw EComPort(port_, 4);
  auto dev = AsyncPtr->Device;
  if (!dev)
    return true;  // nothing was started
  uint32_t transferred = 0;
  uint32_t rc = dev->GetOverlappedResult(AsyncPtr->Overlapped, transferred, false);
  if (rc == COMM_OK)
    return true;
  if (rc == COMM_ERR_IO_PENDING || rc == COMM_ERR_IO_INCOMPLETE)
    return false;
  throw EComPortExt(port_, 6, static_cast<int32_t>(rc));
}

void TCustomComPort::AbortAllAsync() {
  if (!overlapped_)
    return;
  auto dev = Handle();
  uint32_t rc = dev ? dev->PurgeComm(COMM_PURGE_TXABORT | COMM_PURGE_RXABORT) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 5, static_cast<int32_t>(rc));
}

bool TCustomComPort::_SyncRead(void *Buffer, int &Count) {
  auto dev = connected_.load() ? Handle() : nullptr;
  if (!dev) {
    Count = 0;
    return false;
  }
  uint32_t done = 0;
  uint32_t rc = dev->ReadFile(Buffer, static_cast<uint32_t>(std::max(Count, 0)), done, nullptr);
  Count = static_cast<int>(done);
  return rc == COMM_OK;
}

bool TCustomComPort::_SyncWrite(const void *Buffer, int Count) {
  auto dev = connected_.load() ? Handle() : nullptr;
  if (!dev)
    return false;
  uint32_t done = 0;
  return dev->WriteFile(Buffer, static_cast<uint32_t>(std::max(Count, 0)), done, nullptr) == COMM_OK;
}

// ---- queues, signals, status ----

void TCustomComPort::ClearCommErrorOrRaise(uint32_t &Errors, CommStat &Stat) {
  auto dev = Handle();
  uint32_t rc = dev ? dev->ClearCommError(Errors, &Stat) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 10, static_cast<int32_t>(rc));
}

int TCustomComPort::InputCount() {
  // Asked once per received block: the output queue, which costs the device a call of its
  // own, is not wanted here.
  auto dev = Handle();
  uint32_t errors = 0, waiting = 0;
  uint32_t rc = dev ? dev->ClearCommErrorInput(errors, waiting) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 10, static_cast<int32_t>(rc));
  return static_cast<int>(waiting);
}

int TCustomComPort::OutputCount() {
  uint32_t errors;
  CommStat stat;
  ClearCommErrorOrRaise(errors, stat);
  return static_cast<int>(stat.cbOutQue);
}

uint8_t TCustomComPort::StateFlags() {
  uint32_t errors;
  CommStat stat;
  ClearCommErrorOrRaise(errors, stat);
  return static_cast<uint8_t>(stat.Flags & 0x7F);
}

TComErrors TCustomComPort::LastErrors() {
  uint32_t e;
  CommStat stat;
  ClearCommErrorOrRaise(e, stat);
  TComErrors errors;
  if (e & COMM_CE_FRAME)
    errors.include(ceFrame);
  if ((e & COMM_CE_RXPARITY) && parity_.Check())
    errors.include(ceRxParity);
  if (e & COMM_CE_OVERRUN)
    errors.include(ceOverrun);
  if (e & COMM_CE_RXOVER)
    errors.include(ceRxOver);
  if (e & COMM_CE_TXFULL)
    errors.include(ceTxFull);
  if (e & COMM_CE_BREAK)
    errors.include(ceBreak);
  if (e & COMM_CE_IOE)
    errors.include(ceIO);
  if (e & COMM_CE_MODE)
    errors.include(ceMode);
  return errors;
}

TComSignals TCustomComPort::Signals() {
  TComSignals signals;
  if (!overlapped_)
    return signals;
  auto dev = Handle();
  uint32_t status = 0;
  uint32_t rc = dev ? dev->GetCommModemStatus(status) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 11, static_cast<int32_t>(rc));
  if (status & COMM_MS_CTS_ON)
    signals.include(csCTS);
  if (status & COMM_MS_DSR_ON)
    signals.include(csDSR);
  if (status & COMM_MS_RING_ON)
    signals.include(csRing);
  if (status & COMM_MS_RLSD_ON)
    signals.include(csRLSD);
  return signals;
}

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
  uint32_t flags = (Input ? COMM_PURGE_RXCLEAR : 0) | (Output ? COMM_PURGE_TXCLEAR : 0);
  auto dev = Handle();
  uint32_t rc = dev ? dev->PurgeComm(flags) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 5, static_cast<int32_t>(rc));
}

void TCustomComPort::Escape(uint32_t Function) {
  auto dev = Handle();
  uint32_t rc = dev ? dev->EscapeCommFunction(Function) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 12, static_cast<int32_t>(rc));
}

void TCustomComPort::SetBreak(bool OnOff) { Escape(OnOff ? COMM_SETBREAK : COMM_CLRBREAK); }
void TCustomComPort::SetDTR(bool OnOff) { Escape(OnOff ? COMM_SETDTR : COMM_CLRDTR); }
void TCustomComPort::SetRTS(bool OnOff) { Escape(OnOff ? COMM_SETRTS : COMM_CLRRTS); }
void TCustomComPort::SetXonXoff(bool OnOff) { Escape(OnOff ? COMM_SETXON : COMM_SETXOFF); }

void TCustomComPort::TransmitChar(char Ch) {
  auto dev = Handle();
  uint32_t rc = dev ? dev->TransmitCommChar(Ch) : COMM_ERR_INVALID_HANDLE;
  if (rc != COMM_OK)
    throw EComPortExt(port_, 13, static_cast<int32_t>(rc));
}

void TCustomComPort::WaitForEvent(TComEvents &Events, const CommEvent *StopEvent, int TimeoutMs) {
  if (event_thread_)
    throw EComPort(port_, 20);
  auto dev = Handle();
  if (!dev)
    throw EComPortExt(port_, 21, static_cast<int32_t>(COMM_ERR_INVALID_HANDLE));
  uint32_t mask = 0;
  uint32_t rc = dev->SetCommMask(EventsToMask(Events));
  if (rc == COMM_OK) {
    rc = dev->WaitCommEvent(mask, StopEvent, TimeoutMs);
    dev->SetCommMask(0);
  }
  if (rc != COMM_OK)
    throw EComPortExt(port_, 21, static_cast<int32_t>(rc));
  Events = MaskToEvents(mask);
}
