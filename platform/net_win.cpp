#include "platform/net.h"

#include "platform/udp.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <vector>

namespace {

bool is_loopback(uint32_t host_order) { return (host_order >> 24) == 127; }

// Winsock is started for the length of one question.
struct Sockets {
  Sockets() : ok(udp::sockets_startup()) {}
  ~Sockets() {
    if (ok)
      udp::sockets_cleanup();
  }
  bool ok;
};

}  // namespace

std::vector<std::string> interface_ipv4_addresses() {
  std::vector<std::string> out;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    rc = ::GetAdaptersAddresses(AF_INET,
                                GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()), &size);
  }
  if (rc != NO_ERROR)
    return out;
  for (auto *a = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp)
      continue;
    for (auto *u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr *sa = u->Address.lpSockaddr;
      if (!sa || sa->sa_family != AF_INET)
        continue;
      uint32_t address = ntohl(reinterpret_cast<const sockaddr_in *>(sa)->sin_addr.s_addr);
      if (!is_loopback(address))
        out.push_back(udp::dotted(address));
    }
  }
  return out;
}

bool host_ipv4_address(std::string &address) {
  Sockets sockets;
  if (!sockets.ok)
    return false;
  char name[256] = {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo *result = nullptr;
  if (::gethostname(name, sizeof name - 1) == 0 && ::getaddrinfo(name, nullptr, &hints, &result) == 0 &&
      result) {
    uint32_t first = ntohl(reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(result);
    if (!is_loopback(first)) {
      address = udp::dotted(first);
      return true;
    }
  }
  std::vector<std::string> all = interface_ipv4_addresses();
  if (all.empty())
    return false;
  address = all.front();
  return true;
}

PortCheck udp_port_check(int port, std::string &detail) {
  Sockets sockets;
  udp::Socket socket;
  if (!sockets.ok || !socket.open()) {
    detail = udp::error_text(udp::last_error());
    return PortCheck::other_error;
  }
  if (socket.bind_any(uint16_t(port)))
    return PortCheck::free;
  const int error = udp::last_error();
  detail = udp::error_text(error);
  if (error == WSAEADDRINUSE)
    return PortCheck::in_use;
  if (error == WSAEACCES)
    return PortCheck::no_permission;
  return PortCheck::other_error;
}

bool same_subnet_24(const std::string &a, const std::string &b) {
  in_addr first{}, second{};
  if (::inet_pton(AF_INET, a.c_str(), &first) != 1 || ::inet_pton(AF_INET, b.c_str(), &second) != 1)
    return false;
  return (ntohl(first.s_addr) >> 8) == (ntohl(second.s_addr) >> 8);
}
