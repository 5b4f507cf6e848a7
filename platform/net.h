// The PC's own network identity.
#pragma once

#include <string>

// The first IPv4 address of this host's own name, as dotted text; false when the name
// cannot be read or resolved. A name that resolves only to loopback (Debian maps the host
// name to 127.0.1.1) gives the first non-loopback IPv4 address of an interface that is up
// instead, since a box cannot fetch its image from the PC's loopback address.
bool host_ipv4_address(std::string &address);
