// The production records of many stations in one PostgreSQL database (Debian's libpq).
//
// A station never writes to the database directly: each attempt goes into its own SQLite
// file first (RecordStore with a queue), and a RecordUplink thread sends the outbox on, in
// order, in transactions, taking a row out of the outbox only after the database committed
// it. Every attempt carries its own uid and the database keeps one row per uid, so an answer
// lost with a dropped connection costs a second send, never a second row. While the database
// cannot be reached the attempts wait in the file, across restarts too.
//
// The schema (a table of attempts and one of the schema's version) is created on first use,
// under an advisory lock so that stations starting together do not race; a database of a
// newer version is refused.
//
// Builds without libpq (the Windows programs) have neither class working: available() is
// false and open() says so.
#pragma once

#include "lib/records.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

// True when `target` is a PostgreSQL connection URI (postgresql:// or postgres://) rather
// than a records file.
bool names_records_database(const std::string &target);

// The URI as messages show it: any password replaced by "***".
std::string shown_records_database(const std::string &uri);

class RecordDatabase {
 public:
  RecordDatabase();
  ~RecordDatabase();
  RecordDatabase(const RecordDatabase &) = delete;
  RecordDatabase &operator=(const RecordDatabase &) = delete;

  static bool available();

  // Connects (bounded: connect_timeout 5 s unless the URI says otherwise) and creates or
  // checks the schema. False with a sentence naming the database (without its password).
  bool open(const std::string &uri, std::string &error);
  bool connected() const;
  void close();

  // Writes these attempts in one transaction; those already there (same uid) are left as
  // they are. False with a sentence; the connection is dropped when it broke.
  bool insert(const std::vector<QueuedRecord> &records, std::string &error);

  // As RecordStore::export_csv, from the database.
  bool export_csv(std::ostream &out, const std::string &since, std::string &error);
  // As RecordStore::read, from the database.
  bool read(const RecordQuery &query, const RecordVisitor &each, std::string &error);

 private:
  struct Connection;
  std::unique_ptr<Connection> db_;
  std::string shown_;
};

class RecordUplink {
 public:
  // Sends the outbox of the SQLite file at `queue_path` to the database at `uri`.
  RecordUplink(std::string queue_path, std::string uri);
  ~RecordUplink();
  RecordUplink(const RecordUplink &) = delete;
  RecordUplink &operator=(const RecordUplink &) = delete;

  // Opens the queue and the database, and starts sending (what an earlier run left queued
  // goes first). The database must answer now: a wrong address, name or password is found
  // before any box is flashed. False with a sentence.
  bool start(std::string &error);

  // An attempt was queued.
  void wake();

  // Sends what is queued, waiting at most about `bound` for the database, then stops.
  // Returns how many attempts are still queued (-1: the queue cannot be read).
  long long finish(std::chrono::milliseconds bound);

  // Sentences about the link since the last call (lost, back, sent after a wait), for the
  // station to show.
  std::vector<std::string> news();

  // Attempts the database has confirmed since start.
  long long confirmed() const;

 private:
  void run();
  void say(const std::string &sentence);

  const std::string queue_path_, uri_;
  RecordStore queue_;
  RecordDatabase database_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable wakeup_;
  bool pending_ = true, finishing_ = false, stop_ = false;
  std::chrono::steady_clock::time_point give_up_;
  std::vector<std::string> news_;
  long long confirmed_ = 0;
};
