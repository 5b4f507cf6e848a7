// Throughput of the TFTP server against tftpd-hpa and atftpd, measured in the same run on the
// same bytes: a 64 MiB file over loopback in 512-byte blocks to the same client (curl with
// --tftp-no-options, so no server negotiates a larger block), from our server and from peer
// servers we start ourselves on loopback ports (never port 69). Each iteration is one whole
// fetch, client start-up included on every side.
//
// The atftpd binary is taken from $ZV_ATFTPD (bench/tftp/run.sh unpacks it from its Debian
// package into the build folder); without it that peer reports an error and the others run.
//
// Run bench/tftp/run.sh for medians and ratios.
#include "bench/support/sidebyside.h"
#include "lib/tftptestseam.h"
#include "lib/tftpthread.h"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr size_t file_size = 64u << 20;
constexpr int tftpd_port = 16969;
constexpr int atftpd_port = 16970;

std::string work_dir;

void write_pattern(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "wb");
  std::vector<char> block(1 << 20);
  uint32_t x = 12345;
  for (size_t done = 0; done < file_size; done += block.size()) {
    for (auto &c : block) {
      x = x * 1664525u + 1013904223u;
      c = char(x >> 24);
    }
    std::fwrite(block.data(), 1, block.size(), f);
  }
  std::fclose(f);
  ::chmod(path.c_str(), 0644);
}

std::vector<std::string> curl_fetch(int port) {
  return {"curl",
          "-s",
          "-S",
          "--tftp-no-options",
          "-o",
          "/dev/null",
          "tftp://127.0.0.1:" + std::to_string(port) + "/serve.bin"};
}

void BM_Serve_ZeVavi(benchmark::State &state) {
  tftp_seam_set_port(0);
  std::string path = work_dir + "/serve.bin";
  for (auto _ : state) {
    if (tftp_start(path.c_str()) != 1) {
      state.SkipWithError("tftp_start failed");
      break;
    }
    int port = tftp_seam_wait_bound_port();
    int rc = bench::spawn_program(curl_fetch(port));
    if (tftp_stop(0) != 1 || rc != 0) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file_size));
}

// Fetches from a peer server started with `argv` (listening on `port`) until the state ends.
void serve_from_peer(benchmark::State &state, const std::vector<std::string> &argv, int port) {
  pid_t server = -1;
  if (bench::spawn_program(argv, &server) != 0) {
    state.SkipWithError((argv[0] + " could not be started").c_str());
    return;
  }
  // Until it answers: a fetch that succeeds.
  bool up = false;
  for (int i = 0; i < 50 && !up; ++i) {
    up = bench::spawn_program({"curl", "-s", "--tftp-no-options", "-o", "/dev/null",
                               "tftp://127.0.0.1:" + std::to_string(port) + "/small.bin"}) == 0;
    if (!up)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!up) {
    state.SkipWithError((argv[0] + " does not answer").c_str());
  } else {
    for (auto _ : state) {
      if (bench::spawn_program(curl_fetch(port)) != 0) {
        state.SkipWithError("transfer failed");
        break;
      }
    }
  }
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file_size));
}

// Foreground listen mode on a loopback port, rooted in the work folder (it chroots and drops
// to "nobody": run as root).
void BM_Serve_TftpdHpa(benchmark::State &state) {
  serve_from_peer(state, {"in.tftpd", "-L", "-a", "127.0.0.1:" + std::to_string(tftpd_port), "-s", work_dir},
                  tftpd_port);
}

// Standalone and in the foreground on a loopback port, logging nowhere.
void BM_Serve_Atftpd(benchmark::State &state) {
  const char *binary = std::getenv("ZV_ATFTPD");
  if (!binary || !*binary) {
    state.SkipWithError("ZV_ATFTPD does not name an atftpd binary (run bench/tftp/run.sh)");
    return;
  }
  serve_from_peer(
      state,
      {binary, "--daemon", "--no-fork", "--bind-address", "127.0.0.1", "--port", std::to_string(atftpd_port),
       "--logfile", "/dev/null", "--user", "nobody", "--group", "nogroup", work_dir},
      atftpd_port);
}

BENCHMARK(BM_Serve_ZeVavi)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Serve_TftpdHpa)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Serve_Atftpd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char **argv) {
  char dir[] = "/tmp/zv_benchXXXXXX";
  if (!::mkdtemp(dir))
    return 1;
  work_dir = dir;
  ::chmod(dir, 0755);  // the peers drop to "nobody" and must read the file
  write_pattern(work_dir + "/serve.bin");
  {
    FILE *f = std::fopen((work_dir + "/small.bin").c_str(), "wb");
    std::fputs("x", f);
    std::fclose(f);
    ::chmod((work_dir + "/small.bin").c_str(), 0644);
  }

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(work_dir);
  return 0;
}
