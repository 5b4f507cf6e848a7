#include "tools/boxsim/tftp_client.h"

#include "platform/unique_fd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace boxsim {

namespace {

// The socket of a transfer the box gave up on: kept open until the next transfer, so the
// server's late packets meet silence as they would on a boot loader, not an ICMP refusal.
UniqueFd lingering;

constexpr std::uint16_t kRrq = 1, kData = 3, kAck = 4, kError = 5, kOack = 6;
constexpr std::size_t kBlockSize = 512;

std::string ack_packet(std::uint16_t block) {
  return std::string{0, char(kAck), char(block >> 8), char(block & 0xff)};
}

std::string error_packet(std::uint16_t code, const std::string &text) {
  std::string p{0, char(kError), char(code >> 8), char(code & 0xff)};
  p += text;
  p += '\0';
  return p;
}

class Sender {
 public:
  Sender(int fd) : fd_(fd) {}
  void to(const sockaddr_in &peer, const std::string &packet) const {
    // A lost datagram is what the retries are for; nothing else to do on failure.
    (void)::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&peer),
                   sizeof peer);
  }

 private:
  int fd_;
};

// Waits up to `ms` for a datagram, calling tick() at least every 100 ms. Returns false on
// time-out.
bool wait_readable(int fd, int ms, const std::function<void()> &tick) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (tick)
      tick();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    if (left <= 0)
      return false;
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, int(std::min<long long>(left, 100)));
    if (r > 0)
      return true;
    if (r < 0 && errno != EINTR)
      return false;
  }
}

void bind_local(int fd, const std::string &local_address) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = 0;
  if (!local_address.empty() && ::inet_pton(AF_INET, local_address.c_str(), &local.sin_addr) == 1 &&
      ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0)
    return;
  // The address given to ifconfig need not exist on this host (the box is simulated);
  // the request then leaves from whatever address the route picks.
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  (void)::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
}

}  // namespace

std::string cfe_error_text(int status) {
  switch (status) {
    case 0:
      return "No error";
    case -1:
      return "Error";
    case -2:
      return "Invalid command";
    case -3:
      return "End of file reached";
    case -4:
      return "I/O error";
    case -5:
      return "Insufficient memory";
    case -6:
      return "Device not found";
    case -7:
      return "Device is open";
    case -8:
      return "Invalid parameter";
    case -9:
      return "Environment variable not found";
    case -10:
      return "Environment variable is read-only";
    case -17:
      return "Section would load outside available DRAM";
    case -18:
      return "File not found";
    case -19:
      return "Unsupported function";
    case -20:
      return "Host name unknown";
    case -21:
      return "Timeout occured";  // sic: the boot loader's own spelling
    case -22:
      return "Network protocol error";
    case -23:
      return "Network is down";
    case -24:
      return "No name server configured";
    default:
      return "CFE error " + std::to_string(status);
  }
}

TftpOutcome tftp_read(const std::string &server_address, const std::string &file, const TftpConfig &config,
                      const TftpFaults &faults, const std::function<void()> &tick) {
  TftpOutcome out;
  TransferRecord &rec = out.record;
  rec.server = server_address + ":" + std::to_string(config.server_port);
  rec.file = file;
  auto fail = [&](int status) -> TftpOutcome {
    out.status = status;
    rec.status = status;
    rec.error = cfe_error_text(status);
    rec.bytes = out.data.size();
    out.data.clear();
    return std::move(out);
  };

  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(config.server_port);
  if (::inet_pton(AF_INET, server_address.c_str(), &server.sin_addr) != 1)
    return fail(-20);

  if (faults.no_request) {
    // The box goes through its whole retry budget without a word on the network.
    rec.requested = false;
    UniqueFd idle(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    for (int i = 0; i < config.retries; ++i)
      wait_readable(idle.get(), config.timeout_ms, tick);
    return fail(-21);
  }

  UniqueFd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock.valid())
    return fail(-37);  // CFE_ERR_NOHANDLES range: no socket to be had
  bind_local(sock.get(), config.local_address);
  Sender send(sock.get());

  std::string rrq{0, char(kRrq)};
  rrq += file;
  rrq += '\0';
  rrq += "octet";
  rrq += '\0';
  send.to(server, rrq);

  sockaddr_in peer = server;  // the server's transfer port once its first answer came
  bool locked = false;
  std::string last_sent = rrq;
  std::uint64_t expected = 1;
  int failures = 0;
  std::uint8_t buf[kBlockSize + 4 + 64];

  for (;;) {
    if (!wait_readable(sock.get(), config.timeout_ms, tick)) {
      if (++failures >= config.retries)
        return fail(-21);
      ++rec.retries;
      send.to(locked ? peer : server, last_sent);
      continue;
    }
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    ssize_t n = ::recvfrom(sock.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &from_len);
    if (n < 0)
      continue;
    if (from.sin_addr.s_addr != server.sin_addr.s_addr) {
      ++rec.foreign_packets;
      continue;
    }
    if (locked && from.sin_port != peer.sin_port) {
      // RFC 1350: a packet from a stranger's port gets ERROR 5 and does not disturb
      // the transfer under way.
      ++rec.foreign_packets;
      send.to(from, error_packet(5, "Unknown transfer ID"));
      continue;
    }
    if (n < 4)
      continue;
    const std::uint16_t opcode = std::uint16_t(buf[0] << 8 | buf[1]);
    const std::uint16_t number = std::uint16_t(buf[2] << 8 | buf[3]);

    if (opcode == kError) {
      std::string text(reinterpret_cast<char *>(buf) + 4, std::size_t(n - 4));
      text = text.c_str();
      out.server_error = "TFTP error " + std::to_string(number) + ": " + text;
      return fail(-22);
    }
    if (opcode == kOack) {
      // We asked for no options, so an OACK is a server that does not listen.
      send.to(from, error_packet(8, "No options requested"));
      return fail(-22);
    }
    if (opcode != kData) {
      send.to(from, error_packet(4, "Illegal TFTP operation"));
      return fail(-22);
    }
    if (!locked) {
      peer = from;
      locked = true;
    }

    const std::uint16_t wanted = std::uint16_t(expected & 0xffff);
    if (number != wanted) {
      // A repeat of the block already taken means our ACK went missing: say it again.
      // Anything else is stale and ignored.
      if (expected > 1 && number == std::uint16_t((expected - 1) & 0xffff)) {
        if (++failures >= config.retries)
          return fail(-21);
        ++rec.retries;
        send.to(peer, last_sent);
      }
      continue;
    }

    const std::size_t payload = std::size_t(n - 4);
    if (payload > kBlockSize) {
      // Without a blksize option a block holds at most 512 bytes; more is a server
      // that got the protocol wrong, and its data cannot be trusted.
      send.to(peer, error_packet(4, "Illegal TFTP operation"));
      return fail(-22);
    }
    if (out.data.size() + payload > config.max_bytes) {
      send.to(peer, error_packet(3, "transfer cancelled"));
      return fail(-5);
    }
    out.data.insert(out.data.end(), buf + 4, buf + n);
    ++rec.blocks;
    failures = 0;

    if (faults.give_up_at == expected) {
      lingering = std::move(sock);
      return fail(-21);
    }
    if (faults.stall_at == expected) {
      for (;;) {
        if (wait_readable(sock.get(), config.timeout_ms, tick))
          ::recv(sock.get(), buf, sizeof buf, 0);
      }
    }

    if (config.block_delay_us > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(config.block_delay_us));
    last_sent = ack_packet(number);
    bool withheld = faults.lose_ack.count(expected) > 0;
    if (withheld) {
      ++rec.acks_lost;
    } else {
      send.to(peer, last_sent);
      if (faults.dup_ack.count(expected)) {
        ++rec.acks_duplicated;
        send.to(peer, last_sent);
      }
    }
    ++expected;

    if (payload < kBlockSize) {
      // CFE sends the last ACK once and is gone. When the fault withheld it, linger
      // for the server's repeat of the last block so the fault shows recovery, not a
      // server left waiting.
      if (withheld) {
        for (int i = 0; i < config.retries; ++i) {
          if (!wait_readable(sock.get(), config.timeout_ms, tick))
            continue;
          sockaddr_in again{};
          socklen_t again_len = sizeof again;
          ssize_t m =
              ::recvfrom(sock.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&again), &again_len);
          if (m >= 4 && again.sin_port == peer.sin_port && buf[1] == kData &&
              std::uint16_t(buf[2] << 8 | buf[3]) == number) {
            ++rec.retries;
            send.to(peer, last_sent);
            break;
          }
        }
      }
      rec.bytes = out.data.size();
      return out;
    }
  }
}

}  // namespace boxsim
