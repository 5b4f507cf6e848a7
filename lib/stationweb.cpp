#include "lib/stationweb.h"

#include "lib/jsontext.h"
#include "lib/records.h"
#include "lib/recordsdb.h"
#include "lib/stationweb_files.h"
#include "platform/net.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <list>
#include <map>
#include <optional>
#include <mutex>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// cpp-httplib bounds a request line and each header line (8 KiB) and the read of each piece
// (its read time-out), not a request as a whole; these bounds are kept around it.
constexpr int max_streams = 8;                          // event streams at once
constexpr int worker_count = max_streams + 8;           // so that pages still load meanwhile
constexpr size_t max_waiting = 64;                      // connections waiting for a worker
constexpr auto head_time = std::chrono::seconds(10);    // to send a request's head, whole
constexpr auto answer_time = std::chrono::seconds(60);  // to take an answer (a records download)
constexpr size_t max_head_fields = 64, max_head_bytes = 16 * 1024, max_body = 1024;
constexpr size_t default_records = 100, max_records = 1000, max_mac_text = 64;
constexpr size_t stream_backlog = 256;                  // events a slow stream may lag behind
constexpr auto stream_ping = std::chrono::seconds(15);  // a comment on a quiet stream

// A worker pool of a fixed size that knows each connection it serves, so that a deadline can
// be kept for the whole of a request: a client that sends its head a byte every few seconds
// passes every read time-out, and is cut off here instead.
class GuardedPool final : public httplib::TaskQueue {
 public:
  explicit GuardedPool(std::function<int()> port) : port_(std::move(port)) {
    for (int i = 0; i < worker_count; ++i)
      workers_.emplace_back([this] { work(); });
    watchdog_ = std::thread([this] { watch(); });
  }
  ~GuardedPool() override { shutdown(); }

  // On the accepting thread, just after the connection was accepted.
  void enqueue(std::function<void()> fn) override {
    std::unique_lock lock(mutex_);
    Connection connection;
    connection.deadline = Clock::now() + head_time;
    for (const TcpConnection &seen : tcp_connections_on_port(port_())) {
      bool known = false;
      for (const auto &[id, c] : connections_)
        known = known || (c.socket == seen.socket && c.peer == seen.peer);
      if (!known) {
        connection.socket = seen.socket;
        connection.peer = seen.peer;
      }
    }
    const long id = ++last_id_;
    if (tasks_.size() >= max_waiting && connection.socket >= 0)
      tcp_cut(connection.socket);  // served at once, by its end
    connections_[id] = connection;
    tasks_.push_back([this, id, fn = std::move(fn)] {
      current_ = id;
      fn();
      std::lock_guard done(mutex_);
      connections_.erase(id);
    });
    lock.unlock();
    wake_.notify_all();
  }

  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      if (stopping_)
        return;
      stopping_ = true;
      for (auto &[id, c] : connections_)
        if (c.socket >= 0)
          tcp_cut(c.socket);
    }
    wake_.notify_all();
    for (std::thread &worker : workers_)
      worker.join();
    watchdog_.join();
  }

  // On a worker: the request's head is in; its answer gets `time` (none: a stream).
  void head_read(std::optional<Clock::duration> time) {
    std::lock_guard lock(mutex_);
    auto it = connections_.find(current_);
    if (it != connections_.end())
      it->second.deadline = time ? Clock::now() + *time : Clock::time_point::max();
    wake_.notify_all();
  }

 private:
  struct Connection {
    int socket = -1;
    std::string peer;
    Clock::time_point deadline;
    bool cut = false;
  };

  void work() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
          return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  void watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      Clock::time_point next = Clock::time_point::max();
      std::vector<Connection *> due;
      const Clock::time_point now = Clock::now();
      for (auto &[id, c] : connections_) {
        if (c.cut || c.socket < 0)
          continue;
        if (c.deadline <= now)
          due.push_back(&c);
        else
          next = std::min(next, c.deadline);
      }
      if (!due.empty()) {
        // The descriptor is cut only while it is still this connection's: one closed just
        // now may already be a new connection's.
        const std::vector<TcpConnection> open = tcp_connections_on_port(port_());
        for (Connection *c : due) {
          c->cut = true;
          for (const TcpConnection &o : open)
            if (o.socket == c->socket && o.peer == c->peer)
              tcp_cut(c->socket);
        }
        continue;
      }
      if (next == Clock::time_point::max())
        wake_.wait(lock);
      else
        wake_.wait_until(lock, next);
    }
  }

  std::function<int()> port_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::map<long, Connection> connections_;
  long last_id_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
  std::thread watchdog_;
  static thread_local long current_;
};
thread_local long GuardedPool::current_ = 0;

struct UnitView {
  std::string port, box, mac;
  std::string step;  // the last status line, numbered as the window numbers them
  int percent = 0;
  std::string state = "waiting";  // waiting, flashing, stopped
  std::string text = "waiting";   // what the station says of it now
  std::string result;             // of the last box: "passed", "failed" or ""
  int passed = 0, failed = 0;
};

// Whether `given` equals `secret`, in a time that depends on the length of `given` only.
bool same_token(const std::string &given, const std::string &secret) {
  if (secret.empty())
    return false;
  unsigned char differ = given.size() == secret.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i)
    differ |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
  return differ == 0;
}

void answer(httplib::Response &res, int status, const std::string &sentence) {
  res.status = status;
  res.set_content("{\"error\":" + json_text(sentence) + "}\n", "application/json");
}

}  // namespace

struct StationWeb::Impl {
  Options options;
  std::function<void(const StationCommand &)> control;
  httplib::Server server;
  GuardedPool *pool = nullptr;  // owned by the server
  std::thread listener;
  std::atomic<int> bound_port{0};
  const std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
  const Clock::time_point started_steady = Clock::now();

  // The view and the streams.
  std::mutex mutex;
  std::condition_variable news;
  std::vector<UnitView> units;
  struct Stream {
    std::deque<std::string> events;
    bool dropped = false;
  };
  std::list<std::shared_ptr<Stream>> streams;
  long sequence = 0;
  bool stopping = false;
  std::atomic<int> stream_count{0};

  // The records, read by one request at a time.
  std::mutex records_mutex;
  RecordDatabase database;

  std::string unit_json(size_t i) const {
    const UnitView &u = units[i];
    return "{\"unit\":" + std::to_string(i + 1) + ",\"port\":" + json_text(u.port) +
           ",\"box\":" + json_text(u.box) + ",\"mac\":" + json_text(u.mac) +
           ",\"step\":" + json_text(u.step) + ",\"percent\":" + std::to_string(u.percent) +
           ",\"state\":" + json_text(u.state) + ",\"text\":" + json_text(u.text) +
           ",\"result\":" + json_text(u.result) + ",\"passed\":" + std::to_string(u.passed) +
           ",\"failed\":" + std::to_string(u.failed) + "}";
  }

  // Boxes per hour counts from the station's start, over an hour at least a minute long, so
  // that the first box does not read as thousands an hour.
  std::string totals_json() const {
    long passed = 0, failed = 0;
    for (const UnitView &u : units) {
      passed += u.passed;
      failed += u.failed;
    }
    const double hours =
        std::max(60.0, std::chrono::duration<double>(Clock::now() - started_steady).count()) / 3600.0;
    return "{\"passed\":" + std::to_string(passed) + ",\"failed\":" + std::to_string(failed) +
           ",\"per_hour\":" + std::to_string(long((passed + failed) / hours + 0.5)) + "}";
  }

  std::string snapshot_json() const {
    std::string out = "{\"station\":" + json_text(options.station) +
                      ",\"started\":" + json_text(record_time_text(started)) +
                      ",\"control\":" + (options.token.empty() ? "false" : "true") +
                      ",\"records\":" + (options.records.empty() ? "false" : "true") + ",\"units\":[";
    for (size_t i = 0; i < units.size(); ++i)
      out += (i ? "," : "") + unit_json(i);
    return out + "],\"totals\":" + totals_json() + "}";
  }

  void push(const std::string &event) {
    for (auto &stream : streams) {
      if (stream->events.size() >= stream_backlog)
        stream->dropped = true;  // a client this far behind starts over with a snapshot
      else
        stream->events.push_back(event);
    }
    news.notify_all();
  }

  void publish(const StationEvent &e) {
    std::lock_guard lock(mutex);
    if (e.unit >= units.size())
      return;
    UnitView &u = units[e.unit];
    switch (e.kind) {
      case StationEvent::Kind::Step:
        u.state = "flashing";
        u.percent = e.percent;
        if (!e.text.empty())
          u.step = u.text = e.text;
        break;
      case StationEvent::Kind::Outcome:
        u.result = e.passed ? "passed" : "failed";
        ++(e.passed ? u.passed : u.failed);
        u.text = e.text;
        if (!e.mac.empty())
          u.mac = e.mac;
        break;
      case StationEvent::Kind::State:
        u.text = e.text;
        u.mac = e.mac;
        u.percent = 0;
        if (e.text.rfind("waiting", 0) == 0) {
          u.state = "waiting";
        } else if (e.text == "a box is on") {
          u.state = "flashing";
          u.result.clear();
          u.step.clear();
        } else {
          u.state = "stopped";
        }
        break;
    }
    push("id: " + std::to_string(++sequence) + "\nevent: unit\ndata: {\"unit\":" + unit_json(e.unit) +
         ",\"totals\":" + totals_json() + "}\n\n");
  }

  // The next piece of a stream: its events, or a comment after a quiet while. False when the
  // server stops or the stream fell too far behind.
  bool next(const std::shared_ptr<Stream> &stream, std::string &chunk) {
    std::unique_lock lock(mutex);
    news.wait_for(lock, stream_ping, [&] { return stopping || stream->dropped || !stream->events.empty(); });
    if (stopping || stream->dropped)
      return false;
    if (stream->events.empty()) {
      chunk = ": still here\n\n";
      return true;
    }
    chunk.clear();
    while (!stream->events.empty()) {
      chunk += stream->events.front();
      stream->events.pop_front();
    }
    return true;
  }

  bool read_records(const RecordQuery &query, const RecordVisitor &each, std::string &error) {
    std::lock_guard lock(records_mutex);
    if (names_records_database(options.records)) {
      if (!database.connected() && !database.open(options.records, error))
        return false;
      return database.read(query, each, error);
    }
    RecordStore store;
    return store.open_existing(options.records, error) && store.read(query, each, error);
  }

  // since, mac and limit of a records request; false with the answer given.
  bool records_query(const httplib::Request &req, httplib::Response &res, RecordQuery &query, bool limited) {
    if (options.records.empty()) {
      answer(res, 404, "This station keeps no production records.");
      return false;
    }
    if (req.has_param("since")) {
      query.since = records_since_text(req.get_param_value("since"));
      if (query.since.empty()) {
        answer(res, 400, "since is not a UTC date and time such as 2026-12-10 or 2026-12-10T08:30:00.");
        return false;
      }
    }
    query.mac = req.get_param_value("mac");
    if (query.mac.size() > max_mac_text) {
      answer(res, 400, "mac is longer than a MAC address.");
      return false;
    }
    if (!limited)
      return true;
    query.limit = default_records;
    if (req.has_param("limit")) {
      const std::string text = req.get_param_value("limit");
      char *end = nullptr;
      const long limit = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || limit < 1 || limit > long(max_records)) {
        answer(res, 400, "limit is not a number from 1 to " + std::to_string(max_records) + ".");
        return false;
      }
      query.limit = size_t(limit);
    }
    return true;
  }

  void records_json(const httplib::Request &req, httplib::Response &res) {
    RecordQuery query;
    if (!records_query(req, res, query, true))
      return;
    static const std::vector<std::string> names = record_column_names();
    std::string out = "{\"records\":[";
    bool first = true;
    std::string error;
    const bool ok = read_records(
        query,
        [&](const std::string &id, const RecordValues &values) {
          out += first ? "{" : ",{";
          first = false;
          out += "\"id\":" + id;
          for (size_t c = 0; c < values.size() && c < names.size(); ++c) {
            out += "," + json_text(names[c]) + ":";
            const bool number = names[c].ends_with("_size") || names[c].ends_with("_served");
            out += !values[c] ? "null" : number ? *values[c] : json_text(*values[c]);
          }
          out += "}";
        },
        error);
    if (!ok)
      return answer(res, 503, error);
    res.set_content(out + "]}\n", "application/json");
  }

  void records_csv(const httplib::Request &req, httplib::Response &res) {
    RecordQuery query;
    if (!records_query(req, res, query, false))
      return;
    std::string out = records_csv_header(), error;
    if (!read_records(
            query, [&](const std::string &id, const RecordValues &v) { out += records_csv_row(id, v); },
            error))
      return answer(res, 503, error);
    res.set_header("Content-Disposition", "attachment; filename=\"records.csv\"");
    res.set_content(out, "text/csv; charset=utf-8");
  }

  // Whether the request may start or stop units; answered when not.
  bool authorised(const httplib::Request &req, httplib::Response &res) const {
    if (options.token.empty()) {
      answer(res, 403, "This station's page is read-only: it was started without --http-control.");
      return false;
    }
    const std::string given = req.get_header_value("Authorization");
    const std::string scheme = "Bearer ";
    if (given.size() <= scheme.size() || given.compare(0, scheme.size(), scheme) != 0 ||
        !same_token(given.substr(scheme.size()), options.token)) {
      res.set_header("WWW-Authenticate", "Bearer");
      answer(res, 401, "Starting or stopping units needs the station's token (Authorization: Bearer).");
      return false;
    }
    return true;
  }

  void command(const httplib::Request &req, httplib::Response &res, const std::string &action, long unit) {
    if (!authorised(req, res))
      return;
    if (unit != -1 && (unit < 1 || unit > long(units.size())))
      return answer(res, 404, "There is no unit " + std::to_string(unit) + ".");
    control({action, unit == -1 ? -1 : unit - 1});
    res.status = 202;
    res.set_content("{\"accepted\":true}\n", "application/json");
  }

  void routes() {
    server.new_task_queue = [this] {
      pool = new GuardedPool([this] { return bound_port.load(); });
      return pool;
    };
    server.set_keep_alive_max_count(1);
    server.set_read_timeout(std::chrono::seconds(5));
    server.set_write_timeout(std::chrono::seconds(5));
    server.set_payload_max_length(max_body);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"Cache-Control", "no-store"},
                                {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"}});
    server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
      size_t bytes = req.method.size() + req.target.size();
      for (const auto &[name, value] : req.headers)
        bytes += name.size() + value.size() + 4;
      if (req.headers.size() > max_head_fields || bytes > max_head_bytes) {
        answer(res, 431, "The request's head is too large.");
        return httplib::Server::HandlerResponse::Handled;
      }
      pool->head_read(req.path == "/api/events" ? std::nullopt : std::optional<Clock::duration>(answer_time));
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
      if (res.body.empty())
        res.set_content(res.status == 404   ? "Not found.\n"
                        : res.status == 400 ? "Bad request (a POST needs a Content-Length, 0 when empty).\n"
                        : res.status == 413 ? "The request's body is too large.\n"
                                            : "Refused.\n",
                        "text/plain");
    });
    for (const EmbeddedFile &file : embedded_files) {
      // A route is a regular expression: the file's name is matched letter for letter.
      std::string exact;
      for (const char *c = file.path; *c; ++c)
        exact += *c == '.' ? std::string("\\.") : std::string(1, *c);
      server.Get(exact, [&file](const httplib::Request &, httplib::Response &res) {
        res.set_content(reinterpret_cast<const char *>(file.bytes), file.size, file.type);
      });
    }
    server.Get("/api/units", [this](const httplib::Request &, httplib::Response &res) {
      std::lock_guard lock(mutex);
      res.set_content(snapshot_json() + "\n", "application/json");
    });
    server.Get("/api/records",
               [this](const httplib::Request &req, httplib::Response &res) { records_json(req, res); });
    server.Get("/records.csv",
               [this](const httplib::Request &req, httplib::Response &res) { records_csv(req, res); });
    server.Get("/api/events", [this](const httplib::Request &, httplib::Response &res) {
      if (++stream_count > max_streams) {
        --stream_count;
        pool->head_read(answer_time);
        res.set_header("Retry-After", "30");
        return answer(res, 503, "Too many pages follow this station; try again later.");
      }
      auto stream = std::make_shared<Stream>();
      {
        std::lock_guard lock(mutex);
        stream->events.push_back("id: " + std::to_string(sequence) +
                                 "\nevent: snapshot\ndata: " + snapshot_json() + "\n\n");
        streams.push_back(stream);
      }
      res.set_chunked_content_provider(
          "text/event-stream",
          [this, stream](size_t, httplib::DataSink &sink) {
            std::string chunk;
            return next(stream, chunk) && sink.write(chunk.data(), chunk.size());
          },
          [this, stream](bool) {
            std::lock_guard lock(mutex);
            streams.remove(stream);
            --stream_count;
          });
    });
    server.Post("/api/stop", [this](const httplib::Request &req, httplib::Response &res) {
      command(req, res, "stop", -1);
    });
    server.Post(R"(/api/units/(\d{1,6})/(start|stop))",
                [this](const httplib::Request &req, httplib::Response &res) {
                  command(req, res, req.matches[2], std::stol(req.matches[1]));
                });
  }
};

StationWeb::StationWeb(std::vector<std::pair<std::string, std::string>> units, Options options,
                       std::function<void(const StationCommand &)> control)
    : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->control = std::move(control);
  for (auto &[port, box] : units) {
    impl_->units.emplace_back();
    impl_->units.back().port = port;
    impl_->units.back().box = box;
  }
}

StationWeb::~StationWeb() { stop(); }

bool StationWeb::available() { return true; }

bool StationWeb::start(std::string &error) {
  impl_->routes();
  const int port =
      impl_->options.port == 0
          ? impl_->server.bind_to_any_port(impl_->options.address)
          : (impl_->server.bind_to_port(impl_->options.address, impl_->options.port) ? impl_->options.port
                                                                                     : -1);
  if (port <= 0) {
    error = "The station's page cannot be served on " + impl_->options.address + ":" +
            std::to_string(impl_->options.port) +
            ": the address is not this PC's, or the port is taken or needs more rights.";
    return false;
  }
  impl_->bound_port = port;
  impl_->listener = std::thread([this] { impl_->server.listen_after_bind(); });
  return true;
}

int StationWeb::port() const { return impl_->bound_port; }

void StationWeb::stop() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->news.notify_all();
  impl_->server.stop();
  if (impl_->listener.joinable())
    impl_->listener.join();
}

void StationWeb::publish(const StationEvent &event) { impl_->publish(event); }
