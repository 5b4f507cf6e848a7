#include "comport/serportpacket.h"

#include <algorithm>
#include <cctype>

#include "comport/serport.h"

TComDataPacket::TComDataPacket() : link_(std::make_unique<TComLink>()) {
  link_->OnRxBuf = [this](TCustomComPort *, const char *Buffer, int Count) {
    AddData(std::string(Buffer, static_cast<size_t>(Count)));
  };
  link_->OnDestroy = [this](TCustomComPort *) { port_ = nullptr; };
}

TComDataPacket::~TComDataPacket() { SetComPort(nullptr); }

void TComDataPacket::SetComPort(TCustomComPort *Value) { RebindComLink(*link_, port_, Value); }

void TComDataPacket::SetStartString(const std::string &Value) {
  if (start_ == Value)
    return;
  start_ = Value;
  EmptyBuffer();
}
void TComDataPacket::SetStopString(const std::string &Value) {
  if (stop_ == Value)
    return;
  stop_ = Value;
  EmptyBuffer();
}
void TComDataPacket::SetSize(int Value) {
  if (size_ == Value)
    return;
  size_ = Value;
  EmptyBuffer();
}
void TComDataPacket::SetCaseInsensitive(bool Value) {
  if (case_insensitive_ == Value)
    return;
  case_insensitive_ = Value;
  EmptyBuffer();
}

bool TComDataPacket::HasStopCondition() const { return size_ > 0 || !stop_.empty() || OnCustomStop; }

void TComDataPacket::AddData(const std::string &Str) {
  if (!HasStopCondition()) {
    DoPacket(Str);
    return;
  }
  buffer_ += Str;
  HandleBuffer();
}

void TComDataPacket::EmptyBuffer() {
  if (buffer_.empty()) {
    in_packet_ = false;
    return;
  }
  std::string discarded;
  discarded.swap(buffer_);
  in_packet_ = false;
  DoDiscard(discarded);
}

void TComDataPacket::HandleBuffer() {
  try {
    // An empty buffer ends the pass: a custom rule could otherwise cut empty packets for ever.
    while (!buffer_.empty()) {
      if (!in_packet_ && !CheckStart())
        break;
      if (!CheckStop())
        break;
    }
  } catch (...) {
    if (max_buffer_size_ > 0 && static_cast<int>(buffer_.size()) >= max_buffer_size_)
      EmptyBuffer();
    throw;
  }
  // A buffer that never yields a packet must not grow for ever.
  if (max_buffer_size_ > 0 && static_cast<int>(buffer_.size()) >= max_buffer_size_)
    EmptyBuffer();
}

std::string::size_type TComDataPacket::FindIn(const std::string &Text, const std::string &What,
                                              std::string::size_type From) const {
  if (What.empty() || From > Text.size())
    return std::string::npos;
  if (!case_insensitive_)
    return Text.find(What, From);
  auto blind = [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
  };
  auto it = std::search(Text.begin() + static_cast<std::ptrdiff_t>(From), Text.end(), What.begin(),
                        What.end(), blind);
  return it == Text.end() ? std::string::npos : static_cast<std::string::size_type>(it - Text.begin());
}

bool TComDataPacket::CheckStart() {
  int pos = -1;
  DoCustomStart(buffer_, pos);
  std::string::size_type start;  // 0-based
  if (pos > 0) {
    start = static_cast<std::string::size_type>(pos - 1);
  } else if (pos == 0) {
    return false;
  } else if (start_.empty()) {
    start = 0;
  } else {
    start = FindIn(buffer_, start_, 0);
    if (start == std::string::npos)
      return false;
  }
  start = std::min(start, buffer_.size());
  in_packet_ = true;
  if (start > 0) {
    std::string before = buffer_.substr(0, start);
    buffer_.erase(0, start);
    DoDiscard(before);
  }
  return true;
}

bool TComDataPacket::CheckStop() {
  int pos = -1;
  DoCustomStop(buffer_, pos);
  std::string::size_type length = 0;
  if (pos > 0) {
    length = std::min(static_cast<std::string::size_type>(pos), buffer_.size());
  } else if (pos == 0) {
    return false;
  } else if (size_ > 0 && buffer_.size() >= static_cast<size_t>(size_)) {
    length = static_cast<size_t>(size_);
  } else {
    // The stop string is looked for only after the start string, which may well contain it.
    const auto stop = FindIn(buffer_, stop_, std::min(start_.size(), buffer_.size()));
    if (stop == std::string::npos)
      return false;
    length = stop + stop_.size();
  }
  std::string packet = buffer_.substr(0, length);
  buffer_.erase(0, length);
  in_packet_ = false;
  if (!include_strings_) {
    if (!start_.empty() && FindIn(packet, start_, 0) == 0)
      packet.erase(0, start_.size());
    // The stop string comes off only when its first occurrence is what ends the packet.
    const auto first_stop = FindIn(packet, stop_, 0);
    if (first_stop != std::string::npos && first_stop + stop_.size() == packet.size())
      packet.erase(first_stop);
  }
  DoPacket(packet);
  return true;
}

void TComDataPacket::DoPacket(const std::string &Str) {
  if (OnPacket)
    OnPacket(this, Str);
}
void TComDataPacket::DoDiscard(const std::string &Str) {
  if (OnDiscard)
    OnDiscard(this, Str);
}
void TComDataPacket::DoCustomStart(const std::string &Str, int &Pos) {
  if (OnCustomStart)
    OnCustomStart(this, Str, Pos);
}
void TComDataPacket::DoCustomStop(const std::string &Str, int &Pos) {
  if (OnCustomStop)
    OnCustomStop(this, Str, Pos);
}
