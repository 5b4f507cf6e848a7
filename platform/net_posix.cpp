#include "platform/net.h"

#include "platform/udp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::string dotted(const in_addr &address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool is_loopback(const in_addr &address) { return (ntohl(address.s_addr) >> 24) == 127; }

bool first_interface_address(std::string &out) {
  std::vector<std::string> all = interface_ipv4_addresses();
  if (all.empty())
    return false;
  out = all.front();
  return true;
}

}  // namespace

std::vector<std::string> interface_ipv4_addresses() {
  std::vector<std::string> out;
  ifaddrs *list = nullptr;
  if (::getifaddrs(&list) != 0)
    return out;
  for (ifaddrs *it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !(it->ifa_flags & IFF_UP))
      continue;
    const in_addr &address = reinterpret_cast<sockaddr_in *>(it->ifa_addr)->sin_addr;
    if (!is_loopback(address))
      out.push_back(dotted(address));
  }
  ::freeifaddrs(list);
  return out;
}

bool host_ipv4_address(std::string &address) {
  char name[128] = {};
  if (::gethostname(name, sizeof name - 1) != 0)
    return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo *result = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &result) != 0 || !result)
    return first_interface_address(address);
  in_addr first = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr;
  ::freeaddrinfo(result);
  if (is_loopback(first))
    return first_interface_address(address);
  address = dotted(first);
  return true;
}

PortCheck udp_port_check(int port, std::string &detail) {
  udp::Socket socket;
  if (!socket.open()) {
    detail = udp::error_text(udp::last_error());
    return PortCheck::other_error;
  }
  if (socket.bind_any(uint16_t(port)))
    return PortCheck::free;
  const int error = udp::last_error();
  detail = udp::error_text(error);
  if (error == EADDRINUSE)
    return PortCheck::in_use;
  if (error == EACCES || error == EPERM)
    return PortCheck::no_permission;
  return PortCheck::other_error;
}

bool same_subnet_24(const std::string &a, const std::string &b) {
  in_addr first{}, second{};
  if (::inet_pton(AF_INET, a.c_str(), &first) != 1 || ::inet_pton(AF_INET, b.c_str(), &second) != 1)
    return false;
  return (ntohl(first.s_addr) >> 8) == (ntohl(second.s_addr) >> 8);
}
