// The box's TFTP client against in.tftpd (tftpd-hpa) and against a scripted server that
// shows each retry, repeat and refusal on the wire.
#include "tools/boxsim/tftp_client.h"

#include "tests/tools/boxsim_harness.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace boxsim_test;
using boxsim::tftp_read;
using boxsim::TftpConfig;
using boxsim::TftpFaults;
using boxsim::TftpOutcome;

std::string bytes_of(const std::vector<std::uint8_t> &v) { return std::string(v.begin(), v.end()); }

// One UDP socket on 127.0.0.1 for the scripted server side.
class Udp {
 public:
  Udp() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Udp() { ::close(fd_); }
  std::uint16_t port() const { return port_; }
  bool recv(std::string &packet, sockaddr_in &from, int timeout_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0)
      return false;
    char buf[1024];
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
    packet.assign(buf, std::size_t(std::max<ssize_t>(n, 0)));
    return n >= 0;
  }
  void send(const sockaddr_in &to, const std::string &packet) {
    ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

int opcode(const std::string &p) {
  return p.size() >= 2 ? (std::uint8_t(p[0]) << 8 | std::uint8_t(p[1])) : -1;
}
int number(const std::string &p) {
  return p.size() >= 4 ? (std::uint8_t(p[2]) << 8 | std::uint8_t(p[3])) : -1;
}
std::string data_packet(int block, const std::string &payload) {
  return std::string{0, 3, char(block >> 8), char(block & 0xff)} + payload;
}

TftpConfig quick_config(std::uint16_t port) {
  TftpConfig c;
  c.server_port = port;
  c.timeout_ms = 50;
  c.retries = 4;
  return c;
}

// ---- against in.tftpd ------------------------------------------------------------------

class BoxsimAgainstTftpd : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(BoxsimAgainstTftpd, ReadsFilesOfEveryBlockBoundary) {
  const std::size_t sizes[] = {0, 1, 511, 512, 513, 1536, 200000};
  for (std::size_t size : sizes)
    write_file(dir.path() / "ky_tmp" / ("f" + std::to_string(size)), random_bytes(size, unsigned(size)));
  Tftpd server(dir.path());
  ASSERT_TRUE(server.ready());

  for (std::size_t size : sizes) {
    SCOPED_TRACE("size " + std::to_string(size));
    TftpOutcome got =
        tftp_read("127.0.0.1", "ky_tmp/f" + std::to_string(size), quick_config(server.port()), {}, nullptr);
    EXPECT_EQ(got.status, 0) << got.server_error;
    EXPECT_EQ(bytes_of(got.data), random_bytes(size, unsigned(size)));
    // A file of a whole number of blocks ends with an empty block.
    EXPECT_EQ(got.record.blocks, int(size / 512 + 1));
    EXPECT_EQ(got.record.retries, 0);
  }
}

TEST_F(BoxsimAgainstTftpd, MissingFileIsAProtocolError) {
  Tftpd server(dir.path());
  ASSERT_TRUE(server.ready());
  TftpOutcome got = tftp_read("127.0.0.1", "ky_tmp/none.bin", quick_config(server.port()), {}, nullptr);
  EXPECT_EQ(got.status, -22);
  EXPECT_EQ(got.server_error.rfind("TFTP error 1: ", 0), 0u) << got.server_error;
  EXPECT_TRUE(got.data.empty());
}

// 65536 blocks and more: the block number wraps to 0 as on CFE and tftpd-hpa.
TEST_F(BoxsimAgainstTftpd, BlockNumberWrapsPastBlock65535) {
  const std::size_t size = 65536u * 512u + 700u;
  write_file(dir.path() / "big.bin", random_bytes(size, 99));
  Tftpd server(dir.path());
  ASSERT_TRUE(server.ready());
  TftpOutcome got = tftp_read("127.0.0.1", "big.bin", quick_config(server.port()), {}, nullptr);
  ASSERT_EQ(got.status, 0) << got.server_error;
  EXPECT_EQ(got.record.blocks, 65538);
  EXPECT_TRUE(bytes_of(got.data) == random_bytes(size, 99));
}

// ---- against a scripted server -----------------------------------------------------------

// Serves three blocks (512, 512, 10 bytes) from a transfer port of its own; waits `wait_ms`
// for each ACK and sends the block again on silence. Records every ACK in arrival order.
struct ScriptedRead {
  Udp listen;
  int wait_ms = 2000;
  std::vector<int> acks;
  int data_resent = 0;
  int send_twice = 0;  // a block the server sends twice in a row
  std::string request;

  void serve() {
    sockaddr_in client{};
    if (!listen.recv(request, client, kHangGuardMs))
      return;
    Udp transfer;
    for (int block = 1; block <= 3; ++block) {
      const std::string payload = block < 3 ? std::string(512, char('a' + block)) : "tail-block";
      transfer.send(client, data_packet(block, payload));
      if (block == send_twice)
        transfer.send(client, data_packet(block, payload));
      for (int tries = 0; tries < 5;) {
        std::string p;
        sockaddr_in from{};
        if (!transfer.recv(p, from, wait_ms)) {
          ++tries;
          ++data_resent;
          transfer.send(client, data_packet(block, payload));
          continue;
        }
        if (opcode(p) == 4)
          acks.push_back(number(p));
        if (opcode(p) == 4 && number(p) == block)
          break;
      }
    }
    // Late duplicates of the last ACK.
    std::string p;
    sockaddr_in from{};
    while (transfer.recv(p, from, 300))
      if (opcode(p) == 4)
        acks.push_back(number(p));
  }
};

// Each case keeps one side's time-out far from the other's so that which side repeats
// itself does not depend on the machine's load.
struct AckCase {
  const char *name;
  int client_timeout_ms;
  int server_wait_ms;
  std::set<std::uint64_t> lose, dup;
  int send_twice;
  std::vector<int> acks;
  int data_resent;
};

class BoxsimAckFaults : public ::testing::TestWithParam<AckCase> {};

TEST_P(BoxsimAckFaults, WireShowsTheFaultAndTheFileArrivesWhole) {
  const AckCase &c = GetParam();
  ScriptedRead server;
  server.send_twice = c.send_twice;
  server.wait_ms = c.server_wait_ms;
  TftpConfig config = quick_config(server.listen.port());
  config.timeout_ms = c.client_timeout_ms;
  std::thread t([&] { server.serve(); });
  TftpFaults faults;
  faults.lose_ack = c.lose;
  faults.dup_ack = c.dup;
  TftpOutcome got = tftp_read("127.0.0.1", "ky_tmp/kernel_cfe_auto.bin", config, faults, nullptr);
  t.join();

  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(bytes_of(got.data), std::string(512, 'b') + std::string(512, 'c') + "tail-block");
  EXPECT_EQ(server.acks, c.acks);
  EXPECT_EQ(server.data_resent, c.data_resent);
  EXPECT_EQ(got.record.acks_lost, int(c.lose.size()));
  EXPECT_EQ(got.record.acks_duplicated, int(c.dup.size()));
  // Read request without options, octet mode.
  EXPECT_EQ(server.request, std::string("\0\1ky_tmp/kernel_cfe_auto.bin\0octet\0", 35));
}

INSTANTIATE_TEST_SUITE_P(
    Client, BoxsimAckFaults,
    ::testing::Values(AckCase{"clean", 1000, 2000, {}, {}, 0, {1, 2, 3}, 0},
                      // The client's own time-out sends the withheld ACK again before the server's does.
                      AckCase{"lost_middle_ack", 50, 2000, {2}, {}, 0, {1, 2, 3}, 0},
                      // The last ACK withheld: the server repeats the block and the client answers it.
                      AckCase{"lost_last_ack", 1000, 100, {3}, {}, 0, {1, 2, 3}, 1},
                      // A duplicated ACK must not make a careful server send anything twice.
                      AckCase{"duplicate_ack", 1000, 2000, {}, {2}, 0, {1, 2, 2, 3}, 0},
                      // A repeated block is acknowledged again and not stored twice.
                      AckCase{"repeated_block", 1000, 2000, {}, {}, 1, {1, 1, 2, 3}, 0}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(BoxsimScriptedTftp, SilentServerGetsEveryRetryThenTimeout) {
  Udp listen;
  TftpConfig config = quick_config(listen.port());
  std::vector<std::string> requests;
  std::thread t([&] {
    std::string p;
    sockaddr_in from{};
    while (listen.recv(p, from, 500))
      requests.push_back(p);
  });
  TftpOutcome got = tftp_read("127.0.0.1", "x.bin", config, {}, nullptr);
  t.join();
  EXPECT_EQ(got.status, -21);
  EXPECT_EQ(boxsim::cfe_error_text(got.status), "Timeout occured");
  ASSERT_EQ(int(requests.size()), config.retries);
  for (const std::string &r : requests)
    EXPECT_EQ(r, std::string("\0\1x.bin\0octet\0", 14));
}

TEST(BoxsimScriptedTftp, NoRequestFaultSendsNothing) {
  Udp listen;
  TftpFaults faults;
  faults.no_request = true;
  TftpOutcome got = tftp_read("127.0.0.1", "x.bin", quick_config(listen.port()), faults, nullptr);
  std::string p;
  sockaddr_in from{};
  EXPECT_FALSE(listen.recv(p, from, 0));
  EXPECT_EQ(got.status, -21);
  EXPECT_FALSE(got.record.requested);
}

TEST(BoxsimScriptedTftp, StrangerPortGetsError5AndTransferGoesOn) {
  Udp listen;
  std::string stranger_got;
  std::thread t([&] {
    std::string p;
    sockaddr_in client{};
    listen.recv(p, client, kHangGuardMs);
    Udp transfer, stranger;
    transfer.send(client, data_packet(1, std::string(512, 'x')));
    transfer.recv(p, client, kHangGuardMs);
    stranger.send(client, data_packet(2, "forged"));
    sockaddr_in from{};
    stranger.recv(stranger_got, from, kHangGuardMs);
    transfer.send(client, data_packet(2, "real"));
    transfer.recv(p, from, kHangGuardMs);
  });
  TftpOutcome got = tftp_read("127.0.0.1", "x.bin", quick_config(listen.port()), {}, nullptr);
  t.join();
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(bytes_of(got.data), std::string(512, 'x') + "real");
  EXPECT_EQ(opcode(stranger_got), 5);
  EXPECT_EQ(number(stranger_got), 5);
  EXPECT_EQ(got.record.foreign_packets, 1);
}

struct RefusalCase {
  const char *name;
  std::string reply;  // the server's first answer
  std::size_t max_bytes;
  int status;
  int error_code_back;  // ERROR code the client sends the server
};

class BoxsimRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(BoxsimRefusals, ClientGivesUpAndTellsTheServer) {
  const RefusalCase &c = GetParam();
  Udp listen;
  std::string back;
  std::thread t([&] {
    std::string p;
    sockaddr_in client{};
    listen.recv(p, client, kHangGuardMs);
    Udp transfer;
    transfer.send(client, c.reply);
    sockaddr_in from{};
    while (transfer.recv(p, from, 300)) {
      if (opcode(p) == 5) {
        back = p;
        break;
      }
      transfer.send(client, data_packet(2, std::string(512, 'y')));
    }
  });
  TftpConfig config = quick_config(listen.port());
  config.max_bytes = c.max_bytes;
  TftpOutcome got = tftp_read("127.0.0.1", "x.bin", config, {}, nullptr);
  t.join();
  EXPECT_EQ(got.status, c.status);
  EXPECT_TRUE(got.data.empty());
  EXPECT_EQ(opcode(back), 5);
  EXPECT_EQ(number(back), c.error_code_back);
}

INSTANTIATE_TEST_SUITE_P(Client, BoxsimRefusals,
                         ::testing::Values(
                             // No options were asked for; an OACK is refused with ERROR 8.
                             RefusalCase{"unasked_oack",
                                         std::string("\0\6blksize\0"
                                                     "1428\0",
                                                     15),
                                         1u << 20, -22, 8},
                             // A block longer than 512 bytes was never asked for.
                             RefusalCase{"oversized_block", data_packet(1, std::string(513, 'o')), 1u << 20,
                                         -22, 4},
                             // Over the staging buffer: cancelled with ERROR 3, not cut short in silence.
                             RefusalCase{"too_large", data_packet(1, std::string(512, 'z')), 700, -5, 3}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

}  // namespace
