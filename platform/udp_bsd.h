// The socket calls that Winsock takes exactly as BSD sockets do, written once for both
// sources (udp_posix.cpp, udp_win.cpp). Each includes this inside namespace udp, after its
// system's socket headers and its native(handle), which gives the system's socket; it is
// part of that one source, and no other file includes it.
#pragma once

namespace {

sockaddr_in to_sockaddr(const Peer &peer) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(peer.address);
  a.sin_port = htons(peer.port);
  return a;
}

}  // namespace

bool from_dotted(const std::string &text, uint32_t &address) {
  in_addr a{};
  const bool ok = ::inet_pton(AF_INET, text.c_str(), &a) == 1;
  address = ok ? ntohl(a.s_addr) : address;
  return ok;
}

bool Socket::bind_any(uint16_t port) const {
  sockaddr_in a = to_sockaddr({INADDR_ANY, port});
  return ::bind(native(handle_), reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

int Socket::local_port() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(native(handle_), reinterpret_cast<sockaddr *>(&a), &len) != 0)
    return -1;
  return ntohs(a.sin_port);
}

bool Socket::connect(const Peer &peer) const {
  sockaddr_in a = to_sockaddr(peer);
  return ::connect(native(handle_), reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
}
