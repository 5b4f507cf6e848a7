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
// `detail` gets the system's message for other_error.
PortCheck udp_port_check(int port, std::string &detail);

// True when both texts are IPv4 addresses in the same /24 network.
bool same_subnet_24(const std::string &a, const std::string &b);
