// A pty pair for serial tests: the slave is the "serial device" the code under test opens by
// name, the master is the far end (the box) that the test reads and writes.
#pragma once

#include <string>

#include "platform/comm.h"

struct PtyPair {
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  bool ok() const { return master >= 0; }
  void close_master();
  // Writes all bytes to the master (blocking); false when the pty refused.
  bool send(const std::string &bytes);
  // Reads until `count` bytes came or `timeout_ms` passed without any byte.
  std::string receive(size_t count, int timeout_ms = 5000);

  int master = -1;
  std::string slave_name;
};

// The line settings of a tty as the kernel holds them (read from the pty master, which
// reports the slave's termios).
struct LineSettings {
  bool ok = false;
  unsigned baud = 0;
  int data_bits = 0;
  char parity = '?';  // N O E M S
  int stop_bits = 0;
  bool crtscts = false;
  bool ixon = false;
  bool ixoff = false;
  bool inpck = false;
  bool raw = false;  // no canonical mode, echo, signals or output processing
  unsigned char vstart = 0;
  unsigned char vstop = 0;
};
LineSettings read_line_settings(int fd);
// The termios the Linux backend makes of a DCB, decoded the same way.
LineSettings line_settings_for(const CommDcb &dcb);
