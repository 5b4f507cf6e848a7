// The network service's half that is the same on every OS.
#include "platform/net.h"

#include "platform/net_os.h"
#include "platform/udp.h"

PortCheck udp_port_check(int port, std::string &detail) {
  udp::Startup sockets;
  udp::Socket socket;
  if (!sockets.ok || !socket.open()) {
    detail = udp::error_text(udp::last_error());
    return PortCheck::other_error;
  }
  if (socket.bind_any(uint16_t(port)))
    return PortCheck::free;
  const int error = udp::last_error();
  detail = udp::error_text(error);
  return udp_bind_refusal(port, error);
}

bool same_subnet_24(const std::string &a, const std::string &b) {
  uint32_t first = 0, second = 0;
  return udp::from_dotted(a, first) && udp::from_dotted(b, second) && (first >> 8) == (second >> 8);
}
