#include "platform/net.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

namespace {

std::string dotted(const in_addr &address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool is_loopback(const in_addr &address) { return (ntohl(address.s_addr) >> 24) == 127; }

bool first_interface_address(std::string &out) {
  ifaddrs *list = nullptr;
  if (::getifaddrs(&list) != 0)
    return false;
  bool found = false;
  for (ifaddrs *it = list; it && !found; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET || !(it->ifa_flags & IFF_UP))
      continue;
    const in_addr &address = reinterpret_cast<sockaddr_in *>(it->ifa_addr)->sin_addr;
    if (is_loopback(address))
      continue;
    out = dotted(address);
    found = true;
  }
  ::freeifaddrs(list);
  return found;
}

}  // namespace

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
