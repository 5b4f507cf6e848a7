// The TFTP service of a station: boxes told apart by their address on loopback (127.0.0.x),
// each transfer on a port of its own, strangers refused. The service listens on a port the
// system picks, so no privileges or namespace are needed.
#include "lib/tftpstation.h"

#include "tests/lib/logcapture.h"
#include "tests/lib/tftpclient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <set>

namespace {

// A box's TFTP client on its own loopback address, talking to the service's port.
class BoxClient : public ScriptedClient {
 public:
  BoxClient(const std::string &address, int service_port)
      : ScriptedClient(service_port, address.c_str(), /*follow_answers=*/true) {}

  // The whole file, or what went wrong; every block must come from the port of the first,
  // which goes to `data_port` if given.
  std::optional<Bytes> fetch(int *data_port = nullptr) {
    send(tftp_rrq("ky_tmp/root_cfe_auto.jffs2"));
    return blocks_from(1, data_port);
  }

  // The file's blocks from block `first` on, acknowledging each.
  std::optional<Bytes> blocks_from(unsigned first, int *data_port = nullptr) {
    Bytes content;
    int first_port = -1;
    for (unsigned expect = first;; expect = (expect + 1) & 0xffff) {
      auto p = receive();
      if (!p)
        return std::nullopt;
      if (expect == first) {
        first_port = from_port();
        if (data_port)
          *data_port = first_port;
      }
      if (tftp_opcode(*p) != 3 || tftp_block(*p) != expect || from_port() != first_port)
        return std::nullopt;
      content.append(*p, 4);
      send(tftp_ack(expect));
      if (p->size() < 4 + 512)
        return content;
    }
  }
};

uint32_t loopback(int last) { return 0x7f000000u | uint32_t(last); }

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(station_.open(error)) << error;
    port_ = station_.local_port();
    ASSERT_GT(port_, 0);
  }
  void TearDown() override {
    station_.close();
    for (const std::string &f : files_)
      std::filesystem::remove(f);
  }
  std::string file_of(const Bytes &content) {
    files_.push_back(write_temp_file(content));
    return files_.back();
  }

  TftpStation station_{0};
  int port_ = -1;
  std::vector<std::string> files_;
};

// Several boxes fetch at once; each gets the file of its own address, on a transfer port
// of its own, whatever name its request carries.
TEST_F(Station, EachBoxGetsItsOwnFileOnItsOwnTransferPort) {
  for (int boxes : {1, 4, 8}) {
    SCOPED_TRACE(boxes);
    std::vector<TftpStation::Box *> served;
    std::vector<Bytes> contents;
    TftpStation::Box *first = nullptr;
    for (int i = 0; i < boxes; ++i) {
      // Sizes end inside a block, on a block's end (an empty last block), empty, and long.
      static const size_t sizes[] = {700, 1024, 0, 512 * 40, 3000, 513, 2048, 100000};
      contents.push_back(test_pattern(sizes[i], unsigned(i)));
      TftpStation::Box *box = station_.add_box(loopback(20 + 10 * boxes + i));
      ASSERT_NE(box, nullptr);
      if (!first)
        first = box;
      ASSERT_TRUE(box->start(file_of(contents.back())));
      served.push_back(box);
    }
    EXPECT_EQ(station_.add_box(first->address()), nullptr) << "one address, two boxes";

    std::vector<std::future<std::pair<std::optional<Bytes>, int>>> fetches;
    for (int i = 0; i < boxes; ++i)
      fetches.push_back(std::async(std::launch::async, [&, i] {
        BoxClient client(udp::dotted(loopback(20 + 10 * boxes + i)), port_);
        int data_port = -1;
        auto got = client.bound() ? client.fetch(&data_port) : std::nullopt;
        return std::make_pair(got, data_port);
      }));
    std::set<int> ports;
    for (int i = 0; i < boxes; ++i) {
      auto [got, data_port] = fetches[size_t(i)].get();
      ASSERT_TRUE(got.has_value()) << "box " << i;
      EXPECT_TRUE(*got == contents[size_t(i)]) << "box " << i << " got another file or a damaged one";
      EXPECT_NE(data_port, port_) << "the transfer must not answer from the service's port";
      ports.insert(data_port);
      EXPECT_TRUE(served[size_t(i)]->finish());
      EXPECT_EQ(served[size_t(i)]->bytes_served(), contents[size_t(i)].size());
    }
    EXPECT_EQ(ports.size(), size_t(boxes)) << "two transfers shared a transfer ID";
  }
}

// Who gets an ERROR instead of a file, and that a refused request leaves the boxes' own
// transfers alone.
TEST_F(Station, RequestsNoBoxMayMakeAreRefusedWithAnError) {
  TftpStation::Box *armed = station_.add_box(loopback(31));
  TftpStation::Box *idle = station_.add_box(loopback(32));
  const Bytes content = test_pattern(3000);
  ASSERT_TRUE(armed->start(file_of(content)));

  struct Case {
    const char *who;
    const char *address;
    Bytes request;
  };
  const Case cases[] = {
      {"an address no box has", "127.0.0.33", tftp_rrq("ky_tmp/kernel_cfe_auto.bin")},
      {"a box nothing is served to now", "127.0.0.32", tftp_rrq("ky_tmp/kernel_cfe_auto.bin")},
      {"a write request from a box", "127.0.0.31",
       Bytes{0, 2} + "x" + Bytes(1, '\0') + "octet" + Bytes(1, '\0')},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.who);
    BoxClient stranger(c.address, port_);
    ASSERT_TRUE(stranger.bound());
    stranger.send(c.request);
    auto answer = stranger.receive();
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(tftp_opcode(*answer), 5u);
    EXPECT_EQ(stranger.from_port(), port_);
  }
  EXPECT_FALSE(idle->finish()) << "nothing was started for it";

  BoxClient box("127.0.0.31", port_);
  auto got = box.fetch();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == content);
  EXPECT_TRUE(armed->finish());
}

// A box's abort ends its own transfer at once and tells its client; the next file it
// starts is served again.
TEST_F(Station, AbortEndsOneBoxsTransferOnly) {
  TftpStation::Box *box = station_.add_box(loopback(41));
  ASSERT_TRUE(box->start(file_of(test_pattern(5000))));
  BoxClient client("127.0.0.41", port_);
  client.send(tftp_rrq("f"));
  auto data1 = client.receive();
  ASSERT_TRUE(data1.has_value());
  ASSERT_EQ(tftp_opcode(*data1), 3u);
  EXPECT_FALSE(box->start(file_of(test_pattern(10)))) << "a transfer still runs";
  box->abort();
  EXPECT_FALSE(box->finish());
  auto told = client.receive();
  ASSERT_TRUE(told.has_value());
  EXPECT_EQ(tftp_opcode(*told), 5u);

  const Bytes again = test_pattern(600, 7);
  ASSERT_TRUE(box->start(file_of(again)));
  BoxClient retry("127.0.0.41", port_);
  auto got = retry.fetch();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == again);
  EXPECT_TRUE(box->finish());
}

// A newer request from a box's address (the box asking again from a new port, after a
// request forged with its address or one whose port it has left) takes over a transfer
// nobody has acknowledged yet; a transfer whose client has acknowledged stays with it.
TEST_F(Station, ANewerRequestTakesOverOnlyATransferNothingWasAcknowledgedOf) {
  struct Case {
    const char *name;
    bool first_acknowledges;
  };
  const Case cases[] = {{"nothing acknowledged: the newer request is served", false},
                        {"block 1 acknowledged: the first client keeps its transfer", true}};
  int last = 60;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string address = "127.0.0." + std::to_string(++last);
    TftpStation::Box *box = station_.add_box(loopback(last));
    const Bytes content = test_pattern(512 * 100 + 7, unsigned(last));
    ASSERT_TRUE(box->start(file_of(content)));

    BoxClient first(address, port_);
    first.send(tftp_rrq("ky_tmp/root_cfe_auto.jffs2"));
    auto data1 = first.receive();
    ASSERT_TRUE(data1.has_value());
    ASSERT_EQ(tftp_block(*data1), 1u);
    const int transfer_port = first.from_port();
    if (c.first_acknowledges) {
      first.send(tftp_ack(1));
      auto data2 = first.receive();
      ASSERT_TRUE(data2.has_value());
      ASSERT_EQ(tftp_block(*data2), 2u);
    }

    BoxClient newer(address, port_);
    if (!c.first_acknowledges) {
      newer.send(tftp_rrq("ky_tmp/root_cfe_auto.jffs2"));
      auto again = newer.receive();
      ASSERT_TRUE(again.has_value()) << "the box asking again was not served";
      ASSERT_EQ(tftp_block(*again), 1u);
      EXPECT_EQ(newer.from_port(), transfer_port) << "one transfer, handed over";
      first.send(tftp_ack(1));
      auto told = first.receive();
      ASSERT_TRUE(told.has_value());
      EXPECT_EQ(tftp_opcode(*told), 5u) << "the first sender is a stranger now";
      newer.send(tftp_ack(1));
      auto rest = newer.blocks_from(2);
      ASSERT_TRUE(rest.has_value());
      EXPECT_TRUE(content == again->substr(4) + *rest);
    } else {
      newer.send(tftp_rrq("ky_tmp/root_cfe_auto.jffs2"));
      first.send(tftp_ack(2));
      auto rest = first.blocks_from(3);
      ASSERT_TRUE(rest.has_value()) << "the acknowledged transfer was taken away";
      EXPECT_TRUE(content.substr(1024) == *rest);
      EXPECT_FALSE(newer.receive(0).has_value()) << "the newer request was answered";
    }
    EXPECT_TRUE(box->finish());
    EXPECT_EQ(box->bytes_served(), content.size());
  }
}

// Strays are let through in a burst, then at the limit's rate; every one held back is
// counted and the count goes with the next one let through.
TEST(StrayLimit, BurstThenRateAndTheHeldBackAreCounted) {
  using namespace std::chrono_literals;
  struct Step {
    std::chrono::milliseconds at;
    int arriving;
    int let_through;
    unsigned long long told;  // held back before them, as told with the first let through
  };
  const Step steps[] = {
      {0ms, 25, 20, 0},       // the burst, five held back
      {50ms, 1, 0, 0},        // half a datagram's worth of time: still none
      {100ms, 1, 1, 6},       // one more, telling the six before it
      {1100ms, 30, 10, 0},    // a second's rate
      {60000ms, 40, 20, 20},  // a long pause refills the burst only
  };
  StrayLimit limit(20, 10);
  const auto start = StrayLimit::Clock::time_point{} + 1h;
  for (const Step &step : steps) {
    SCOPED_TRACE(step.at.count());
    int let_through = 0;
    unsigned long long told = 0;
    for (int i = 0; i < step.arriving; ++i) {
      unsigned long long dropped = 0;
      if (limit.allow(start + step.at, dropped)) {
        if (let_through++ == 0)
          told = dropped;
        else
          EXPECT_EQ(dropped, 0u);
      }
    }
    EXPECT_EQ(let_through, step.let_through);
    EXPECT_EQ(told, step.told);
  }
  EXPECT_EQ(limit.take_dropped(), 20u);
  EXPECT_EQ(limit.take_dropped(), 0u);
}

// A flood of requests from an address no box has costs a bounded number of log lines and
// answers, and the log says how many went unanswered; no answer is longer than its request.
TEST_F(Station, StraysAreAnsweredAtABoundedRateAndNeverWithMoreBytes) {
  LogCapture log;
  BoxClient stray("127.0.0.90", port_);
  ASSERT_TRUE(stray.bound());
  stray.send(Bytes{0, 1});  // 2 bytes: too short for any answer
  stray.send(Bytes{0, 1} + "x" + Bytes(1, '\0') + "octet" + Bytes(1, '\0'));  // 10 bytes
  auto first = stray.receive();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(tftp_opcode(*first), 5u);
  EXPECT_EQ(first->size(), 10u) << "the 2-byte request was answered, or the answer outgrew its request";

  // Few enough that the system's receive queue keeps them all.
  constexpr int flood = 120;
  for (int i = 0; i < flood; ++i)
    stray.send(tftp_rrq("ky_tmp/kernel_cfe_auto.bin"));
  // Every datagram the listener took was either told in a line or counted in the summary.
  TftpStation::Box *box = station_.add_box(loopback(91));
  ASSERT_TRUE(box->start(file_of(test_pattern(100))));
  BoxClient real("127.0.0.91", port_);
  ASSERT_TRUE(real.fetch().has_value()) << "the strays held up a box";
  EXPECT_TRUE(box->finish());
  station_.close();
  int answers = 0;
  while (stray.receive(0))
    ++answers;
  int refused_lines = 0;
  unsigned long long held_back = 0;
  for (const LogEntry &e : log.entries()) {
    if (e.message.find("which is no box of this station") != std::string::npos)
      ++refused_lines;
    unsigned long long n = 0;
    if (std::sscanf(e.message.c_str(), "%llu more stray datagrams were neither logged nor answered", &n) == 1)
      held_back += n;
  }
  EXPECT_GT(held_back, 0u) << "no summary of the strays held back";
  EXPECT_LT(refused_lines, flood / 2);
  EXPECT_LE(answers, refused_lines);
  EXPECT_LE(refused_lines + int(held_back), flood + 2);
}

}  // namespace
