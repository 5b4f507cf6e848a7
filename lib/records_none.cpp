#include "lib/records.h"

// A build without SQLite: the station runs, but keeps no records.

struct RecordStore::Db {};

bool RecordStore::available() { return false; }

RecordStore::RecordStore() = default;
RecordStore::~RecordStore() = default;

void RecordStore::close() {}

bool RecordStore::open(const std::string &path, std::string &error, bool) {
  return open_with(path, true, error);
}

bool RecordStore::open_existing(const std::string &path, std::string &error) {
  return open_with(path, false, error);
}

bool RecordStore::open_with(const std::string &path, bool, std::string &error) {
  error = "The records file " + path + " cannot be used: this build of ZeVavi has no SQLite.";
  return false;
}

bool RecordStore::add(const BoxRecord &, std::string &error) {
  error = "No records file is open.";
  return false;
}

bool RecordStore::export_csv(std::ostream &, const std::string &, std::string &error) {
  error = "No records file is open.";
  return false;
}

bool RecordStore::read(const RecordQuery &, const RecordVisitor &, std::string &error) {
  error = "No records file is open.";
  return false;
}

bool RecordStore::queued(size_t, std::vector<QueuedRecord> &out, std::string &error) {
  out.clear();
  error = "No records file is open.";
  return false;
}

bool RecordStore::sent(const std::vector<long long> &, std::string &error) {
  error = "No records file is open.";
  return false;
}

long long RecordStore::queued_count() { return -1; }
