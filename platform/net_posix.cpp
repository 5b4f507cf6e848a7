#include "platform/net.h"

#include "platform/net_os.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

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

// The inodes of the sockets bound to `port` in one of the kernel's socket tables
// (/proc/net/udp, /proc/net/udp6): "sl local_address rem_address st ... uid timeout inode",
// the local address as hex "ADDRESS:PORT".
void bound_inodes(const char *table, int port, std::vector<unsigned long> &inodes) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    char local[64] = {};
    unsigned long inode = 0;
    if (std::sscanf(line.c_str(), " %*s %63s %*s %*s %*s %*s %*s %*s %*s %lu", local, &inode) != 2)
      continue;
    const char *colon = std::strrchr(local, ':');
    if (colon && std::strtol(colon + 1, nullptr, 16) == port && inode != 0)
      inodes.push_back(inode);
  }
}

std::string link_name(const std::string &path) {
  char target[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, size_t(n)) : std::string();
}

// Whether one of the process's open files is one of the sockets.
bool holds_one_of(const std::string &proc_dir, const std::vector<unsigned long> &inodes) {
  DIR *fds = ::opendir((proc_dir + "/fd").c_str());
  if (!fds)
    return false;  // another user's process: not ours to look into
  bool found = false;
  while (dirent *e = ::readdir(fds)) {
    unsigned long inode = 0;
    const std::string target = link_name(proc_dir + "/fd/" + e->d_name);
    if (std::sscanf(target.c_str(), "socket:[%lu]", &inode) == 1 &&
        std::find(inodes.begin(), inodes.end(), inode) != inodes.end()) {
      found = true;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

// The process's program: its executable's file name, or its command name where the
// executable cannot be read.
std::string program_of(const std::string &proc_dir) {
  std::string exe = link_name(proc_dir + "/exe");
  if (!exe.empty())
    return exe.substr(exe.rfind('/') + 1);
  std::string comm;
  std::getline(std::ifstream(proc_dir + "/comm"), comm);
  return comm;
}

}  // namespace

std::vector<PortHolder> udp_port_holders(int port) {
  std::vector<PortHolder> holders;
  std::vector<unsigned long> inodes;
  bound_inodes("/proc/net/udp", port, inodes);
  bound_inodes("/proc/net/udp6", port, inodes);
  if (inodes.empty())
    return holders;
  DIR *proc = ::opendir("/proc");
  if (!proc)
    return holders;
  while (dirent *e = ::readdir(proc)) {
    char *end = nullptr;
    long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != 0)
      continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    if (holds_one_of(dir, inodes))
      holders.push_back({pid, program_of(dir), {}});
  }
  ::closedir(proc);
  return holders;
}

std::string port_holder_advice(const std::vector<PortHolder> &) {
  return "Stop that program (for example: sudo systemctl stop tftpd-hpa)";
}

std::string port_permission_advice(const std::string &program) {
  return "Run it as root, or allow it once with:\nsudo setcap cap_net_bind_service=+ep " + program;
}

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

PortCheck udp_bind_refusal(int, int error) {
  if (error == EADDRINUSE)
    return PortCheck::in_use;
  if (error == EACCES || error == EPERM)
    return PortCheck::no_permission;
  return PortCheck::other_error;
}

std::vector<TcpConnection> tcp_connections_on_port(int port) {
  std::vector<TcpConnection> out;
  DIR *fds = ::opendir("/proc/self/fd");
  if (!fds)
    return out;
  while (const dirent *entry = ::readdir(fds)) {
    char *end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == ::dirfd(fds))
      continue;
    sockaddr_in local{}, peer{};
    socklen_t local_size = sizeof local, peer_size = sizeof peer;
    if (::getsockname(int(fd), reinterpret_cast<sockaddr *>(&local), &local_size) != 0 ||
        local.sin_family != AF_INET || ntohs(local.sin_port) != port ||
        ::getpeername(int(fd), reinterpret_cast<sockaddr *>(&peer), &peer_size) != 0)
      continue;
    int type = 0;
    socklen_t type_size = sizeof type;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_TYPE, &type, &type_size) != 0 || type != SOCK_STREAM)
      continue;
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    out.push_back({int(fd), std::string(text) + ":" + std::to_string(ntohs(peer.sin_port))});
  }
  ::closedir(fds);
  return out;
}

void tcp_cut(int socket) { ::shutdown(socket, SHUT_RDWR); }
