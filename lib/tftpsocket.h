// The few UDP socket operations the TFTP server needs, over BSD sockets.
//
// Kept apart so the server's protocol code reads the same on every OS: a Winsock build
// provides these same names (WSAStartup/WSACleanup behind sockets_startup/cleanup,
// WSAEINTR as error_interrupted, a connected loopback socket pair as the Waker). Only
// lib/tftpthread.cpp and the server's tests include this header.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace tftpnet {

// The error code of an interrupted wait or receive (Winsock: WSAEINTR, 10004).
constexpr int error_interrupted = EINTR;

// Read at once after the failing call, on the same thread.
inline int last_error() { return errno; }

// BSD sockets need no start-up; Winsock's reference-counted WSAStartup sits here.
inline bool sockets_startup() { return true; }
inline void sockets_cleanup() {}

// Kernel thread id, for the log: it matches what ps, top and gdb show.
inline long os_thread_id() { return long(::syscall(SYS_gettid)); }

struct Peer {
  sockaddr_in addr{};
};

enum class Wait { Ready, TimedOut, Failed, Woken };

// A descriptor that another thread makes readable to end a wait at once. It stays readable
// (every later wait ends at once too) until cleared.
class Waker {
 public:
  Waker() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Waker() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Waker(const Waker &) = delete;
  Waker &operator=(const Waker &) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void wake() const {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
  }
  void clear() const {
    uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
  }

 private:
  int fd_;
};

// A move-only owner of one IPv4 UDP socket.
class UdpSocket {
 public:
  UdpSocket() = default;
  UdpSocket(const UdpSocket &) = delete;
  UdpSocket &operator=(const UdpSocket &) = delete;
  UdpSocket(UdpSocket &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UdpSocket &operator=(UdpSocket &&other) noexcept {
    if (this != &other) {
      close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  ~UdpSocket() { close(); }

  bool open() {
    close();
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0;
  }
  bool valid() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = -1;
  }

  bool set_reuse_address() const {
    int on = 1;
    return ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
  }
  // Any local address; port 0 lets the system choose.
  bool bind_any(uint16_t port) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    return ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  }
  int local_port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      return -1;
    return ntohs(a.sin_port);
  }

  // Until a datagram (or a pending error) can be received, or timeout_ms passed, or
  // `waker` (when given) is woken, which wins over a readable socket; timeout_ms 0 only
  // looks.
  Wait wait_readable(int timeout_ms, const Waker *waker = nullptr) const {
    pollfd p[2] = {{fd_, POLLIN, 0}, {waker ? waker->fd() : -1, POLLIN, 0}};
    int n = ::poll(p, waker ? 2 : 1, timeout_ms);
    if (n < 0)
      return Wait::Failed;
    if (waker && p[1].revents)
      return Wait::Woken;
    return n == 0 ? Wait::TimedOut : Wait::Ready;
  }

  long recv_from(void *buffer, size_t size, Peer &peer) const {
    socklen_t len = sizeof peer.addr;
    return long(::recvfrom(fd_, buffer, size, 0, reinterpret_cast<sockaddr *>(&peer.addr), &len));
  }
  // From now on sends go to `peer` and only its datagrams are received.
  bool connect(const Peer &peer) const {
    return ::connect(fd_, reinterpret_cast<const sockaddr *>(&peer.addr), sizeof peer.addr) == 0;
  }
  long send(const void *data, size_t size) const { return long(::send(fd_, data, size, MSG_NOSIGNAL)); }
  // To `peer`, whoever it is: the server answers the client and refuses strangers on one
  // unconnected socket.
  long send_to(const Peer &peer, const void *data, size_t size) const {
    return long(::sendto(fd_, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&peer.addr),
                         sizeof peer.addr));
  }
  long recv(void *buffer, size_t size) const { return long(::recv(fd_, buffer, size, 0)); }

 private:
  int fd_ = -1;
};

}  // namespace tftpnet
