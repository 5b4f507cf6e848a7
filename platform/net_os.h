// Inside the network service: what each OS's source (net_posix.cpp, net_win.cpp) gives the
// half they share (net.cpp).
#pragma once

#include "platform/net.h"

// What a bind of UDP `port` that failed with the system's `error` says about the port.
PortCheck udp_bind_refusal(int port, int error);
