// The TFTP server's per-datagram rules on their own: no socket, no thread, no clock. Each row
// puts a transfer into a state, hands it one datagram (or a time-out, or an abort) and checks
// what it means and exactly what goes out, to whom.
#include "lib/tftptransfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tftp::Endpoint;
using tftp::Event;
using Bytes = std::string;

const Endpoint client{0x7f000001, 50000};
const Endpoint other_port{0x7f000001, 50001};
const Endpoint other_host{0x0a000002, 50000};

// A file of any size without storing it: each byte depends on its offset, so a block sent
// from the wrong place shows.
uint8_t byte_at(uint64_t offset) { return uint8_t((offset * 2654435761u) >> 11 ^ offset); }

Bytes file_bytes(uint64_t from, uint64_t to) {
  Bytes b;
  for (uint64_t i = from; i < to; ++i)
    b += char(byte_at(i));
  return b;
}

struct FileReader {
  uint64_t size;
  uint64_t offset = 0;
  bool fail = false;
  long operator()(char *buffer, size_t n) {
    if (fail)
      return -1;
    size_t k = size_t(std::min<uint64_t>(n, size - offset));
    for (size_t i = 0; i < k; ++i)
      buffer[i] = char(byte_at(offset + i));
    offset += k;
    return long(k);
  }
};

Bytes be16(unsigned v) { return {char(v >> 8), char(v)}; }
Bytes ack(unsigned block) { return be16(4) + be16(block); }
Bytes rrq() { return be16(1) + "ky_tmp/kernel_cfe_auto.bin" + Bytes(1, '\0') + "octet" + Bytes(1, '\0'); }
Bytes error(unsigned code, const std::string &text) { return be16(5) + be16(code) + text + Bytes(1, '\0'); }
// DATA of the block that has `before` blocks ahead of it in a file of `size` bytes.
Bytes data(uint64_t before, uint64_t size) {
  uint64_t from = before * 512;
  return be16(3) + be16(unsigned(before + 1) & 0xffff) + file_bytes(from, std::min(size, from + 512));
}

enum class Kind { Datagram, Timeout, Abort, NewerRequest };
struct Input {
  Kind kind;
  Endpoint from{};
  Bytes bytes;
};
Input from_client(Bytes b) { return {Kind::Datagram, client, std::move(b)}; }
Input from(Endpoint e, Bytes b) { return {Kind::Datagram, e, std::move(b)}; }
const Input timeout{Kind::Timeout, {}, {}};
const Input abort_now{Kind::Abort, {}, {}};
// A read request the server took on port 69 and handed to the running transfer.
Input newer_request(Endpoint e) { return {Kind::NewerRequest, e, {}}; }

struct RuleCase {
  const char *name;
  uint64_t file_size;
  int acked;                   // blocks acknowledged before the row's input; -1: no request yet
  std::vector<Input> prelude;  // further inputs before the one checked
  Input input;
  Event event;
  unsigned code;
  Bytes reply;  // exact bytes that go out; empty: nothing
  Endpoint reply_to;
  bool finished;
};

constexpr uint64_t big = 65537ull * 512 + 100;  // past the block-number wrap

const Bytes unknown_tid = error(5, "Unknown transfer ID");
const Bytes nak = error(0, "error");

const RuleCase rule_cases[] = {
    {"FirstDatagramOfAnyKindIsTheRequest",
     1500,
     -1,
     {},
     from(other_port, Bytes(1, 'x')),
     Event::Request,
     0,
     data(0, 1500),
     other_port,
     false},
    {"RightAckSendsTheNextBlock",
     1500,
     0,
     {},
     from_client(ack(1)),
     Event::Acked,
     0,
     data(1, 1500),
     client,
     false},
    {"RightAckOfTheShortBlockCompletes", 1000, 1, {}, from_client(ack(2)), Event::Completed, 0, "", {}, true},
    {"AckOfAFullBlockAtTheEndSendsAnEmptyOne",
     1024,
     1,
     {},
     from_client(ack(2)),
     Event::Acked,
     0,
     data(2, 1024),
     client,
     false},
    {"AckWithTrailingBytesCounts",
     1500,
     0,
     {},
     from_client(ack(1) + "xx"),
     Event::Acked,
     0,
     data(1, 1500),
     client,
     false},
    {"DuplicateAckSendsNothing", 5000, 1, {}, from_client(ack(1)), Event::Duplicate, 0, "", {}, false},
    {"NewerRequestBeforeAnyAckTakesOver",
     1500,
     0,
     {},
     newer_request(other_port),
     Event::TakenOver,
     0,
     data(0, 1500),
     other_port,
     false},
    {"AfterATakeOverTheFirstClientIsAStranger",
     1500,
     0,
     {newer_request(other_port)},
     from_client(ack(1)),
     Event::Stranger,
     0,
     unknown_tid,
     client,
     false},
    {"AfterATakeOverTheNewClientsAckMovesOn",
     1500,
     0,
     {newer_request(other_port)},
     from(other_port, ack(1)),
     Event::Acked,
     0,
     data(1, 1500),
     other_port,
     false},
    {"NewerRequestAfterAnAckIsKept", 5000, 1, {}, newer_request(other_port), Event::Kept, 0, "", {}, false},
    {"NewerRequestAfterAnAckOfAnotherBlockIsKept",
     5000,
     0,
     {from_client(ack(7))},
     newer_request(other_port),
     Event::Kept,
     0,
     "",
     {},
     false},
    {"NewerRequestFromAnotherAddressIsKept",
     5000,
     0,
     {},
     newer_request(other_host),
     Event::Kept,
     0,
     "",
     {},
     false},
    {"NewerRequestAfterTheEndIsKept",
     1000,
     1,
     {from_client(ack(2))},
     newer_request(other_port),
     Event::Kept,
     0,
     "",
     {},
     true},
    {"AckOfAFutureBlockSendsTheBlockAgain",
     5000,
     1,
     {},
     from_client(ack(9)),
     Event::Resend,
     0,
     data(1, 5000),
     client,
     false},
    {"AckOfAnotherBlockAfterADuplicateSendsNothing",
     5000,
     1,
     {from_client(ack(1))},
     from_client(ack(9)),
     Event::Ignored,
     0,
     "",
     {},
     false},
    {"TimeOutAfterADuplicateSendsTheBlockAgain",
     5000,
     1,
     {from_client(ack(1))},
     timeout,
     Event::TimedOut,
     0,
     data(1, 5000),
     client,
     false},
    {"LastTimeOutGivesUp",
     5000,
     1,
     {timeout, timeout, timeout, timeout},
     timeout,
     Event::GaveUp,
     0,
     "",
     {},
     true},
    {"ErrorFromTheClientEndsWithNothingSent",
     5000,
     1,
     {},
     from_client(error(3, "disk full")),
     Event::ClientError,
     3,
     "",
     {},
     true},
    {"RequestRepeatedWhileBlockOneIsOutSendsItAgain",
     5000,
     0,
     {},
     from_client(rrq()),
     Event::Resend,
     0,
     data(0, 5000),
     client,
     false},
    {"RequestRepeatedLaterIsStale", 5000, 2, {}, from_client(rrq()), Event::Ignored, 0, "", {}, false},
    {"StrangerOnAnotherPortGetsError5Only",
     5000,
     0,
     {},
     from(other_port, ack(1)),
     Event::Stranger,
     0,
     unknown_tid,
     other_port,
     false},
    {"StrangerOnAnotherHostGetsError5Only",
     5000,
     0,
     {},
     from(other_host, ack(1)),
     Event::Stranger,
     0,
     unknown_tid,
     other_host,
     false},
    {"StrangerRuntGetsError5",
     5000,
     0,
     {},
     from(other_port, ""),
     Event::Stranger,
     0,
     unknown_tid,
     other_port,
     false},
    {"StrangerDoesNotMoveTheTransfer",
     1500,
     0,
     {from(other_port, ack(1))},
     from_client(ack(1)),
     Event::Acked,
     0,
     data(1, 1500),
     client,
     false},
    {"EmptyDatagramIsIgnored", 5000, 0, {}, from_client(""), Event::Ignored, 0, "", {}, false},
    {"OneByteDatagramIsIgnored", 5000, 0, {}, from_client(Bytes(1, '\4')), Event::Ignored, 0, "", {}, false},
    {"AckWithoutItsBlockNumberIsIgnored",
     5000,
     0,
     {},
     from_client(Bytes("\0\4\0", 3)),
     Event::Ignored,
     0,
     "",
     {},
     false},
    {"WriteRequestIsAnUnknownOpcode",
     5000,
     0,
     {},
     from_client(be16(2) + "f" + Bytes(1, '\0')),
     Event::BadOpcode,
     2,
     nak,
     client,
     true},
    {"DataFromTheClientIsAnUnknownOpcode",
     5000,
     0,
     {},
     from_client(be16(3) + be16(1)),
     Event::BadOpcode,
     3,
     nak,
     client,
     true},
    {"OpcodeZeroIsUnknown", 5000, 0, {}, from_client(Bytes(2, '\0')), Event::BadOpcode, 0, nak, client, true},
    {"NothingGoesAfterTheEnd",
     5000,
     0,
     {from_client(error(0, ""))},
     from_client(ack(1)),
     Event::Ignored,
     0,
     "",
     {},
     true},
    {"AbortBeforeTheRequestSendsNothing", 5000, -1, {}, abort_now, Event::Aborted, 0, "", {}, true},
    {"AbortMidTransferTellsTheClient", 5000, 1, {}, abort_now, Event::Aborted, 0, nak, client, true},
    {"BlockNumberWrapsFrom65535ToZero",
     big,
     65534,
     {},
     from_client(ack(65535)),
     Event::Acked,
     0,
     data(65535, big),
     client,
     false},
    {"AfterTheWrapAckOfZeroMovesOn",
     big,
     65535,
     {},
     from_client(ack(0)),
     Event::Acked,
     0,
     data(65536, big),
     client,
     false},
    // Block 0's predecessor is 65535, but the duplicate rule names j-1 only for j != 0.
    {"AfterTheWrapAnOldAck65535SendsBlockZeroAgain",
     big,
     65535,
     {},
     from_client(ack(65535)),
     Event::Resend,
     0,
     data(65535, big),
     client,
     false},
};

class TftpRules : public ::testing::TestWithParam<RuleCase> {};

tftp::Outcome apply(tftp::Transfer &t, const Input &in) {
  switch (in.kind) {
    case Kind::Timeout:
      return t.on_timeout();
    case Kind::Abort:
      return t.abort();
    case Kind::NewerRequest:
      return t.take_over(in.from);
    case Kind::Datagram:
      break;
  }
  return t.on_datagram(in.from, reinterpret_cast<const uint8_t *>(in.bytes.data()), in.bytes.size());
}

TEST_P(TftpRules, DatagramInStateGivesEventAndReply) {
  const RuleCase &c = GetParam();
  FileReader file{c.file_size};
  tftp::Transfer t(std::ref(file), 5);
  if (c.acked >= 0) {
    ASSERT_EQ(apply(t, from_client(rrq())).event, Event::Request);
    for (int b = 1; b <= c.acked; ++b)
      ASSERT_EQ(apply(t, from_client(ack(unsigned(b) & 0xffff))).event, Event::Acked) << b;
  }
  for (const Input &in : c.prelude)
    apply(t, in);

  tftp::Outcome o = apply(t, c.input);
  EXPECT_EQ(int(o.event), int(c.event));
  EXPECT_EQ(o.code, c.code);
  EXPECT_EQ(Bytes(o.reply.data ? o.reply.data : "", o.reply.size), c.reply);
  if (!c.reply.empty()) {
    EXPECT_EQ(o.reply.to.address, c.reply_to.address);
    EXPECT_EQ(o.reply.to.port, c.reply_to.port);
  }
  EXPECT_EQ(t.finished(), c.finished);
}

INSTANTIATE_TEST_SUITE_P(Table, TftpRules, ::testing::ValuesIn(rule_cases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// A file that cannot be read fails the transfer and tells the client.
TEST(TftpRulesFile, UnreadableFileEndsWithAnErrorToTheClient) {
  FileReader file{5000};
  file.fail = true;
  tftp::Transfer t(std::ref(file), 5);
  tftp::Outcome o = t.on_datagram(client, reinterpret_cast<const uint8_t *>("x"), 1);
  EXPECT_EQ(int(o.event), int(Event::ReadFailed));
  EXPECT_EQ(Bytes(o.reply.data, o.reply.size), nak);
  EXPECT_TRUE(o.reply.to == client);
  EXPECT_TRUE(t.finished());
}

}  // namespace
