// The packet splitter: cuts what a port receives into packets, by start and stop strings,
// by size, or by the owner's own rules, and hands each one to OnPacket. What lies before a
// packet's start, and a buffer that grows past MaxBufferSize without a packet, goes to
// OnDiscard.
//
// Threads: the port's link delivers on the port's delivering thread (the GUI thread by
// default); everything else belongs to that thread too.
#pragma once

#include <functional>
#include <memory>
#include <string>

class TCustomComPort;
class TComLink;
class TComDataPacket;

using TComStrEvent = std::function<void(TComDataPacket *Sender, const std::string &Str)>;
// Pos is -1 on entry; a handler sets it to a 1-based position (the packet starts there, or
// ends after that many characters) or to 0 (no start found).
using TCustPacketEvent = std::function<void(TComDataPacket *Sender, const std::string &Str, int &Pos)>;

class TComDataPacket {
 public:
  TComDataPacket();
  // Unregisters from the port.
  virtual ~TComDataPacket();
  TComDataPacket(const TComDataPacket &) = delete;
  TComDataPacket &operator=(const TComDataPacket &) = delete;

  // Registers the splitter's link with the port (null: none). A destroyed port is forgotten.
  TCustomComPort *ComPort() const { return port_; }
  void SetComPort(TCustomComPort *Value);

  // Changing the start, stop, size or case rule discards what is buffered.
  const std::string &StartString() const { return start_; }
  void SetStartString(const std::string &Value);
  const std::string &StopString() const { return stop_; }
  void SetStopString(const std::string &Value);
  int Size() const { return size_; }
  void SetSize(int Value);
  bool CaseInsensitive() const { return case_insensitive_; }
  void SetCaseInsensitive(bool Value);
  // A buffer of at least this many characters after a pass is discarded; 0: never.
  int MaxBufferSize() const { return max_buffer_size_; }
  void SetMaxBufferSize(int Value) { max_buffer_size_ = Value; }
  // Packets keep their start and stop strings.
  bool IncludeStrings() const { return include_strings_; }
  void SetIncludeStrings(bool Value) { include_strings_ = Value; }

  // What is buffered and not yet delivered.
  const std::string &Buffer() const { return buffer_; }
  bool InPacket() const { return in_packet_; }

  // One block of received text. With no stop rule at all the block itself is a packet.
  void AddData(const std::string &Str);
  // Hands what is buffered to OnDiscard and starts afresh (also when the handler throws).
  void EmptyBuffer();

  TComStrEvent OnPacket;
  TComStrEvent OnDiscard;
  TCustPacketEvent OnCustomStart;
  TCustPacketEvent OnCustomStop;

 protected:
  virtual void HandleBuffer();
  virtual void DoPacket(const std::string &Str);
  virtual void DoDiscard(const std::string &Str);
  virtual void DoCustomStart(const std::string &Str, int &Pos);
  virtual void DoCustomStop(const std::string &Str, int &Pos);

 private:
  bool HasStopCondition() const;
  // Both return true when they moved on (a start was found, a packet was delivered).
  bool CheckStart();
  bool CheckStop();
  // Where What first occurs in Text from From on, case-blind when CaseInsensitive.
  std::string::size_type FindIn(const std::string &Text, const std::string &What,
                                std::string::size_type From) const;

  std::unique_ptr<TComLink> link_;
  TCustomComPort *port_ = nullptr;
  std::string start_;
  std::string stop_;
  int size_ = 0;
  int max_buffer_size_ = 1024;
  bool include_strings_ = false;
  bool case_insensitive_ = false;
  std::string buffer_;
  bool in_packet_ = false;
};
