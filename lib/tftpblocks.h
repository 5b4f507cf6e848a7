// The part of a TFTP transfer both servers share: from the first DATA block on the wire to
// the last ACK, one socket, one client, the rules of lib/tftptransfer.h. The single-file
// server and the station's per-box transfers differ only in what they write to the log,
// where the byte count goes, and what wakes them, so the loop takes those from its caller.
#pragma once

#include "lib/tftptransfer.h"
#include "platform/udp.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>

namespace tftp {

// What a server has to say about its transfer. Called on the transfer's thread.
class Voice {
 public:
  virtual ~Voice() = default;
  // An outcome of the rules, before its reply goes out.
  virtual void outcome(const Transfer &t, const Outcome &o) = 0;
  // A reply could not be sent whole; `error` is the system's code, 0 for a short send.
  virtual void send_failed(const Reply &reply, int error) = 0;
  // The socket failed to wait or receive (not a signal); the transfer ends.
  virtual void receive_failed(int error) = 0;
};

// Reads the transfer's blocks from `file`, which stays open while the transfer runs.
Transfer::Reader file_reader(FILE *file);

// Sends what the rules asked for, if anything. A failed or short send is only told: the
// time-out sends a DATA block again.
void send_reply(const udp::Socket &sock, const Reply &reply, Voice &voice);

// Wakes a transfer waiting in its receive on local `port`: an empty datagram from loopback.
void poke(int port);

// Ends a transfer from another thread. The transfer waits for each ACK inside its receive
// (one call per block where a wait and a receive would be two), which no waker can end, so
// raising the signal also sends the transfer's socket an empty datagram from loopback; the
// flag says what that datagram means. Were it lost, the next ACK time-out sees the flag.
class AbortSignal {
 public:
  // For a transfer about to answer from local `port`; clears an earlier abort.
  void arm(int port) {
    requested_.store(false);
    port_.store(port);
  }
  void raise();
  bool raised() const { return requested_.load(); }

 private:
  std::atomic<bool> requested_{false};
  std::atomic<int> port_{-1};
};

struct BlockLoop {
  std::chrono::milliseconds ack_timeout;
  // Raised to abort the transfer: the client is told and the loop ends.
  const AbortSignal *abort = nullptr;
  // Receives datagrams; PACKET_SIZE bytes.
  uint8_t *buffer = nullptr;
  // Bytes of the file the client has acknowledged, kept current block by block.
  std::atomic<unsigned long long> *bytes = nullptr;
  Voice *voice = nullptr;
  // Where the server takes read requests on another socket: hands over the sender of a
  // newer one for the transfer's client's address (after a poke), false when there is none.
  std::function<bool(Endpoint &)> newer_request;
};

// With a block of `t` out, waits for its ACK, sending it again on each time-out and as the
// rules ask, and goes on block by block. The time-out is measured from a block's last send,
// so a stream of wrong datagrams cannot hold it back for ever. True when the last block was
// acknowledged; false when the transfer ended any other way.
bool send_blocks(const udp::Socket &sock, Transfer &t, const BlockLoop &loop);

}  // namespace tftp
