// The boot loader's console: paced output with CR LF line ends, buffered input, and the
// box's sense of time. Everything the box waits for goes through here, so a power cycle or
// a stop request reaches it wherever it is.
#pragma once

#include "tools/boxsim/report.h"
#include "platform/unique_fd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>

namespace boxsim {

// Thrown out of any wait: the simulated hardware's reset line and power switch, which end
// whatever the loader was doing, mid-command or mid-transfer, as on a real box.
struct PowerCycle {};
struct Shutdown {};
// The box is taken off the fixture and the next one put on and powered.
struct NextBox {};
// Thrown when the vanished-line fault has closed the line: the box's session is over.
struct LineVanished {};

struct Pacing {
  int baud = 115200;   // 0: unpaced
  double speed = 1.0;  // box time divisor
  bool fast = false;   // no pacing, no box time
};

// Events arrive as bytes on a pipe written by the signal handlers.
enum : char { kEventPowerCycle = 'p', kEventShutdown = 'q', kEventNextBox = 'n' };

class Console {
 public:
  // Owns `line`; reads events from `event_fd` (not owned). `report` counts dropped output.
  Console(UniqueFd line, int event_fd, Pacing pacing, Report &report);

  // Prints text; each "\n" goes out as CR LF, the boot loader's line end.
  void print(std::string_view text);
  // Sends bytes as they are (echo of a typed character, the prompt).
  void send(std::string_view bytes);
  // One unpaced write of the bytes as they are, as a chatty driver floods the line.
  void burst(std::string_view bytes);

  // Box time: `ms` at speed 1, shortened by the speed factor, none when fast.
  void pause(int ms);
  // Real time, for waits that the PC's side has to meet whatever the speed.
  void wait_real(int ms);

  // Next typed byte; -1 when `timeout_ms` passes (negative: wait for ever).
  int read_byte(int timeout_ms);
  // Reads what is pending and forgets it; true when a 0x03 was among it.
  bool drain_input();

  // Throws PowerCycle, NextBox or Shutdown when one was asked for; called by long loops.
  void check_events();

  // Closes the line, as when the cable is pulled. Output is dropped afterwards.
  void vanish();

 private:
  using clock = std::chrono::steady_clock;
  // Waits until `deadline`, gathering input; returns early once input is buffered when
  // `until_input` is set.
  void wait_until(clock::time_point deadline, bool until_input);
  void write_now(const char *data, std::size_t size);
  void gather_input();

  UniqueFd line_;
  int event_fd_;
  Pacing pacing_;
  Report &report_;
  std::deque<std::uint8_t> input_;
  clock::time_point line_free_ = clock::now();  // when the UART has sent what it holds
  bool line_dead_ = false;
  bool stalled_ = false;  // output is being dropped because nobody reads it
};

}  // namespace boxsim
