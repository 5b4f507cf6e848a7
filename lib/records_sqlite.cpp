#include "lib/records.h"

#include <sqlite3.h>

namespace {

const char *const schema_sql =
    "CREATE TABLE attempts ("
    " id INTEGER PRIMARY KEY,"
    " station TEXT NOT NULL, port TEXT NOT NULL, box TEXT NOT NULL,"
    " mac TEXT NOT NULL, board TEXT NOT NULL, build TEXT NOT NULL,"
    " model TEXT NOT NULL, image TEXT NOT NULL, image_sha256 TEXT NOT NULL,"
    " kernel_size INTEGER, kernel_sha256 TEXT, kernel_served INTEGER NOT NULL,"
    " splash_size INTEGER, splash_sha256 TEXT, splash_served INTEGER NOT NULL,"
    " boot_size INTEGER, boot_sha256 TEXT, boot_served INTEGER NOT NULL,"
    " root_size INTEGER, root_sha256 TEXT, root_served INTEGER NOT NULL,"
    " started TEXT NOT NULL, ended TEXT NOT NULL,"
    " result TEXT NOT NULL CHECK (result IN ('pass', 'fail', 'interrupted')),"
    " failed_step TEXT NOT NULL, box_code TEXT NOT NULL, detail TEXT NOT NULL);"
    "CREATE INDEX attempts_started ON attempts (started);";

// Version 2: each attempt's own identity, and the outbox of attempts a records database has
// not confirmed yet. Rows of version 1 get an identity of their own too.
const char *const version_2_sql =
    "ALTER TABLE attempts ADD COLUMN uid TEXT;"
    "UPDATE attempts SET uid = lower(hex(randomblob(16)));"
    "CREATE UNIQUE INDEX attempts_uid ON attempts (uid);"
    "CREATE TABLE outbox (attempt INTEGER PRIMARY KEY REFERENCES attempts (id));";

}  // namespace

struct RecordStore::Db {
  sqlite3 *handle = nullptr;
  ~Db() { sqlite3_close(handle); }

  std::string message() const { return handle ? sqlite3_errmsg(handle) : "out of memory"; }

  bool exec(const char *sql, std::string &why) {
    char *text = nullptr;
    if (sqlite3_exec(handle, sql, nullptr, nullptr, &text) == SQLITE_OK)
      return true;
    why = text ? text : message();
    sqlite3_free(text);
    return false;
  }

  // The first column of the first row of `sql` as an integer; false when it fails.
  bool integer(const char *sql, long long &value, std::string &why) {
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr) != SQLITE_OK) {
      why = message();
      return false;
    }
    const int step = sqlite3_step(statement);
    if (step == SQLITE_ROW)
      value = sqlite3_column_int64(statement, 0);
    else
      why = message();
    sqlite3_finalize(statement);
    return step == SQLITE_ROW;
  }
};

bool RecordStore::available() { return true; }

RecordStore::RecordStore() = default;
RecordStore::~RecordStore() = default;

void RecordStore::close() { db_.reset(); }

bool RecordStore::open(const std::string &path, std::string &error, bool queue) {
  queue_ = queue;
  return open_with(path, true, error);
}

bool RecordStore::open_existing(const std::string &path, std::string &error) {
  return open_with(path, false, error);
}

bool RecordStore::open_with(const std::string &path, bool create, std::string &error) {
  close();
  auto db = std::make_unique<Db>();
  const int flags = create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  auto fail = [&](const std::string &why) {
    error = "The records file " + path + " cannot be used: " + why + ".";
    return false;
  };
  if (sqlite3_open_v2(path.c_str(), &db->handle, flags | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK)
    return fail(create ? db->message() : "there is no such records file, or it cannot be read");
  sqlite3_extended_result_codes(db->handle, 1);
  // Another program (a report, a backup) may hold the file for a moment.
  sqlite3_busy_timeout(db->handle, 5000);

  std::string why;
  long long version = 0, tables = 0;
  if (!db->integer("PRAGMA user_version", version, why) ||
      !db->integer("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'attempts'", tables,
                   why))
    return fail(why);
  if (version > records_schema_version)
    return fail("it was written by a newer ZeVavi (schema version " + std::to_string(version) +
                ", this one knows " + std::to_string(records_schema_version) + ")");
  if (version == 0) {
    long long others = 0;
    if (!db->integer("SELECT count(*) FROM sqlite_master", others, why))
      return fail(why);
    if (others > 0 || !create)
      return fail("it is not a ZeVavi records file");
  } else if (tables == 0) {
    return fail("it is not a ZeVavi records file");
  }

  if (create) {
    // WAL: a writer never leaves the file half-changed, and readers (an export while the
    // station runs) do not block it. FULL: a row reported written survives a power cut.
    sqlite3_stmt *statement = nullptr;
    std::string mode;
    if (sqlite3_prepare_v2(db->handle, "PRAGMA journal_mode = WAL", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      mode = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    if (mode != "wal")
      return fail("its journal cannot be put in WAL mode (" + db->message() + ")");
    if (!db->exec("PRAGMA synchronous = FULL", why))
      return fail(why);
    if (version < records_schema_version) {
      // Two programs may open a new or older file at once: the version is read again under
      // the write lock, and only the first brings the file up to date.
      if (!db->exec("BEGIN IMMEDIATE", why))
        return fail(why);
      long long now = 0;
      bool ok = db->integer("PRAGMA user_version", now, why);
      if (ok && now < records_schema_version) {
        const std::string sql = std::string(now == 0 ? schema_sql : "") + version_2_sql +
                                "PRAGMA user_version = " + std::to_string(records_schema_version) + ";";
        ok = db->exec(sql.c_str(), why);
      }
      if (!ok || !db->exec("COMMIT", why)) {
        std::string ignored;
        db->exec("ROLLBACK", ignored);
        return fail(why);
      }
    }
  }
  // From here on the file is written as boxes end, on the thread that also reads every
  // fixture's console: a write must not wait for a lock that another program keeps, or
  // every fixture stalls with it (a box switched on meanwhile boots past its autostart
  // pause, a box being erased looks silent). A write that finds the file locked fails at
  // once and its row is kept to be written later.
  if (create)
    sqlite3_busy_timeout(db->handle, 200);
  db_ = std::move(db);
  path_ = path;
  return true;
}

namespace {

// A prepared statement that is finalised however the function using it ends.
struct Statement {
  sqlite3_stmt *handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
  void bind(int at, const std::optional<std::string> &value) {
    if (value)
      sqlite3_bind_text(handle, at, value->c_str(), int(value->size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(handle, at);
  }
  std::optional<std::string> column(int at) {
    if (sqlite3_column_type(handle, at) == SQLITE_NULL)
      return std::nullopt;
    return std::string(reinterpret_cast<const char *>(sqlite3_column_text(handle, at)),
                       size_t(sqlite3_column_bytes(handle, at)));
  }
};

}  // namespace

bool RecordStore::add(const BoxRecord &r, std::string &error) {
  if (!db_) {
    error = "No records file is open.";
    return false;
  }
  // Text in the integer columns is stored as an integer (their affinity).
  std::string sql =
      std::string("INSERT INTO attempts (uid, ") + record_columns + ") VALUES (lower(hex(randomblob(16)))";
  for (int i = 0; i < record_column_count; ++i)
    sql += ", ?";
  sql += ")";
  std::string why;
  auto fail = [&](const std::string &text) {
    std::string ignored;
    if (!sqlite3_get_autocommit(db_->handle))
      db_->exec("ROLLBACK", ignored);
    error =
        "The attempt of " + r.port + " (" + r.box + ") could not be written to " + path_ + ": " + text + ".";
    return false;
  };
  if (!db_->exec("BEGIN IMMEDIATE", why))
    return fail(why);
  {
    Statement insert;
    if (sqlite3_prepare_v2(db_->handle, sql.c_str(), -1, &insert.handle, nullptr) != SQLITE_OK)
      return fail(db_->message());
    const RecordValues values = record_values(r);
    for (size_t i = 0; i < values.size(); ++i)
      insert.bind(int(i) + 1, values[i]);
    if (sqlite3_step(insert.handle) != SQLITE_DONE)
      return fail(db_->message());
  }
  if (queue_ && !db_->exec("INSERT INTO outbox (attempt) VALUES (last_insert_rowid())", why))
    return fail(why);
  if (!db_->exec("COMMIT", why))
    return fail(why);
  return true;
}

bool RecordStore::export_csv(std::ostream &out, const std::string &since, std::string &error) {
  return write_records_csv(
      out,
      [&](const RecordVisitor &each, std::string &why) {
        return read({since, {}, 0}, each, why);
      },
      error);
}

bool RecordStore::read(const RecordQuery &query, const RecordVisitor &each, std::string &error) {
  if (!db_) {
    error = "No records file is open.";
    return false;
  }
  // The newest `limit` rows, handed over oldest first; LIMIT -1 is no limit.
  const std::string sql =
      std::string("SELECT * FROM (SELECT id, ") + record_columns +
      " FROM attempts WHERE started >= ?1 AND (?2 = '' OR instr(lower(mac), lower(?2)) > 0)"
      " ORDER BY started DESC, id DESC LIMIT ?3) ORDER BY started, id";
  Statement select;
  if (sqlite3_prepare_v2(db_->handle, sql.c_str(), -1, &select.handle, nullptr) != SQLITE_OK) {
    error = "The records in " + path_ + " cannot be read: " + db_->message() + ".";
    return false;
  }
  select.bind(1, query.since);
  select.bind(2, query.mac);
  sqlite3_bind_int64(select.handle, 3, query.limit == 0 ? -1 : sqlite3_int64(query.limit));
  int step;
  RecordValues values(record_column_count);
  while ((step = sqlite3_step(select.handle)) == SQLITE_ROW) {
    for (int column = 0; column < record_column_count; ++column)
      values[size_t(column)] = select.column(column + 1);
    each(select.column(0).value_or(""), values);
  }
  if (step != SQLITE_DONE) {
    error = "The records in " + path_ + " cannot be read: " + db_->message() + ".";
    return false;
  }
  return true;
}

bool RecordStore::queued(size_t limit, std::vector<QueuedRecord> &out, std::string &error) {
  out.clear();
  if (!db_) {
    error = "No records file is open.";
    return false;
  }
  const std::string sql = std::string("SELECT a.id, a.uid, ") + record_columns +
                          " FROM outbox o JOIN attempts a ON a.id = o.attempt ORDER BY a.id LIMIT ?";
  Statement select;
  if (sqlite3_prepare_v2(db_->handle, sql.c_str(), -1, &select.handle, nullptr) != SQLITE_OK) {
    error = "The queue in " + path_ + " cannot be read: " + db_->message() + ".";
    return false;
  }
  sqlite3_bind_int64(select.handle, 1, sqlite3_int64(limit));
  int step;
  while ((step = sqlite3_step(select.handle)) == SQLITE_ROW) {
    QueuedRecord queued;
    queued.id = sqlite3_column_int64(select.handle, 0);
    queued.uid = select.column(1).value_or("");
    for (int column = 0; column < record_column_count; ++column)
      queued.values.push_back(select.column(column + 2));
    out.push_back(std::move(queued));
  }
  if (step != SQLITE_DONE) {
    error = "The queue in " + path_ + " cannot be read: " + db_->message() + ".";
    out.clear();
    return false;
  }
  return true;
}

bool RecordStore::sent(const std::vector<long long> &ids, std::string &error) {
  if (!db_) {
    error = "No records file is open.";
    return false;
  }
  std::string why;
  auto fail = [&](const std::string &text) {
    std::string ignored;
    if (!sqlite3_get_autocommit(db_->handle))
      db_->exec("ROLLBACK", ignored);
    error = "The queue in " + path_ + " cannot be updated: " + text + ".";
    return false;
  };
  if (!db_->exec("BEGIN IMMEDIATE", why))
    return fail(why);
  {
    Statement remove;
    if (sqlite3_prepare_v2(db_->handle, "DELETE FROM outbox WHERE attempt = ?", -1, &remove.handle,
                           nullptr) != SQLITE_OK)
      return fail(db_->message());
    for (long long id : ids) {
      sqlite3_bind_int64(remove.handle, 1, id);
      if (sqlite3_step(remove.handle) != SQLITE_DONE)
        return fail(db_->message());
      sqlite3_reset(remove.handle);
    }
  }
  if (!db_->exec("COMMIT", why))
    return fail(why);
  return true;
}

long long RecordStore::queued_count() {
  long long count = -1;
  std::string why;
  if (!db_ || !db_->integer("SELECT count(*) FROM outbox", count, why))
    return -1;
  return count;
}
