#include "lib/tftpstation.h"

#include "lib/log.h"
#include "lib/tftpblocks.h"

#include <algorithm>
#include <functional>

namespace {

const char *const station_name = "tftp_station";
using Clock = std::chrono::steady_clock;

// A wait or receive cut short by a signal is repeated; the sixth in a row means the socket
// itself is in trouble.
constexpr int max_interrupted = 5;

constexpr uint16_t error_access = 2;  // RFC 1350 "Access violation"

}  // namespace

bool StrayLimit::allow(Clock::time_point now, unsigned long long &dropped) {
  if (last_ && now > *last_) {
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - *last_).count();
    tokens_ms_ = std::min<long long>(burst_ * 1000LL, tokens_ms_ + ms * per_second_);
  }
  if (!last_ || now > *last_)
    last_ = now;
  if (tokens_ms_ < 1000) {
    ++dropped_;
    return false;
  }
  tokens_ms_ -= 1000;
  dropped = dropped_;
  dropped_ = 0;
  return true;
}

TftpStation::TftpStation(uint16_t port, int ack_timeout_ms) : port_(port), ack_timeout_ms_(ack_timeout_ms) {}

TftpStation::~TftpStation() { close(); }

bool TftpStation::open(std::string &error) {
  std::lock_guard lock(mutex_);
  if (open_)
    return true;
  if (!stop_.valid()) {
    error = "no wake-up descriptor: " + udp::error_text(udp::last_error());
    return false;
  }
  if (!udp::sockets_startup()) {
    error = "the sockets layer did not start";
    return false;
  }
  sockets_held_ = true;
  udp::Socket sock;
  if (!sock.open() || !sock.set_reuse_address() || !sock.bind_any(port_)) {
    const int code = udp::last_error();
    error = "UDP port " + std::to_string(port_) + ": " + udp::error_text(code);
    ZV_LOG(LOG_ERROR, station_name, "bind() error!! : [%d]", code);
    udp::sockets_cleanup();
    sockets_held_ = false;
    return false;
  }
  socket_ = std::move(sock);
  stop_.clear();
  open_ = true;
  listener_ = std::thread([this] { listen(); });
  ZV_LOG(LOG_INFO, station_name, "serving boxes on UDP port %d", socket_.local_port());
  return true;
}

void TftpStation::close() {
  std::vector<std::thread> transfers;
  {
    std::lock_guard lock(mutex_);
    if (!open_ && !listener_.joinable())
      return;
    open_ = false;
    stop_.wake();
    for (auto &box : boxes_) {
      if (box->state_ == Box::State::Armed) {
        box->state_ = Box::State::Ended;
        box->completed_ = false;
      }
      if (box->state_ == Box::State::Running)
        box->abort_.raise();
      if (box->thread_.joinable())
        transfers.push_back(std::move(box->thread_));
    }
  }
  changed_.notify_all();
  if (listener_.joinable())
    listener_.join();
  if (const unsigned long long dropped = strays_.take_dropped())
    ZV_LOG(LOG_WARN, station_name, "%llu more stray datagrams were neither logged nor answered", dropped);
  for (std::thread &t : transfers)
    t.join();
  {
    std::lock_guard lock(mutex_);
    for (auto &box : boxes_)
      if (box->file_) {
        std::fclose(box->file_);
        box->file_ = nullptr;
      }
  }
  socket_.close();
  if (sockets_held_)
    udp::sockets_cleanup();
  sockets_held_ = false;
}

int TftpStation::local_port() const {
  std::lock_guard lock(mutex_);
  return open_ ? socket_.local_port() : -1;
}

TftpStation::Box *TftpStation::add_box(uint32_t address) {
  std::lock_guard lock(mutex_);
  for (auto &box : boxes_)
    if (box->address_ == address)
      return nullptr;
  boxes_.push_back(std::make_unique<Box>(*this, address));
  return boxes_.back().get();
}

void TftpStation::listen() {
  int interrupted = 0;
  for (;;) {
    udp::Wait w = socket_.wait_readable(1000, &stop_);
    if (w == udp::Wait::Woken)
      return;
    if (w == udp::Wait::TimedOut)
      continue;
    udp::Peer from;
    long n = w == udp::Wait::Ready ? socket_.recv_from(recv_buf_, sizeof recv_buf_, from) : -1;
    if (n < 0) {
      const int err = udp::last_error();
      if (udp::is_interrupted(err) && ++interrupted <= max_interrupted)
        continue;
      // A datagram the system refused to hand over (an ICMP error queued on the socket)
      // costs that datagram only; the boxes still asking must still be heard.
      ZV_LOG(LOG_ERROR, station_name, "recvfrom() error!! : [%d]", err);
      continue;
    }
    interrupted = 0;
    on_request(from, recv_buf_, size_t(n));
  }
}

bool TftpStation::stray_allowed() {
  unsigned long long dropped = 0;
  if (!strays_.allow(Clock::now(), dropped))
    return false;
  if (dropped)
    ZV_LOG(LOG_WARN, station_name, "%llu more stray datagrams were neither logged nor answered", dropped);
  return true;
}

void TftpStation::refuse(const udp::Peer &to, const char *why, size_t asked) {
  constexpr size_t error_header = 5;  // opcode, code, the text's zero
  if (asked < error_header)
    return;
  const std::string text = std::string(why).substr(0, asked - error_header);
  char packet[TFTP_PACKET_SIZE];
  size_t size = tftp::build_error(packet, error_access, text.c_str());
  if (socket_.send_to(to, packet, size) != long(size))
    ZV_LOG(LOG_ERROR, station_name, "send() error to %s : [%d]", udp::dotted(to.address).c_str(),
           udp::last_error());
}

void TftpStation::on_request(const udp::Peer &from, const uint8_t *data, size_t size) {
  const unsigned opcode = size >= 2 ? unsigned(data[0]) << 8 | data[1] : 0;
  const std::string who = udp::dotted(from.address) + ":" + std::to_string(from.port);
  // Only requests open transfers; anything else on this port (a late ACK, an ERROR) is
  // somebody's old datagram, and answering an ERROR could start a loop.
  if (opcode != tftp::OP_RRQ && opcode != 2) {
    if (stray_allowed())
      ZV_LOG(LOG_DEBUG, station_name, "datagram with opcode %u from %s dropped", opcode, who.c_str());
    return;
  }
  std::unique_lock lock(mutex_);
  Box *box = nullptr;
  for (auto &b : boxes_)
    if (b->address_ == from.address)
      box = b.get();
  if (!box) {
    lock.unlock();
    if (!stray_allowed())
      return;
    ZV_LOG(LOG_WARN, station_name, "request from %s, which is no box of this station: refused", who.c_str());
    refuse(from, "No upgrade for this address", size);
    return;
  }
  if (box->state_ == Box::State::Running && opcode == tftp::OP_RRQ &&
      !(tftp::Endpoint{from.address, from.port} == box->client_)) {
    box->newer_request_ = tftp::Endpoint{from.address, from.port};
    const int port = box->transfer_port_;
    lock.unlock();
    // Anyone may send these with the box's address: the transfer always hears of them, the
    // log within the stray limit.
    if (stray_allowed())
      ZV_LOG(LOG_INFO, station_name, "newer request from %s while its transfer runs", who.c_str());
    tftp::poke(port);
    return;
  }
  if (box->state_ == Box::State::Running) {
    // The box repeats a request whose DATA 1 it has not seen yet; its transfer sends that
    // block again on its own time-out.
    ZV_LOG(LOG_DEBUG, station_name, "repeated request from %s while its transfer runs", who.c_str());
    return;
  }
  if (opcode != tftp::OP_RRQ || box->state_ != Box::State::Armed) {
    lock.unlock();
    if (!stray_allowed())
      return;
    ZV_LOG(LOG_WARN, station_name, "request from %s while nothing is served to it: refused", who.c_str());
    refuse(from, opcode == tftp::OP_RRQ ? "Nothing is served to this box now" : "Only reading", size);
    return;
  }
  udp::Socket sock;
  if (!sock.open() || !sock.bind_any(0)) {
    ZV_LOG(LOG_ERROR, station_name, "no transfer socket for %s : [%d]", who.c_str(), udp::last_error());
    // The box's own retry comes back here.
    return;
  }
  box->abort_.arm(sock.local_port());
  box->state_ = Box::State::Running;
  box->client_ = {from.address, from.port};
  box->transfer_port_ = sock.local_port();
  box->newer_request_.reset();
  ZV_LOG(LOG_INFO, station_name, "sending data to %s from port %d", who.c_str(), sock.local_port());
  std::vector<uint8_t> request(data, data + size);
  box->thread_ = std::thread(&Box::transfer, box, std::move(sock), tftp::Endpoint{from.address, from.port},
                             std::move(request));
}

// ---- one box ----

TftpStation::Box::~Box() {
  join_thread();
  if (file_)
    std::fclose(file_);
}

void TftpStation::Box::join_thread() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
    thread_.join();
}

bool TftpStation::Box::start(const std::string &path) {
  const std::string who = udp::dotted(address_);
  std::unique_lock lock(station_.mutex_);
  if (!station_.open_) {
    ZV_LOG(LOG_ERROR, station_name, "[%s] the station is closed", who.c_str());
    return false;
  }
  if (state_ == State::Armed || state_ == State::Running) {
    ZV_LOG(LOG_ERROR, station_name, "[%s] a transfer is still running", who.c_str());
    return false;
  }
  // The thread of the last transfer has stored its end; it is collected here at the latest.
  std::thread old = std::move(thread_);
  lock.unlock();
  if (old.joinable())
    old.join();
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) {
    ZV_LOG(LOG_ERROR, station_name, "[%s] fopen(\"%s\", \"rb\") error!", who.c_str(), path.c_str());
    return false;
  }
  std::setvbuf(file, file_buffer_.data(), _IOFBF, file_buffer_.size());
  lock.lock();
  if (!station_.open_) {
    std::fclose(file);
    return false;
  }
  if (file_)
    std::fclose(file_);
  file_ = file;
  bytes_ = 0;
  completed_ = false;
  request_deadline_ = Clock::now() + std::chrono::milliseconds(TFTP_REQUEST_WAITS * TFTP_REQUEST_WAIT_MS);
  state_ = State::Armed;
  ZV_LOG(LOG_DEBUG, station_name, "[%s] serving %s", who.c_str(), path.c_str());
  return true;
}

bool TftpStation::Box::finish() {
  std::unique_lock lock(station_.mutex_);
  if (state_ == State::Idle)
    return false;
  if (state_ == State::Armed &&
      !station_.changed_.wait_until(lock, request_deadline_, [this] { return state_ != State::Armed; })) {
    ZV_LOG(LOG_INFO, station_name, "[%s] excess timeout-count!!", udp::dotted(address_).c_str());
    state_ = State::Ended;
    completed_ = false;
  }
  station_.changed_.wait(lock, [this] { return state_ != State::Running; });
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  std::thread done = std::move(thread_);
  const bool completed = completed_;
  state_ = State::Idle;
  lock.unlock();
  if (done.joinable())
    done.join();
  return completed;
}

void TftpStation::Box::abort() {
  {
    std::lock_guard lock(station_.mutex_);
    if (state_ == State::Armed) {
      state_ = State::Ended;
      completed_ = false;
    } else if (state_ == State::Running) {
      abort_.raise();
    }
  }
  station_.changed_.notify_all();
}

namespace {

// One box's transfer in the station's log, each line headed by the box's address.
class BoxVoice final : public tftp::Voice {
 public:
  BoxVoice(std::string who, std::function<void(tftp::Endpoint)> new_client)
      : who_(std::move(who)), new_client_(std::move(new_client)) {}

  void outcome(const tftp::Transfer &t, const tftp::Outcome &o) override {
    using tftp::Event;
    switch (o.event) {
      case Event::Stranger:
        ZV_LOG(LOG_WARN, station_name, "[%s] datagram from unknown sender %s:%u, answered with ERROR 5",
               who_.c_str(), udp::dotted(o.reply.to.address).c_str(), unsigned(o.reply.to.port));
        break;
      case Event::ClientError:
        ZV_LOG(LOG_ERROR, station_name, "[%s] received() error!! : [%u]", who_.c_str(), o.code);
        break;
      case Event::BadOpcode:
      case Event::ReadFailed:
        ZV_LOG(LOG_ERROR, station_name, "[%s] transfer failed (opcode or read error %u)", who_.c_str(),
               o.code);
        break;
      case Event::GaveUp:
        ZV_LOG(LOG_ERROR, station_name, "[%s] no ACK from the box, giving up at block : [%u]", who_.c_str(),
               unsigned(t.block()));
        break;
      case Event::Aborted:
        ZV_LOG(LOG_INFO, station_name, "[%s] transfer aborted", who_.c_str());
        break;
      case Event::TakenOver:
        ZV_LOG(LOG_WARN, station_name,
               "[%s] a newer request from port %u takes the transfer over (nothing was acknowledged)",
               who_.c_str(), unsigned(t.client().port));
        new_client_(t.client());
        break;
      case Event::Kept:
        if (!kept_told_)
          ZV_LOG(LOG_WARN, station_name, "[%s] newer requests refused: port %u has acknowledged the transfer",
                 who_.c_str(), unsigned(t.client().port));
        kept_told_ = true;
        break;
      default:
        break;
    }
  }
  void send_failed(const tftp::Reply &reply, int error) override {
    ZV_LOG(LOG_ERROR, station_name, "send() error to %s : [%d]", udp::dotted(reply.to.address).c_str(),
           error);
  }
  void receive_failed(int error) override {
    ZV_LOG(LOG_ERROR, station_name, "[%s] recv() error!! : [%d]", who_.c_str(), error);
  }

 private:
  const std::string who_;
  const std::function<void(tftp::Endpoint)> new_client_;
  bool kept_told_ = false;  // once per transfer is enough
};

}  // namespace

void TftpStation::Box::transfer(udp::Socket sock, tftp::Endpoint client, std::vector<uint8_t> request) {
  const std::string who = udp::dotted(address_);
  FILE *file = file_;  // set before the state went to Running; closed only after it left it
  tftp::Transfer t(tftp::file_reader(file), TFTP_ACK_TIMEOUTS);
  BoxVoice voice(who, [this](tftp::Endpoint now) {
    std::lock_guard lock(station_.mutex_);
    client_ = now;
  });
  const tftp::Outcome o = t.on_datagram(client, request.data(), request.size());
  tftp::send_reply(sock, o.reply, voice);
  uint8_t buf[TFTP_PACKET_SIZE];
  const tftp::BlockLoop loop{std::chrono::milliseconds(station_.ack_timeout_ms_),
                             &abort_,
                             buf,
                             &bytes_,
                             &voice,
                             [this](tftp::Endpoint &newer) {
                               std::lock_guard lock(station_.mutex_);
                               if (!newer_request_)
                                 return false;
                               newer = *newer_request_;
                               newer_request_.reset();
                               return true;
                             }};
  const bool completed = o.event == tftp::Event::Request && tftp::send_blocks(sock, t, loop);
  sock.close();
  if (completed)
    ZV_LOG(LOG_INFO, station_name, "[%s] sent %llu bytes", who.c_str(), bytes_.load());
  {
    std::lock_guard lock(station_.mutex_);
    completed_ = completed;
    state_ = State::Ended;
  }
  station_.changed_.notify_all();
}
