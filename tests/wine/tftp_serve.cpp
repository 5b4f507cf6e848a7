// The Windows side of the TFTP check under Wine: serves one file with the server of the
// program (Winsock underneath) on a port the system picks, for Linux's tftp-hpa client.
//   tftp_serve FILE
// Prints "PORT n" once it listens, then "RESULT r BYTES n" when the transfer has ended.
#include "lib/tftptestseam.h"
#include "lib/tftpthread.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char **argv) {
  if (argc == 2 && std::string(argv[1]) == "--make-prefix")
    return 0;  // the harness's first run, which only makes Wine's prefix
  if (argc != 2) {
    std::fprintf(stderr, "usage: tftp_serve FILE\n");
    return 2;
  }
  tftp_seam_set_port(0);
  if (!tftp_start(argv[1])) {
    std::printf("FAIL the server did not start\n");
    return 1;
  }
  std::printf("PORT %d\n", tftp_seam_wait_bound_port());
  std::fflush(stdout);
  // The server ends by itself: after the transfer, or when no request came in its waits.
  while (tftp_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int result = tftp_stop(0);
  std::printf("RESULT %d BYTES %llu\n", result, tftp_bytes_served.load());
  return result == 1 ? 0 : 1;
}
