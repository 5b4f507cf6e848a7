// The UDP operations over Winsock. Differences from BSD sockets that matter to the TFTP
// server are handled here: WSAStartup, an ICMP "port unreachable" that would otherwise fail
// the next receive of an unconnected socket, and an address-reuse option that on Windows
// would let a second program share the port silently.
#include "platform/udp.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <mutex>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace udp {

namespace {

SOCKET native(intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

#include "platform/udp_bsd.h"

namespace {

std::mutex startup_mutex;
int startup_count = 0;

void drain(SOCKET s) {
  char buffer[64];
  u_long available = 0;
  while (::ioctlsocket(s, FIONREAD, &available) == 0 && available > 0)
    if (::recv(s, buffer, sizeof buffer, 0) < 0)
      break;
}

}  // namespace

int last_error() { return ::WSAGetLastError(); }

bool is_interrupted(int error) { return error == WSAEINTR; }

bool is_timed_out(int error) { return error == WSAETIMEDOUT; }

std::string error_text(int error) {
  char text[512] = "";
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
    text[--n] = 0;
  return n ? std::string(text) : "error " + std::to_string(error);
}

bool sockets_startup() {
  std::lock_guard lock(startup_mutex);
  if (startup_count == 0) {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
      return false;
  }
  ++startup_count;
  return true;
}

void sockets_cleanup() {
  std::lock_guard lock(startup_mutex);
  if (startup_count > 0 && --startup_count == 0)
    ::WSACleanup();
}

// A loopback UDP socket connected to itself: a datagram it sends makes it readable until
// the datagram is read, which select() can watch together with the server's socket.
Waker::Waker() : handle_(-1) {
  sockets_startup();
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET)
    return;
  sockaddr_in a = to_sockaddr({loopback, 0});
  int len = sizeof a;
  u_long nonblocking = 1;
  if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      ::ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
    ::closesocket(s);
    return;
  }
  handle_ = static_cast<intptr_t>(s);
}

Waker::~Waker() {
  if (handle_ >= 0)
    ::closesocket(native(handle_));
  sockets_cleanup();
}

void Waker::wake() const {
  char byte = 1;
  if (handle_ >= 0)
    ::send(native(handle_), &byte, 1, 0);
}

void Waker::clear() const {
  if (handle_ >= 0)
    drain(native(handle_));
}

bool Socket::open() {
  close();
  SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET)
    return false;
  // Otherwise an ICMP "port unreachable" for an earlier send fails the next recvfrom with
  // WSAECONNRESET, and one vanished client would end the server's loop.
  BOOL report = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  handle_ = static_cast<intptr_t>(s);
  return true;
}

void Socket::close() {
  if (handle_ >= 0)
    ::closesocket(native(handle_));
  handle_ = -1;
}

// Windows' SO_REUSEADDR would let a second program bind the same port and take datagrams
// meant for us; a UDP port is free again at once after its close there anyway.
bool Socket::set_reuse_address() const { return handle_ >= 0; }

Wait Socket::wait_readable(int timeout_ms, const Waker *waker) const {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(native(handle_), &readable);
  if (waker && waker->valid())
    FD_SET(native(waker->handle_), &readable);
  timeval tv{};
  tv.tv_sec = timeout_ms / 1000;
  tv.tv_usec = (timeout_ms % 1000) * 1000;
  int n = ::select(0, &readable, nullptr, nullptr, timeout_ms < 0 ? nullptr : &tv);
  if (n == SOCKET_ERROR)
    return Wait::Failed;
  if (waker && waker->valid() && FD_ISSET(native(waker->handle_), &readable))
    return Wait::Woken;
  return n == 0 ? Wait::TimedOut : Wait::Ready;
}

long Socket::recv_from(void *buffer, size_t size, Peer &peer) const {
  sockaddr_in a{};
  int len = sizeof a;
  long n = ::recvfrom(native(handle_), static_cast<char *>(buffer), static_cast<int>(size), 0,
                      reinterpret_cast<sockaddr *>(&a), &len);
  if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE)
    n = static_cast<long>(size);  // Windows reports a datagram cut to the buffer as an error
  if (n >= 0)
    peer = {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
  return n;
}

// A wait and a receive: Windows leaves a socket whose SO_RCVTIMEO ran out in an undefined
// state, so the time-out is select's.
long Socket::recv_from_within(void *buffer, size_t size, Peer &peer, int timeout_ms) const {
  switch (wait_readable(timeout_ms < 0 ? 0 : timeout_ms)) {
    case Wait::Ready:
      return recv_from(buffer, size, peer);
    case Wait::TimedOut:
      ::WSASetLastError(WSAETIMEDOUT);
      return -1;
    default:
      return -1;
  }
}

long Socket::send(const void *data, size_t size) const {
  return ::send(native(handle_), static_cast<const char *>(data), static_cast<int>(size), 0);
}

long Socket::send_to(const Peer &peer, const void *data, size_t size) const {
  sockaddr_in a = to_sockaddr(peer);
  return ::sendto(native(handle_), static_cast<const char *>(data), static_cast<int>(size), 0,
                  reinterpret_cast<const sockaddr *>(&a), sizeof a);
}

long Socket::recv(void *buffer, size_t size) const {
  long n = ::recv(native(handle_), static_cast<char *>(buffer), static_cast<int>(size), 0);
  if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE)
    n = static_cast<long>(size);
  return n;
}

}  // namespace udp
