// The TFTP server against real clients nobody here wrote: tftp-hpa's tftp, atftp and curl.
// Each fetches files of awkward sizes; the bytes fetched must equal the file.
#include "lib/tftptestseam.h"
#include "lib/tftpthread.h"
#include "tests/lib/logcapture.h"
#include "tests/lib/tftpclient.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

bool on_path(const std::string &program) {
  std::string cmd = "command -v " + program + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// Runs a program with its output discarded; returns its exit status, or -1 when it could
// not be started or had to be killed (a client that hangs must not hang the suite).
int run_program(const std::vector<std::string> &argv) {
  zv_test::Child child;
  if (!child.start(argv))
    return -1;
  const int code = child.wait_exit(std::chrono::seconds(120));
  return code >= zv_test::kSignalled ? -1 : code;
}

enum class Client { TftpHpa, Atftp, Curl };

const char *client_program(Client c) {
  switch (c) {
    case Client::TftpHpa:
      return "tftp";
    case Client::Atftp:
      return "atftp";
    case Client::Curl:
      return "curl";
  }
  return "";
}

// The command line that fetches `remote` from 127.0.0.1:port into `local`, as a user would
// type it: default options, binary mode.
std::vector<std::string> fetch_command(Client c, int port, const std::string &local) {
  const std::string p = std::to_string(port);
  const std::string remote = "ky_tmp/kernel_cfe_auto.bin";
  switch (c) {
    case Client::TftpHpa:
      return {"tftp", "-m", "binary", "127.0.0.1", p, "-c", "get", remote, local};
    case Client::Atftp:
      return {"atftp", "--get", "-r", remote, "-l", local, "127.0.0.1", p};
    case Client::Curl:
      return {"curl", "-s", "-S", "-o", local, "tftp://127.0.0.1:" + p + "/" + remote};
  }
  return {};
}

// FNV-1a: a short fingerprint for the failure message; the check itself compares bytes.
uint64_t fingerprint(const Bytes &b) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : b)
    h = (h ^ c) * 1099511628211ull;
  return h;
}

struct InteropCase {
  Client client;
  size_t size;
};

class TftpInterop : public ::testing::TestWithParam<InteropCase> {
 protected:
  void SetUp() override {
    tftp_seam_set_port(0);
    if (!on_path(client_program(GetParam().client)))
      GTEST_SKIP() << client_program(GetParam().client) << " is not installed (./test installs it)";
  }
  void TearDown() override {
    tftp_stop(0);
    tftp_seam_set_port(-1);
  }
  LogCapture log_;
};

TEST_P(TftpInterop, ClientFetchesTheExactBytes) {
  const InteropCase &c = GetParam();
  Bytes content = test_pattern(c.size, unsigned(c.size) + 3);
  std::string source = write_temp_file(content);
  std::string local = source + ".fetched";
  ASSERT_EQ(tftp_start(source.c_str()), 1);
  int port = tftp_seam_wait_bound_port();
  ASSERT_GT(port, 0);

  int status = run_program(fetch_command(c.client, port, local));
  int result = tftp_stop(0);
  auto got = read_whole_file(local);
  std::remove(source.c_str());
  std::remove(local.c_str());

  EXPECT_EQ(status, 0);
  EXPECT_EQ(result, 1) << log_.text();
  ASSERT_TRUE(got.has_value()) << "the client wrote no file";
  EXPECT_EQ(got->size(), content.size());
  EXPECT_EQ(fingerprint(*got), fingerprint(content));
  EXPECT_TRUE(*got == content);
}

std::vector<InteropCase> interop_cases() {
  std::vector<InteropCase> cases;
  for (Client client : {Client::TftpHpa, Client::Atftp, Client::Curl})
    for (size_t size : {size_t(0), size_t(511), size_t(512), size_t(1000), size_t(1024), size_t(1024 * 1024)})
      cases.push_back({client, size});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Clients, TftpInterop, ::testing::ValuesIn(interop_cases()),
                         [](const auto &test_case) {
                           return std::string(test_case.param.client == Client::TftpHpa ? "TftpHpa"
                                              : test_case.param.client == Client::Atftp ? "Atftp"
                                                                                        : "Curl") +
                                  "_" + std::to_string(test_case.param.size);
                         });

bool write_text(const char *path, const std::string &text) {
  int fd = ::open(path, O_WRONLY);
  if (fd < 0)
    return false;
  bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ::close(fd);
  return ok;
}

// Moves the calling (single-threaded, forked) process into a network namespace of its own
// with loopback up. As root that is a plain new namespace; otherwise a user namespace of our
// own gives the rights to do it, and to bind port 69 inside it.
bool enter_private_network() {
  if (::unshare(CLONE_NEWNET) != 0) {
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
      return false;
    write_text("/proc/self/setgroups", "deny");
    if (!write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      return false;
  }
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP;
  ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  ::close(fd);
  return ok;
}

// The production port: the box's client asks port 69 and names no other. Run in a child in
// a private network namespace, so port 69 of the machine is neither needed nor touched.
TEST(TftpPort69, TftpHpaFetchesFromTheRealPortInAPrivateNamespace) {
  if (!on_path("tftp"))
    GTEST_SKIP() << "tftp (tftp-hpa) is not installed (./test installs it)";
  Bytes content = test_pattern(100000, 69);
  std::string source = write_temp_file(content);
  std::string local = source + ".fetched";

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!enter_private_network())
      ::_exit(77);
    tftp_seam_set_port(-1);
    if (tftp_start(source.c_str()) != 1 || tftp_seam_wait_bound_port() != TFTP_PORT)
      ::_exit(2);
    int status =
        run_program({"tftp", "-m", "binary", "127.0.0.1", "-c", "get", "ky_tmp/root_cfe_auto.jffs2", local});
    int result = tftp_stop(0);
    auto got = read_whole_file(local);
    ::_exit(status != 0 ? 3 : result != 1 ? 4 : !got || *got != content ? 5 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::remove(source.c_str());
  std::remove(local.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no private network namespace could be made (needs root or user namespaces)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2 start/bind, 3 client failed, 4 server result, 5 bytes differ";
}

}  // namespace
