#include "lib/stationweb.h"

// A build without cpp-httplib (the Windows programs): the station runs without its page.

struct StationWeb::Impl {};

StationWeb::StationWeb(std::vector<std::pair<std::string, std::string>>, Options,
                       std::function<void(const StationCommand &)>) {}
StationWeb::~StationWeb() = default;
bool StationWeb::available() { return false; }

bool StationWeb::start(std::string &error) {
  error =
      "This build of zevavi-flash has no web server (it was built without cpp-httplib): --http cannot be "
      "used.";
  return false;
}

int StationWeb::port() const { return 0; }
void StationWeb::stop() {}
void StationWeb::publish(const StationEvent &) {}
