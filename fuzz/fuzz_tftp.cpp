// Fuzz target for the TFTP server's per-datagram rules: the input is a file size and a
// script of (sender, datagram), time-out and abort steps fed to a transfer serving an
// in-memory file. A model of the transfer beside it checks every step: nothing but ERROR 5
// ever goes to a stranger, no block lies past the file, every DATA payload is the file's
// bytes at that block's offset, only the client's right ACK moves the transfer on, and
// nothing goes out after the end.
//
// Input layout: 2 bytes file size (big-endian), 1 byte "the n-th read fails" (0: none),
// then steps of one control byte each:
//   bits 0-1  sender: the first datagram's sender, its port + 1, another host, both
//   bits 2-3  0: a datagram of the next byte's length (clipped) with those bytes
//             1: an ACK of the block out plus the next byte as a signed offset
//             2: the block's time-out
//             3: an abort when bits 4-7 are all set, else the right ACK from the client
#include "lib/tftptransfer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using tftp::Endpoint;
using tftp::Event;

void require(bool ok, const char *what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

uint8_t file_byte(size_t i) { return uint8_t(i * 131 + (i >> 9) * 7 + 1); }

struct MemoryFile {
  size_t size = 0;
  size_t cursor = 0;
  int reads = 0;
  int fail_at = 0;  // 0: never
  bool failed_now = false;

  long read(char *buffer, size_t n) {
    failed_now = ++reads == fail_at;
    if (failed_now)
      return -1;
    size_t k = std::min(n, size - cursor);
    for (size_t i = 0; i < k; ++i)
      buffer[i] = char(file_byte(cursor + i));
    cursor += k;
    return long(k);
  }
};

const Endpoint senders[4] = {{0x7f000001, 1069}, {0x7f000001, 1070}, {0x0a000002, 1069}, {0x0a000002, 1070}};

unsigned get16(const char *p) { return unsigned(uint8_t(p[0])) << 8 | uint8_t(p[1]); }

std::string error_packet(unsigned code, const char *text) {
  std::string p{char(0), char(5), char(code >> 8), char(code)};
  p += text;
  p += '\0';
  return p;
}

// What the transfer must look like from outside, kept by hand.
struct Model {
  bool started = false;
  bool finished = false;
  Endpoint client;
  uint64_t acked = 0;  // blocks acknowledged so far
  size_t size = 0;

  size_t block_offset() const { return size_t(acked) * tftp::BLOCK_SIZE; }
  size_t block_length() const { return std::min(tftp::BLOCK_SIZE, size - block_offset()); }
  uint16_t block() const { return uint16_t(acked + 1); }
};

struct Step {
  enum { Datagram, Timeout, Abort } kind;
  Endpoint from;
  std::string bytes;
};

void check_data(const Model &m, const tftp::Reply &r) {
  require(r.to == m.client, "DATA to someone but the client");
  require(m.block_offset() <= m.size, "a block past the file");
  require(r.size == 4 + m.block_length(), "DATA of the wrong length");
  require(get16(r.data + 2) == m.block(), "DATA with the wrong block number");
  for (size_t i = 0; i < r.size - 4; ++i)
    require(uint8_t(r.data[4 + i]) == file_byte(m.block_offset() + i), "DATA bytes not the file's");
}

bool is_right_ack(const Model &m, const Step &s) {
  return s.kind == Step::Datagram && s.from == m.client && s.bytes.size() >= 4 &&
         get16(s.bytes.data()) == 4 && get16(s.bytes.data() + 2) == m.block();
}

void check(Model &m, const MemoryFile &file, const Step &s, const tftp::Outcome &o) {
  const tftp::Reply &r = o.reply;
  std::string sent(r.data ? r.data : "", r.size);
  if (m.finished) {
    require(o.event == Event::Ignored && r.size == 0, "something after the end");
    return;
  }
  const bool was_started = m.started;
  if (r.size && !(r.to == m.client) && was_started) {
    require(o.event == Event::Stranger, "a stranger got something other than a refusal");
    require(sent == error_packet(5, "Unknown transfer ID"), "a stranger got other bytes than ERROR 5");
  }
  if (!m.started && s.kind == Step::Datagram) {
    // Whatever comes first is the request, and its sender the client, even when the
    // file then fails.
    require(o.event == Event::Request || o.event == Event::ReadFailed,
            "the first datagram was not the request");
    m.started = true;
    m.client = s.from;
  }
  switch (o.event) {
    case Event::Request:
      require(!was_started, "a second request");
      check_data(m, r);
      break;
    case Event::Acked:
      require(is_right_ack(m, s), "moved on without the client's right ACK");
      require(m.block_length() == tftp::BLOCK_SIZE, "moved on past the short last block");
      ++m.acked;
      check_data(m, r);
      break;
    case Event::Completed:
      require(is_right_ack(m, s), "completed without the client's right ACK");
      require(m.block_length() < tftp::BLOCK_SIZE, "completed before the short last block");
      require(r.size == 0, "a reply to the last ACK");
      m.finished = true;
      break;
    case Event::Resend:
    case Event::TimedOut:
      require(m.started, "a block before the request");
      check_data(m, r);
      break;
    case Event::Duplicate:
    case Event::Ignored:
    case Event::GaveUp:
    case Event::ClientError:
      require(r.size == 0, "a reply where none belongs");
      break;
    case Event::Stranger:
      require(m.started && !(s.from == m.client) && r.to == s.from, "ERROR 5 to the wrong party");
      break;
    case Event::TakenOver:
    case Event::Kept:
      require(false, "a take-over from a datagram on the transfer's own socket");
      break;
    case Event::BadOpcode:
    case Event::ReadFailed:
    case Event::Aborted:
      require(r.size == 0 || (r.to == m.client && sent == error_packet(0, "error")),
              "a wrong ERROR to the client");
      break;
  }
  if (o.event == Event::ReadFailed)
    require(file.failed_now, "a read failure the file did not report");
  if (o.event == Event::ClientError)
    require(s.from == m.client && get16(s.bytes.data()) == 5, "an ERROR the client did not send");
  switch (o.event) {
    case Event::GaveUp:
    case Event::ClientError:
    case Event::BadOpcode:
    case Event::ReadFailed:
    case Event::Aborted:
      m.finished = true;
      break;
    default:
      break;
  }
}

// Reads the next step; false at the end of the input.
bool next_step(const uint8_t *&p, const uint8_t *end, const Model &m, Step &s) {
  if (p == end)
    return false;
  uint8_t control = *p++;
  s.from = senders[control & 3];
  s.bytes.clear();
  switch ((control >> 2) & 3) {
    case 0: {
      size_t len = 0;
      if (p != end) {
        len = *p++;
        len = std::min(len, size_t(end - p));
      }
      s.kind = Step::Datagram;
      s.bytes.assign(reinterpret_cast<const char *>(p), len);
      p += len;
      break;
    }
    case 1: {
      int delta = p == end ? 0 : int(int8_t(*p++));
      unsigned block = unsigned(m.block() + delta) & 0xffff;
      s.kind = Step::Datagram;
      s.bytes = {char(0), char(4), char(block >> 8), char(block)};
      break;
    }
    case 2:
      s.kind = Step::Timeout;
      break;
    default:
      if ((control >> 4) == 0xf) {
        s.kind = Step::Abort;
      } else {
        s.kind = Step::Datagram;
        s.from = m.started ? m.client : senders[0];
        s.bytes = {char(0), char(4), char(m.block() >> 8), char(m.block())};
      }
      break;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3)
    return 0;
  MemoryFile file;
  file.size = size_t(data[0]) << 8 | data[1];
  file.fail_at = data[2];
  Model model;
  model.size = file.size;
  tftp::Transfer transfer([&file](char *buffer, size_t n) { return file.read(buffer, n); }, 5);

  const uint8_t *p = data + 3;
  const uint8_t *end = data + size;
  Step step;
  while (next_step(p, end, model, step)) {
    file.failed_now = false;
    tftp::Outcome o;
    if (step.kind == Step::Timeout)
      o = transfer.on_timeout();
    else if (step.kind == Step::Abort)
      o = transfer.abort();
    else
      o = transfer.on_datagram(step.from, reinterpret_cast<const uint8_t *>(step.bytes.data()),
                               step.bytes.size());
    check(model, file, step, o);
    require(transfer.finished() == model.finished, "the transfer and the model disagree on the end");
    require(transfer.started() == model.started, "the transfer and the model disagree on the start");
    if (model.started && !model.finished)
      require(file.cursor == std::min(file.size, model.block_offset() + tftp::BLOCK_SIZE),
              "the file was read ahead of or behind the block out");
  }
  return 0;
}
