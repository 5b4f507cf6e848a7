#include "lib/recordsdb.h"

// A build without libpq: a records database is named, and refused with a sentence.

namespace {
std::string no_libpq(const std::string &uri) {
  return "The records database " + shown_records_database(uri) +
         " cannot be used: this build of ZeVavi has no PostgreSQL client library.";
}
}  // namespace

struct RecordDatabase::Connection {};

RecordDatabase::RecordDatabase() = default;
RecordDatabase::~RecordDatabase() = default;
bool RecordDatabase::available() { return false; }
bool RecordDatabase::connected() const { return false; }
void RecordDatabase::close() {}

bool RecordDatabase::open(const std::string &uri, std::string &error) {
  error = no_libpq(uri);
  return false;
}

bool RecordDatabase::insert(const std::vector<QueuedRecord> &, std::string &error) {
  error = "No records database is open.";
  return false;
}

bool RecordDatabase::export_csv(std::ostream &, const std::string &, std::string &error) {
  error = "No records database is open.";
  return false;
}

bool RecordDatabase::read(const RecordQuery &, const RecordVisitor &, std::string &error) {
  error = "No records database is open.";
  return false;
}

RecordUplink::RecordUplink(std::string queue_path, std::string uri)
    : queue_path_(std::move(queue_path)), uri_(std::move(uri)) {}
RecordUplink::~RecordUplink() = default;

bool RecordUplink::start(std::string &error) {
  error = no_libpq(uri_);
  return false;
}

void RecordUplink::wake() {}
long long RecordUplink::finish(std::chrono::milliseconds) { return queue_.queued_count(); }
std::vector<std::string> RecordUplink::news() { return {}; }
long long RecordUplink::confirmed() const { return 0; }
void RecordUplink::run() {}
void RecordUplink::say(const std::string &) {}
