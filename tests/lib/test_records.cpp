// The production records: rows written whole into SQLite, read back as CSV, and files that
// are not (or not yet) ours refused without being changed.
#include "lib/records.h"

#include "tests/support/csv.h"
#include "tests/support/fs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>
#include <vector>

namespace {

using namespace std::chrono;
using zv_test::parse_csv;

BoxRecord::Time at(const char *ms_since_epoch) {
  return BoxRecord::Time(milliseconds(std::stoll(ms_since_epoch)));
}

BoxRecord sample(const std::string &box, BoxRecord::Time started) {
  BoxRecord r;
  r.station = "line-pc-1";
  r.port = "/dev/ttyUSB0";
  r.box = box;
  r.mac = "00-10-18-4A-2C-7E";
  r.board = "BCM97405D0 CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little";
  r.build = "Build Date: Tue Mar  2 10:14:33 CST 2010 (boxsim@zevavi)";
  r.model = "KESTA";
  r.image = "firmware.nfi";
  r.image_sha256 = std::string(64, 'a');
  for (size_t p = 0; p < r.partitions.size(); ++p)
    if (p != 1)
      r.partitions[p] = {true, 1000 + p, std::string(64, char('0' + p)), 1000 + p};
  r.started = started;
  r.ended = started + seconds(95);
  r.result = "pass";
  r.detail = "Finished.";
  return r;
}

std::string pragma(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  std::string value;
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    value = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return value;
}

TEST(Records, AttemptsComeBackAsCsvInTheOrderTheyStarted) {
  zv_test::TempDir dir("zevavi-records");
  const std::string path = dir.str("records.sqlite");
  {
    RecordStore store;
    std::string error;
    ASSERT_TRUE(store.open(path, error)) << error;
    BoxRecord failed = sample("192.168.1.51", at("1796900000500"));
    failed.result = "fail";
    failed.failed_step = "Upgrade the boot image on the machine.";
    failed.box_code = "-21";
    failed.detail = "The machine reported a failure: -21.";
    failed.partitions[3].served = 0;
    // What the box printed may hold anything a spreadsheet would misread.
    failed.board = "=HYPERLINK(\"x\"), \"quoted\"\r\nnext";
    ASSERT_TRUE(store.add(sample("192.168.1.50", at("1796900100000")), error)) << error;
    ASSERT_TRUE(store.add(failed, error)) << error;
  }
  EXPECT_EQ(pragma(path, "PRAGMA user_version"), std::to_string(records_schema_version));
  EXPECT_EQ(pragma(path, "PRAGMA journal_mode"), "wal");

  RecordStore store;
  std::string error;
  ASSERT_TRUE(store.open_existing(path, error)) << error;
  std::ostringstream out;
  ASSERT_TRUE(store.export_csv(out, "", error)) << error;
  const auto rows = parse_csv(out.str());
  ASSERT_EQ(rows.size(), 3u) << out.str();
  const std::vector<std::string> &header = rows[0];
  auto column = [&](size_t row, const std::string &name) {
    for (size_t i = 0; i < header.size(); ++i)
      if (header[i] == name)
        return rows[row].at(i);
    ADD_FAILURE() << "no column " << name;
    return std::string();
  };
  for (size_t row = 1; row < rows.size(); ++row)
    EXPECT_EQ(rows[row].size(), header.size()) << row;
  // The failed attempt started first.
  EXPECT_EQ(column(1, "box"), "192.168.1.51");
  EXPECT_EQ(column(1, "result"), "fail");
  EXPECT_EQ(column(1, "failed_step"), "Upgrade the boot image on the machine.");
  EXPECT_EQ(column(1, "box_code"), "-21");
  EXPECT_EQ(column(1, "board"), "'=HYPERLINK(\"x\"), \"quoted\"\r\nnext");
  EXPECT_EQ(column(1, "started"), "2026-12-10T10:53:20.500Z");
  EXPECT_EQ(column(1, "ended"), "2026-12-10T10:54:55.500Z");
  EXPECT_EQ(column(1, "root_served"), "0");
  EXPECT_EQ(column(2, "box"), "192.168.1.50");
  EXPECT_EQ(column(2, "result"), "pass");
  EXPECT_EQ(column(2, "mac"), "00-10-18-4A-2C-7E");
  EXPECT_EQ(column(2, "station"), "line-pc-1");
  EXPECT_EQ(column(2, "kernel_size"), "1000");
  EXPECT_EQ(column(2, "kernel_sha256"), std::string(64, '0'));
  EXPECT_EQ(column(2, "root_served"), "1003");
  // A partition the image lacks is empty, not zero.
  EXPECT_EQ(column(2, "splash_size"), "");
  EXPECT_EQ(column(2, "splash_sha256"), "");
  EXPECT_EQ(column(2, "splash_served"), "0");

  // --since: the attempts that started at or after it.
  std::ostringstream later;
  ASSERT_TRUE(store.export_csv(later, records_since_text("2026-12-10T10:54"), error)) << error;
  const auto later_rows = parse_csv(later.str());
  ASSERT_EQ(later_rows.size(), 2u) << later.str();
  EXPECT_EQ(later_rows[1][3], "192.168.1.50");
}

// The station's page asks for the newest boxes, by a piece of a MAC in any case, since a time.
TEST(Records, TheNewestAttemptsByMacAndTimeComeBackOldestFirst) {
  zv_test::TempDir dir("zevavi-records");
  RecordStore store;
  std::string error;
  ASSERT_TRUE(store.open(dir.str("records.sqlite"), error)) << error;
  const char *macs[] = {"00-10-18-4A-2C-7E", "00-10-18-4A-2C-7F", "", "00-10-18-4a-2c-7e",
                        "00:10:18:99:00:01"};
  for (int i = 0; i < 5; ++i) {
    BoxRecord r = sample("192.168.1." + std::to_string(50 + i), at("1796900000000") + minutes(10 * i));
    r.mac = macs[i];
    ASSERT_TRUE(store.add(r, error)) << error;
  }
  struct Query {
    RecordQuery query;
    std::string boxes;  // the last byte of each address, in the order read
  };
  const Query queries[] = {
      {{"", "", 0}, "50 51 52 53 54"},
      {{"", "4a-2c-7e", 0}, "50 53"},
      {{"", "4A-2C", 1}, "53"},
      {{"", "", 2}, "53 54"},
      {{records_since_text("2026-12-10T10:53:21"), "4a-2c", 0}, "51 53"},
      {{"", "%", 0}, ""},
      {{"", "_", 0}, ""},
      {{"", "99:00", 5}, "54"},
  };
  for (const Query &q : queries) {
    SCOPED_TRACE("mac \"" + q.query.mac + "\", since \"" + q.query.since + "\", limit " +
                 std::to_string(q.query.limit));
    std::string boxes;
    ASSERT_TRUE(store.read(
        q.query,
        [&](const std::string &, const RecordValues &values) {
          boxes += (boxes.empty() ? "" : " ") + values[2]->substr(values[2]->rfind('.') + 1);
        },
        error))
        << error;
    EXPECT_EQ(boxes, q.boxes);
  }
}

struct Refusal {
  const char *name;
  std::string content;  // the file before the open; "-" for no file
  bool create;          // open (true) or open_existing (false)
  const char *named;    // in the error
};

// A file that is not our records, or is newer than this program, is left as it was.
TEST(Records, FilesThatAreNotOursAreRefusedUnchanged) {
  zv_test::TempDir dir("zevavi-records");
  auto database = [&](const char *sql) {
    const std::string path = dir.str("made.sqlite");
    std::remove(path.c_str());
    sqlite3 *db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return zv_test::read_file(path);
  };
  const Refusal cases[] = {
      {"a text file", "station,port\n1,2\n", true, "not a database"},
      {"another program's database", database("CREATE TABLE customers (name TEXT)"), true,
       "not a ZeVavi records file"},
      {"a newer schema", database("CREATE TABLE attempts (id INTEGER); PRAGMA user_version = 7"), true,
       "newer ZeVavi (schema version 7"},
      {"no file to export", "-", false, "no such records file"},
      {"an empty file to export", "", false, "not a ZeVavi records file"},
  };
  for (const Refusal &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.str(std::string(c.name) + ".sqlite");
    if (c.content != "-")
      zv_test::write_file(path, c.content);
    RecordStore store;
    std::string error;
    EXPECT_FALSE(c.create ? store.open(path, error) : store.open_existing(path, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find(c.named), std::string::npos) << error;
    if (c.content == "-")
      EXPECT_FALSE(std::filesystem::exists(path));
    else
      EXPECT_EQ(zv_test::read_file(path), c.content);
    EXPECT_FALSE(store.add(sample("192.168.1.50", at("0")), error));
  }
}

// A file written before attempts had their own identity and an outbox keeps its rows, each
// given an identity of its own, and queues what comes after.
TEST(Records, AnOlderFileIsBroughtUpToDateWithItsRows) {
  zv_test::TempDir dir("zevavi-records");
  const std::string path = dir.str("records.sqlite");
  {
    RecordStore store;
    std::string error;
    ASSERT_TRUE(store.open(path, error)) << error;
    for (const char *box : {"192.168.1.50", "192.168.1.51"})
      ASSERT_TRUE(store.add(sample(box, at("1796900000000")), error)) << error;
  }
  // Back to the first version's shape.
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "DROP TABLE outbox; DROP INDEX attempts_uid; ALTER TABLE attempts DROP COLUMN uid;"
                         "PRAGMA user_version = 1",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  RecordStore store;
  std::string error;
  ASSERT_TRUE(store.open(path, error, true)) << error;
  ASSERT_TRUE(store.add(sample("192.168.1.52", at("1796900000000")), error)) << error;
  EXPECT_EQ(pragma(path, "PRAGMA user_version"), std::to_string(records_schema_version));
  EXPECT_EQ(
      pragma(path, "SELECT count(DISTINCT uid) || ' ' || count(*) FROM attempts WHERE length(uid) = 32"),
      "3 3");
  std::vector<QueuedRecord> queued;
  ASSERT_TRUE(store.queued(10, queued, error)) << error;
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].values.at(2), "192.168.1.52");
  ASSERT_TRUE(store.sent({queued[0].id}, error)) << error;
  EXPECT_EQ(store.queued_count(), 0);
}

}  // namespace
