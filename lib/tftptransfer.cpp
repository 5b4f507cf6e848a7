#include "lib/tftptransfer.h"

#include <cstring>
#include <utility>

namespace tftp {

namespace {

unsigned get16(const uint8_t *p) { return unsigned(p[0]) << 8 | p[1]; }

void put16(char *p, unsigned v) {
  p[0] = char(v >> 8);
  p[1] = char(v);
}

}  // namespace

size_t build_error(char *buffer, unsigned code, const char *text) {
  size_t len = text ? std::strlen(text) : 0;
  if (len > PACKET_SIZE - 5)
    len = PACKET_SIZE - 5;
  put16(buffer, OP_ERROR);
  put16(buffer + 2, code);
  if (len)
    std::memcpy(buffer + 4, text, len);
  buffer[4 + len] = 0;
  return 5 + len;
}

Transfer::Transfer(Reader read, int max_timeouts) : read_(std::move(read)), max_timeouts_(max_timeouts) {}

Outcome Transfer::on_datagram(Endpoint from, const uint8_t *data, size_t size) {
  if (state_ == State::Finished)
    return {};
  if (state_ == State::Waiting) {
    client_ = from;
    started_ = true;
    state_ = State::Sending;
    block_ = 1;
    return load_block(Event::Request);
  }
  if (!(from == client_))
    return {Event::Stranger, 0, error_reply(from, ERROR_UNKNOWN_TID, "Unknown transfer ID")};
  if (size < 2)
    return {};
  unsigned opcode = get16(data);
  switch (opcode) {
    case OP_ACK:
      return on_ack(data, size);
    case OP_ERROR:
      return finish(Event::ClientError, size >= 4 ? get16(data + 2) : 0);
    case OP_RRQ:
      // Once DATA 1 is acknowledged, a request is an old copy that wandered late.
      if (blocks_before_ == 0)
        return {Event::Resend, 0, data_reply()};
      return {};
    default:
      return finish(Event::BadOpcode, opcode, error_reply(client_, 0, "error"));
  }
}

Outcome Transfer::on_ack(const uint8_t *data, size_t size) {
  if (size < 4)
    return {};
  acknowledged_ = true;
  unsigned acked = get16(data + 2);
  if (acked == block_) {
    if (last_)
      return finish(Event::Completed, 0);
    ++block_;  // 65535 -> 0
    ++blocks_before_;
    return load_block(Event::Acked);
  }
  if (acked == uint16_t(block_ - 1) && block_ != 0) {
    no_resend_ = true;
    return {Event::Duplicate, 0, {}};
  }
  if (no_resend_)
    return {};
  return {Event::Resend, 0, data_reply()};
}

Outcome Transfer::on_timeout() {
  if (state_ != State::Sending)
    return {};
  if (++timeouts_ >= max_timeouts_)
    return finish(Event::GaveUp, 0);
  // A lost DATA block is only recovered by sending it again, repeated ACKs or not.
  no_resend_ = false;
  return {Event::TimedOut, 0, data_reply()};
}

Outcome Transfer::abort() {
  if (state_ == State::Finished)
    return {};
  if (state_ == State::Waiting)
    return finish(Event::Aborted, 0);
  return finish(Event::Aborted, 0, error_reply(client_, 0, "error"));
}

Outcome Transfer::take_over(Endpoint from) {
  if (state_ != State::Sending || acknowledged_ || from.address != client_.address || from == client_)
    return {Event::Kept, 0, {}};
  // Nothing was acknowledged, so the block out is still DATA 1.
  client_ = from;
  no_resend_ = false;
  timeouts_ = 0;
  return {Event::TakenOver, 0, data_reply()};
}

Outcome Transfer::load_block(Event event) {
  long got = read_(data_ + 4, BLOCK_SIZE);
  if (got < 0 || got > long(BLOCK_SIZE))
    return finish(Event::ReadFailed, 0, error_reply(client_, 0, "error"));
  put16(data_, OP_DATA);
  put16(data_ + 2, block_);
  length_ = size_t(got);
  last_ = length_ < BLOCK_SIZE;
  no_resend_ = false;
  timeouts_ = 0;
  return {event, 0, data_reply()};
}

Outcome Transfer::finish(Event event, unsigned code, Reply reply) {
  state_ = State::Finished;
  return {event, code, reply};
}

Reply Transfer::error_reply(Endpoint to, unsigned code, const char *text) {
  return {error_, build_error(error_, code, text), to};
}

}  // namespace tftp
