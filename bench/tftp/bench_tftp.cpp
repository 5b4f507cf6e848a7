// Throughput of the TFTP server against tftpd-hpa, and of the container unpack against cp,
// measured in the same run on the same bytes.
//
// Serving: a 64 MiB file over loopback in 512-byte blocks to the same client (curl with
// --tftp-no-options, so neither server negotiates a larger block), once from our server and
// once from an in.tftpd we start ourselves on a loopback port. Each iteration is one whole
// fetch, client start-up included on both sides.
//
// Unpacking: unpack_nfi of a container holding one 64 MiB partition, against `cp` of a
// plain 64 MiB file; both read from the page cache and write into the same folder.
//
// Run bench/tftp/run.sh for medians and ratios.
#include "lib/tftptestseam.h"
#include "lib/tftpthread.h"
#include "platform/paths.h"
#include "src/imageprep.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

extern char **environ;

namespace {

namespace fs = std::filesystem;

constexpr size_t file_size = 64u << 20;
constexpr int tftpd_port = 16969;

std::string work_dir;

int spawn(const std::vector<std::string> &argv, pid_t *pid_out = nullptr) {
  std::vector<char *> args;
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    return -1;
  if (pid_out) {
    *pid_out = pid;
    return 0;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void write_pattern(const std::string &path, const std::string &prefix) {
  FILE *f = std::fopen(path.c_str(), "wb");
  std::fwrite(prefix.data(), 1, prefix.size(), f);
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
    int rc = spawn(curl_fetch(port));
    if (tftp_stop(0) != 1 || rc != 0) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file_size));
}

void BM_Serve_TftpdHpa(benchmark::State &state) {
  pid_t server = -1;
  // Foreground listen mode on a loopback port, rooted in the work folder.
  if (spawn({"in.tftpd", "-L", "-a", "127.0.0.1:" + std::to_string(tftpd_port), "-s", work_dir}, &server) !=
      0) {
    state.SkipWithError("in.tftpd could not be started (tftpd-hpa installed? run as root)");
    return;
  }
  // Until it answers: a fetch that succeeds.
  bool up = false;
  for (int i = 0; i < 50 && !up; ++i) {
    up = spawn({"curl", "-s", "--tftp-no-options", "-o", "/dev/null",
                "tftp://127.0.0.1:" + std::to_string(tftpd_port) + "/small.bin"}) == 0;
    if (!up)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!up) {
    state.SkipWithError("in.tftpd does not answer");
  } else {
    for (auto _ : state) {
      if (spawn(curl_fetch(tftpd_port)) != 0) {
        state.SkipWithError("transfer failed");
        break;
      }
    }
  }
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file_size));
}

void BM_Unpack_Nfi(benchmark::State &state) {
  std::string image = work_dir + "/image.nfi";
  std::string target = image_files()[0];
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(target.c_str());
    state.ResumeTiming();
    if (unpack_nfi(image.c_str()) != 1) {
      state.SkipWithError("unpack failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file_size));
}

void BM_Unpack_Cp(benchmark::State &state) {
  std::string source = work_dir + "/serve.bin";
  std::string target = temp_dir_path() + "/copy.bin";
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(target.c_str());
    state.ResumeTiming();
    if (spawn({"cp", source, target}) != 0) {
      state.SkipWithError("cp failed");
      break;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file_size));
}

BENCHMARK(BM_Serve_ZeVavi)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Serve_TftpdHpa)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Unpack_Nfi)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Unpack_Cp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char **argv) {
  char dir[] = "/tmp/zv_benchXXXXXX";
  if (!::mkdtemp(dir))
    return 1;
  work_dir = dir;
  ::chmod(dir, 0755);  // in.tftpd drops to "nobody" and must read the file
  ::setenv("XDG_CACHE_HOME", dir, 1);
  std::string error;
  if (!make_temp_dir(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  write_pattern(work_dir + "/serve.bin", "");
  {
    FILE *f = std::fopen((work_dir + "/small.bin").c_str(), "wb");
    std::fputs("x", f);
    std::fclose(f);
    ::chmod((work_dir + "/small.bin").c_str(), 0644);
  }
  // A container with the kernel flag and one record of 64 MiB.
  std::string head("KXB\0\0\0\0\0\0\0\0\x02", 12);
  head += std::string("\xA0\x50\x30\xA0", 4);
  head += std::string{char(file_size >> 24), char(file_size >> 16), char(file_size >> 8), char(file_size)};
  write_pattern(work_dir + "/image.nfi", head);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(work_dir);
  return 0;
}
