// Helpers for driving the simulated box and its real peers from a test: temporary folders,
// child processes, in.tftpd on a loopback port, the box over its pty.
#pragma once

#include "tests/support/fs.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace boxsim_test {

namespace fs = std::filesystem;

// A guard against a hung peer, not a measurement: a healthy run is far below it.
constexpr int kHangGuardMs = 30000;

// in.tftpd drops to another user unless run as root; let it read what we put here.
class TempDir : public zv_test::TempDir {
 public:
  TempDir() : zv_test::TempDir("boxsim-test") {
    fs::permissions(path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
  }
};

using zv_test::read_file;

inline std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string data(size, '\0');
  for (char &c : data)
    c = char(gen());
  return data;
}

inline void write_file(const fs::path &path, const std::string &data) {
  zv_test::write_file(path, data);
  fs::permissions(
      path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

// What the real tool prints: the peer the box's report is checked against.
inline std::string sha256sum(const fs::path &path) {
  std::string cmd = "sha256sum '" + path.string() + "'";
  FILE *p = ::popen(cmd.c_str(), "r");
  char buf[65] = {};
  if (!p || std::fread(buf, 1, 64, p) != 64) {
    if (p)
      ::pclose(p);
    return {};
  }
  ::pclose(p);
  return std::string(buf, 64);
}

// A UDP port nobody holds on 127.0.0.1 at the moment of asking.
inline std::uint16_t free_udp_port() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline bool udp_port_taken(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool taken = ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0;
  ::close(fd);
  return taken;
}

using zv_test::Child;

// Exit code of a child that may not hang the test.
inline int wait_bounded(Child &child) { return child.wait_exit(std::chrono::milliseconds(kHangGuardMs)); }

// in.tftpd from tftpd-hpa, in the foreground on 127.0.0.1:port, serving `root`.
class Tftpd {
 public:
  explicit Tftpd(const fs::path &root) : port_(free_udp_port()) {
    const bool is_root = ::geteuid() == 0;
    std::vector<std::string> argv = {"/usr/sbin/in.tftpd", "-L", "-a", "127.0.0.1:" + std::to_string(port_)};
    zv_test::SpawnOptions options;
    if (is_root) {
      argv.insert(argv.end(), {"-s", "-u", "root", root.string()});
    } else {
      passwd *pw = ::getpwuid(::geteuid());
      argv.insert(argv.end(), {"-u", pw ? pw->pw_name : "nobody"});
      options.cwd = root;
    }
    started_ = child_.start(argv, options);
    // Ready once it holds its port.
    if (started_)
      zv_test::wait_until([&] { return udp_port_taken(port_); }, std::chrono::milliseconds(kHangGuardMs));
  }
  bool ready() const { return started_ && udp_port_taken(port_); }
  std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_;
  Child child_;
  bool started_ = false;
};

inline std::string bin_dir() {
  // CTest names the folder; run by hand, the test binary sits beside boxsim.
  const char *dir = std::getenv("ZEVAVI_BIN_DIR");
  return dir ? std::string(dir) : fs::read_symlink("/proc/self/exe").parent_path().string();
}

// The simulated box as a child process, driven over its pty like the PC's serial port.
class BoxUnderTest {
 public:
  // Opens the line the box names on its first output line, or `other_end` when the box
  // talks on a device whose far end is elsewhere (a socat pty pair).
  BoxUnderTest(std::vector<std::string> options, const fs::path &report, const fs::path &other_end = {})
      : report_(report) {
    std::vector<std::string> argv = {bin_dir() + "/boxsim", "--report", report.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    zv_test::SpawnOptions captured;
    captured.capture_out = true;
    if (!child_.start(argv, captured))
      return;
    slave_ = child_.read_line();
    const std::string path = other_end.empty() ? slave_ : other_end.string();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  ~BoxUnderTest() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  const std::string &slave() const { return slave_; }

  void send(const std::string &bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  void type(const std::string &line) { send(line + "\n"); }

  // Everything up to and including `pattern`; empty (and `hung_up` set) when the line
  // hangs up, empty when the hang guard runs out. With `breaks`, sends 0x03 every 200 ms
  // while waiting, as the PC does once a second.
  std::string read_until(const std::string &pattern, bool breaks = false) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(kHangGuardMs);
    auto next_break = clock::now();
    for (;;) {
      auto at = pending_.find(pattern);
      if (at != std::string::npos) {
        std::string out = pending_.substr(0, at + pattern.size());
        pending_.erase(0, at + pattern.size());
        return out;
      }
      if (clock::now() > deadline)
        return {};
      if (breaks && clock::now() >= next_break) {
        send("\x03");
        next_break = clock::now() + std::chrono::milliseconds(200);
      }
      pollfd p{fd_, POLLIN, 0};
      ::poll(&p, 1, 50);
      char buf[4096];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0)
        pending_.append(buf, std::size_t(n));
      else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        hung_up = true;
        return {};
      }
    }
  }
  // Types a command line and returns what came back up to the next prompt.
  std::string command(const std::string &line) {
    type(line);
    return read_until("CFE> ");
  }
  std::string report() const { return read_file(report_); }
  Child &process() { return child_; }

  bool hung_up = false;

 private:
  fs::path report_;
  Child child_;
  std::string slave_;
  int fd_ = -1;
  std::string pending_;
};

// The status of the one "*** command status = N" line in `text`; `count` gets the number of
// such lines.
inline int status_in(const std::string &text, int &count) {
  static const std::regex line(R"(\*\*\* command status = (-?\d+)\r\n)");
  count = 0;
  int status = 0;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator();
       ++it, ++count)
    status = std::stoi((*it)[1]);
  return status;
}

// A number or string field of the report's entry for one partition; empty when absent.
inline std::string partition_field(const std::string &report, const std::string &partition,
                                   const std::string &field) {
  std::regex re("\"" + std::regex_replace(partition, std::regex(R"(\.)"), R"(\.)") + R"(": \{[^}]*")" +
                field + R"(": "?([^",}]*))");
  std::smatch m;
  return std::regex_search(report, m, re) ? m[1].str() : std::string();
}

inline std::string top_field(const std::string &report, const std::string &field) {
  std::regex re("\n  \"" + field + R"(": "?([^",\n]*))");
  std::smatch m;
  return std::regex_search(report, m, re) ? m[1].str() : std::string();
}

}  // namespace boxsim_test
