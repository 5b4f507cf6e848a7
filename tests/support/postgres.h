// A PostgreSQL server of the test's own (Debian's postgresql binaries, a cluster in a temporary
// folder, a free loopback port, no system service), and a TCP relay in front of it whose
// connections the test can cut and let through again, as a pulled cable or a restarted
// router would.
#pragma once

#include "tests/support/fs.h"
#include "tests/support/process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace zv_test {

// The newest installed server's programs (/usr/lib/postgresql/N/bin), or "".
inline std::string postgres_bin() {
  std::string best;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const fs::path bin = entry.path() / "bin";
    if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") &&
        (best.empty() ||
         std::stoi(entry.path().filename()) > std::stoi(fs::path(best).parent_path().filename())))
      best = bin.string();
  }
  return best;
}

// A loopback TCP port nobody listens on just now.
inline int free_tcp_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

class PrivatePostgres {
 public:
  // Empty error() when the server runs. The server refuses to run as root, so a test run as
  // root runs it as the postgres account that Debian's package makes.
  PrivatePostgres() : dir_("zevavi-postgres") {
    const std::string bin = postgres_bin();
    if (bin.empty()) {
      error_ = "no PostgreSQL server under /usr/lib/postgresql (Debian's postgresql package)";
      return;
    }
    const std::string data = dir_.str("data");
    if (::geteuid() == 0) {
      const passwd *account = ::getpwnam("postgres");
      if (!account) {
        error_ = "running as root and there is no postgres account to run the server as";
        return;
      }
      as_ = {"runuser", "-u", "postgres", "--"};
      fs::create_directory(data);
      if (::chown(data.c_str(), account->pw_uid, account->pw_gid) != 0 ||
          ::chmod(dir_.str().c_str(), 0755) != 0) {
        error_ = "cannot hand " + data + " to the postgres account";
        return;
      }
    }
    port_ = free_tcp_port();
    if (!run({bin + "/initdb", "-D", data, "-A", "trust", "-U", "zevavi", "-E", "UTF8", "--locale=C",
              "--no-sync"}) ||
        !run({bin + "/pg_ctl", "-D", data, "-l", data + "/server.log", "-w", "-t", "60", "-o",
              "-c listen_addresses=127.0.0.1 -k " + data + " -p " + std::to_string(port_) + " -c fsync=off",
              "start"}))
      error_ = "the private server did not start: " + read_file(data + "/server.log");
    else
      running_ = true;
  }
  ~PrivatePostgres() {
    if (running_)
      run({postgres_bin() + "/pg_ctl", "-D", dir_.str("data"), "-m", "immediate", "-w", "stop"});
  }
  PrivatePostgres(const PrivatePostgres &) = delete;
  PrivatePostgres &operator=(const PrivatePostgres &) = delete;

  const std::string &error() const { return error_; }
  int port() const { return port_; }
  // The database's URI through `port` (this server's own, or a relay's in front of it).
  std::string uri(int port = 0, const std::string &database = "postgres") const {
    return "postgresql://zevavi@127.0.0.1:" + std::to_string(port ? port : port_) + "/" + database;
  }

  // psql's unaligned answer to `sql`, without the last line end.
  std::string query(const std::string &sql) const {
    TempDir out_dir("zevavi-psql");
    Child psql;
    SpawnOptions options;
    options.out = out_dir.path() / "out";
    if (!psql.start({"psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-d", uri(), "-c", sql},
                    options) ||
        psql.wait_exit(std::chrono::seconds(60)) != 0)
      return "psql failed";
    std::string text = read_file(out_dir.path() / "out");
    while (!text.empty() && text.back() == '\n')
      text.pop_back();
    return text;
  }

 private:
  bool run(std::vector<std::string> argv) const {
    argv.insert(argv.begin(), as_.begin(), as_.end());
    Child child;
    SpawnOptions options;
    options.cwd = "/";
    return child.start(argv, options) && child.wait_exit(std::chrono::seconds(120)) == 0;
  }

  TempDir dir_;
  std::vector<std::string> as_;
  std::string error_;
  int port_ = 0;
  bool running_ = false;
};

// Relays loopback TCP connections to `target_port`. cut() closes every relayed connection and
// turns new ones away until restore().
class CutRelay {
 public:
  explicit CutRelay(int target_port) : target_(target_port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(listener_, 64);
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (::pipe2(wake_, O_CLOEXEC) != 0)
      wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { run(); });
  }
  ~CutRelay() {
    stop_ = true;
    poke();
    thread_.join();
    for (auto &pair : pairs_)
      close_pair(pair);
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  CutRelay(const CutRelay &) = delete;
  CutRelay &operator=(const CutRelay &) = delete;

  int port() const { return port_; }
  void cut() {
    cut_ = true;
    poke();
  }
  void restore() { cut_ = false; }
  // Connections relayed so far.
  int accepted() const { return accepted_; }

 private:
  struct Pair {
    int a = -1, b = -1;
  };
  static void close_pair(Pair &pair) {
    if (pair.a >= 0)
      ::close(pair.a);
    if (pair.b >= 0)
      ::close(pair.b);
    pair.a = pair.b = -1;
  }
  void poke() {
    const char c = 0;
    [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
  }
  void run() {
    while (!stop_) {
      if (cut_)
        for (auto &pair : pairs_)
          close_pair(pair);
      std::erase_if(pairs_, [](const Pair &p) { return p.a < 0; });
      std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
      for (const auto &pair : pairs_) {
        fds.push_back({pair.a, POLLIN, 0});
        fds.push_back({pair.b, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0)
        continue;
      if (fds[0].revents) {
        char buffer[64];
        [[maybe_unused]] auto n = ::read(wake_[0], buffer, sizeof buffer);
      }
      if (fds[1].revents) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0 && cut_) {
          ::close(client);
        } else if (client >= 0) {
          const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
          sockaddr_in address{};
          address.sin_family = AF_INET;
          address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          address.sin_port = htons(uint16_t(target_));
          if (::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            pairs_.push_back({client, server});
            ++accepted_;
          } else {
            ::close(client);
            ::close(server);
          }
        }
      }
      // Relays what is readable; a pair one of whose ends closed is closed whole.
      for (size_t i = 2; i < fds.size(); ++i) {
        if (!fds[i].revents)
          continue;
        Pair &pair = pairs_[(i - 2) / 2];
        if (pair.a < 0)
          continue;
        const int from = fds[i].fd, to = from == pair.a ? pair.b : pair.a;
        char buffer[16384];
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        bool ok = n > 0;
        for (ssize_t done = 0; ok && done < n;) {
          const ssize_t w = ::send(to, buffer + done, size_t(n - done), MSG_NOSIGNAL);
          ok = w > 0;
          done += ok ? w : 0;
        }
        if (!ok)
          close_pair(pair);
      }
    }
  }

  int target_, port_ = 0, listener_ = -1, wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false}, cut_{false};
  std::atomic<int> accepted_{0};
  std::vector<Pair> pairs_;
  std::thread thread_;
};

}  // namespace zv_test
