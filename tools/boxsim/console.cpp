#include "tools/boxsim/console.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace boxsim {

namespace {

// A UART sends from a small FIFO; pacing in FIFO-sized pieces keeps the bytes' arrival
// close to a real line's without a system call per byte.
constexpr std::size_t kFifo = 16;
// How long output may sit unread before the box gives up on it: a UART sends whether or
// not anyone listens, so nobody reading must not stall the box.
constexpr int kStallMs = 1000;

}  // namespace

Console::Console(UniqueFd line, int event_fd, Pacing pacing, Report &report)
    : line_(std::move(line)), event_fd_(event_fd), pacing_(pacing), report_(report) {}

void Console::check_events() {
  if (event_fd_ < 0)
    return;
  pollfd p{event_fd_, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0)
    return;
  char event = 0;
  if (::read(event_fd_, &event, 1) != 1)
    return;
  if (event == kEventShutdown)
    throw Shutdown{};
  if (event == kEventPowerCycle)
    throw PowerCycle{};
  if (event == kEventNextBox)
    throw NextBox{};
}

void Console::gather_input() {
  if (line_dead_)
    return;
  std::uint8_t buf[512];
  for (;;) {
    ssize_t n = ::read(line_.get(), buf, sizeof buf);
    if (n > 0) {
      input_.insert(input_.end(), buf, buf + n);
      continue;
    }
    if (n < 0 && (errno == EINTR))
      continue;
    if (n < 0 && errno == EAGAIN)
      return;
    // End of file or an error: nothing more will come from this line (a pulled USB
    // adapter). Keep running so the report stays right; output is dropped from now.
    line_dead_ = true;
    return;
  }
}

void Console::wait_until(clock::time_point deadline, bool until_input) {
  for (;;) {
    check_events();
    if (until_input && !input_.empty())
      return;
    auto now = clock::now();
    if (now >= deadline)
      return;
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
    if (left > std::chrono::milliseconds(200))
      left = std::chrono::milliseconds(200);
    timespec ts{time_t(left.count() / 1000000000), long(left.count() % 1000000000)};
    pollfd fds[2] = {{event_fd_, POLLIN, 0}, {line_dead_ ? -1 : line_.get(), POLLIN, 0}};
    int r = ::ppoll(fds, 2, &ts, nullptr);
    if (r > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
      gather_input();
  }
}

void Console::write_now(const char *data, std::size_t size) {
  auto stalled_since = clock::now();
  while (size > 0) {
    if (line_dead_) {
      report_.console_bytes_dropped += size;
      return;
    }
    ssize_t n = ::write(line_.get(), data, size);
    if (n > 0) {
      data += n;
      size -= std::size_t(n);
      stalled_since = clock::now();
      stalled_ = false;
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN) {
      line_dead_ = true;
      continue;
    }
    // Once output has been dropped, keep dropping until the reader drains the line:
    // waiting a full second per FIFO load would slow the box to a crawl.
    if (stalled_ || clock::now() - stalled_since > std::chrono::milliseconds(kStallMs)) {
      stalled_ = true;
      report_.console_bytes_dropped += size;
      return;
    }
    check_events();
    pollfd fds[2] = {{event_fd_, POLLIN, 0}, {line_.get(), POLLOUT, 0}};
    ::poll(fds, 2, 50);
    // Keep taking input while output is blocked, as a UART's receiver keeps running.
    gather_input();
  }
}

void Console::send(std::string_view bytes) {
  const bool paced = !pacing_.fast && pacing_.baud > 0;
  while (!bytes.empty()) {
    std::size_t chunk = paced ? std::min(bytes.size(), kFifo) : bytes.size();
    if (paced)
      wait_until(line_free_, false);
    else
      check_events();
    write_now(bytes.data(), chunk);
    if (paced) {
      // 10 bits per byte on an 8N1 line.
      const double seconds = double(chunk) * 10.0 / pacing_.baud / pacing_.speed;
      // Count from when the line was due to be free, not from when the wait woke up:
      // wake-up lateness must not add up and slow a long output below the baud rate.
      // After a real idle gap the line starts afresh.
      const auto now = clock::now();
      if (now - line_free_ > std::chrono::milliseconds(5))
        line_free_ = now;
      line_free_ += std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    }
    bytes.remove_prefix(chunk);
  }
}

void Console::print(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n')
      out += '\r';
    out += c;
  }
  send(out);
}

void Console::burst(std::string_view bytes) {
  // Let what was paced before leave first, so the burst is one block on its own.
  if (!pacing_.fast && pacing_.baud > 0)
    wait_until(line_free_, false);
  else
    check_events();
  write_now(bytes.data(), bytes.size());
}

void Console::pause(int ms) {
  if (pacing_.fast || ms <= 0) {
    check_events();
    return;
  }
  wait_until(clock::now() + std::chrono::duration_cast<clock::duration>(
                                std::chrono::duration<double, std::milli>(ms / pacing_.speed)),
             false);
}

void Console::wait_real(int ms) { wait_until(clock::now() + std::chrono::milliseconds(ms), false); }

int Console::read_byte(int timeout_ms) {
  if (input_.empty()) {
    gather_input();
    if (input_.empty()) {
      auto deadline =
          timeout_ms < 0 ? clock::time_point::max() : clock::now() + std::chrono::milliseconds(timeout_ms);
      wait_until(deadline, true);
    }
  }
  if (input_.empty())
    return -1;
  int byte = input_.front();
  input_.pop_front();
  return byte;
}

bool Console::drain_input() {
  gather_input();
  bool saw_break = false;
  for (std::uint8_t b : input_)
    saw_break = saw_break || b == 0x03;
  input_.clear();
  return saw_break;
}

void Console::vanish() {
  line_.reset();
  line_dead_ = true;
}

}  // namespace boxsim
