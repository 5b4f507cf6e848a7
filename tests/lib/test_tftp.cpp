// The TFTP server against a scripted client on loopback: what real clients do not provoke.
// Every server here runs on a free port through the test seam.
#include "lib/tftpsocket.h"
#include "lib/tftptestseam.h"
#include "lib/tftpthread.h"
#include "tests/lib/logcapture.h"
#include "tests/lib/tftpclient.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <thread>

namespace {

int open_fd_count() {
  int n = 0;
  if (DIR *d = ::opendir("/proc/self/fd")) {
    while (::readdir(d))
      ++n;
    ::closedir(d);
  }
  return n;
}

// With a short ACK time-out a slow test thread may see extra copies of a block it already
// ACKed; skip them.
std::optional<Bytes> next_block_after(ScriptedClient &client, unsigned block) {
  auto p = client.receive();
  while (p && tftp_opcode(*p) == 3 && tftp_block(*p) == block)
    p = client.receive();
  return p;
}

class Tftp : public ::testing::Test {
 protected:
  void SetUp() override {
    tftp_seam_set_port(0);
    // Long enough that no deterministic test sees a time-out resend unless it asks for one.
    tftp_seam_set_ack_timeout_ms(10000);
  }
  void TearDown() override {
    tftp_stop(0);
    for (const auto &f : files_)
      std::remove(f.c_str());
    tftp_seam_set_ack_timeout_ms(0);
    tftp_seam_set_port(-1);
    EXPECT_EQ(tftp_seam_sockets_users(), 0);
  }

  // Starts a server on `content`; returns its port.
  int serve(const Bytes &content) {
    files_.push_back(write_temp_file(content));
    EXPECT_EQ(tftp_start(files_.back().c_str()), 1);
    int port = tftp_seam_wait_bound_port();
    EXPECT_GT(port, 0);
    return port;
  }

  LogCapture log_;
  std::vector<std::string> files_;
};

struct SizeCase {
  size_t size;
  size_t blocks;  // DATA packets, the last one short (possibly empty)
  bool eof_line;  // "got eof!!": only when the last block carries no data
};

class TftpSizes : public Tftp, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(TftpSizes, ServesTheFileInBlocksEndingWithAShortOne) {
  const SizeCase &c = GetParam();
  Bytes content = test_pattern(c.size, unsigned(c.size));
  ScriptedClient client(serve(content));
  std::vector<unsigned> blocks;
  auto got = client.fetch(&blocks);
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_EQ(blocks.size(), c.blocks);
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_EQ(log_.has("INFO", "tftp_thread", "got eof!!"), c.eof_line);
  EXPECT_FALSE(client.pending()) << "data after the last ACK";
}

INSTANTIATE_TEST_SUITE_P(Files, TftpSizes,
                         ::testing::Values(SizeCase{0, 1, true}, SizeCase{1, 1, false}, SizeCase{511, 1, false},
                                           SizeCase{512, 2, true}, SizeCase{513, 2, false},
                                           SizeCase{1000, 2, false}, SizeCase{1024, 3, true},
                                           SizeCase{5000, 10, false}),
                         [](const auto &info) { return "Bytes" + std::to_string(info.param.size); });

TEST_F(Tftp, AnswersFromItsOwnPortAndLogsEachStage) {
  int port = serve(test_pattern(700));
  ScriptedClient client(port);
  ASSERT_TRUE(client.fetch().has_value());
  EXPECT_EQ(client.from_port(), port);
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_FALSE(tftp_running());
  for (const char *line : {"fopen() ok!!", "WSAStartup() ok!!"})
    EXPECT_TRUE(log_.has("DEBUG", "tftp_start", line)) << line;
  EXPECT_EQ(log_.count_prefix("tftp_start", "TFTP-Server started : "), 1);
  for (const char *line : {"socket() ok!!", "bind() ok!!", "tftp_clean() ok!!"})
    EXPECT_TRUE(log_.has("DEBUG", "tftp_thread", line)) << line;
  for (const char *line : {"Waiting for connection..", "sending data!!"})
    EXPECT_TRUE(log_.has("INFO", "tftp_thread", line)) << line;
  for (const char *line : {"CloseHandle()", "WSACleanup()"})
    EXPECT_EQ(log_.count("DEBUG", "tftp_stop", line), 1) << line;
}

// The request is not examined: any first datagram starts the transfer.
TEST_F(Tftp, FirstDatagramThatIsNotAReadRequestIsAnsweredWithData) {
  Bytes content = test_pattern(600);
  ScriptedClient client(serve(content));
  client.send("hello, no request here");
  auto got = client.fetch_rest(0, {});
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

// A repeated ACK of block j-1 while block j is out must not make the server send block j
// again (the Sorcerer's Apprentice bug); the next datagram after ACK j is DATA j+1.
TEST_F(Tftp, DuplicateAckOfPreviousBlockSendsNothing) {
  Bytes content = test_pattern(1500);
  ScriptedClient client(serve(content));
  client.send(tftp_rrq("x"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1 && tftp_block(*d1) == 1);
  client.send(tftp_ack(1));
  auto d2 = client.receive();
  ASSERT_TRUE(d2 && tftp_block(*d2) == 2);
  client.send(tftp_ack(1));
  // Nothing may answer the duplicate. (A slow machine can only hide a fault here, never
  // invent one: the ACK time-out is far longer than this look.)
  auto stray = client.receive(300);
  EXPECT_FALSE(stray.has_value()) << "block " << (stray ? tftp_block(*stray) : 0) << " sent again";
  client.send(tftp_ack(2));
  auto d3 = client.receive();
  ASSERT_TRUE(d3.has_value());
  EXPECT_EQ(tftp_opcode(*d3), 3u);
  EXPECT_EQ(tftp_block(*d3), 3u) << "block 2 was sent again";
  client.send(tftp_ack(3));
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_FALSE(client.pending());
}

// An ACK of some other block (not j-1) makes the server send block j again.
TEST_F(Tftp, AckOfAnotherBlockSendsTheBlockAgain) {
  Bytes content = test_pattern(1500);
  ScriptedClient client(serve(content));
  client.send(tftp_rrq("x"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1 && tftp_block(*d1) == 1);
  client.send(tftp_ack(1));
  auto d2 = client.receive();
  ASSERT_TRUE(d2 && tftp_block(*d2) == 2);
  client.send(tftp_ack(9));
  auto again = client.receive();
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(*again == *d2);
  client.send(tftp_ack(2));
  auto rest = client.fetch_rest(2, Bytes(content, 0, 1024));
  ASSERT_TRUE(rest.has_value());
  EXPECT_TRUE(*rest == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

TEST_F(Tftp, ErrorPacketFromTheBoxEndsTheTransferAsFailed) {
  ScriptedClient client(serve(test_pattern(5000)));
  client.send(tftp_rrq("x"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1 && tftp_block(*d1) == 1);
  client.send(tftp_error(3, "transfer cancelled"));
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_TRUE(log_.has("ERROR", "tftp_thread", "received() error!! : [3]"));
  EXPECT_FALSE(client.pending()) << "the server sent more after the ERROR packet";
}

TEST_F(Tftp, UnknownOpcodeIsAnsweredWithAnErrorPacket) {
  ScriptedClient client(serve(test_pattern(5000)));
  client.send(tftp_rrq("x"));
  ASSERT_TRUE(client.receive().has_value());
  client.send(tftp_rrq("again"));
  auto nak = client.receive();
  ASSERT_TRUE(nak.has_value());
  EXPECT_EQ(*nak, Bytes("\0\5\0\0error\0", 10));
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_TRUE(log_.has("ERROR", "tftp_thread", "unknown opcode!! : [1]"));
}

TEST_F(Tftp, NoRequestWithinSixWaitsEndsWithResultZero) {
  serve(test_pattern(100));
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_TRUE(log_.has("INFO", "tftp_thread", "excess timeout-count!!"));
  EXPECT_FALSE(log_.has("INFO", "tftp_thread", "sending data!!"));
}

// The box sends its request within six seconds of its flash command; one that comes late in
// that window is still served.
TEST_F(Tftp, RequestLateInTheWaitIsServed) {
  Bytes content = test_pattern(2000);
  ScriptedClient client(serve(content));
  std::this_thread::sleep_for(std::chrono::milliseconds(4500));
  auto got = client.fetch();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

// A box that goes silent mid-transfer: the block is sent again after each time-out and the
// server ends, failed, after the last one, so nobody waits for ever.
TEST_F(Tftp, SilentClientEndsTheTransferAfterBoundedResends) {
  tftp_seam_set_ack_timeout_ms(100);
  ScriptedClient client(serve(test_pattern(5000)));
  client.send(tftp_rrq("x"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1.has_value());
  client.send(tftp_ack(1));
  auto d2 = next_block_after(client, 1);
  ASSERT_TRUE(d2 && tftp_block(*d2) == 2);
  EXPECT_EQ(tftp_stop(0), 0);
  int copies = 0;
  while (client.pending()) {
    auto p = client.receive();
    ASSERT_TRUE(p.has_value());
    EXPECT_TRUE(*p == *d2);
    ++copies;
  }
  EXPECT_EQ(copies, TFTP_ACK_TIMEOUTS - 1);
  EXPECT_TRUE(log_.has("ERROR", "tftp_thread", "no ACK from the client, giving up at block : [2]"));
}

// A lost DATA block while the client keeps re-sending its previous ACK (what CFE does on
// silence): the duplicates must not hold the block back; its time-out sends it again.
TEST_F(Tftp, LostBlockIsRecoveredDespiteRepeatedOldAcks) {
  tftp_seam_set_ack_timeout_ms(200);
  Bytes content = test_pattern(1500);
  ScriptedClient client(serve(content));
  client.send(tftp_rrq("x"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1 && tftp_block(*d1) == 1);
  client.send(tftp_ack(1));
  auto lost = next_block_after(client, 1);  // DATA 2, "lost": the client acts as if it never came
  ASSERT_TRUE(lost && tftp_block(*lost) == 2);
  std::optional<Bytes> again;
  for (int tries = 0; tries < 200 && !again; ++tries) {
    client.send(tftp_ack(1));
    again = client.receive(50);
  }
  ASSERT_TRUE(again.has_value()) << "block 2 never came again";
  EXPECT_TRUE(*again == *lost);
  // Drain further copies that may have crossed, then finish.
  client.send(tftp_ack(2));
  Bytes so_far = Bytes(content, 0, 1024);
  auto p = client.receive();
  while (p && tftp_block(*p) == 2)
    p = client.receive();
  ASSERT_TRUE(p && tftp_block(*p) == 3);
  client.send(tftp_ack(3));
  EXPECT_EQ(tftp_stop(0), 1);
}

struct WrapCase {
  const char *name;
  size_t size;
  unsigned last_block;
};

class TftpWrap : public Tftp, public ::testing::WithParamInterface<WrapCase> {};

// CFE's client expects block 0 after 65535; one WARN entry marks the wrap in the log.
TEST_P(TftpWrap, BlockNumberWrapsToZero) {
  const WrapCase &c = GetParam();
  Bytes content = test_pattern(c.size, 7);
  ScriptedClient client(serve(content));
  std::vector<unsigned> blocks;
  auto got = client.fetch(&blocks);
  ASSERT_TRUE(got.has_value()) << "stopped after " << blocks.size() << " blocks";
  EXPECT_TRUE(*got == content);
  ASSERT_GE(blocks.size(), 65536u);
  EXPECT_EQ(blocks[65534], 65535u);
  EXPECT_EQ(blocks[65535], 0u);
  EXPECT_EQ(blocks.back(), c.last_block);
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_EQ(log_.count_prefix("tftp_thread", "block number wraps from 65535 to 0"), 1);
}

INSTANTIATE_TEST_SUITE_P(Large, TftpWrap,
                         ::testing::Values(WrapCase{"ShortBlockZeroEnds", 65535u * 512 + 100, 0},
                                           WrapCase{"GoesOnToBlockOne", 65536u * 512 + 100, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Tftp, StartRejectsMissingNames) {
  EXPECT_EQ(tftp_start(nullptr), 0);
  EXPECT_EQ(tftp_start(""), 0);
  EXPECT_EQ(log_.count("ERROR", "tftp_start", "File Name is empty or null!!"), 2);
  EXPECT_EQ(tftp_start("/nonexistent/kernel_cfe_auto.bin"), 0);
  EXPECT_TRUE(log_.has("ERROR", "tftp_start", "fopen(\"/nonexistent/kernel_cfe_auto.bin\", \"rb\") error!"));
  EXPECT_FALSE(tftp_running());
  // Nothing was started: the stop waits for nothing and releases nothing.
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_EQ(log_.count_prefix("tftp_stop", ""), 0);
}

TEST_F(Tftp, StopWithoutServerReturnsTheLastResult) {
  ScriptedClient client(serve(test_pattern(10)));
  ASSERT_TRUE(client.fetch().has_value());
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_EQ(log_.count("DEBUG", "tftp_stop", "CloseHandle()"), 1);
}

TEST_F(Tftp, SecondStartWhileRunningIsRefused) {
  Bytes content = test_pattern(3000);
  ScriptedClient client(serve(content));
  std::string other = write_temp_file("other");
  files_.push_back(other);
  EXPECT_EQ(tftp_start(other.c_str()), 0);
  EXPECT_TRUE(log_.has("ERROR", "tftp_start", "TFTP-Server is still running!!"));
  auto got = client.fetch();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

TEST_F(Tftp, NowaitStopLeavesARunningServerAlone) {
  Bytes content = test_pattern(3000);
  ScriptedClient client(serve(content));
  EXPECT_EQ(tftp_stop(1), 0);
  EXPECT_TRUE(tftp_running());
  auto got = client.fetch();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

TEST_F(Tftp, PortInUseEndsTheServerWithABindError) {
  tftpnet::UdpSocket holder;
  ASSERT_TRUE(holder.open());
  ASSERT_TRUE(holder.bind_any(0));
  tftp_seam_set_port(holder.local_port());
  files_.push_back(write_temp_file("x"));
  ASSERT_EQ(tftp_start(files_.back().c_str()), 1);
  EXPECT_EQ(tftp_seam_wait_bound_port(), -1);
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_EQ(log_.count_prefix("tftp_thread", "bind() error!! : ["), 1);
}

// The worker and the GUI thread (Previous, or a box failure) may both stop the server while
// a transfer runs. Both wait for its end, and each resource is released once.
TEST_F(Tftp, TwoConcurrentStopsReleaseEverythingOnce) {
  const int fds_before = open_fd_count();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    Bytes content = test_pattern(4000, unsigned(round));
    ScriptedClient client(serve(content));
    client.send(tftp_rrq("x"));
    auto d1 = client.receive();
    ASSERT_TRUE(d1 && tftp_block(*d1) == 1);

    std::atomic<int> go{0};
    int results[2] = {-1, -1};
    std::thread stoppers[2];
    for (int s = 0; s < 2; ++s)
      stoppers[s] = std::thread([&, s] {
        go.fetch_add(1);
        while (go.load() < 2) {
        }
        results[s] = tftp_stop(0);
      });
    while (go.load() < 2) {
    }
    // Both are (about to be) waiting; now let the transfer finish.
    client.send(tftp_ack(1));
    auto rest = client.fetch_rest(1, Bytes(*d1, 4));
    for (auto &t : stoppers)
      t.join();
    ASSERT_TRUE(rest.has_value());
    EXPECT_TRUE(*rest == content);
    EXPECT_EQ(results[0], 1);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(log_.count("DEBUG", "tftp_stop", "CloseHandle()"), round + 1);
    EXPECT_EQ(log_.count("DEBUG", "tftp_stop", "WSACleanup()"), round + 1);
    EXPECT_EQ(tftp_seam_sockets_users(), 0);
    std::remove(files_.back().c_str());
    files_.pop_back();
  }
  EXPECT_EQ(open_fd_count(), fds_before) << "a file or socket was leaked";
}

// do_error_nak's packet on the wire, byte for byte.
TEST(TftpErrorPacket, LayoutAndFailures) {
  tftpnet::UdpSocket rx, tx;
  ASSERT_TRUE(rx.open() && rx.bind_any(0));
  ASSERT_TRUE(tx.open());
  tftpnet::Peer to;
  to.addr.sin_family = AF_INET;
  to.addr.sin_port = htons(uint16_t(rx.local_port()));
  to.addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_TRUE(tx.connect(to));
  char buffer[TFTP_PACKET_SIZE];
  char got[1024];
  const std::string long_text(600, 'x');

  const struct {
    int code;
    const char *text;
    Bytes wire;
  } cases[] = {
      {0, "error", Bytes("\0\5\0\0error\0", 10)},
      {0, nullptr, Bytes("\0\5\0\0\0", 5)},
      {0x0102, "", Bytes("\0\5\1\2\0", 5)},
      {3, long_text.c_str(), Bytes("\0\5\0\3", 4) + std::string(511, 'x') + Bytes(1, '\0')},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.wire.size());
    EXPECT_EQ(do_error_nak(tx, c.code, c.text, buffer), 0);
    ASSERT_EQ(rx.wait_readable(5000), tftpnet::Wait::Ready);
    long n = rx.recv(got, sizeof got);
    EXPECT_EQ(Bytes(got, size_t(n > 0 ? n : 0)), c.wire);
  }
  EXPECT_EQ(do_error_nak(tx, 0, "error", nullptr), 1);
  tftpnet::UdpSocket closed;
  EXPECT_EQ(do_error_nak(closed, 0, "error", buffer), 1);
}

}  // namespace
