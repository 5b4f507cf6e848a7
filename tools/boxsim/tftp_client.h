// The box's TFTP client, shaped after the CFE boot loader's: one read request without
// options in octet mode, 512-byte blocks, each acknowledged, a fixed number of time-outs
// before it gives up with "Timeout occured" (-21).
#pragma once

#include "tools/boxsim/report.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace boxsim {

struct TftpConfig {
  std::uint16_t server_port = 69;
  // CFE waits one second for each answer and tries 8 times: about 8 s before -21, as seen
  // on real boxes.
  int timeout_ms = 1000;
  int retries = 8;
  // The boot loader stages the file in RAM before programming; a file above this is
  // cancelled (ERROR 3 to the server) and fails with -5 rather than being cut short.
  std::size_t max_bytes = std::size_t(128) << 20;
  // Time the box takes with each block before it acknowledges it (its network stack and
  // the copy into the staging buffer); 0 answers at once.
  int block_delay_us = 0;
  // The box's own address from ifconfig; the request leaves from it when this host has
  // it, else from any address.
  std::string local_address;
};

// Fault switches; block numbers count from 1 across the 16-bit wrap.
struct TftpFaults {
  bool no_request = false;           // send nothing, time out as if the server never answered
  std::set<std::uint64_t> lose_ack;  // withhold the first ACK of these blocks
  std::set<std::uint64_t> dup_ack;   // send the ACK of these blocks twice
  // Take this block, then give up at once with -21 without acknowledging it. The socket
  // stays open: a boot loader answers no ICMP, so the server hears nothing either way.
  std::uint64_t give_up_at = 0;
  // Take this block, then answer nothing more until the box is reset.
  std::uint64_t stall_at = 0;
};

struct TftpOutcome {
  int status = 0;            // 0, or -21 time-out, -22 protocol error, -5 too large, ...
  std::string server_error;  // "TFTP error 1: File not found" when the server refused
  std::vector<std::uint8_t> data;
  TransferRecord record;
};

// Reads `file` from `server_address` (dotted IPv4). `tick` is called at least every 100 ms
// while waiting and may throw to abandon the transfer (the box was reset); the socket is
// closed on the way out.
TftpOutcome tftp_read(const std::string &server_address, const std::string &file, const TftpConfig &config,
                      const TftpFaults &faults, const std::function<void()> &tick);

// The boot loader's text for its status codes ("Timeout occured" for -21, ...).
std::string cfe_error_text(int status);

}  // namespace boxsim
