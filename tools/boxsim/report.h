// What the box did, kept as it happens and written as JSON, so a test can check that every
// partition holds exactly the bytes of the image and which commands the tool typed.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace boxsim {

struct PartitionRecord {
  std::size_t size = 0;
  std::string sha256;
  std::string source;  // "address:file" of the flash command that wrote it last
  int writes = 0;      // how many flash commands wrote this partition
};

struct CommandRecord {
  int number = 0;             // 1 = first command line of this box's life
  int boot = 0;               // which power-on it belongs to (1 = first)
  std::string line;           // as typed, without the line end
  std::optional<int> status;  // absent for "reboot", which prints none
};

struct TransferRecord {
  std::string server;  // "address:port" the read request went to
  std::string file;
  int status = 0;     // 0 or the boot loader's error code
  std::string error;  // console text of a failure
  std::size_t bytes = 0;
  int blocks = 0;
  int retries = 0;          // read requests and ACKs sent again after a time-out
  int acks_lost = 0;        // ACKs withheld by the lost-ACK fault
  int acks_duplicated = 0;  // ACKs sent twice by the duplicate-ACK fault
  int foreign_packets = 0;  // packets from another port, answered with ERROR 5
  bool requested = true;    // false when the no-request fault held back the RRQ
};

// Owned by the box; save() rewrites the file in full each time (write, then rename), so a
// reader never sees half a report.
class Report {
 public:
  explicit Report(std::string path) : path_(std::move(path)) {}

  std::string line;  // the pty slave or serial device the box talks on
  std::string mac;   // the Ethernet address of the box on the fixture
  int box = 1;       // which box on the fixture this is (1 = the first)
  // off, booting, autostart (waiting for 0x03), cfe (at the prompt), command,
  // booting-linux, linux, vanished, stopped
  std::string state = "off";
  int boots = 0;
  int breaks_at_prompt = 0;  // 0x03 bytes that reached the prompt's line editor
  std::string ip;            // set by ifconfig
  std::string mask;
  std::map<std::string, PartitionRecord> partitions;
  std::vector<std::string> erased;  // "flash2", "flash0" in the order erased
  std::vector<CommandRecord> commands;
  std::vector<TransferRecord> transfers;
  std::size_t console_bytes_dropped = 0;  // output nobody read for too long
  bool vanished = false;

  // The next box is on the fixture: its address, and nothing of the last box's history.
  void new_box(const std::string &next_mac);

  std::string to_json() const;
  // Returns false (and leaves errno) when the file cannot be written; no-op without a path.
  bool save() const;

 private:
  std::string path_;
};

std::string json_quote(const std::string &text);

}  // namespace boxsim
