// boxsim: a simulated set-top box for ZeVavi, so an upgrade can run with no hardware.
//
// It plays the box's CFE boot loader on a pty it creates (its slave path is the first line
// on standard output; --pty-link adds a symlink) or on a serial device (--device). At power
// on it prints its boot output; a 0x03 that arrives during the boot output or the
// autostart wait (--autostart-ms, 2 s) brings the bar of asterisks around "Automatic
// startup canceled via Ctrl-C" and the prompt "CFE> "; without one it boots Linux. It
// answers ifconfig, flash (a real TFTP read from the address before the colon, to port 69
// or --tftp-port), erase_flash0, erase_flash2 and reboot, with one "*** command status = N"
// line per command line, and writes what it flashed to a JSON report (--report: size and
// SHA-256 per partition, the command log, the transfers).
//
// Typical use by a test or by ./run:
//   boxsim --report /tmp/box.json --pty-link /tmp/box-tty --speed 20
//   boxsim --fast --tftp-port 6969 --fail-at flash0.avail0=-21
// Output is paced at 115200 baud and erasing and programming take a box's time; --speed
// or --fast shorten both. SIGUSR1 power-cycles the box; SIGUSR2 puts the next box (--mac
// plus one, nothing flashed) on the fixture in its place; SIGTERM writes the report and ends
// it, and so does the end of the process that started it. The fault switches are listed by
// --help.
#include "tools/boxsim/box.h"
#include "tools/boxsim/console.h"
#include "tools/boxsim/line.h"
#include "tools/boxsim/options.h"
#include "tools/boxsim/report.h"
#include "platform/unique_fd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int g_event_pipe_write = -1;

extern "C" void on_signal(int signo) {
  const int saved = errno;
  const char event = signo == SIGUSR1   ? boxsim::kEventPowerCycle
                     : signo == SIGUSR2 ? boxsim::kEventNextBox
                                        : boxsim::kEventShutdown;
  if (g_event_pipe_write >= 0)
    (void)::write(g_event_pipe_write, &event, 1);
  errno = saved;
}

// Removes the symlink on every way out that runs destructors.
struct LinkGuard {
  std::string path;
  ~LinkGuard() {
    if (!path.empty())
      ::unlink(path.c_str());
  }
};

}  // namespace

int main(int argc, char **argv) {
  const pid_t parent = ::getppid();
  boxsim::Options options;
  bool help = false;
  std::string error;
  if (!boxsim::parse_options(argc, argv, options, help, error)) {
    std::fprintf(stderr, "boxsim: %s\nTry 'boxsim --help'.\n", error.c_str());
    return 2;
  }
  if (help) {
    std::fputs(boxsim::usage_text().c_str(), stdout);
    return 0;
  }

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "boxsim: cannot create a pipe: %s\n", std::strerror(errno));
    return 1;
  }
  UniqueFd event_read(pipe_fds[0]);
  UniqueFd event_write(pipe_fds[1]);
  g_event_pipe_write = event_write.get();
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int signo : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP})
    ::sigaction(signo, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  // A box left behind by a test or a demo that was killed would hold its pty and keep
  // answering: end with the parent, through the same orderly shutdown as SIGTERM. A parent
  // that is already gone shows as a changed parent process.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent)
    on_signal(SIGTERM);

  boxsim::Line line;
  const bool opened = options.device.empty() ? boxsim::open_pty_line(line, error)
                                             : boxsim::open_device_line(options.device, line, error);
  if (!opened) {
    std::fprintf(stderr, "boxsim: %s\n", error.c_str());
    return 1;
  }
  LinkGuard link;
  if (!options.pty_link.empty()) {
    ::unlink(options.pty_link.c_str());
    if (::symlink(line.name.c_str(), options.pty_link.c_str()) != 0) {
      std::fprintf(stderr, "boxsim: cannot link %s to %s: %s\n", options.pty_link.c_str(), line.name.c_str(),
                   std::strerror(errno));
      return 1;
    }
    link.path = options.pty_link;
  }
  std::printf("%s\n", line.name.c_str());
  std::fflush(stdout);

  boxsim::Report report(options.report_path);
  report.line = line.name;
  report.mac = options.mac;
  if (!report.save()) {
    std::fprintf(stderr, "boxsim: cannot write the report %s: %s\n", options.report_path.c_str(),
                 std::strerror(errno));
    return 1;
  }

  boxsim::Pacing pacing;
  pacing.baud = options.baud;
  pacing.speed = options.speed;
  pacing.fast = options.fast;
  boxsim::Console console(std::move(line.io), event_read.get(), pacing, report);
  boxsim::Box box(console, report, options);
  const int code = box.run();
  g_event_pipe_write = -1;
  return code;
}
