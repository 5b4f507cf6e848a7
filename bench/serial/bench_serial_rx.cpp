// How fast received bytes get from a pty through TComPort (event thread, hand-off to the GUI
// thread, read, link) compared with `cat` reading the same pty in the same run, and how much
// CPU an open port costs while the line is idle.
//
// Each run pushes the same bytes into the pty master as fast as the pty takes them; the time
// runs from the first write to the last byte received (by the link, or until cat exits after
// the master closed). The variants take turns within each run, so a busy machine slows them
// alike. Output: medians over the runs and their ratios to cat.
//   bench_serial_rx [MiB, 8] [runs, 5] [only: 1-4, one variant and no idle part, for profilers
//   such as strace -c or callgrind]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "comport/serport.h"
#include "platform/gui.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    int s = -1;
    char name[256];
    if (::openpty(&master, &s, name, nullptr, nullptr) != 0) {
      std::perror("openpty");
      std::exit(1);
    }
    termios t;
    ::tcgetattr(s, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(s, TCSANOW, &t);
    ::close(s);
    // cat must not inherit the master, or closing ours would not end its reads.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    slave = name;
  }
  ~Pty() {
    if (master >= 0)
      ::close(master);
  }
};

void write_all(int fd, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, std::min<size_t>(65536, data.size() - off));
    if (n > 0)
      off += static_cast<size_t>(n);
    else if (n < 0 && errno != EINTR && errno != EAGAIN)
      return;
  }
}

// sync: smThreadSync (the program's way: deliveries run on the GUI thread) or smNone
// (delivered on the event thread itself), which shows what the hand-off costs. queue: the
// input queue the port asks for (the program's 1024, or larger to see what that would give).
double run_port(const std::string &data, TSyncMethod sync, int queue) {
  Pty pty;
  TComPort port;
  port.SetPort(pty.slave);
  port.SetBaudRate(br115200);
  port.SetSyncMethod(sync);
  port.Buffer().SetInputSize(queue);
  std::atomic<size_t> received{0};
  QEventLoop loop;
  TComLink link;
  link.OnRxBuf = [&](TCustomComPort *, const char *, int n) {
    if ((received += static_cast<size_t>(n)) >= data.size())
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  };
  port.RegisterLink(&link);
  port.Open();
  auto start = Clock::now();
  std::thread writer([&] { write_all(pty.master, data); });
  loop.exec();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  port.Close();
  port.UnRegisterLink(&link);
  return seconds;
}

double run_cat(const std::string &data) {
  Pty pty;
  auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);  // its read error when the master closes is the expected end
    ::execlp("cat", "cat", pty.slave.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
  }
  write_all(pty.master, data);
  // cat may not have read everything yet: wait until the pty holds nothing more for it.
  for (;;) {
    int pending = 0;
    if (::ioctl(pty.master, TIOCOUTQ, &pending) != 0 || pending == 0)
      break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::close(pty.master);  // cat's next read fails and it ends
  pty.master = -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpu_seconds() {
  rusage r{};
  ::getrusage(RUSAGE_SELF, &r);
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QCoreApplication app(argc, argv);
  gui_install();
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const int only = argc > 3 ? std::atoi(argv[3]) : 0;
  std::string data(mib << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 131 + (i >> 12));

  struct Variant {
    const char *name;
    TSyncMethod sync;
    int queue;  // 0: cat
    std::vector<double> mbs;
  } variants[] = {
      {"TComPort, GUI hand-off (smThreadSync), 1024-byte queue", smThreadSync, 1024, {}},
      {"TComPort, on the event thread (smNone), 1024-byte queue", smNone, 1024, {}},
      {"TComPort, GUI hand-off (smThreadSync), 4096-byte queue", smThreadSync, 4096, {}},
      {"cat of the same pty", smNone, 0, {}},
  };
  if (only > 0 && only <= 4) {
    Variant &v = variants[only - 1];
    for (int r = 0; r < runs; ++r)
      v.mbs.push_back(mib / (v.queue ? run_port(data, v.sync, v.queue) : run_cat(data)));
    std::printf("%s: median %.1f MiB/s\n", v.name, median(v.mbs));
    gui_uninstall();
    return 0;
  }
  for (int r = 0; r < runs; ++r)
    for (Variant &v : variants)
      v.mbs.push_back(mib / (v.queue ? run_port(data, v.sync, v.queue) : run_cat(data)));
  const double cat = median(variants[3].mbs);
  std::printf("receive %zu MiB x %d runs (each block at most the input queue), medians:\n", mib, runs);
  for (const Variant &v : variants) {
    const double m = median(v.mbs);
    std::printf("  %-56s %8.1f MiB/s  ratio to cat %5.2f\n", v.name, m, m / cat);
  }
  std::printf("  console line rate for scale: 115200 baud = 0.011 MiB/s\n");

  // Idle: the port open with all events asked for, the GUI loop running, nothing arriving.
  Pty pty;
  TComPort port;
  port.SetPort(pty.slave);
  port.Open();
  const double idle_seconds = 3.0;
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(idle_seconds * 1000), &loop, &QEventLoop::quit);
  double before = cpu_seconds();
  loop.exec();
  double used = cpu_seconds() - before;
  port.Close();
  std::printf("idle port: %.3f ms CPU over %.0f s (%.4f %% of one core)\n", used * 1000, idle_seconds,
              used / idle_seconds * 100);
  gui_uninstall();
  return 0;
}
