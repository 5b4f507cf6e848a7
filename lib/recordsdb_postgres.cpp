#include "lib/recordsdb.h"

#include <libpq-fe.h>

#include <set>

namespace {

constexpr int database_schema_version = 1;

// Any number will do, as long as every ZeVavi station uses the same one: it serialises the
// schema's creation between stations that start together.
constexpr const char *schema_lock = "SELECT pg_advisory_xact_lock(5136470312790711)";

const char *const schema_sql =
    "CREATE TABLE zevavi_schema (version integer NOT NULL);"
    "CREATE TABLE zevavi_attempts ("
    " id bigserial PRIMARY KEY, uid text NOT NULL UNIQUE,"
    " station text NOT NULL, port text NOT NULL, box text NOT NULL,"
    " mac text NOT NULL, board text NOT NULL, build text NOT NULL,"
    " model text NOT NULL, image text NOT NULL, image_sha256 text NOT NULL,"
    " kernel_size bigint, kernel_sha256 text, kernel_served bigint NOT NULL,"
    " splash_size bigint, splash_sha256 text, splash_served bigint NOT NULL,"
    " boot_size bigint, boot_sha256 text, boot_served bigint NOT NULL,"
    " root_size bigint, root_sha256 text, root_served bigint NOT NULL,"
    " started timestamptz NOT NULL, ended timestamptz NOT NULL,"
    " result text NOT NULL CHECK (result IN ('pass', 'fail', 'interrupted')),"
    " failed_step text NOT NULL, box_code text NOT NULL, detail text NOT NULL,"
    " received timestamptz NOT NULL DEFAULT now());"
    "CREATE INDEX zevavi_attempts_started ON zevavi_attempts (started);"
    "CREATE INDEX zevavi_attempts_mac ON zevavi_attempts (mac);";

// The database holds UTF-8 and refuses anything else for good, which would stop the queue
// behind that row: a file or host name in another encoding has its stray bytes replaced.
std::string valid_utf8(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool good = length > 0 && c != 0 && i + length <= text.size() && !(length == 2 && c < 0xc2) &&
                !(length == 4 && c > 0xf4);
    for (size_t k = 1; good && k < length; ++k)
      good = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
    if (good && length == 3) {
      const auto d = static_cast<unsigned char>(text[i + 1]);
      good = !(c == 0xe0 && d < 0xa0) && !(c == 0xed && d >= 0xa0);
    }
    if (good && length == 4) {
      const auto d = static_cast<unsigned char>(text[i + 1]);
      good = !(c == 0xf0 && d < 0x90) && !(c == 0xf4 && d >= 0x90);
    }
    if (good) {
      out.append(text, i, length);
      i += length;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text;
}

// The column list with the two times as the SQLite file writes them.
std::string export_columns() {
  std::string out;
  for (std::string name : record_column_names()) {
    if (name == "started" || name == "ended")
      name = "to_char(" + name + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
    else if (name.ends_with("_size") || name.ends_with("_served"))
      name += "::text";
    out += (out.empty() ? "" : ", ") + name;
  }
  return out;
}

}  // namespace

struct RecordDatabase::Connection {
  PGconn *handle = nullptr;
  ~Connection() { PQfinish(handle); }
  std::string message() const { return trimmed(PQerrorMessage(handle)); }
};

// A result that is cleared however the function using it ends.
struct Result {
  PGresult *handle;
  explicit Result(PGresult *r) : handle(r) {}
  ~Result() { PQclear(handle); }
  Result(const Result &) = delete;
  Result &operator=(const Result &) = delete;
  bool ok() const {
    const ExecStatusType status = PQresultStatus(handle);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  }
};

RecordDatabase::RecordDatabase() = default;
RecordDatabase::~RecordDatabase() = default;

bool RecordDatabase::available() { return true; }

bool RecordDatabase::connected() const { return db_ && PQstatus(db_->handle) == CONNECTION_OK; }

void RecordDatabase::close() { db_.reset(); }

bool RecordDatabase::open(const std::string &uri, std::string &error) {
  close();
  shown_ = shown_records_database(uri);
  auto db = std::make_unique<Connection>();
  // Bounds of our own before the URI, which may set its own: a connection that hangs or a
  // peer gone silent must end in an error, not hold the station's records for ever.
  const char *keywords[] = {"connect_timeout",
                            "keepalives_idle",
                            "keepalives_interval",
                            "keepalives_count",
                            "tcp_user_timeout",
                            "application_name",
                            "dbname",
                            nullptr};
  const char *values[] = {"5", "10", "5", "3", "15000", "zevavi", uri.c_str(), nullptr};
  db->handle = PQconnectdbParams(keywords, values, 1);
  if (!db->handle || PQstatus(db->handle) != CONNECTION_OK) {
    error = "The records database " + shown_ +
            " cannot be reached: " + (db->handle ? db->message() : std::string("out of memory")) + ".";
    return false;
  }
  auto fail = [&](const std::string &why) {
    error = "The records database " + shown_ + " cannot be used: " + why + ".";
    return false;
  };
  if (!Result(PQexec(db->handle, "BEGIN")).ok())
    return fail(db->message());
  Result lock(PQexec(db->handle, schema_lock));
  Result found(PQexec(db->handle,
                      "SELECT to_regclass('zevavi_schema') IS NOT NULL, "
                      "to_regclass('zevavi_attempts') IS NOT NULL"));
  if (!lock.ok() || !found.ok() || PQntuples(found.handle) != 1)
    return fail(db->message());
  const bool has_schema = PQgetvalue(found.handle, 0, 0)[0] == 't';
  const bool has_attempts = PQgetvalue(found.handle, 0, 1)[0] == 't';
  if (!has_schema && has_attempts)
    return fail("it has a table zevavi_attempts that ZeVavi did not make");
  if (!has_schema) {
    const std::string create = std::string(schema_sql) + "INSERT INTO zevavi_schema VALUES (" +
                               std::to_string(database_schema_version) + ")";
    if (!Result(PQexec(db->handle, create.c_str())).ok())
      return fail(db->message());
  } else {
    Result version(PQexec(db->handle, "SELECT max(version) FROM zevavi_schema"));
    if (!version.ok() || PQntuples(version.handle) != 1)
      return fail(db->message());
    const int seen = std::atoi(PQgetvalue(version.handle, 0, 0));
    if (seen > database_schema_version)
      return fail("it was written by a newer ZeVavi (schema version " + std::to_string(seen) +
                  ", this one knows " + std::to_string(database_schema_version) + ")");
    if (seen < 1 || !has_attempts)
      return fail("its zevavi_schema table holds no version ZeVavi wrote");
  }
  if (!Result(PQexec(db->handle, "COMMIT")).ok())
    return fail(db->message());
  db_ = std::move(db);
  return true;
}

bool RecordDatabase::insert(const std::vector<QueuedRecord> &records, std::string &error) {
  if (!connected()) {
    error = "The records database " + shown_ + " is not connected.";
    return false;
  }
  PGconn *c = db_->handle;
  auto fail = [&](const std::string &why) {
    if (PQstatus(c) == CONNECTION_OK)
      Result(PQexec(c, "ROLLBACK"));
    error = "The records database " + shown_ + " did not take " + std::to_string(records.size()) +
            " attempt(s): " + why + ".";
    if (PQstatus(c) != CONNECTION_OK)
      close();
    return false;
  };
  std::string sql = std::string("INSERT INTO zevavi_attempts (uid, ") + record_columns + ") VALUES ($1";
  for (int i = 2; i <= record_column_count + 1; ++i)
    sql += ", $" + std::to_string(i);
  sql += ") ON CONFLICT (uid) DO NOTHING";
  if (!Result(PQexec(c, "BEGIN")).ok())
    return fail(db_->message());
  for (const QueuedRecord &record : records) {
    std::vector<std::string> texts;
    texts.reserve(record.values.size() + 1);
    std::vector<const char *> params;
    texts.push_back(valid_utf8(record.uid));
    for (const auto &value : record.values)
      texts.push_back(value ? valid_utf8(*value) : std::string());
    for (size_t i = 0; i < texts.size(); ++i)
      params.push_back(i > 0 && !record.values[i - 1] ? nullptr : texts[i].c_str());
    if (!Result(PQexecParams(c, sql.c_str(), int(params.size()), nullptr, params.data(), nullptr, nullptr, 0))
             .ok())
      return fail(db_->message());
  }
  if (!Result(PQexec(c, "COMMIT")).ok())
    return fail(db_->message());
  return true;
}

bool RecordDatabase::export_csv(std::ostream &out, const std::string &since, std::string &error) {
  return write_records_csv(
      out,
      [&](const RecordVisitor &each, std::string &why) {
        return read({since, {}, 0}, each, why);
      },
      error);
}

bool RecordDatabase::read(const RecordQuery &query, const RecordVisitor &each, std::string &error) {
  if (!connected()) {
    error = "The records database " + shown_ + " is not connected.";
    return false;
  }
  PGconn *c = db_->handle;
  // The newest `limit` rows, handed over oldest first; LIMIT NULL is no limit.
  const std::string sql = "SELECT * FROM (SELECT id::text, " + export_columns() +
                          ", started AS at, id AS row FROM zevavi_attempts"
                          " WHERE ($1 = '' OR started >= ($1 || 'Z')::timestamptz)"
                          " AND ($2 = '' OR strpos(lower(mac), lower($2)) > 0)"
                          " ORDER BY started DESC, id DESC LIMIT $3::bigint) newest ORDER BY at, row";
  const std::string limit = std::to_string(query.limit);
  const std::string mac = valid_utf8(query.mac);
  const char *params[] = {query.since.c_str(), mac.c_str(), query.limit == 0 ? nullptr : limit.c_str()};
  if (!PQsendQueryParams(c, sql.c_str(), 3, nullptr, params, nullptr, nullptr, 0) || !PQsetSingleRowMode(c)) {
    error = "The records in " + shown_ + " cannot be read: " + db_->message() + ".";
    return false;
  }
  bool ok = true;
  RecordValues values(record_column_count);
  while (PGresult *raw = PQgetResult(c)) {
    Result result(raw);
    const ExecStatusType status = PQresultStatus(raw);
    if (status == PGRES_SINGLE_TUPLE) {
      for (int column = 0; column < record_column_count; ++column)
        values[size_t(column)] = PQgetisnull(raw, 0, column + 1)
                                     ? std::nullopt
                                     : std::optional<std::string>(PQgetvalue(raw, 0, column + 1));
      each(PQgetvalue(raw, 0, 0), values);
    } else if (status != PGRES_TUPLES_OK) {
      ok = false;
      error = "The records in " + shown_ + " cannot be read: " + db_->message() + ".";
    }
  }
  return ok;
}

RecordUplink::RecordUplink(std::string queue_path, std::string uri)
    : queue_path_(std::move(queue_path)), uri_(std::move(uri)) {}

RecordUplink::~RecordUplink() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wakeup_.notify_all();
  if (thread_.joinable())
    thread_.join();
}

bool RecordUplink::start(std::string &error) {
  if (!queue_.open(queue_path_, error, true) || !database_.open(uri_, error))
    return false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void RecordUplink::wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = true;
  }
  wakeup_.notify_all();
}

long long RecordUplink::finish(std::chrono::milliseconds bound) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
    pending_ = true;
    give_up_ = std::chrono::steady_clock::now() + bound;
  }
  wakeup_.notify_all();
  if (thread_.joinable())
    thread_.join();
  return queue_.queued_count();
}

std::vector<std::string> RecordUplink::news() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  out.swap(news_);
  return out;
}

long long RecordUplink::confirmed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return confirmed_;
}

void RecordUplink::say(const std::string &sentence) {
  std::lock_guard<std::mutex> lock(mutex_);
  news_.push_back(sentence);
}

void RecordUplink::run() {
  using namespace std::chrono;
  const std::string shown = shown_records_database(uri_);
  std::set<long long> refused;  // rows the database will not take; they stay queued
  bool lost = false;
  std::string last_error;

  // Sends everything queued; false when the database (or the queue) could not be used.
  auto send_all = [&]() -> bool {
    for (;;) {
      std::string error;
      if (!database_.connected()) {
        if (!database_.open(uri_, error)) {
          if (!lost)
            say(error + " The attempts wait in " + queue_path_ + " and are sent when it answers.");
          lost = true;
          return false;
        }
        if (lost)
          say("The records database " + shown +
              " answers again; the attempts kept meanwhile are being sent.");
        lost = false;
      }
      std::vector<QueuedRecord> rows;
      if (!queue_.queued(100 + refused.size(), rows, error)) {
        if (error != last_error)
          say(error);
        last_error = error;
        return false;
      }
      std::erase_if(rows, [&](const QueuedRecord &r) { return refused.count(r.id) > 0; });
      if (rows.empty())
        return true;
      if (!database_.insert(rows, error)) {
        if (!database_.connected()) {
          if (!lost)
            say(error + " The attempts wait in " + queue_path_ + " and are sent when it answers.");
          lost = true;
          return false;
        }
        // The database answers but refuses the batch: find the row it will not take, and
        // let the others through.
        std::vector<QueuedRecord> taken;
        for (QueuedRecord &row : rows) {
          if (database_.insert({row}, error)) {
            taken.push_back(std::move(row));
            continue;
          }
          if (!database_.connected())
            break;
          refused.insert(row.id);
          say(error + " That attempt stays in " + queue_path_ + ".");
        }
        rows = std::move(taken);
      }
      std::vector<long long> ids;
      for (const QueuedRecord &row : rows)
        ids.push_back(row.id);
      if (!ids.empty() && !queue_.sent(ids, error)) {
        // Sent but still queued: sent again later, which the uid makes harmless.
        if (error != last_error)
          say(error);
        last_error = error;
        return false;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      confirmed_ += static_cast<long long>(ids.size());
    }
  };

  auto backoff = milliseconds(500);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wakeup_.wait(lock, [&] { return stop_ || pending_; });
    if (stop_)
      return;
    pending_ = false;
    const bool finishing = finishing_;
    lock.unlock();
    const bool done = send_all();
    lock.lock();
    if (done) {
      backoff = milliseconds(500);
      if (finishing)
        return;
      continue;
    }
    if (finishing_ && steady_clock::now() >= give_up_)
      return;
    // Try again after a pause that grows while the database stays away; finish() cuts the
    // pause short once, and never waits past its bound.
    auto until = steady_clock::now() + backoff;
    if (finishing_)
      until = std::min(until, give_up_);
    wakeup_.wait_until(lock, until, [&] { return stop_ || (finishing_ && !finishing); });
    if (stop_)
      return;
    pending_ = true;
    backoff = std::min(backoff * 2, milliseconds(8000));
  }
}
