// What the TFTP server does with each datagram and each ACK time-out, with no socket,
// thread, clock or log in it, so that every rule can be driven and checked directly.
//
// The server thread owns the socket, the waits and the log; for each datagram it has
// received it asks a TftpTransfer what the datagram means and sends the reply it is given
// (the DATA block, again or the next one; ERROR 5 to a stranger; an ERROR to the client),
// to the endpoint it is given. The rules, in the transfer's order:
//   - The first datagram, from anyone and whatever it holds, is the read request: its
//     sender becomes the client and DATA 1 goes to it.
//   - Any later datagram from another address or port is not part of the transfer:
//     ERROR 5 "Unknown transfer ID" goes to that sender alone and the transfer goes on.
//   - From the client: a datagram too short for an opcode, or an ACK too short for a
//     block number, is dropped. ACK of the block that is out moves on to the next block,
//     or completes the transfer after the short last one. ACK of the block before it (the
//     client repeating itself) sends nothing and keeps the block from being sent again
//     until its time-out (RFC 1350's Sorcerer's Apprentice bug); ACK of any other block
//     sends the block again, unless such a repeat has held it back. A repeated read request while DATA 1 is out (the client lost
//     it) sends DATA 1 again; a later one is stale and dropped. ERROR ends the transfer as
//     failed with nothing sent; any other opcode ends it with ERROR 0 "error" to the client.
//   - A newer read request from the client's address but another port, taken by the server
//     elsewhere (the station's port 69), takes the transfer over while the client has sent no
//     ACK yet: its sender is the client from then on and DATA 1 goes to it. The address is
//     all TFTP knows of a client, so a request forged with a box's address, or the box's
//     own first request from a port it has since left, must not keep the box from its file.
//     Once the client has acknowledged anything, the transfer keeps it.
//   - A time-out sends the block again; the max_timeouts-th one for the same block ends the
//     transfer.
//   - An abort ends the transfer; a client that has started is told with ERROR 0 "error", so
//     it stops at once instead of retrying.
// Block numbers wrap from 65535 to 0, as the box's client expects. After the transfer has
// ended every datagram is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tftp {

constexpr size_t BLOCK_SIZE = 512;
constexpr size_t PACKET_SIZE = 4 + BLOCK_SIZE;

constexpr unsigned OP_RRQ = 1;
constexpr unsigned OP_DATA = 3;
constexpr unsigned OP_ACK = 4;
constexpr unsigned OP_ERROR = 5;
constexpr unsigned ERROR_UNKNOWN_TID = 5;

// An IPv4 address and UDP port, both in host byte order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  bool operator==(const Endpoint &) const = default;
};

// Writes an ERROR packet (opcode 5, `code`, `text` cut to fit, a zero byte) into `buffer`,
// which holds PACKET_SIZE bytes; a null text counts as empty. Returns the packet's size.
size_t build_error(char *buffer, unsigned code, const char *text);

enum class Event {
  Request,      // the read request: DATA 1 goes to the new client
  Acked,        // the block out was acknowledged: the next one goes
  Completed,    // the last block was acknowledged: the transfer is done
  Duplicate,    // the client repeated its previous ACK: nothing goes
  Resend,       // an ACK of another block, or the request again: the block goes again
  Ignored,      // a runt, a stale request, an ACK while the block is held back, or
                //   anything after the end: nothing goes
  Stranger,     // not the client: ERROR 5 goes to the sender
  ClientError,  // the client gave up with an ERROR packet; `code` is its error code
  BadOpcode,    // an opcode with no place here; `code` is the opcode; ERROR 0 goes
  ReadFailed,   // the file could not be read; ERROR 0 goes to the client
  TimedOut,     // no ACK in time: the block goes again
  GaveUp,       // the last time-out for this block passed: the transfer has failed
  Aborted,      // the server was told to stop: ERROR 0 goes to the client, if any
  TakenOver,    // a newer request before any ACK: DATA 1 goes to its sender, the new client
  Kept,         // a newer request the transfer does not take: nothing goes
};

// A datagram to send now; size 0 when there is none.
struct Reply {
  const char *data = nullptr;
  size_t size = 0;
  Endpoint to;
};

struct Outcome {
  Event event = Event::Ignored;
  unsigned code = 0;
  Reply reply;
};

class Transfer {
 public:
  // Reads the file's next block: up to `size` bytes into `buffer`. Returns the count, which
  // is short only at the file's end, or -1 when the file cannot be read.
  using Reader = std::function<long(char *buffer, size_t size)>;

  Transfer(Reader read, int max_timeouts);
  Transfer(const Transfer &) = delete;
  Transfer &operator=(const Transfer &) = delete;

  Outcome on_datagram(Endpoint from, const uint8_t *data, size_t size);
  Outcome on_timeout();
  // The server ends before the transfer does.
  Outcome abort();
  // A newer read request from `from`, received by the server on another socket.
  Outcome take_over(Endpoint from);

  // A request came and its sender is the client (it stays so after the end).
  bool started() const { return started_; }
  // The client has sent an ACK (of any block).
  bool acknowledged() const { return acknowledged_; }
  bool finished() const { return state_ == State::Finished; }
  Endpoint client() const { return client_; }
  // The block out: its number on the wire, how many blocks came before it, its data bytes.
  uint16_t block() const { return block_; }
  uint64_t blocks_before() const { return blocks_before_; }
  size_t block_length() const { return length_; }

 private:
  enum class State { Waiting, Sending, Finished };

  Outcome on_ack(const uint8_t *data, size_t size);
  Outcome load_block(Event event);
  Outcome finish(Event event, unsigned code, Reply reply = {});
  Reply data_reply() const { return {data_, 4 + length_, client_}; }
  Reply error_reply(Endpoint to, unsigned code, const char *text);

  Reader read_;
  const int max_timeouts_;
  State state_ = State::Waiting;
  bool started_ = false;
  bool acknowledged_ = false;
  Endpoint client_;
  uint16_t block_ = 0;
  uint64_t blocks_before_ = 0;
  size_t length_ = 0;
  bool last_ = false;
  bool no_resend_ = false;
  int timeouts_ = 0;
  char data_[PACKET_SIZE] = {};
  char error_[PACKET_SIZE] = {};
};

}  // namespace tftp
