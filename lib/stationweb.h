// The station on a web page: every unit's port, box address, MAC, step, percent and state and
// the station's totals, live (server-sent events), and the production records searchable by
// MAC with a CSV download, for anyone on the floor with a browser. Also as JSON for test
// equipment: GET /api/units, GET /api/records?since=…&mac=…&limit=…, GET /api/events.
//
// Served by Debian's cpp-httplib on one address and port only. Read-only unless a control
// token was given: then POST /api/stop and POST /api/units/N/stop|start with
// "Authorization: Bearer TOKEN" (compared in constant time). The page's own files are compiled
// in; no other path is ever served. Every request is bounded: its head in size and in total
// time (a client trickling a byte every few seconds is cut off), its body in size, and the
// event streams in number, so that they cannot take every worker.
//
// The station tells the server what happens through publish(), from any thread. Builds without
// the library (the Windows programs) get a server whose start() says so.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Something that happened to one unit of the station.
struct StationEvent {
  enum class Kind {
    Step,     // a status line of the box's upgrade (text), with its percent
    Outcome,  // the box's upgrade is over: passed or not, the sentence (text), the box's MAC
    State     // the unit between boxes (text: "waiting for the next box", "stopped", …), MAC
  };
  Kind kind = Kind::Step;
  size_t unit = 0;  // in the order the units were given, from 0
  int percent = 0;
  std::string text;
  std::string mac;
  bool passed = false;
};

// A request to start or stop units, from an authorised client; unit -1 is every unit.
struct StationCommand {
  std::string action;  // "start" or "stop"
  long unit = -1;
};

class StationWeb {
 public:
  struct Options {
    std::string address;  // IPv4 address to listen on, such as 127.0.0.1 or 0.0.0.0
    int port = 0;         // 0: any free port (port() says which)
    std::string records;  // the records file or postgresql:// URI; "" when none are kept
    std::string token;    // "" : read-only
    std::string station;  // the host name, shown on the page
  };
  // The units' ports and addresses, in order. `control` runs commands; it is called on a
  // server thread and must hand them to the station's own.
  StationWeb(std::vector<std::pair<std::string, std::string>> units, Options options,
             std::function<void(const StationCommand &)> control);
  ~StationWeb();
  StationWeb(const StationWeb &) = delete;
  StationWeb &operator=(const StationWeb &) = delete;

  // False in a build without the HTTP library.
  static bool available();

  // Binds the address and starts serving. False with a sentence.
  bool start(std::string &error);
  // The port bound (after start).
  int port() const;
  // Ends every stream and request, and stops serving.
  void stop();

  void publish(const StationEvent &event);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};
