#include "platform/net.h"

#include "platform/net_os.h"
#include "platform/udp.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
#include <winsvc.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <map>
#include <vector>

namespace {

bool is_loopback(uint32_t host_order) { return (host_order >> 24) == 127; }

// A table of UDP endpoints with their owners (MIB_UDPTABLE_OWNER_PID or its IPv6 twin);
// empty when it cannot be read.
std::vector<unsigned char> udp_table(ULONG family) {
  std::vector<unsigned char> buffer;
  DWORD size = 0;
  DWORD rc = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the size question and the read.
  for (int attempt = 0; attempt < 3 && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.resize(size + 1024);
    size = DWORD(buffer.size());
    rc = ::GetExtendedUdpTable(buffer.data(), &size, FALSE, family, UDP_TABLE_OWNER_PID, 0);
  }
  if (rc != NO_ERROR)
    buffer.clear();
  return buffer;
}

std::string utf8(const wchar_t *text, int length) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

// The file name of the process's executable; "" for a process this user may not query
// (the System process, a protected one).
std::string program_of(DWORD pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process)
    return {};
  wchar_t path[MAX_PATH * 4];
  DWORD length = DWORD(std::size(path));
  std::string name;
  if (::QueryFullProcessImageNameW(process, 0, path, &length)) {
    const wchar_t *file = path;
    for (DWORD i = 0; i < length; ++i)
      if (path[i] == L'\\' || path[i] == L'/')
        file = path + i + 1;
    name = utf8(file, int(length - DWORD(file - path)));
  }
  ::CloseHandle(process);
  return name;
}

// The running services by process: the Windows Deployment Services server, for one, runs
// inside a shared svchost.exe, whose name alone says nothing.
std::map<DWORD, std::vector<std::string>> services_by_process() {
  std::map<DWORD, std::vector<std::string>> services;
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  if (!manager)
    return services;
  std::vector<unsigned char> buffer(64 * 1024);
  DWORD needed = 0, count = 0, resume = 0;
  BOOL more = TRUE;
  while (more) {
    BOOL ok = ::EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE,
                                      buffer.data(), DWORD(buffer.size()), &needed, &count, &resume, nullptr);
    more = !ok && ::GetLastError() == ERROR_MORE_DATA;
    if (!ok && !more)
      break;
    auto *entries = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW *>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
      services[entries[i].ServiceStatusProcess.dwProcessId].push_back(
          utf8(entries[i].lpServiceName, int(std::wcslen(entries[i].lpServiceName))));
    if (more && needed > buffer.size())
      buffer.resize(needed);
  }
  ::CloseServiceHandle(manager);
  return services;
}

}  // namespace

std::vector<PortHolder> udp_port_holders(int port) {
  std::vector<DWORD> pids;
  auto add = [&](DWORD local_port, DWORD pid) {
    // The port is kept in network order in the low 16 bits. Owner 0 is the idle process:
    // an owner the system could not tell (Wine says so of a socket only its server holds).
    if (ntohs(u_short(local_port)) == port && pid != 0 &&
        std::find(pids.begin(), pids.end(), pid) == pids.end())
      pids.push_back(pid);
  };
  std::vector<unsigned char> v4 = udp_table(AF_INET);
  if (!v4.empty()) {
    auto *table = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID *>(v4.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
      add(table->table[i].dwLocalPort, table->table[i].dwOwningPid);
  }
  std::vector<unsigned char> v6 = udp_table(AF_INET6);
  if (!v6.empty()) {
    auto *table = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID *>(v6.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
      add(table->table[i].dwLocalPort, table->table[i].dwOwningPid);
  }
  std::vector<PortHolder> holders;
  if (pids.empty())
    return holders;
  const std::map<DWORD, std::vector<std::string>> services = services_by_process();
  for (DWORD pid : pids) {
    PortHolder holder{long(pid), program_of(pid), {}};
    // Where several services share the process, which of them holds the port is not known.
    auto it = services.find(pid);
    if (it != services.end() && it->second.size() == 1)
      holder.service = it->second.front();
    holders.push_back(holder);
  }
  return holders;
}

std::string port_holder_advice(const std::vector<PortHolder> &holders) {
  for (const PortHolder &holder : holders)
    if (!holder.service.empty())
      return "Stop that service from an administrator's command prompt (net stop " + holder.service + ")";
  return "Close that program, or, if it runs as a service, stop the service from an administrator's command "
         "prompt (for Windows Deployment Services: net stop WDSServer)";
}

std::string port_permission_advice(const std::string &) {
  return "Windows may keep the port for itself; the ports it keeps are listed by:\n"
         "netsh interface ipv4 show excludedportrange protocol=udp";
}

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
  udp::Startup sockets;  // Winsock is started for the length of one question
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

PortCheck udp_bind_refusal(int port, int error) {
  if (error == WSAEADDRINUSE)
    return PortCheck::in_use;
  // A port bound with SO_EXCLUSIVEADDRUSE, as services commonly bind theirs, refuses
  // others with "access denied" rather than "in use".
  if (error == WSAEACCES)
    return udp_port_holders(port).empty() ? PortCheck::no_permission : PortCheck::in_use;
  return PortCheck::other_error;
}

std::vector<TcpConnection> tcp_connections_on_port(int) { return {}; }

void tcp_cut(int socket) { ::shutdown(SOCKET(socket), SD_BOTH); }
