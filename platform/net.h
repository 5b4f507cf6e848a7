// The PC's own network identity.
#pragma once

#include <string>
#include <vector>

// The first IPv4 address of this host's own name, as dotted text; false when the name
// cannot be read or resolved. A name that resolves only to loopback (Debian maps the host
// name to 127.0.1.1) gives the first non-loopback IPv4 address of an interface that is up
// instead, since a box cannot fetch its image from the PC's loopback address.
bool host_ipv4_address(std::string &address);

// The IPv4 addresses of every interface that is up, as dotted text, loopback addresses
// (127.0.0.0/8) left out; in the order the system lists its interfaces.
std::vector<std::string> interface_ipv4_addresses();

enum class PortCheck { free, in_use, no_permission, other_error };

// Whether this process can bind UDP `port` on every address, tried without address reuse
// so that any other holder shows (a reusing bind could otherwise share the port silently).
// `detail` gets the system's message for other_error. On Windows a port another program
// holds exclusively refuses with "access denied"; that counts as in_use when its holder
// shows in udp_port_holders.
PortCheck udp_port_check(int port, std::string &detail);

// A process that has a UDP port bound.
struct PortHolder {
  long pid = 0;
  std::string program;  // its executable's file name ("tftpd64.exe", "in.tftpd"); "" when hidden
  std::string service;  // the one Windows service running in that process ("WDSServer"), else ""
};

// The processes that have UDP `port` bound on a local IPv4 or IPv6 address, each once, as
// far as this process may see them: Windows lists every owner in its table of UDP
// endpoints (though the name of an elevated one may stay hidden); Linux shows through /proc
// only the sockets of this user's processes, unless run as root. Empty when none shows.
std::vector<PortHolder> udp_port_holders(int port);

// How a user of this system frees a port that `holders` hold (they may be empty: not
// known), as the start of a sentence that the caller ends, such as
// "Stop that program (for example: sudo systemctl stop tftpd-hpa)".
std::string port_holder_advice(const std::vector<PortHolder> &holders);

// How a user of this system lets `program` bind a port that it was refused, in whole
// sentences.
std::string port_permission_advice(const std::string &program);

// True when both texts are IPv4 addresses in the same /24 network.
bool same_subnet_24(const std::string &a, const std::string &b);

// A TCP connection of this process: its socket's descriptor and the far end's address and port.
struct TcpConnection {
  int socket = -1;
  std::string peer;  // "192.168.1.7:50312"
};

// The connected TCP sockets of this process whose local port is `port` (those a server on that
// port accepted). Empty on Windows, whose programs have no server that needs it.
std::vector<TcpConnection> tcp_connections_on_port(int port);

// Ends both directions of the connection on `socket` without closing it: whoever waits on it
// sees its end, and its owner still closes it.
void tcp_cut(int socket);
