#include "lib/tftpblocks.h"

namespace tftp {

namespace {

using Clock = std::chrono::steady_clock;

// A wait or receive cut short by a signal is simply repeated; the sixth in a row means the
// socket itself is in trouble.
constexpr int max_interrupted = 5;

// Milliseconds left until `deadline`, 0 once it has passed.
int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
}

}  // namespace

Transfer::Reader file_reader(FILE *file) {
  return [file](char *buffer, size_t size) -> long {
    size_t k = std::fread(buffer, 1, size, file);
    if (k < size && std::ferror(file))
      return -1;
    return long(k);
  };
}

void poke(int port) {
  if (port <= 0)
    return;
  udp::Socket sock;
  if (sock.open())
    sock.send_to({udp::loopback, uint16_t(port)}, "", 0);
}

void AbortSignal::raise() {
  requested_.store(true);
  poke(port_.load());
}

void send_reply(const udp::Socket &sock, const Reply &reply, Voice &voice) {
  if (!reply.size)
    return;
  long sent = sock.send_to({reply.to.address, reply.to.port}, reply.data, reply.size);
  if (sent != long(reply.size))
    voice.send_failed(reply, sent < 0 ? udp::last_error() : 0);
}

bool send_blocks(const udp::Socket &sock, Transfer &t, const BlockLoop &loop) {
  auto deadline = Clock::now() + loop.ack_timeout;
  int interrupted = 0;
  for (;;) {
    udp::Peer from;
    const long n = sock.recv_from_within(loop.buffer, PACKET_SIZE, from, ms_left(deadline));
    const int err = n < 0 ? udp::last_error() : 0;
    Outcome o;
    if (Endpoint newer; !loop.abort->raised() && loop.newer_request && loop.newer_request(newer)) {
      const Outcome h = t.take_over(newer);
      loop.voice->outcome(t, h);
      send_reply(sock, h.reply, *loop.voice);
      if (h.event == Event::TakenOver)
        deadline = Clock::now() + loop.ack_timeout;  // DATA 1 has just gone to the new client
    }
    if (loop.abort->raised()) {
      o = t.abort();
    } else if (n < 0 && udp::is_timed_out(err)) {
      if (ms_left(deadline) > 0)
        continue;  // the block went out again meanwhile
      o = t.on_timeout();
    } else if (n < 0) {
      if (udp::is_interrupted(err) && ++interrupted <= max_interrupted)
        continue;
      loop.voice->receive_failed(err);
      return false;
    } else if (n == 0) {
      continue;  // no opcode, nothing to answer: a poke that woke the wait
    } else {
      o = t.on_datagram({from.address, from.port}, loop.buffer, size_t(n));
    }
    interrupted = 0;
    loop.voice->outcome(t, o);
    send_reply(sock, o.reply, *loop.voice);
    switch (o.event) {
      case Event::Request:
      case Event::Acked:
        // Every block before the one now out has been acknowledged.
        loop.bytes->store(t.blocks_before() * BLOCK_SIZE);
        deadline = Clock::now() + loop.ack_timeout;
        break;
      case Event::Resend:
      case Event::TimedOut:
        deadline = Clock::now() + loop.ack_timeout;  // the same block again
        break;
      case Event::TakenOver:
        deadline = Clock::now() + loop.ack_timeout;
        break;
      case Event::Duplicate:
      case Event::Ignored:
      case Event::Stranger:
      case Event::Kept:
        break;
      case Event::Completed:
        loop.bytes->store(t.blocks_before() * BLOCK_SIZE + t.block_length());
        return true;
      case Event::ClientError:
      case Event::BadOpcode:
      case Event::ReadFailed:
      case Event::GaveUp:
      case Event::Aborted:
        return false;
    }
  }
}

}  // namespace tftp
