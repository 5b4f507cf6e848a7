#include "lib/tftpthread.h"

#include "lib/log.h"
#include "lib/tftpblocks.h"
#include "lib/tftptestseam.h"
#include "platform/threadid.h"
#include "platform/udp.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

std::atomic<int> tftp_result{0};
std::atomic<unsigned long long> tftp_bytes_served{0};

namespace {

using udp::Wait;
using UdpSocket = udp::Socket;

// Module state: one server at a time. tftp_start opens the file and binds the socket; the
// server thread owns both, and the buffers, while it runs, and closes both at its end.
// tftp_start and tftp_stop own the thread handle and the sockets-layer reference, under
// handle_mutex. The mutex makes a second, concurrent tftp_stop wait until the first has
// joined and released everything, so each resource is released once; the server thread
// never takes it.
std::atomic<FILE *> tftp_file{nullptr};
UdpSocket tftp_socket;
std::thread tftp_handle;
bool sockets_held = false;
std::mutex handle_mutex;
std::atomic<bool> server_running{false};
std::atomic<long> server_tid{0};
// tftp_start waits for the thread to say its id. Not through std::atomic's own wait: in the
// C++ library of the Windows build that wait now and then misses its wake-up, and the
// worker then hangs in tftp_start with the server already waiting for the box.
std::mutex tid_mutex;
std::condition_variable tid_known;

// tftp_abort's wake-up. It lives as long as the program, so an abort racing a server's end
// never writes to a closed descriptor; it is cleared when the next server is armed.
// wake_mutex orders an abort against that arming, so an abort that found no server running
// cannot end a later one. Nobody holds it across a wait.
std::mutex wake_mutex;
const udp::Waker wake_up;
// The same abort for the transfer, once under way.
tftp::AbortSignal transfer_abort;

// DATA and ERROR packets are built in the transfer's own buffers (lib/tftptransfer.h).
uint8_t recv_buf[TFTP_PACKET_SIZE];
// The file is read 512 bytes at a time; a larger stdio buffer saves system calls on
// partitions of tens of MiB. It must outlive the FILE, hence module storage.
char file_buffer[64 * 1024];

// Test seam state (lib/tftptestseam.h).
std::atomic<int> seam_port{TFTP_PORT};
std::atomic<int> seam_ack_timeout_ms{TFTP_ACK_TIMEOUT_MS};
std::atomic<int> bound_port{-1};
std::atomic<int> request_waits_begun{0};
std::atomic<int> sockets_users{0};

// The server's log of its transfer.
class ThreadVoice final : public tftp::Voice {
 public:
  void outcome(const tftp::Transfer &t, const tftp::Outcome &o) override {
    using tftp::Event;
    switch (o.event) {
      case Event::Request:
      case Event::Acked:
        log_new_block(t);
        break;
      case Event::Completed:
      case Event::Duplicate:
      case Event::Ignored:
      case Event::Resend:
      case Event::TakenOver:  // only the station takes requests on a socket of their own
      case Event::Kept:
        break;
      case Event::Stranger:
        ZV_LOG(LOG_WARN, "tftp_thread", "datagram from unknown sender %s:%u, answered with ERROR 5",
               udp::dotted(o.reply.to.address).c_str(), unsigned(o.reply.to.port));
        break;
      case Event::ClientError:
        ZV_LOG(LOG_ERROR, "tftp_thread", "received() error!! : [%d]", int(o.code));
        break;
      case Event::BadOpcode:
        ZV_LOG(LOG_ERROR, "tftp_thread", "unknown opcode!! : [%d]", int(o.code));
        break;
      case Event::ReadFailed:
        ZV_LOG(LOG_ERROR, "tftp_thread", "get data error!!");
        break;
      case Event::TimedOut:
        ZV_LOG(LOG_INFO, "tftp_thread", "ACK timeout, sending block again : [%u]", unsigned(t.block()));
        break;
      case Event::GaveUp:
        ZV_LOG(LOG_ERROR, "tftp_thread", "no ACK from the client, giving up at block : [%u]",
               unsigned(t.block()));
        break;
      case Event::Aborted:
        ZV_LOG(LOG_INFO, "tftp_thread", "transfer aborted");
        break;
    }
  }
  void send_failed(const tftp::Reply &, int error) override {
    ZV_LOG(LOG_ERROR, "tftp_thread", "send() error!! : [%d]", error);
  }
  void receive_failed(int error) override {
    ZV_LOG(LOG_ERROR, "tftp_thread", "recv() error!! : [%d]", error);
  }

 private:
  void log_new_block(const tftp::Transfer &t) {
    if (t.block_length() == 0)
      ZV_LOG(LOG_INFO, "tftp_thread", "got eof!!");
    if (t.block() == 0 && !wrap_logged_) {
      // A technician reading the log after a failed flash of a large partition needs this.
      ZV_LOG(LOG_WARN, "tftp_thread",
             "block number wraps from 65535 to 0 (file over 32 MiB); some boot loaders' clients stop here");
      wrap_logged_ = true;
    }
  }

  bool wrap_logged_ = false;
};

// Waits for the read request: six waits of one second, and answers it. Returns false when
// none came, the socket failed or the server was aborted.
bool wait_for_request(const UdpSocket &sock, tftp::Transfer &t, tftp::Voice &voice) {
  for (int wait = 0; wait < TFTP_REQUEST_WAITS; ++wait) {
    request_waits_begun.store(wait + 1);
    Wait w = sock.wait_readable(TFTP_REQUEST_WAIT_MS, &wake_up);
    if (w == Wait::Woken) {
      const tftp::Outcome o = t.abort();
      voice.outcome(t, o);
      tftp::send_reply(sock, o.reply, voice);
      return false;
    }
    if (w == Wait::Failed) {
      long err = udp::last_error();
      if (udp::is_interrupted(err))
        continue;
      ZV_LOG(LOG_ERROR, "tftp_thread", "select() error!! : [%ld]", err);
      return false;
    }
    if (w == Wait::TimedOut)
      continue;
    udp::Peer peer;
    long n = sock.recv_from(recv_buf, sizeof recv_buf, peer);
    if (n < 0) {
      ZV_LOG(LOG_ERROR, "tftp_thread", "recvfrom() error!! : [%d]", udp::last_error());
      continue;
    }
    // The socket is not connected to the client: every datagram reaches the rules, which
    // tell strangers off and keep the transfer to the client.
    const tftp::Outcome o = t.on_datagram({peer.address, peer.port}, recv_buf, size_t(n));
    ZV_LOG(LOG_INFO, "tftp_thread", "sending data!!");
    voice.outcome(t, o);
    tftp::send_reply(sock, o.reply, voice);
    return o.event == tftp::Event::Request;
  }
  ZV_LOG(LOG_INFO, "tftp_thread", "excess timeout-count!!");
  return false;
}

// Everything from the request to the last ACK. Returns true when the file went out whole
// and its last block was acknowledged.
bool serve(const UdpSocket &sock, FILE *file) {
  ZV_LOG(LOG_INFO, "tftp_thread", "Waiting for connection..");
  tftp::Transfer transfer(tftp::file_reader(file), TFTP_ACK_TIMEOUTS);
  ThreadVoice voice;
  if (!wait_for_request(sock, transfer, voice))
    return false;
  const tftp::BlockLoop loop{std::chrono::milliseconds(seam_ack_timeout_ms.load()),
                             &transfer_abort,
                             recv_buf,
                             &tftp_bytes_served,
                             &voice,
                             /*newer_request=*/{}};
  return tftp::send_blocks(sock, transfer, loop);
}

// The socket the server answers from, bound before tftp_start returns. False (logged) when
// it cannot be had; the socket is then closed.
bool open_socket() {
  if (!tftp_socket.open()) {
    ZV_LOG(LOG_ERROR, "tftp_start", "socket() error!! : [%ld]", long(udp::last_error()));
    return false;
  }
  ZV_LOG(LOG_DEBUG, "tftp_start", "socket() ok!!");
  tftp_socket.set_reuse_address();
  if (!tftp_socket.bind_any(uint16_t(seam_port.load()))) {
    ZV_LOG(LOG_ERROR, "tftp_start", "bind() error!! : [%ld]", long(udp::last_error()));
    tftp_socket.close();
    return false;
  }
  bound_port.store(tftp_socket.local_port());
  ZV_LOG(LOG_DEBUG, "tftp_start", "bind() ok!!");
  return true;
}

// Under handle_mutex: waits for the thread, then releases what is still held.
void release_locked() {
  bool had_thread = tftp_handle.joinable();
  if (had_thread)
    tftp_handle.join();
  tftp_socket.close();  // left only by a thread that could not be started
  if (FILE *f = tftp_file.exchange(nullptr)) {
    std::fclose(f);
    ZV_LOG(LOG_DEBUG, "tftp_stop", "fclose()");
  }
  if (had_thread)
    ZV_LOG(LOG_DEBUG, "tftp_stop", "CloseHandle()");
  if (sockets_held) {
    sockets_held = false;
    udp::sockets_cleanup();
    sockets_users.fetch_sub(1);
    ZV_LOG(LOG_DEBUG, "tftp_stop", "WSACleanup()");
  }
}

// Under handle_mutex, for a start that cannot serve: gives back the file and the sockets
// layer it took.
void undo_start() {
  if (FILE *f = tftp_file.exchange(nullptr))
    std::fclose(f);
  udp::sockets_cleanup();
  sockets_users.fetch_sub(1);
}

bool open_file(const char *path) {
  FILE *file = std::fopen(path, "rb");
  if (!file) {
    ZV_LOG(LOG_ERROR, "tftp_start", "fopen(\"%s\", \"rb\") error!", path);
    return false;
  }
  std::setvbuf(file, file_buffer, _IOFBF, sizeof file_buffer);
  tftp_file.store(file);
  ZV_LOG(LOG_DEBUG, "tftp_start", "fopen() ok!!");
  return true;
}

// Under handle_mutex, with file and socket ready: clears an old abort and starts the
// thread. False when the thread could not be started (the file stays for tftp_stop).
bool start_thread() {
  server_tid.store(0);
  {
    std::lock_guard wake_lock(wake_mutex);
    wake_up.clear();
    transfer_abort.arm(bound_port.load());
    server_running.store(true);
  }
  try {
    tftp_handle = std::thread(tftp_thread);
  } catch (const std::system_error &) {
    server_running.store(false);
    ZV_LOG(LOG_ERROR, "tftp_start", "_beginthreadex() error!");
    return false;
  }
  {
    std::unique_lock lock(tid_mutex);
    tid_known.wait(lock, [] { return server_tid.load() != 0; });
  }
  ZV_LOG(LOG_DEBUG, "tftp_start", "TFTP-Server started : %d", int(server_tid.load()));
  return true;
}

}  // namespace

void tftp_thread() {
  {
    std::lock_guard lock(tid_mutex);
    server_tid.store(os_thread_id());
  }
  tid_known.notify_all();

  bool completed = serve(tftp_socket, tftp_file.load());

  if (FILE *f = tftp_file.exchange(nullptr))
    std::fclose(f);
  tftp_socket.close();
  ZV_LOG(LOG_DEBUG, "tftp_thread", "tftp_clean() ok!!");
  tftp_result.store(completed ? 1 : 0);
  server_running.store(false, std::memory_order_release);
}

int tftp_start(const char *path) {
  tftp_result.store(0);
  tftp_bytes_served.store(0);
  bound_port.store(-1);
  request_waits_begun.store(0);
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

  if (!open_file(path))
    return 0;
  if (!wake_up.valid()) {
    ZV_LOG(LOG_ERROR, "tftp_start", "eventfd() error!! : [%d]", udp::last_error());
    std::fclose(tftp_file.exchange(nullptr));
    return 0;
  }
  if (!udp::sockets_startup()) {
    ZV_LOG(LOG_ERROR, "tftp_start", "WSAStartup() error!");
    std::fclose(tftp_file.exchange(nullptr));
    return 0;
  }
  sockets_users.fetch_add(1);
  ZV_LOG(LOG_DEBUG, "tftp_start", "WSAStartup() ok!!");

  if (!open_socket()) {
    undo_start();
    return 0;
  }
  if (!start_thread()) {
    tftp_socket.close();
    bound_port.store(-1);
    udp::sockets_cleanup();
    sockets_users.fetch_sub(1);
    return 0;  // the file stays in tftp_file until tftp_stop
  }
  sockets_held = true;
  return 1;
}

void tftp_abort() {
  std::lock_guard wake_lock(wake_mutex);
  if (!server_running.load())
    return;
  wake_up.wake();
  transfer_abort.raise();
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
  size_t size = tftp::build_error(buffer, unsigned(code), text);
  long sent = sock.send(buffer, size);
  if (sent != long(size)) {
    ZV_LOG(LOG_DEBUG, "do_error_nak", "Send fail!!");
    return 1;
  }
  return 0;
}

void tftp_seam_set_port(int port) { seam_port.store(port < 0 ? TFTP_PORT : port); }

void tftp_seam_set_ack_timeout_ms(int ms) { seam_ack_timeout_ms.store(ms <= 0 ? TFTP_ACK_TIMEOUT_MS : ms); }

int tftp_seam_wait_bound_port() { return bound_port.load(); }

int tftp_seam_request_waits_begun() { return request_waits_begun.load(); }

int tftp_seam_sockets_users() { return sockets_users.load(); }
