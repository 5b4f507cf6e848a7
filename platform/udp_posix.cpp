#include "platform/udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace udp {

namespace {

int native(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

#include "platform/udp_bsd.h"

namespace {

long receive_from(int fd, void *buffer, size_t size, int flags, Peer &peer) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  long n = long(::recvfrom(fd, buffer, size, flags, reinterpret_cast<sockaddr *>(&a), &len));
  if (n >= 0)
    peer = {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
  return n;
}

}  // namespace

int last_error() { return errno; }

bool is_interrupted(int error) { return error == EINTR; }

bool is_timed_out(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

std::string error_text(int error) { return std::strerror(error); }

bool sockets_startup() { return true; }

void sockets_cleanup() {}

Waker::Waker() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Waker::~Waker() {
  if (handle_ >= 0)
    ::close(native(handle_));
}

void Waker::wake() const {
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(native(handle_), &one, sizeof one);
}

void Waker::clear() const {
  uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(native(handle_), &count, sizeof count);
}

bool Socket::open() {
  close();
  handle_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return handle_ >= 0;
}

void Socket::close() {
  if (handle_ >= 0)
    ::close(native(handle_));
  handle_ = -1;
  receive_timeout_ms_ = -1;
}

bool Socket::set_reuse_address() const {
  int on = 1;
  return ::setsockopt(native(handle_), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

Wait Socket::wait_readable(int timeout_ms, const Waker *waker) const {
  pollfd p[2] = {{native(handle_), POLLIN, 0}, {waker ? native(waker->handle_) : -1, POLLIN, 0}};
  int n = ::poll(p, waker ? 2 : 1, timeout_ms);
  if (n < 0)
    return Wait::Failed;
  if (waker && p[1].revents)
    return Wait::Woken;
  return n == 0 ? Wait::TimedOut : Wait::Ready;
}

long Socket::recv_from(void *buffer, size_t size, Peer &peer) const {
  return receive_from(native(handle_), buffer, size, 0, peer);
}

long Socket::recv_from_within(void *buffer, size_t size, Peer &peer, int timeout_ms) const {
  int flags = 0;
  if (timeout_ms <= 0) {
    flags = MSG_DONTWAIT;  // a zero SO_RCVTIMEO would wait for ever
  } else if (timeout_ms != receive_timeout_ms_) {
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (::setsockopt(native(handle_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
      return -1;
    receive_timeout_ms_ = timeout_ms;
  }
  return receive_from(native(handle_), buffer, size, flags, peer);
}

long Socket::send(const void *data, size_t size) const {
  return long(::send(native(handle_), data, size, MSG_NOSIGNAL));
}

long Socket::send_to(const Peer &peer, const void *data, size_t size) const {
  sockaddr_in a = to_sockaddr(peer);
  return long(
      ::sendto(native(handle_), data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&a), sizeof a));
}

long Socket::recv(void *buffer, size_t size) const { return long(::recv(native(handle_), buffer, size, 0)); }

}  // namespace udp
