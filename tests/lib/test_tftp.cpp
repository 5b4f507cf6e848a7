// The TFTP server against a scripted client on loopback: what real clients do not provoke.
// Every server here runs on a free port through the test seam.
#include "lib/tftptestseam.h"
#include "lib/tftpthread.h"
#include "platform/udp.h"
#include "tests/lib/logcapture.h"
#include "tests/lib/tftpclient.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <thread>
#include <vector>

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
  EXPECT_EQ(tftp_bytes_served.load(), content.size());
  EXPECT_EQ(log_.has("INFO", "tftp_thread", "got eof!!"), c.eof_line);
  EXPECT_FALSE(client.pending()) << "data after the last ACK";
}

INSTANTIATE_TEST_SUITE_P(Files, TftpSizes,
                         ::testing::Values(SizeCase{0, 1, true}, SizeCase{1, 1, false},
                                           SizeCase{511, 1, false}, SizeCase{512, 2, true},
                                           SizeCase{513, 2, false}, SizeCase{1000, 2, false},
                                           SizeCase{1024, 3, true}, SizeCase{5000, 10, false}),
                         [](const auto &test_case) {
                           return "Bytes" + std::to_string(test_case.param.size);
                         });

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
  // The socket is bound before tftp_start returns, so its lines come from there.
  for (const char *line : {"socket() ok!!", "bind() ok!!"})
    EXPECT_TRUE(log_.has("DEBUG", "tftp_start", line)) << line;
  EXPECT_TRUE(log_.has("DEBUG", "tftp_thread", "tftp_clean() ok!!"));
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
  client.send(Bytes{0, 2} + "upload" + Bytes(1, '\0') + "octet" + Bytes(1, '\0'));
  auto nak = client.receive();
  ASSERT_TRUE(nak.has_value());
  EXPECT_EQ(*nak, Bytes("\0\5\0\0error\0", 10));
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_TRUE(log_.has("ERROR", "tftp_thread", "unknown opcode!! : [2]"));
}

// A datagram from anybody but the client (here one queued right behind the request, and one
// that claims to ACK the block out) must neither end nor advance the transfer: the sender
// alone is told ERROR 5, and the client gets every byte.
TEST_F(Tftp, StrangerDatagramsAreRefusedAndTheTransferGoesOn) {
  Bytes content = test_pattern(1500);
  int port = serve(content);
  ScriptedClient client(port);
  ScriptedClient stranger(port);
  const Bytes unknown_tid = Bytes("\0\5\0\5", 4) + "Unknown transfer ID" + Bytes(1, '\0');
  client.send(tftp_rrq("x"));
  stranger.send(tftp_rrq("y"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1 && tftp_opcode(*d1) == 3 && tftp_block(*d1) == 1);
  EXPECT_EQ(stranger.receive(), unknown_tid);
  client.send(tftp_ack(1));
  auto d2 = client.receive();
  ASSERT_TRUE(d2 && tftp_block(*d2) == 2);
  stranger.send(tftp_ack(2));
  EXPECT_EQ(stranger.receive(), unknown_tid);
  EXPECT_EQ(stranger.from_port(), port);
  // Block 2 is still out: the client's own ACK is what moves the transfer on.
  client.send(tftp_ack(2));
  auto rest = client.fetch_rest(2, Bytes(content, 0, 1024));
  ASSERT_TRUE(rest.has_value());
  EXPECT_TRUE(*rest == content);
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_FALSE(stranger.pending());
  EXPECT_EQ(log_.count_prefix("tftp_thread", "datagram from unknown sender 127.0.0.1:"), 2);
}

// RFC 1350 clients send their request again when DATA 1 does not come; the answer is DATA 1
// again, not an ERROR, and the transfer runs on from there.
TEST_F(Tftp, RepeatedReadRequestGetsBlockOneAgain) {
  Bytes content = test_pattern(1200);
  ScriptedClient client(serve(content));
  client.send(tftp_rrq("x"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1 && tftp_block(*d1) == 1);
  client.send(tftp_rrq("x"));
  auto again = client.receive();
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(*again == *d1);
  client.send(tftp_ack(1));
  auto rest = client.fetch_rest(1, Bytes(*d1, 4));
  ASSERT_TRUE(rest.has_value());
  EXPECT_TRUE(*rest == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

// Datagrams from the client too short to mean anything (no opcode, or an ACK without its
// block number) are dropped: no reply, no end, no step.
TEST_F(Tftp, ClientRuntsAreIgnored) {
  Bytes content = test_pattern(1100);
  ScriptedClient client(serve(content));
  client.send(tftp_rrq("x"));
  auto d1 = client.receive();
  ASSERT_TRUE(d1 && tftp_block(*d1) == 1);
  for (const Bytes &runt : {Bytes(), Bytes(1, '\4'), Bytes("\0\4\0", 3)})
    client.send(runt);
  client.send(tftp_ack(1));
  auto d2 = client.receive();
  ASSERT_TRUE(d2.has_value());
  EXPECT_EQ(tftp_opcode(*d2), 3u);
  EXPECT_EQ(tftp_block(*d2), 2u);
  client.send(tftp_ack(2));
  auto rest = client.fetch_rest(2, Bytes(*d1, 4) + Bytes(*d2, 4));
  ASSERT_TRUE(rest.has_value());
  EXPECT_TRUE(*rest == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

TEST_F(Tftp, NoRequestWithinSixWaitsEndsWithResultZero) {
  serve(test_pattern(100));
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_TRUE(log_.has("INFO", "tftp_thread", "excess timeout-count!!"));
  EXPECT_FALSE(log_.has("INFO", "tftp_thread", "sending data!!"));
}

// The box sends its request within six seconds of its flash command; one that comes in the
// last of the server's waits is still served.
TEST_F(Tftp, RequestLateInTheWaitIsServed) {
  Bytes content = test_pattern(2000);
  ScriptedClient client(serve(content));
  ASSERT_TRUE(zv_test::wait_until([] { return tftp_seam_request_waits_begun() == TFTP_REQUEST_WAITS; },
                                  std::chrono::seconds(30)))
      << "the server never began its last wait for the request";
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
  EXPECT_EQ(tftp_bytes_served.load(), content.size()) << "past the 16-bit block numbers";
  EXPECT_EQ(log_.count_prefix("tftp_thread", "block number wraps from 65535 to 0"), 1);
}

INSTANTIATE_TEST_SUITE_P(Large, TftpWrap,
                         ::testing::Values(WrapCase{"ShortBlockZeroEnds", 65535u * 512 + 100, 0},
                                           WrapCase{"GoesOnToBlockOne", 65536u * 512 + 100, 1}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

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

// A start that cannot bind the port must say so before the box is asked to fetch, and leave
// nothing behind: no thread, no socket, no file, no sockets-layer reference.
TEST_F(Tftp, PortHeldByAnotherSocketMakesTheStartFail) {
  files_.push_back(write_temp_file("x"));
  const int fds_before = open_fd_count();
  {
    udp::Socket holder;
    ASSERT_TRUE(holder.open());
    ASSERT_TRUE(holder.bind_any(0));
    tftp_seam_set_port(holder.local_port());
    EXPECT_EQ(tftp_start(files_.back().c_str()), 0);
    EXPECT_FALSE(tftp_running());
    EXPECT_EQ(tftp_seam_wait_bound_port(), -1);
    EXPECT_EQ(log_.count_prefix("tftp_start", "bind() error!! : ["), 1);
    EXPECT_EQ(tftp_seam_sockets_users(), 0);
    EXPECT_EQ(open_fd_count(), fds_before + 1) << "only the holder's socket may be open";
  }
  EXPECT_EQ(tftp_stop(0), 0);
  EXPECT_EQ(log_.count_prefix("tftp_stop", ""), 0) << "the failed start left something to release";
  EXPECT_EQ(open_fd_count(), fds_before);

  tftp_seam_set_port(0);
  Bytes content = test_pattern(700);
  ScriptedClient client(serve(content));
  auto got = client.fetch();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_EQ(tftp_stop(0), 1);
}

// Waits for `condition` with a bound far beyond what a working server needs.
template <typename F>
bool wait_until(F &&condition) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::yield();
  }
  return true;
}

// How long a call takes, only to catch a hang: every bound below is seconds beyond what a
// working server needs, and nothing here measures speed.
template <typename F>
std::chrono::milliseconds time_of(F &&f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
}
constexpr auto hang_bound = std::chrono::milliseconds(2000);

// Previous, or the box's failure line, must not freeze the window until the server gives up
// by itself (six seconds for the request, ten for a silent box): after tftp_abort the stop
// returns at once, the result is 0, and a client that already has data is told.
struct AbortCase {
  const char *name;
  bool requested;  // the client's request came, and DATA 1 waits for its ACK
};

class TftpAbort : public Tftp, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(TftpAbort, StopReturnsPromptlyAfterAbort) {
  ScriptedClient client(serve(test_pattern(5000)));
  if (GetParam().requested) {
    client.send(tftp_rrq("x"));
    auto d1 = client.receive();
    ASSERT_TRUE(d1 && tftp_block(*d1) == 1);
  }
  int result = -1;
  auto took = time_of([&] {
    tftp_abort();
    result = tftp_stop(0);
  });
  EXPECT_LT(took, hang_bound);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(tftp_running());
  EXPECT_TRUE(log_.has("INFO", "tftp_thread", "transfer aborted"));
  if (GetParam().requested) {
    auto nak = client.receive();
    ASSERT_TRUE(nak.has_value());
    EXPECT_EQ(*nak, Bytes("\0\5\0\0error\0", 10));
  }
  EXPECT_FALSE(client.pending());
}

INSTANTIATE_TEST_SUITE_P(Waits, TftpAbort,
                         ::testing::Values(AbortCase{"WaitingForTheRequest", false},
                                           AbortCase{"WaitingForAnAck", true}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// An abort with no server running (never started, or already ended) is a no-op: it must not
// end the next server.
TEST_F(Tftp, AbortWithoutARunningServerLeavesTheNextOneAlone) {
  tftp_abort();
  Bytes content = test_pattern(900);
  {
    ScriptedClient client(serve(content));
    auto got = client.fetch();
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(*got == content);
  }
  // The server ends by itself right after the last ACK; then, before its stop, an abort.
  ASSERT_TRUE(wait_until([] { return !tftp_running(); }));
  tftp_abort();
  EXPECT_EQ(tftp_stop(0), 1);
  tftp_abort();
  ScriptedClient client(serve(content));
  auto got = client.fetch();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_EQ(tftp_stop(0), 1);
  EXPECT_FALSE(log_.has("INFO", "tftp_thread", "transfer aborted"));
}

struct StopRaceCase {
  const char *name;
  int rounds;
  size_t size;
  bool abort;  // a third thread aborts while the two stop
};

class TftpStopRace : public Tftp, public ::testing::WithParamInterface<StopRaceCase> {};

// The worker and the GUI thread (Previous, or a box failure) may both stop the server while
// a transfer runs, the GUI thread perhaps aborting it too, with a client busy fetching: both
// stops wait for its end and agree on the result, every resource is released once, and
// nothing leaks, round after round.
TEST_P(TftpStopRace, ReleasesEverythingOnce) {
  const StopRaceCase &c = GetParam();
  const int fds_before = open_fd_count();
  for (int round = 0; round < c.rounds; ++round) {
    SCOPED_TRACE(round);
    Bytes content = test_pattern(c.size, unsigned(round));
    ScriptedClient client(serve(content));
    client.send(tftp_rrq("x"));
    auto d1 = client.receive();
    ASSERT_TRUE(d1 && tftp_block(*d1) == 1);

    const int racing = c.abort ? 3 : 2;
    std::atomic<int> go{0};
    int results[2] = {-1, -1};
    std::vector<std::thread> racers;
    for (int r = 0; r < racing; ++r)
      racers.emplace_back([&, r] {
        go.fetch_add(1);
        while (go.load() <= racing) {
        }
        if (r == 2)
          tftp_abort();
        else
          results[r] = tftp_stop(0);
      });
    while (go.load() < racing) {
    }
    go.fetch_add(1);
    // The client keeps the server busy; an abort cuts it short somewhere (an ERROR packet
    // ends the fetch), or comes after the last ACK.
    client.send(tftp_ack(1));
    auto rest = client.fetch_rest(1, Bytes(*d1, 4));
    for (auto &t : racers)
      t.join();
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], tftp_result.load());
    // 1 only for a file that went out whole; an abort after the last block may still make
    // it 0 (the client did not get to ACK it).
    if (!c.abort) {
      EXPECT_EQ(results[0], 1);
    }
    if (results[0] == 1) {
      EXPECT_TRUE(rest.has_value());
    }
    if (rest) {
      EXPECT_TRUE(*rest == content);
    }
    EXPECT_FALSE(tftp_running());
    EXPECT_EQ(log_.count("DEBUG", "tftp_stop", "CloseHandle()"), round + 1);
    EXPECT_EQ(log_.count("DEBUG", "tftp_stop", "WSACleanup()"), round + 1);
    EXPECT_EQ(tftp_seam_sockets_users(), 0);
    std::remove(files_.back().c_str());
    files_.pop_back();
  }
  EXPECT_EQ(open_fd_count(), fds_before) << "a file or socket was leaked";
}

INSTANTIATE_TEST_SUITE_P(Stops, TftpStopRace,
                         ::testing::Values(StopRaceCase{"TwoConcurrentStops", 20, 4000, false},
                                           StopRaceCase{"AbortRacingTwoStops", 40, 20000, true}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// do_error_nak's packet on the wire, byte for byte.
TEST(TftpErrorPacket, LayoutAndFailures) {
  udp::Socket rx, tx;
  ASSERT_TRUE(rx.open() && rx.bind_any(0));
  ASSERT_TRUE(tx.open());
  const udp::Peer to{udp::loopback, uint16_t(rx.local_port())};
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
    ASSERT_EQ(rx.wait_readable(5000), udp::Wait::Ready);
    long n = rx.recv(got, sizeof got);
    EXPECT_EQ(Bytes(got, size_t(n > 0 ? n : 0)), c.wire);
  }
  EXPECT_EQ(do_error_nak(tx, 0, "error", nullptr), 1);
  udp::Socket closed;
  EXPECT_EQ(do_error_nak(closed, 0, "error", buffer), 1);
}

// The server's one-call wait and receive: a datagram already queued, one that comes while it
// waits, and nothing, both with a time-out (the socket keeps the last one) and with none left
// (which must look, not wait for ever).
TEST(TftpTimedReceive, ReceivesOrTimesOut) {
  udp::Socket rx, tx;
  ASSERT_TRUE(rx.open() && rx.bind_any(0));
  ASSERT_TRUE(tx.open());
  const udp::Peer to{udp::loopback, uint16_t(rx.local_port())};
  char got[16];
  udp::Peer from;
  for (int timeout_ms : {0, 50}) {
    SCOPED_TRACE(timeout_ms);
    ASSERT_EQ(tx.send_to(to, "ack", 3), 3);
    EXPECT_EQ(rx.recv_from_within(got, sizeof got, from, 5000), 3);
    EXPECT_EQ(from.address, udp::loopback);
    EXPECT_EQ(rx.recv_from_within(got, sizeof got, from, timeout_ms), -1);
    EXPECT_TRUE(udp::is_timed_out(udp::last_error()));
  }
  std::thread late([&] { tx.send_to(to, "late", 4); });
  EXPECT_EQ(rx.recv_from_within(got, sizeof got, from, 5000), 4);
  late.join();
}

}  // namespace
