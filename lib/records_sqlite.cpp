#include "lib/records.h"

#include <sqlite3.h>

namespace {

// The columns in the order of the table, the INSERT and the CSV export.
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

const char *const columns =
    "station, port, box, mac, board, build, model, image, image_sha256,"
    " kernel_size, kernel_sha256, kernel_served, splash_size, splash_sha256, splash_served,"
    " boot_size, boot_sha256, boot_served, root_size, root_sha256, root_served,"
    " started, ended, result, failed_step, box_code, detail";
constexpr int column_count = 27;

// Console text can hold anything: a field that a spreadsheet would take for a formula gets a
// leading quote in the export, as spreadsheets expect.
bool from_console(int column) { return column >= 4 && column <= 6; }

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

bool RecordStore::open(const std::string &path, std::string &error) { return open_with(path, true, error); }

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
      !db->integer("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'attempts'", tables, why))
    return fail(why);
  if (version > records_schema_version)
    return fail("it was written by a newer ZeVavi (schema version " + std::to_string(version) + ", this one knows " +
                std::to_string(records_schema_version) + ")");
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
    if (version == 0) {
      const std::string create_sql = std::string("BEGIN IMMEDIATE;") + schema_sql + "PRAGMA user_version = " +
                                     std::to_string(records_schema_version) + "; COMMIT;";
      if (!db->exec(create_sql.c_str(), why)) {
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

bool RecordStore::add(const BoxRecord &r, std::string &error) {
  if (!db_) {
    error = "No records file is open.";
    return false;
  }
  std::string sql = std::string("INSERT INTO attempts (") + columns + ") VALUES (?";
  for (int i = 1; i < column_count; ++i)
    sql += ", ?";
  sql += ")";
  sqlite3_stmt *statement = nullptr;
  std::string why;
  auto fail = [&](const std::string &text) {
    sqlite3_finalize(statement);
    std::string ignored;
    if (!sqlite3_get_autocommit(db_->handle))
      db_->exec("ROLLBACK", ignored);
    error = "The attempt of " + r.port + " (" + r.box + ") could not be written to " + path_ + ": " + text + ".";
    return false;
  };
  if (!db_->exec("BEGIN IMMEDIATE", why))
    return fail(why);
  if (sqlite3_prepare_v2(db_->handle, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
    return fail(db_->message());
  int at = 0;
  auto text = [&](const std::string &value) {
    sqlite3_bind_text(statement, ++at, value.c_str(), int(value.size()), SQLITE_TRANSIENT);
  };
  auto number = [&](unsigned long long value) { sqlite3_bind_int64(statement, ++at, sqlite3_int64(value)); };
  for (const std::string *value : {&r.station, &r.port, &r.box, &r.mac, &r.board, &r.build, &r.model, &r.image,
                                   &r.image_sha256})
    text(*value);
  for (const PartitionServed &p : r.partitions) {
    if (p.in_image) {
      number(p.size);
      text(p.sha256);
    } else {
      sqlite3_bind_null(statement, ++at);
      sqlite3_bind_null(statement, ++at);
    }
    number(p.served);
  }
  for (const std::string &value : {record_time_text(r.started), record_time_text(r.ended), r.result,
                                   r.failed_step, r.box_code, r.detail})
    text(value);
  if (sqlite3_step(statement) != SQLITE_DONE)
    return fail(db_->message());
  sqlite3_finalize(statement);
  statement = nullptr;
  if (!db_->exec("COMMIT", why))
    return fail(why);
  return true;
}

bool RecordStore::export_csv(std::ostream &out, const std::string &since, std::string &error) {
  if (!db_) {
    error = "No records file is open.";
    return false;
  }
  const std::string sql = std::string("SELECT id, ") + columns + " FROM attempts WHERE started >= ? ORDER BY started, id";
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_prepare_v2(db_->handle, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    error = "The records in " + path_ + " cannot be read: " + db_->message() + ".";
    return false;
  }
  sqlite3_bind_text(statement, 1, since.c_str(), int(since.size()), SQLITE_TRANSIENT);
  std::string line = "id," + std::string(columns);
  for (size_t blank; (blank = line.find(' ')) != std::string::npos;)
    line.erase(blank, 1);
  out << line << "\r\n";
  int step;
  while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
    line.clear();
    for (int column = 0; column <= column_count; ++column) {
      if (column > 0)
        line += ',';
      if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        continue;
      std::string value(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                        size_t(sqlite3_column_bytes(statement, column)));
      if (from_console(column) && !value.empty() && std::string("=+-@\t").find(value[0]) != std::string::npos)
        value.insert(0, "'");
      line += csv_field(value);
    }
    out << line << "\r\n";
  }
  const bool ok = step == SQLITE_DONE;
  if (!ok)
    error = "The records in " + path_ + " cannot be read: " + db_->message() + ".";
  sqlite3_finalize(statement);
  out.flush();
  return ok && bool(out);
}
