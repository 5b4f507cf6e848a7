// The Windows side of the serial check under Wine: the port is a pty behind Wine's COM
// mapping, and the far end is the Linux harness (serial_com5.py), which follows this
// program's report lines on its standard output:
//   comm_check PORT SEND_COUNT RECEIVE_COUNT
// It opens the port as the port component does (overlapped, exclusive, 115200 8N1),
// proves a second open refused, sends SEND_COUNT bytes of a known pattern, receives
// RECEIVE_COUNT bytes of another through WaitCommEvent and overlapped reads, does the same
// through the port component (TComPort, its event thread on this backend), then waits for
// the far end to vanish. Exit status 0 when every step went as it should.
#include "comport/serport.h"
#include "lib/log.h"
#include "platform/comm.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

unsigned char sent_byte(uint32_t i) { return static_cast<unsigned char>(i * 7 + 3); }
unsigned char received_byte(uint32_t i) { return static_cast<unsigned char>(i * 13 + 5); }

int fail(const char *what, uint32_t error) {
  std::printf("FAIL %s %u %s\n", what, error, comm_error_text(error).c_str());
  std::fflush(stdout);
  return 1;
}

void say(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::string(argv[1]) == "--make-prefix")
    return 0;  // the harness's first run, which only makes Wine's prefix
  if (argc != 4) {
    std::fprintf(stderr, "usage: comm_check PORT SEND_COUNT RECEIVE_COUNT\n");
    return 2;
  }
  const std::string port_arg = argv[1];
  const uint32_t send_count = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const uint32_t receive_count = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));

  std::shared_ptr<CommDevice> dev;
  uint32_t rc = comm_os_backend().CreateFile(port_arg, true, dev);
  if (rc != COMM_OK)
    return fail("open", rc);
  CommDcb dcb;
  dcb.BaudRate = 115200;
  dcb.Flags = DCB_BINARY;
  dcb.ByteSize = 8;
  dcb.Parity = 0;
  dcb.StopBits = 0;
  CommTimeouts timeouts;
  timeouts.ReadIntervalTimeout = COMM_MAXDWORD;  // a read returns what is there
  if ((rc = dev->SetupComm(4096, 4096)) != COMM_OK)
    return fail("SetupComm", rc);
  if ((rc = dev->SetCommState(dcb)) != COMM_OK)
    return fail("SetCommState", rc);
  if ((rc = dev->SetCommTimeouts(timeouts)) != COMM_OK)
    return fail("SetCommTimeouts", rc);
  if ((rc = dev->SetCommMask(COMM_EV_RXCHAR | COMM_EV_ERR)) != COMM_OK)
    return fail("SetCommMask", rc);
  if ((rc = dev->PurgeComm(COMM_PURGE_RXCLEAR | COMM_PURGE_TXCLEAR)) != COMM_OK)
    return fail("PurgeComm", rc);
  uint32_t status = 0;
  if ((rc = dev->GetCommModemStatus(status)) != COMM_OK)
    return fail("GetCommModemStatus", rc);
  say("OPEN " + std::to_string(status));

  std::shared_ptr<CommDevice> second;
  uint32_t again = comm_os_backend().CreateFile(port_arg, true, second);
  say("EXCLUSIVE " + std::to_string(again));
  if (again != COMM_ERR_ACCESS_DENIED)
    return fail("second open", again);

  std::vector<char> out(send_count);
  for (uint32_t i = 0; i < send_count; ++i)
    out[i] = static_cast<char>(sent_byte(i));
  CommAsync write_op;
  uint32_t done = 0;
  rc = dev->WriteFile(out.data(), send_count, done, &write_op);
  if (rc == COMM_ERR_IO_PENDING)
    rc = dev->GetOverlappedResult(write_op, done, true);
  if (rc != COMM_OK || done != send_count)
    return fail("write", rc);
  say("SENT " + std::to_string(done));

  std::vector<char> in(receive_count);
  uint32_t got = 0;
  int events = 0;
  while (got < receive_count) {
    uint32_t mask = 0;
    if ((rc = dev->WaitCommEvent(mask, nullptr, 20000)) != COMM_OK)
      return fail("WaitCommEvent", rc);
    if (mask == 0)
      return fail("nothing came", COMM_ERR_SEM_TIMEOUT);
    ++events;
    CommAsync read_op;
    uint32_t n = 0;
    rc = dev->ReadFile(in.data() + got, receive_count - got, n, &read_op);
    if (rc == COMM_ERR_IO_PENDING)
      rc = dev->GetOverlappedResult(read_op, n, true);
    if (rc != COMM_OK)
      return fail("read", rc);
    got += n;
  }
  for (uint32_t i = 0; i < receive_count; ++i)
    if (static_cast<unsigned char>(in[i]) != received_byte(i))
      return fail("received byte differs at", i);
  say("RECEIVED " + std::to_string(got) + " after " + std::to_string(events) + " events");

  // The same line through the port component, as the program uses it: its event thread
  // delivers the received bytes (no GUI thread here, so it delivers them itself).
  dev->CloseHandle();
  {
    TComPort port;
    port.SetPort(port_arg);
    port.SetBaudRate(br115200);
    std::mutex m;
    std::condition_variable cv;
    std::string got_text;
    // The component logs what goes wrong in its event thread; ZV_COMM_CHECK_LOG names a file.
    if (const char *log = std::getenv("ZV_COMM_CHECK_LOG"))
      log_open(log, LOG_HEX);
    port.OnRxChar = [&](TCustomComPort *p, int count) {
      std::string chunk;
      p->ReadStr(chunk, count);
      std::lock_guard lock(m);
      got_text += chunk;
      cv.notify_all();
    };
    try {
      port.Open();
    } catch (const std::exception &e) {
      std::printf("FAIL component open: %s\n", e.what());
      return 1;
    }
    say("COMPONENT-OPEN");
    const std::string line = "through the component\r\n";
    if (port.WriteStr(line) != static_cast<int>(line.size()))
      return fail("component write", COMM_ERR_GEN_FAILURE);
    std::unique_lock lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return got_text.size() >= receive_count; }))
      return fail("component received too little", static_cast<uint32_t>(got_text.size()));
    for (uint32_t i = 0; i < receive_count; ++i)
      if (static_cast<unsigned char>(got_text[i]) != received_byte(i))
        return fail("component byte differs at", i);
    say("COMPONENT-RECEIVED " + std::to_string(got_text.size()));
    lock.unlock();
    port.Close();
  }
  if ((rc = comm_os_backend().CreateFile(port_arg, true, dev)) != COMM_OK)
    return fail("reopen", rc);

  // The far end closes now; the next wait or read must report the device gone, not hang
  // or pass as "no data".
  say("AWAIT-GONE");
  uint32_t gone = COMM_OK;
  for (int round = 0; round < 100 && gone == COMM_OK; ++round) {
    uint32_t mask = 0;
    gone = dev->WaitCommEvent(mask, nullptr, 20000);
    if (gone != COMM_OK)
      break;
    if (mask == 0)
      return fail("no sign of the far end going", COMM_ERR_SEM_TIMEOUT);
    char byte;
    uint32_t n = 0;
    gone = dev->ReadFile(&byte, 1, n, nullptr);
    if (gone == COMM_OK && n == 1)
      return fail("a byte after the far end went", COMM_OK);
  }
  say("GONE " + std::to_string(gone) + " " + comm_error_text(gone));
  dev->CloseHandle();
  // The port is free again once closed.
  std::shared_ptr<CommDevice> third;
  uint32_t reopen = comm_os_backend().CreateFile(port_arg, true, third);
  say("CLOSED " + std::to_string(reopen));
  return gone == COMM_ERR_DEVICE_NOT_CONNECTED ? 0 : 1;
}
