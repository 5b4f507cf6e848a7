// One TFTP service for many boxes at once: the partition server of a station that upgrades
// several boxes from one PC.
//
// A listener owns UDP port 69 and takes only read requests there. The request's source
// address says which box asks: each box is registered by the address it was given, and the
// file it gets is the one its own upgrade is serving at that moment, whatever name the
// request carries (the boot loader's flash command names the path it was told). Each
// request starts a transfer of its own, on a socket of its own with a port the system
// chooses (RFC 1350's transfer ID), and a thread of its own, so that a slow or silent box
// never holds up another; the per-datagram rules are those of the single-file server
// (lib/tftptransfer.h). A request from an address no box has gets ERROR 2 and nothing else;
// so does a registered box that asks while its upgrade serves nothing. A request from a
// box's address on another port while its transfer runs is handed to that transfer, which
// takes it over while nothing has been acknowledged: the address is all that tells a box,
// and the box itself may ask again from a new port after a forged or lost first request.
//
// Use (one upgrade worker per box, each on its own thread):
//     TftpStation station;                 // the program passes no port: 69
//     if (!station.open(error)) ...        // before any box is asked to fetch anything
//     TftpStation::Box *box = station.add_box(address);
//     box->start(partition_file);          // then type the flash command
//     bool ok = box->finish();             // once the transfer has ended
// From any thread: box->abort() ends that box's transfer (or its wait for the request) at
// once; finish then returns within moments. close() (also the destructor) ends everything.
//
// Waits are bounded as in the single-file server: TFTP_REQUEST_WAITS seconds for the
// request after start, TFTP_ACK_TIMEOUTS time-outs per block.
#pragma once

#include "lib/tftpblocks.h"
#include "lib/tftpthread.h"
#include "platform/udp.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// How often the station speaks to senders it has no transfer for. A neighbour's stray or
// hostile datagrams on port 69 must not fill the log, nor make the station send more than it
// is sent: `burst` of them are logged and answered at once, then `per_second`; the rest are
// counted, and the count is told with the next one let through.
class StrayLimit {
 public:
  using Clock = std::chrono::steady_clock;
  StrayLimit(int burst, int per_second)
      : burst_(burst), per_second_(per_second), tokens_ms_(burst * 1000LL) {}
  // True when a stray datagram arriving at `now` may be logged and answered; `dropped` then
  // holds how many were held back before it (and the count starts again).
  bool allow(Clock::time_point now, unsigned long long &dropped);
  // Held back since the last one let through; the count starts again.
  unsigned long long take_dropped() { return std::exchange(dropped_, 0); }

 private:
  const int burst_, per_second_;
  long long tokens_ms_;  // a thousand per datagram let through
  std::optional<Clock::time_point> last_;
  unsigned long long dropped_ = 0;
};

class TftpStation {
 public:
  // `port` and `ack_timeout_ms` are for tests only; the program takes the defaults.
  explicit TftpStation(uint16_t port = TFTP_PORT, int ack_timeout_ms = TFTP_ACK_TIMEOUT_MS);
  ~TftpStation();
  TftpStation(const TftpStation &) = delete;
  TftpStation &operator=(const TftpStation &) = delete;

  class Box {
   public:
    Box(TftpStation &station, uint32_t address) : station_(station), address_(address) {}
    ~Box();
    Box(const Box &) = delete;
    Box &operator=(const Box &) = delete;

    uint32_t address() const { return address_; }
    // Opens `path` and answers the box's next read request with it. False (and a log line)
    // when the file cannot be opened, the station is closed or a transfer still runs.
    bool start(const std::string &path);
    // Waits until the transfer has ended (or no request came in time): true when the box
    // acknowledged every block. Returns false at once when nothing was started.
    bool finish();
    // Ends the transfer or the wait for its request now. Never blocks.
    void abort();
    // Bytes of the file the box acknowledged in the running or last transfer.
    unsigned long long bytes_served() const { return bytes_.load(); }

   private:
    friend class TftpStation;
    enum class State { Idle, Armed, Running, Ended };
    void transfer(udp::Socket sock, tftp::Endpoint client, std::vector<uint8_t> request);
    void join_thread();

    TftpStation &station_;
    const uint32_t address_;
    // Under station_.mutex_:
    State state_ = State::Idle;
    bool completed_ = false;
    FILE *file_ = nullptr;
    std::chrono::steady_clock::time_point request_deadline_;
    // While Running: the transfer's client and port, and a newer request for the transfer
    // to take over (lib/tftptransfer.h) or keep out.
    tftp::Endpoint client_;
    int transfer_port_ = -1;
    std::optional<tftp::Endpoint> newer_request_;
    std::thread thread_;
    // Ends the transfer; armed with the transfer's own port when its socket is bound.
    tftp::AbortSignal abort_;
    std::atomic<unsigned long long> bytes_{0};
    std::vector<char> file_buffer_ = std::vector<char>(64 * 1024);
  };

  // Binds the port and starts the listener. False with the reason in `error`.
  bool open(std::string &error);
  // Ends every transfer and the listener; the boxes stay registered but serve nothing.
  void close();
  // The bound port, or -1 when not open.
  int local_port() const;

  // Registers the box that uses `address` (host order). Null when that address has a box
  // already. The box lives as long as the station.
  Box *add_box(uint32_t address);

 private:
  void listen();
  void on_request(const udp::Peer &from, const uint8_t *data, size_t size);
  // Answers with ERROR 2 and `why`, cut so that the answer is no longer than the `asked`
  // bytes that came (none below an ERROR's five).
  void refuse(const udp::Peer &to, const char *why, size_t asked);
  // Within the stray limit; tells how many were held back before.
  bool stray_allowed();

  const uint16_t port_;
  const int ack_timeout_ms_;
  udp::Socket socket_;
  bool sockets_held_ = false;
  const udp::Waker stop_;
  std::thread listener_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;  // under mutex_
  std::vector<std::unique_ptr<Box>> boxes_;
  uint8_t recv_buf_[TFTP_PACKET_SIZE] = {};
  StrayLimit strays_{20, 10};  // the listener's
};
