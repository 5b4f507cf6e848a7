// The server's start as the worker meets it at every flash step: tftp_start returns once the
// thread runs, however the two threads interleave. Built for Windows too, where a start that
// missed the thread's word hung the upgrade with the server already waiting for the box.
#include "lib/tftpthread.h"
#include "lib/tftptestseam.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace {

TEST(TftpStart, ReturnsEveryTimeTheThreadRuns) {
  namespace fs = std::filesystem;
  const fs::path file = fs::temp_directory_path() / "zevavi-tftp-start.bin";
  std::ofstream(file, std::ios::binary) << std::string(1000, 'x');
  tftp_seam_set_port(0);
  constexpr int starts = 400;
  for (int i = 0; i < starts; ++i) {
    // The start runs beside a bounded wait: a hung start cannot be joined, so the program
    // ends there with the count, rather than waiting for the suite's time-out.
    auto started = std::async(std::launch::async, [&] { return tftp_start(file.string().c_str()); });
    if (started.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      std::fprintf(stderr, "tftp_start %d of %d did not return\n", i + 1, starts);
      std::fflush(stderr);
      std::_Exit(1);
    }
    ASSERT_EQ(started.get(), 1) << "start " << i + 1;
    tftp_abort();
    tftp_stop(0);
  }
  tftp_seam_set_port(-1);
  EXPECT_EQ(tftp_seam_sockets_users(), 0);
  std::error_code ignored;
  fs::remove(file, ignored);
}

}  // namespace
