// The production records of a station: one row per box attempt, saying which box (its
// address and the identity its boot loader printed) got which image, on which station and
// fixture, when, and how it ended.
//
// Kept in an SQLite file (Debian's libsqlite3) in WAL mode with full synchronisation: each
// attempt is one INSERT in a transaction of its own, so a crash or a power cut leaves the
// rows before it whole and no part of the one being written. The schema carries a version
// number (PRAGMA user_version), set in the transaction that creates it on first use; a file
// of a newer version, or one that is not a records file, is refused rather than written to.
//
// A station that writes to a PostgreSQL database (lib/recordsdb.h) keeps its SQLite file as
// the queue in front of it: each attempt is written here first, with a random identity of its
// own (uid) and a place in the outbox, and leaves the outbox only once the database has it. The
// uid makes sending again after a lost answer harmless.
//
// One RecordStore is used from one thread at a time; two stores on one file (the station's
// and its sender's) are fine. Builds without SQLite (the Windows programs) get a store whose
// open says so.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct PartitionServed {
  bool in_image = false;          // the image has this partition
  unsigned long long size = 0;    // the file served, when in_image
  std::string sha256;             // of the file served, when in_image
  unsigned long long served = 0;  // bytes of it this box acknowledged
};

struct BoxRecord {
  using Time = std::chrono::system_clock::time_point;

  std::string station;  // the station PC's host name
  std::string port;     // the fixture's serial console
  std::string box;      // the address the box was given
  std::string mac;      // what the box printed as its hwaddr, or ""
  std::string board;    // the boot loader's version line, or ""
  std::string build;    // its build date line, or ""
  std::string model;    // as the Machine list names it
  std::string image;    // the image's file name
  std::string image_sha256;
  // kernel, splash, boot, root: the order of the image's partition files.
  std::array<PartitionServed, 4> partitions;
  Time started, ended;
  std::string result;       // "pass", "fail" or "interrupted"
  std::string failed_step;  // the status line of the step that failed, or ""
  std::string box_code;     // the box's failure code, such as "-21", or ""
  std::string detail;       // the sentence the station showed for the outcome
};

// The partition names of the records' columns, in BoxRecord::partitions order.
extern const char *const record_partition_names[4];

// The schema version this program writes. 2 added the uid and the outbox; a file of version 1
// is brought up to 2 when opened for writing.
constexpr int records_schema_version = 2;

// The columns of an attempt, in the order of the tables, the CSV export and record_values.
extern const char *const record_columns;
constexpr int record_column_count = 27;
// record_columns one name at a time.
std::vector<std::string> record_column_names();

// One attempt's column values as text, in record_columns order; nullopt for an SQL NULL.
using RecordValues = std::vector<std::optional<std::string>>;
RecordValues record_values(const BoxRecord &record);

// The export's header line and one row ("id" and then record_columns); both end in CRLF.
// Text the boot loader printed that a spreadsheet would take for a formula gets a leading
// quote.
std::string records_csv_header();
std::string records_csv_row(const std::string &id, const RecordValues &values);

// Which attempts to read: started at or after `since` (records_since_text; "" for all), with
// `mac` in the box's address (any case; "" for all), the newest `limit` of them (0: all).
struct RecordQuery {
  std::string since;
  std::string mac;
  size_t limit = 0;
};

// Hands over one attempt read: its row's id and its column values (record_columns order).
using RecordVisitor = std::function<void(const std::string &id, const RecordValues &values)>;

// The export's header and the rows `read` hands over, each as records_csv_row writes it.
// False with `read`'s sentence, or when `out` fails; what was written stays.
bool write_records_csv(std::ostream &out,
                       const std::function<bool(const RecordVisitor &, std::string &)> &read,
                       std::string &error);

// An attempt waiting in the outbox for the records database.
struct QueuedRecord {
  long long id = 0;  // its row in the SQLite file
  std::string uid;
  RecordValues values;
};

// "2026-12-10T07:12:03.042Z": UTC, milliseconds; text of this form sorts by time.
std::string record_time_text(BoxRecord::Time time);

// --since's text as the records' time text ("YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or
// "YYYY-MM-DDTHH:MM:SS", "T" or a blank between, an optional "Z"; UTC). Empty when the text
// is none of those or not a real date and time.
std::string records_since_text(const std::string &text);

// A field of CSV (RFC 4180): quoted when it holds a comma, a quote or a line end.
std::string csv_field(const std::string &text);

class RecordStore {
 public:
  RecordStore();
  ~RecordStore();
  RecordStore(const RecordStore &) = delete;
  RecordStore &operator=(const RecordStore &) = delete;

  // False in a build without SQLite, whose store opens nothing.
  static bool available();

  // Opens the records at `path`, creating the file and its schema when there is none.
  // `queue`: every attempt added is also put in the outbox for a records database.
  // False with a sentence naming the file and the reason.
  bool open(const std::string &path, std::string &error, bool queue = false);
  // Opens existing records for reading only; a missing file is an error, not a new file.
  bool open_existing(const std::string &path, std::string &error);
  void close();

  // Writes one attempt, whole or not at all. False with a sentence.
  bool add(const BoxRecord &record, std::string &error);

  // Every attempt that started at or after `since` (records_since_text; "" for all), oldest
  // first, as CSV with a header line. False with a sentence; what was written stays.
  bool export_csv(std::ostream &out, const std::string &since, std::string &error);

  // The attempts of `query`, oldest first, each handed to `each`. False with a sentence.
  bool read(const RecordQuery &query, const RecordVisitor &each, std::string &error);

  // The oldest `limit` attempts in the outbox, oldest first. False with a sentence.
  bool queued(size_t limit, std::vector<QueuedRecord> &out, std::string &error);
  // Takes the attempts of these rows out of the outbox, all or none.
  bool sent(const std::vector<long long> &ids, std::string &error);
  // How many attempts are in the outbox; -1 when that cannot be read.
  long long queued_count();

 private:
  bool open_with(const std::string &path, bool create, std::string &error);

  struct Db;
  std::unique_ptr<Db> db_;
  std::string path_;
  bool queue_ = false;
};
