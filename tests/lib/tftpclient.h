// Test helpers for the TFTP server: a scripted client on loopback that sends exactly the
// datagrams a test names, and files with recognisable content.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::string;

inline Bytes tftp_ack(unsigned block) { return {0, 4, char(block >> 8), char(block)}; }
inline Bytes tftp_error(unsigned code, const std::string &text) {
  return Bytes{0, 5, char(code >> 8), char(code)} + text + Bytes(1, '\0');
}
inline Bytes tftp_rrq(const std::string &name) {
  return Bytes{0, 1} + name + Bytes(1, '\0') + "octet" + Bytes(1, '\0');
}
inline unsigned tftp_opcode(const Bytes &p) {
  return p.size() < 2 ? 0 : unsigned(uint8_t(p[0])) << 8 | uint8_t(p[1]);
}
inline unsigned tftp_block(const Bytes &p) {
  return p.size() < 4 ? 0 : unsigned(uint8_t(p[2])) << 8 | uint8_t(p[3]);
}

// Position-dependent bytes, so a repeated, skipped or shifted block shows.
inline Bytes test_pattern(size_t n, unsigned seed = 1) {
  Bytes b(n, 0);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    b[i] = char(x >> 24);
  }
  return b;
}

inline std::string write_temp_file(const Bytes &content) {
  char name[] = "/tmp/zv_tftpXXXXXX";
  int fd = ::mkstemp(name);
  if (fd >= 0) {
    size_t off = 0;
    while (off < content.size()) {
      ssize_t n = ::write(fd, content.data() + off, content.size() - off);
      if (n <= 0)
        break;
      off += size_t(n);
    }
    ::close(fd);
  }
  return name;
}

inline std::optional<Bytes> read_whole_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// One UDP socket talking to 127.0.0.1:port. The receive time-outs are only a safety net so
// that a broken server fails the test instead of hanging it; no test measures them.
// A box of a station sits on its own loopback address (`local_address`) and, with
// `follow_answers`, sends everything after the first answer to the port that answer came
// from (RFC 1350's transfer ID), since a station answers from a port of its own.
class ScriptedClient {
 public:
  explicit ScriptedClient(int port, const char *local_address = nullptr, bool follow_answers = false)
      : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)), follow_answers_(follow_answers) {
    server_.sin_family = AF_INET;
    server_.sin_port = htons(uint16_t(port));
    server_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (local_address) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, local_address, &local.sin_addr);
      bound_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
    }
  }
  ~ScriptedClient() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  ScriptedClient(const ScriptedClient &) = delete;
  ScriptedClient &operator=(const ScriptedClient &) = delete;

  void send(const Bytes &datagram) {
    ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&server_),
             sizeof server_);
  }
  std::optional<Bytes> receive(int safety_ms = 20000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, safety_ms) <= 0)
      return std::nullopt;
    char buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
    if (n < 0)
      return std::nullopt;
    from_port_ = ntohs(from.sin_port);
    if (follow_answers_)
      server_.sin_port = from.sin_port;
    return Bytes(buf, size_t(n));
  }
  // True when a datagram is already waiting.
  bool pending() {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }
  int from_port() const { return from_port_; }
  // Whether the local address given could be taken.
  bool bound() const { return bound_; }

  // A well-behaved client from the read request on: ACKs every DATA, stops after the short
  // block. Returns the file; block numbers received go to `blocks` if given.
  std::optional<Bytes> fetch(std::vector<unsigned> *blocks = nullptr) {
    send(tftp_rrq("ky_tmp/kernel_cfe_auto.bin"));
    return fetch_rest(0, {}, blocks);
  }
  // Continues a transfer whose blocks up to `last_block` (already ACKed) gave `so_far`.
  std::optional<Bytes> fetch_rest(unsigned last_block, Bytes so_far,
                                  std::vector<unsigned> *blocks = nullptr) {
    Bytes content = std::move(so_far);
    unsigned expect = (last_block + 1) & 0xffff;
    for (;;) {
      auto p = receive();
      if (!p || tftp_opcode(*p) != 3 || tftp_block(*p) != expect)
        return std::nullopt;
      if (blocks)
        blocks->push_back(expect);
      content.append(*p, 4);
      send(tftp_ack(expect));
      if (p->size() < 4 + 512)
        return content;
      expect = (expect + 1) & 0xffff;
    }
  }

 private:
  int fd_;
  sockaddr_in server_{};
  int from_port_ = 0;
  bool follow_answers_ = false;
  bool bound_ = true;
};
