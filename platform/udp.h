// The few IPv4 UDP socket operations the TFTP server and the port check need.
//
// Addresses and ports cross this interface as host-order numbers, and the socket as an
// opaque handle, so its callers read the same on every OS: the POSIX source sits on BSD
// sockets and an eventfd; a Winsock source gives the same names (WSAStartup/WSACleanup
// behind sockets_startup/cleanup, WSAEINTR as the interrupted error, a connected loopback
// socket pair as the Waker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udp {

// 127.0.0.1, host order.
constexpr uint32_t loopback = 0x7f000001;

// "a.b.c.d" for a host-order IPv4 address.
std::string dotted(uint32_t address);
// The host-order address of such a text, as the system reads one; false for any other text.
bool from_dotted(const std::string &text, uint32_t &address);

// The system's error code of the last failed call, read at once after it, on its thread.
int last_error();
// Whether that code means a wait or receive was cut short by a signal.
bool is_interrupted(int error);
// Whether that code means a timed receive found nothing in time.
bool is_timed_out(int error);
// The system's text for that code.
std::string error_text(int error);

// BSD sockets need no start-up; Winsock's reference-counted WSAStartup sits here.
bool sockets_startup();
void sockets_cleanup();

// The sockets layer started for as long as this lives.
struct Startup {
  Startup() : ok(sockets_startup()) {}
  ~Startup() {
    if (ok)
      sockets_cleanup();
  }
  Startup(const Startup &) = delete;
  Startup &operator=(const Startup &) = delete;
  const bool ok;
};

struct Peer {
  uint32_t address = 0;  // host order
  uint16_t port = 0;
};

enum class Wait { Ready, TimedOut, Failed, Woken };

// Something another thread makes ready to end a wait at once. It stays ready (every later
// wait ends at once too) until cleared.
class Waker {
 public:
  Waker();
  ~Waker();
  Waker(const Waker &) = delete;
  Waker &operator=(const Waker &) = delete;

  bool valid() const { return handle_ >= 0; }
  void wake() const;
  void clear() const;

 private:
  friend class Socket;
  intptr_t handle_;
};

// A move-only owner of one IPv4 UDP socket.
class Socket {
 public:
  Socket() = default;
  Socket(const Socket &) = delete;
  Socket &operator=(const Socket &) = delete;
  Socket(Socket &&other) noexcept : handle_(other.handle_), receive_timeout_ms_(other.receive_timeout_ms_) {
    other.handle_ = -1;
  }
  Socket &operator=(Socket &&other) noexcept;
  ~Socket() { close(); }

  bool open();
  bool valid() const { return handle_ >= 0; }
  void close();

  bool set_reuse_address() const;
  // Any local address; port 0 lets the system choose.
  bool bind_any(uint16_t port) const;
  // The bound port, or -1.
  int local_port() const;

  // Until a datagram (or a pending error) can be received, or timeout_ms passed, or
  // `waker` (when given) is woken, which wins over a readable socket; timeout_ms 0 only
  // looks.
  Wait wait_readable(int timeout_ms, const Waker *waker = nullptr) const;

  long recv_from(void *buffer, size_t size, Peer &peer) const;
  // Waits at most timeout_ms for a datagram and receives it: its size, or -1 with last_error()
  // saying why (is_timed_out for a wait that ran out). One call where a wait and a receive
  // would be two: the server's lockstep pays it once per block.
  long recv_from_within(void *buffer, size_t size, Peer &peer, int timeout_ms) const;
  // From now on sends go to `peer` and only its datagrams are received.
  bool connect(const Peer &peer) const;
  long send(const void *data, size_t size) const;
  // To `peer`, whoever it is: the server answers the client and refuses strangers on one
  // unconnected socket.
  long send_to(const Peer &peer, const void *data, size_t size) const;
  long recv(void *buffer, size_t size) const;

 private:
  intptr_t handle_ = -1;
  // The receive time-out the socket holds, so that an unchanged one costs no call.
  mutable int receive_timeout_ms_ = -1;
};

}  // namespace udp
