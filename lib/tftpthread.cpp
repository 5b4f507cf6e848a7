#include "lib/tftpthread.h"

#include "lib/log.h"
#include "lib/tftpsocket.h"
#include "lib/tftptestseam.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

std::atomic<int> tftp_result{0};

namespace {

using tftpnet::UdpSocket;
using tftpnet::Wait;
using Clock = std::chrono::steady_clock;

constexpr int OP_DATA = 3;
constexpr int OP_ACK = 4;
constexpr int OP_ERROR = 5;
// A receive cut short by a signal is simply repeated; the sixth in a row means the socket
// itself is in trouble.
constexpr int MAX_INTERRUPTED_RECEIVES = 5;

// Module state: one server at a time. The server thread owns tftp_file and the buffers
// while it runs and clears tftp_file at its end; tftp_start and tftp_stop own the thread
// handle and the sockets-layer reference, under handle_mutex. The mutex makes a second,
// concurrent tftp_stop wait until the first has joined and released everything, so each
// resource is released once; the server thread never takes it.
std::atomic<FILE *> tftp_file{nullptr};
std::thread tftp_handle;
bool sockets_held = false;
std::mutex handle_mutex;
std::atomic<bool> server_running{false};
std::atomic<long> server_tid{0};

char send_buf[TFTP_PACKET_SIZE];
char recv_buf[TFTP_PACKET_SIZE];
// The file is read 512 bytes at a time; a larger stdio buffer saves system calls on
// partitions of tens of MiB. It must outlive the FILE, hence module storage.
char file_buffer[64 * 1024];

// Test seam state (lib/tftptestseam.h).
std::atomic<int> seam_port{TFTP_PORT};
std::atomic<int> seam_ack_timeout_ms{TFTP_ACK_TIMEOUT_MS};
std::atomic<int> bound_port{-1};  // 0 while the server binds, >0 bound, -1 not bound
std::atomic<int> sockets_users{0};

void publish_bound_port(int port) {
  bound_port.store(port);
  bound_port.notify_all();
}

unsigned get16(const char *p) { return unsigned(uint8_t(p[0])) << 8 | uint8_t(p[1]); }

void put16(char *p, unsigned v) {
  p[0] = char(v >> 8);
  p[1] = char(v);
}

// Waits for the read request: six waits of one second. Returns false when none came or
// the socket failed; the sender's address is left in `peer`.
bool wait_for_request(const UdpSocket &sock, tftpnet::Peer &peer) {
  for (int wait = 0; wait < TFTP_REQUEST_WAITS; ++wait) {
    Wait w = sock.wait_readable(TFTP_REQUEST_WAIT_MS);
    if (w == Wait::Failed) {
      long err = tftpnet::last_error();
      if (err == tftpnet::error_interrupted)
        continue;
      ZV_LOG(LOG_ERROR, "tftp_thread", "select() error!! : [%ld]", err);
      return false;
    }
    if (w == Wait::TimedOut)
      continue;
    if (sock.recv_from(recv_buf, sizeof recv_buf, peer) >= 0)
      return true;
    ZV_LOG(LOG_ERROR, "tftp_thread", "recvfrom() error!! : [%d]", tftpnet::last_error());
  }
  ZV_LOG(LOG_INFO, "tftp_thread", "excess timeout-count!!");
  return false;
}

// Everything from the socket to the last ACK. Returns true when the file went out whole
// and its last block was acknowledged.
bool serve(UdpSocket &sock, FILE *file) {
  if (!sock.open()) {
    ZV_LOG(LOG_ERROR, "tftp_thread", "socket() error!! : [%ld]", long(tftpnet::last_error()));
    return false;
  }
  ZV_LOG(LOG_DEBUG, "tftp_thread", "socket() ok!!");
  sock.set_reuse_address();
  if (!sock.bind_any(uint16_t(seam_port.load()))) {
    ZV_LOG(LOG_ERROR, "tftp_thread", "bind() error!! : [%ld]", long(tftpnet::last_error()));
    return false;
  }
  publish_bound_port(sock.local_port());
  ZV_LOG(LOG_DEBUG, "tftp_thread", "bind() ok!!");
  ZV_LOG(LOG_INFO, "tftp_thread", "Waiting for connection..");

  tftpnet::Peer peer;
  if (!wait_for_request(sock, peer))
    return false;
  if (!sock.connect(peer))
    ZV_LOG(LOG_ERROR, "tftp_thread", "connect() error!!");
  ZV_LOG(LOG_INFO, "tftp_thread", "sending data!!");

  const int ack_timeout_ms = seam_ack_timeout_ms.load();
  const auto ack_timeout = std::chrono::milliseconds(ack_timeout_ms);
  const bool timed_receive = sock.set_receive_timeout(ack_timeout_ms);
  uint16_t j = 1;  // wraps 65535 -> 0, as the box's client expects
  int failed_receives = 0;
  bool wrap_logged = false;
  for (;;) {
    size_t k = std::fread(send_buf + 4, 1, TFTP_BLOCK_SIZE, file);
    if (k < size_t(TFTP_BLOCK_SIZE) && std::ferror(file)) {
      ZV_LOG(LOG_ERROR, "tftp_thread", "get data error!!");
      do_error_nak(sock, 0, "error", send_buf);
      return false;
    }
    if (k == 0)
      ZV_LOG(LOG_INFO, "tftp_thread", "got eof!!");
    put16(send_buf, OP_DATA);
    put16(send_buf + 2, j);
    // Set by a repeated ACK of the previous block: answering every duplicate ACK with
    // another copy doubles the traffic for the rest of the transfer (RFC 1350's Sorcerer's
    // Apprentice bug), so that block is then only sent again when its time-out passes.
    bool no_resend = false;
    int timeouts = 0;
    Clock::time_point deadline{};

    bool acked = false;
    while (!acked) {
      bool sent_now = !no_resend;
      if (sent_now) {
        long sent = sock.send(send_buf, 4 + k);
        if (sent != long(4 + k))
          ZV_LOG(LOG_ERROR, "tftp_thread", "send() error!! : [%d]", sent < 0 ? tftpnet::last_error() : 0);
        deadline = Clock::now() + ack_timeout;
      }

      // One datagram, or the block's time-out, measured from its last send so that a
      // stream of wrong datagrams cannot hold the block back for ever. Right after a send
      // the whole time-out lies ahead, and one receive bounded by the socket's own time-out
      // does (the common case, once per block: no extra wait call); otherwise wait for
      // what is left of it.
      std::memset(recv_buf, 0, 4);  // a runt datagram reads as zeros, not as stale bytes
      long got = -1;
      bool timed_out = false;
      if (sent_now && timed_receive) {
        got = sock.recv(recv_buf, sizeof recv_buf);
        timed_out = got < 0 && tftpnet::is_timeout(tftpnet::last_error());
      } else {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        Wait w = sock.wait_readable(left.count() > 0 ? int(left.count()) : 0);
        timed_out = w == Wait::TimedOut;
        if (w == Wait::Ready)
          got = sock.recv(recv_buf, sizeof recv_buf);
      }
      if (timed_out) {
        if (++timeouts >= TFTP_ACK_TIMEOUTS) {
          ZV_LOG(LOG_ERROR, "tftp_thread", "no ACK from the client, giving up at block : [%u]", unsigned(j));
          return false;
        }
        ZV_LOG(LOG_INFO, "tftp_thread", "ACK timeout, sending block again : [%u]", unsigned(j));
        // A lost DATA block is only recovered by sending it again, duplicate ACKs or not.
        no_resend = false;
        continue;
      }
      if (got < 0) {
        int err = tftpnet::last_error();
        if (err == tftpnet::error_interrupted && ++failed_receives <= MAX_INTERRUPTED_RECEIVES)
          continue;
        ZV_LOG(LOG_ERROR, "tftp_thread", "recv() error!! : [%d]", err);
        return false;
      }
      failed_receives = 0;

      unsigned opcode = get16(recv_buf);
      unsigned block = get16(recv_buf + 2);
      if (opcode == OP_ERROR) {
        ZV_LOG(LOG_ERROR, "tftp_thread", "received() error!! : [%d]", int(block));
        return false;
      }
      if (opcode != OP_ACK) {
        ZV_LOG(LOG_ERROR, "tftp_thread", "unknown opcode!! : [%d]", int(opcode));
        do_error_nak(sock, 0, "error", send_buf);
        return false;
      }
      if (block == j) {
        acked = true;
        break;
      }
      if (block == uint16_t(j - 1) && j != 0)
        no_resend = true;
      // Whatever queued up behind the stray ACK: the ACK we wait for ends the wait, the rest
      // (old ACKs from the client's retries) is dropped.
      while (sock.wait_readable(0) == Wait::Ready) {
        std::memset(recv_buf, 0, 4);
        long n = sock.recv(recv_buf, sizeof recv_buf);
        if (n == 4 && get16(recv_buf) == OP_ACK && get16(recv_buf + 2) == j) {
          acked = true;
          break;
        }
      }
    }

    if (k < size_t(TFTP_BLOCK_SIZE))
      return true;
    ++j;
    if (j == 0 && !wrap_logged) {
      // A technician reading the log after a failed flash of a large partition needs this.
      ZV_LOG(LOG_WARN, "tftp_thread",
             "block number wraps from 65535 to 0 (file over 32 MiB); some boot loaders' clients stop here");
      wrap_logged = true;
    }
  }
}

// Under handle_mutex: waits for the thread, then releases what is still held.
void release_locked() {
  bool had_thread = tftp_handle.joinable();
  if (had_thread)
    tftp_handle.join();
  if (FILE *f = tftp_file.exchange(nullptr)) {
    std::fclose(f);
    ZV_LOG(LOG_DEBUG, "tftp_stop", "fclose()");
  }
  if (had_thread)
    ZV_LOG(LOG_DEBUG, "tftp_stop", "CloseHandle()");
  if (sockets_held) {
    sockets_held = false;
    tftpnet::sockets_cleanup();
    sockets_users.fetch_sub(1);
    ZV_LOG(LOG_DEBUG, "tftp_stop", "WSACleanup()");
  }
}

}  // namespace

void tftp_thread() {
  server_tid.store(tftpnet::os_thread_id());
  server_tid.notify_all();

  UdpSocket sock;
  bool completed = serve(sock, tftp_file.load());

  if (FILE *f = tftp_file.exchange(nullptr))
    std::fclose(f);
  sock.close();
  int binding = 0;
  if (bound_port.compare_exchange_strong(binding, -1))
    bound_port.notify_all();
  ZV_LOG(LOG_DEBUG, "tftp_thread", "tftp_clean() ok!!");
  tftp_result.store(completed ? 1 : 0);
  server_running.store(false, std::memory_order_release);
}

int tftp_start(const char *path) {
  tftp_result.store(0);
  publish_bound_port(-1);
  if (!path || !*path) {
    ZV_LOG(LOG_ERROR, "tftp_start", "File Name is empty or null!!");
    return 0;
  }

  std::lock_guard lock(handle_mutex);
  if (server_running.load()) {
    // Two servers would share port 69 and the buffers.
    ZV_LOG(LOG_ERROR, "tftp_start", "TFTP-Server is still running!!");
    return 0;
  }
  // A server that ended without a tftp_stop (or a file left by a failed start).
  release_locked();

  FILE *file = std::fopen(path, "rb");
  if (!file) {
    ZV_LOG(LOG_ERROR, "tftp_start", "fopen(\"%s\", \"rb\") error!", path);
    return 0;
  }
  std::setvbuf(file, file_buffer, _IOFBF, sizeof file_buffer);
  tftp_file.store(file);
  ZV_LOG(LOG_DEBUG, "tftp_start", "fopen() ok!!");

  if (!tftpnet::sockets_startup()) {
    ZV_LOG(LOG_ERROR, "tftp_start", "WSAStartup() error!");
    if (FILE *f = tftp_file.exchange(nullptr))
      std::fclose(f);
    return 0;
  }
  sockets_users.fetch_add(1);
  ZV_LOG(LOG_DEBUG, "tftp_start", "WSAStartup() ok!!");

  server_tid.store(0);
  bound_port.store(0);
  server_running.store(true);
  try {
    tftp_handle = std::thread(tftp_thread);
  } catch (const std::system_error &) {
    server_running.store(false);
    publish_bound_port(-1);
    ZV_LOG(LOG_ERROR, "tftp_start", "_beginthreadex() error!");
    tftpnet::sockets_cleanup();
    sockets_users.fetch_sub(1);
    return 0;  // the file stays in tftp_file until tftp_stop
  }
  sockets_held = true;
  server_tid.wait(0);
  ZV_LOG(LOG_DEBUG, "tftp_start", "TFTP-Server started : %d", int(server_tid.load()));
  return 1;
}

int tftp_stop(int nowait) {
  std::lock_guard lock(handle_mutex);
  if (nowait && server_running.load())
    return tftp_result.load();
  release_locked();
  return tftp_result.load();
}

bool tftp_running() { return server_running.load(std::memory_order_acquire); }

int do_error_nak(const UdpSocket &sock, int code, const char *text, char *buffer) {
  if (!buffer)
    return 1;
  size_t len = text ? std::strlen(text) : 0;
  if (len > size_t(TFTP_PACKET_SIZE - 5))
    len = size_t(TFTP_PACKET_SIZE - 5);
  put16(buffer, OP_ERROR);
  put16(buffer + 2, unsigned(code));
  if (len)
    std::memcpy(buffer + 4, text, len);
  buffer[4 + len] = 0;
  long sent = sock.send(buffer, 5 + len);
  if (sent != long(5 + len)) {
    ZV_LOG(LOG_DEBUG, "do_error_nak", "Send fail!!");
    return 1;
  }
  return 0;
}

void tftp_seam_set_port(int port) { seam_port.store(port < 0 ? TFTP_PORT : port); }

void tftp_seam_set_ack_timeout_ms(int ms) { seam_ack_timeout_ms.store(ms <= 0 ? TFTP_ACK_TIMEOUT_MS : ms); }

int tftp_seam_wait_bound_port() {
  int port;
  while ((port = bound_port.load()) == 0)
    bound_port.wait(0);
  return port;
}

int tftp_seam_sockets_users() { return sockets_users.load(); }
