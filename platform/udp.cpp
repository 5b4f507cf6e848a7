// The UDP operations that need no system call: the same on every OS.
#include "platform/udp.h"

#include <utility>

namespace udp {

std::string dotted(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xff) + "." +
         std::to_string((address >> 8) & 0xff) + "." + std::to_string(address & 0xff);
}

Socket &Socket::operator=(Socket &&other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
    receive_timeout_ms_ = std::exchange(other.receive_timeout_ms_, -1);
  }
  return *this;
}

}  // namespace udp
