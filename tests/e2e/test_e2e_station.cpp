// Many simulated boxes upgraded at once by zevavi-flash --station, each on a pty of its own
// and with an address of its own on the loopback of a private network namespace: every box
// must flash every byte of the image, and a box that fails or loses its line must leave the
// others to finish. In continuous mode each fixture takes box after box (the simulated box
// replaced by the next, with the next Ethernet address), and every attempt is recorded.
#include "tests/e2e/station_run.h"
#include "tests/support/csv.h"
#include "tests/support/fs.h"
#include "tests/support/postgres.h"
#include "tests/support/process.h"
#include "tests/support/station_image.h"
#include "tests/support/upgrade_expect.h"
#include "tests/support/wait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

namespace {

using namespace e2e_station;

class AllBoxes : public StationRun, public ::testing::WithParamInterface<size_t> {};

TEST_P(AllBoxes, EveryBoxFlashesEveryByteOfTheImage) {
  const size_t n = GetParam();
  compute_digests();
  ASSERT_EQ(run(std::vector<BoxPlan>(n)), 0) << output();
  std::map<std::string, int> exits = unit_exits();
  EXPECT_EQ(exits.size(), n);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(exits[address(i)], 0) << address(i);
    expect_flashed(i);
  }
}

INSTANTIATE_TEST_SUITE_P(Station, AllBoxes, ::testing::Values(1, 4, 8, 16),
                         [](const auto &test_case) { return std::to_string(test_case.param) + "_boxes"; });

struct Trouble {
  const char *name;
  BoxPlan plan;
  friend void PrintTo(const Trouble &t, std::ostream *os) { *os << t.name; }
};

class OneBoxInTrouble : public StationRun, public ::testing::WithParamInterface<Trouble> {};

// The troubled box sits in the middle of eight; the seven others must finish regardless.
TEST_P(OneBoxInTrouble, TheOtherSevenFinish) {
  constexpr size_t troubled = 3;
  std::vector<BoxPlan> plans(8);
  plans[troubled] = GetParam().plan;
  compute_digests();
  EXPECT_EQ(run(plans), 8) << output();
  std::map<std::string, int> exits = unit_exits();
  EXPECT_EQ(exits[address(troubled)], GetParam().plan.exit) << output();
  for (size_t i = 0; i < plans.size(); ++i) {
    if (i == troubled)
      continue;
    EXPECT_EQ(exits[address(i)], 0) << address(i);
    expect_flashed(i);
  }
}

INSTANTIATE_TEST_SUITE_P(Station, OneBoxInTrouble,
                         ::testing::Values(Trouble{"box_failure", {{"--fail-at", "flash0.boot"}, 4}},
                                           Trouble{"line_lost", {{"--vanish-at", "flash0.kernel"}, 5}}),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

TEST_F(ContinuousStation, EachFixtureTakesBoxAfterBoxAndEveryAttemptIsRecorded) {
  run_line(from_env("ZEVAVI_LINE_FIXTURES", 3), from_env("ZEVAVI_LINE_BOXES", 3));
}

// The same line recording into a PostgreSQL database whose connection is cut after the
// second attempt and comes back after the fourth: the attempts in between wait in the
// station's file and reach the database once.
TEST_F(ContinuousStation, ALineRecordsIntoADatabaseThatGoesAwayForAWhile) {
  zv_test::PrivatePostgres server;
  ASSERT_EQ(server.error(), "") << "a private PostgreSQL server is needed";
  zv_test::CutRelay relay(server.port());
  records_target_ = server.uri(relay.port());
  run_line(3, 3, [&](size_t outcomes) {
    if (outcomes == 2)
      relay.cut();
    else if (outcomes == 4)
      relay.restore();
  });
  EXPECT_EQ(server.query("SELECT count(*), count(DISTINCT uid) FROM zevavi_attempts"), "10|10");
  const fs::path queue = dir_.path() / "data" / "zevavi" / "records.sqlite";
  zv_test::Child check;
  zv_test::SpawnOptions options;
  options.out = dir_.path() / "outbox";
  ASSERT_TRUE(check.start(
      {"sqlite3", queue.string(), "SELECT count(*) FROM outbox; SELECT count(*) FROM attempts;"}, options));
  ASSERT_EQ(check.wait_exit(std::chrono::seconds(30)), 0);
  EXPECT_EQ(read_file(dir_.path() / "outbox"), "0\n10\n");
  const std::string out = output();
  EXPECT_NE(out.find("and are sent when it answers"), std::string::npos) << out;
  EXPECT_NE(out.find("answers again"), std::string::npos) << out;
}

}  // namespace

void e2e_station::ContinuousStation::run_line(size_t fixtures, size_t per_fixture,
                                              const std::function<void(size_t)> &on_outcome) {
  const size_t faulty_fixture = 1, faulty_box = 2;
  compute_digests();
  ASSERT_TRUE(start_boxes(plans(fixtures, faulty_fixture, faulty_box)));
  // The operator's console: fixture 0's first box is asked for again, on purpose.
  const fs::path operator_input = dir_.path() / "operator";
  ASSERT_EQ(::mkfifo(operator_input.c_str(), 0600), 0);
  // Opened for both directions, so that neither side's open waits for the other (the
  // station's standard input is opened before it starts, while its start is waited for).
  const int typing = ::open(operator_input.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(typing, 0);
  zv_test::Child flash;
  ASSERT_TRUE(start_station(flash, fixtures, {"--continuous"}, operator_input));
  ASSERT_TRUE(power_on_when_waiting(fixtures)) << output();

  // Each fixture: the outcome of its latest box is out, the box has settled (booted its new
  // system, or stays at the prompt after its failure), its flash is checked, and the next
  // box goes on; on fixture 0 the first box goes through twice.
  std::vector<size_t> outcomes_seen(fixtures, 0), box_on(fixtures, 1), flashes(fixtures, 0);
  std::vector<std::vector<std::string>> macs(fixtures);  // of each attempt, in order
  bool asked_again = false;
  auto advance = [&] {
    const auto all = events();
    bool all_done = true;
    for (size_t i = 0; i < fixtures; ++i) {
      if (box_on[i] > per_fixture)
        continue;
      all_done = false;
      if (i == 0 && asked_again && outcomes_seen[0] == 1) {
        // The unit has taken the request: the same box is switched off and on again.
        for (const QJsonObject &event : events_of(all, "state", 0))
          if (event["text"].toString() == "waiting for the same box again") {
            boxes_[0]->signal(SIGUSR1);
            asked_again = false;
            break;
          }
        continue;
      }
      const auto outcomes = events_of(all, "unit", i);
      if (outcomes.size() <= outcomes_seen[i])
        continue;
      const bool fails = i == faulty_fixture && box_on[i] == faulty_box;
      const QJsonObject box = report(i);
      if (box["state"].toString() != (fails ? "cfe" : "linux"))
        continue;
      SCOPED_TRACE("fixture " + std::to_string(i) + ", box " + std::to_string(box_on[i]));
      EXPECT_EQ(outcomes[outcomes_seen[i]]["exit"].toInt(), fails ? 4 : 0) << output();
      EXPECT_EQ(outcomes[outcomes_seen[i]]["mac"].toString(), box["mac"].toString());
      ++flashes[i];
      if (!fails) {
        expect_flashed(i);
        // The reboots were left alone: one boot for each upgrade, one for each new system.
        EXPECT_EQ(box["boots"].toInt(), int(2 * flashes[i]));
      }
      macs[i].push_back(box["mac"].toString().toStdString());
      ++outcomes_seen[i];
      if (on_outcome) {
        size_t total = 0;
        for (size_t seen : outcomes_seen)
          total += seen;
        on_outcome(total);
      }
      if (i == 0 && outcomes_seen[0] == 1) {
        EXPECT_EQ(::write(typing, "1\n", 2), 2);
        asked_again = true;
      } else if (++box_on[i] <= per_fixture) {
        flashes[i] = 0;
        boxes_[i]->signal(SIGUSR2);
      }
    }
    return all_done;
  };
  ASSERT_TRUE(zv_test::wait_until(advance, std::chrono::seconds(120 + 30 * per_fixture),
                                  std::chrono::milliseconds(50)))
      << output();
  ::close(typing);

  // Every unit waits for a next box that does not come: Ctrl-C ends them at once.
  flash.signal(SIGINT);
  EXPECT_EQ(flash.wait_exit(std::chrono::seconds(60)), 8) << output();

  const auto rows = exported();
  ASSERT_EQ(rows.size(), fixtures * per_fixture + 1);
  std::map<std::string, size_t> seen;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.at("port") + " " + row.at("mac"));
    size_t i = 0;
    while (i < fixtures && row.at("box") != address(i))
      ++i;
    ASSERT_LT(i, fixtures);
    EXPECT_EQ(row.at("port"), tty(i).string());
    const size_t k = seen[row.at("box")]++;
    ASSERT_LT(k, macs[i].size());
    EXPECT_EQ(row.at("mac"), macs[i][k]);
    EXPECT_EQ(row.at("board"), "BCM97405D0 CFE v2.1.21 (CFE core v2.1, BSP_REV 21), Endian Mode: Little");
    EXPECT_EQ(row.at("build"), "Build Date: Tue Mar  2 10:14:33 CST 2010 (boxsim@zevavi)");
    EXPECT_LE(row.at("started"), row.at("ended"));
    if (i == faulty_fixture && k + 1 == faulty_box) {
      EXPECT_EQ(row.at("result"), "fail");
      EXPECT_EQ(row.at("failed_step"), "Upgrade the boot image on the machine.");
      EXPECT_EQ(row.at("box_code"), "-4");
    } else {
      EXPECT_EQ(row.at("result"), "pass");
      EXPECT_EQ(row.at("failed_step"), "");
      expect_served(row);
    }
  }
  EXPECT_EQ(macs[0][0], macs[0][1]);
}

namespace {

// A box that never reaches its loader (its console hears nothing) is taken off while the
// station still tries to stop it, and the next box goes on: the attempt flashes the next
// box, and the record names that box, not the one taken off.
TEST_F(ContinuousStation, ABoxTakenOffBeforeItsLoaderAnsweredLeavesTheAttemptToTheNext) {
  compute_digests();
  std::vector<BoxPlan> plan = plans(1, 1, 1);
  plan[0].faults = {"--mac", first_mac(0), "--boot-delay-ms", "3600000", "--fault-box", "1", "--deaf"};
  ASSERT_TRUE(start_boxes(plan));
  zv_test::Child flash;
  ASSERT_TRUE(start_station(flash, 1, {"--continuous"}));
  ASSERT_TRUE(power_on_when_waiting(1)) << output();
  auto box_is_on = [&] {
    for (const QJsonObject &event : events_of(events(), "state", 0))
      if (event["text"].toString() == "a box is on")
        return true;
    return false;
  };
  ASSERT_TRUE(zv_test::wait_until(box_is_on, std::chrono::seconds(60))) << output();
  boxes_[0]->signal(SIGUSR2);
  ASSERT_TRUE(zv_test::wait_until(
      [&] { return !events_of(events(), "unit", 0).empty() && report(0)["state"].toString() == "linux"; },
      std::chrono::seconds(120)))
      << output();
  const std::string next_mac = report(0)["mac"].toString().toStdString();
  ASSERT_NE(next_mac, first_mac(0));
  expect_flashed(0);
  flash.signal(SIGINT);
  EXPECT_EQ(flash.wait_exit(std::chrono::seconds(60)), 0) << output();
  const auto rows = exported();
  ASSERT_EQ(rows.size(), 1u) << output();
  EXPECT_EQ(rows[0].at("mac"), next_mac);
  EXPECT_EQ(rows[0].at("result"), "pass");
  expect_served(rows[0]);
}

// A station killed outright in the middle of a box (a crash, a power cut) leaves every
// attempt that ended whole in its records, and nothing of the one it was flashing.
TEST_F(ContinuousStation, AKilledStationLeavesNoHalfRow) {
  compute_digests();
  ASSERT_TRUE(start_boxes(plans(2, 99, 0)));
  zv_test::Child flash;
  ASSERT_TRUE(start_station(flash, 2, {"--continuous"}));
  ASSERT_TRUE(power_on_when_waiting(2)) << output();
  // Both first boxes pass and boot; the second box on fixture 0 is then taken half-way.
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        const auto all = events();
        return events_of(all, "unit", 0).size() == 1 && events_of(all, "unit", 1).size() == 1 &&
               report(0)["state"].toString() == "linux";
      },
      std::chrono::seconds(120), std::chrono::milliseconds(50)))
      << output();
  boxes_[0]->signal(SIGUSR2);
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        for (const QJsonObject &event : events_of(events(), "status", 0))
          if (event["text"].toString() == "Upgrade the boot image on the machine.")
            return true;
        return false;
      },
      std::chrono::seconds(120), std::chrono::milliseconds(20)))
      << output();
  flash.signal(SIGKILL);
  EXPECT_EQ(flash.wait_exit(std::chrono::seconds(30)), zv_test::kSignalled + SIGKILL);

  const auto rows = exported();
  ASSERT_EQ(rows.size(), 2u);
  for (const auto &row : rows) {
    SCOPED_TRACE(row.at("box"));
    EXPECT_EQ(row.at("result"), "pass");
    EXPECT_FALSE(row.at("mac").empty());
    EXPECT_FALSE(row.at("ended").empty());
    expect_served(row);
  }
  // The file is whole, as SQLite's own check finds it.
  zv_test::Child check;
  zv_test::SpawnOptions options;
  options.capture_out = true;
  ASSERT_TRUE(check.start({"sqlite3", records().string(), "PRAGMA integrity_check;"}, options));
  EXPECT_EQ(check.read_line(), "ok");
  EXPECT_EQ(check.wait_exit(std::chrono::seconds(30)), 0);
}

// The station's page in a headless browser, its JSON with curl, and what it must refuse. Four
// fixtures in continuous mode, one box each; a unit is stopped and started again over HTTP.
class StationPage : public ContinuousStation {
 protected:
  // curl's answer: the status code, the body in `body`.
  int curl(const std::vector<std::string> &args, std::string *body = nullptr) {
    std::vector<std::string> argv = {"curl", "-s",          "-m", "30", "-o", (dir_.path() / "body").string(),
                                     "-w",   "%{http_code}"};
    argv.insert(argv.end(), args.begin(), args.end());
    zv_test::Child child;
    zv_test::SpawnOptions options;
    options.out = dir_.path() / "code";
    if (!child.start(argv, options) || child.wait_exit(std::chrono::seconds(60)) < 0)
      return -1;
    if (body)
      *body = read_file(dir_.path() / "body");
    return std::atoi(read_file(dir_.path() / "code").c_str());
  }
  // A WebDriver call to chromedriver; its "value".
  QJsonValue driver(const char *method, const std::string &path, const QJsonObject &body = {}) {
    std::string answer;
    std::vector<std::string> args = {"-X", method, "http://127.0.0.1:9515" + path};
    if (std::string(method) == "POST")
      args.insert(args.end(), {"-H", "Content-Type: application/json", "-d",
                               QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString()});
    curl(args, &answer);
    return QJsonDocument::fromJson(QByteArray::fromStdString(answer)).object()["value"];
  }
  QJsonValue script(const std::string &session, const char *code) {
    return driver("POST", "/session/" + session + "/execute/sync",
                  {{"script", code}, {"args", QJsonArray()}});
  }
  std::string url_;
};

TEST_F(StationPage, TheLineInABrowserLiveAndItsApiBounded) {
  constexpr size_t fixtures = 4;
  compute_digests();
  const std::string token = "a-token-of-the-line-0123456789";
  const fs::path token_file = dir_.path() / "token";
  zv_test::write_file(token_file, token + "\n");
  ASSERT_TRUE(start_boxes(plans(fixtures, 99, 0)));
  zv_test::Child flash;
  ASSERT_TRUE(start_station(
      flash, fixtures, {"--continuous", "--http", "127.0.0.1:0", "--http-control", token_file.string()}));
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        for (const QJsonObject &event : events())
          if (event["type"].toString() == "http")
            url_ = event["text"].toString().toStdString();
        return !url_.empty();
      },
      std::chrono::seconds(30)))
      << output();

  zv_test::Child chromedriver;
  zv_test::SpawnOptions quiet;
  quiet.err = dir_.path() / "chromedriver.err";
  ASSERT_TRUE(chromedriver.start({"chromedriver", "--port=9515"}, quiet));
  std::string session;
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        const QJsonArray args = {
            "--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,760",
            QString::fromStdString("--user-data-dir=" + (dir_.path() / "chromium").string())};
        const QJsonObject caps = {
            {"capabilities",
             QJsonObject{{"alwaysMatch", QJsonObject{{"goog:chromeOptions", QJsonObject{{"args", args}}}}}}}};
        session = driver("POST", "/session", caps).toObject()["sessionId"].toString().toStdString();
        return !session.empty();
      },
      std::chrono::seconds(60), std::chrono::milliseconds(500)))
      << read_file(dir_.path() / "chromedriver.err");
  driver("POST", "/session/" + session + "/url", {{"url", QString::fromStdString(url_)}});
  ASSERT_TRUE(power_on_when_waiting(fixtures)) << output();

  // The units as the page shows them: "state|result|percent" a row.
  auto rows = [&] {
    std::vector<std::string> out;
    for (const QJsonValue &row : script(session,
                                        "return [...document.querySelectorAll('#units tbody tr')]"
                                        ".map(r => r.dataset.state + '|' + r.dataset.result + '|' +"
                                        " r.querySelector('.percent').textContent)")
                                     .toArray())
      out.push_back(row.toString().toStdString());
    return out;
  };
  // Mid-run, for a person to look at.
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        for (const std::string &row : rows())
          if (row.starts_with("flashing||") && row != "flashing||0%")
            return true;
        return false;
      },
      std::chrono::seconds(120), std::chrono::milliseconds(50)))
      << output();
  auto screenshot = [&](const char *name) {
    const QByteArray png =
        QByteArray::fromBase64(driver("GET", "/session/" + session + "/screenshot").toString().toLatin1());
    EXPECT_TRUE(png.startsWith("\x89PNG"));
    fs::create_directories(ZEVAVI_ARTIFACTS_DIR);
    zv_test::write_file(fs::path(ZEVAVI_ARTIFACTS_DIR) / name, png.toStdString());
  };
  screenshot("station-page.png");

  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        return rows() == std::vector<std::string>(fixtures, "waiting|passed|0%") &&
               script(session, "return document.getElementById('passed').textContent").toString() == "4";
      },
      std::chrono::seconds(180), std::chrono::milliseconds(200)))
      << output();
  // One box's record, found by its MAC as the operator types it.
  const std::string mac = report(2)["mac"].toString().toStdString();
  script(session, ("document.getElementById('mac').value = '" + mac.substr(6) +
                   "';"
                   "document.querySelector('#search button').click();")
                      .c_str());
  ASSERT_TRUE(zv_test::wait_until(
      [&] {
        const QJsonArray found = script(session,
                                        "return [...document.querySelectorAll('#records tbody tr')]"
                                        ".map(r => r.dataset.mac)")
                                     .toArray();
        return found.size() == 1 && found[0].toString().toStdString() == mac;
      },
      std::chrono::seconds(30), std::chrono::milliseconds(100)));
  screenshot("station-page-found.png");
  driver("DELETE", "/session/" + session);

  struct Ask {
    const char *what;
    std::vector<std::string> args;  // before the path
    std::string path;
    int status;
    std::string in_body;
  };
  const std::string bearer = "Authorization: Bearer " + token;
  const std::vector<Ask> asks = {
      {"units", {}, "api/units", 200, "\"totals\":{\"passed\":4,\"failed\":0"},
      {"records since", {}, "api/records?since=2020-01-01&mac=" + mac, 200, "\"mac\":\"" + mac + "\""},
      {"records, bad since", {}, "api/records?since=yesterday", 400, "since is not"},
      {"records, bad limit", {}, "api/records?limit=100000", 400, "limit is not"},
      {"csv", {}, "records.csv?mac=" + mac, 200, "id,station,port,box,mac"},
      {"traversal", {"--path-as-is"}, "../../../../etc/passwd", 404, ""},
      {"traversal, encoded", {"--path-as-is"}, "%2e%2e/%2e%2e/etc/passwd", 404, ""},
      {"traversal after a file", {"--path-as-is"}, "station.js/../../CMakeCache.txt", 404, ""},
      {"a file's name as a pattern", {}, "stationXjs", 404, ""},
      {"oversized header", {"-H", "X-Big: " + std::string(9000, 'a')}, "api/units", 400, ""},
      {"control without token", {"-X", "POST", "-d", ""}, "api/stop", 401, "needs the station's token"},
      {"control, wrong token",
       {"-X", "POST", "-d", "", "-H", "Authorization: Bearer " + token + "x"},
       "api/stop",
       401,
       ""},
      {"control, no such unit", {"-X", "POST", "-d", "", "-H", bearer}, "api/units/9/stop", 404, "no unit 9"},
      {"unit 2 stops", {"-X", "POST", "-d", "", "-H", bearer}, "api/units/2/stop", 202, ""},
  };
  std::vector<std::string> many_headers;
  for (int i = 0; i < 100; ++i)
    many_headers.insert(many_headers.end(), {"-H", "X-Field-" + std::to_string(i) + ": x"});
  for (const Ask &ask : asks) {
    SCOPED_TRACE(ask.what);
    std::string body;
    std::vector<std::string> args = ask.args;
    args.push_back(url_ + ask.path);
    EXPECT_EQ(curl(args, &body), ask.status) << body;
    EXPECT_NE(body.find(ask.in_body), std::string::npos) << body;
  }
  {
    std::vector<std::string> args = many_headers;
    args.push_back(url_ + "api/units");
    EXPECT_EQ(curl(args), 431);
  }
  // The stop reached the unit; a start brings it back.
  auto unit_state = [&](int unit) {
    std::string body;
    curl({url_ + "api/units"}, &body);
    const QJsonArray units =
        QJsonDocument::fromJson(QByteArray::fromStdString(body)).object()["units"].toArray();
    return units[unit - 1].toObject()["state"].toString().toStdString();
  };
  EXPECT_TRUE(zv_test::wait_until([&] { return unit_state(2) == "stopped"; }, std::chrono::seconds(30)));
  EXPECT_EQ(curl({"-X", "POST", "-d", "", "-H", bearer, url_ + "api/units/2/start"}), 202);
  EXPECT_TRUE(zv_test::wait_until([&] { return unit_state(2) == "waiting"; }, std::chrono::seconds(30)));

  // Pages following the station are many at most so many: the next is refused, and the
  // station's JSON still answers while they all hang on.
  {
    std::vector<std::unique_ptr<zv_test::Child>> streams;
    size_t refused = 0;
    while (refused == 0 && streams.size() < 20) {
      const fs::path into = dir_.path() / ("stream" + std::to_string(streams.size()));
      streams.push_back(std::make_unique<zv_test::Child>());
      ASSERT_TRUE(
          streams.back()->start({"curl", "-s", "-N", "-m", "120", "-o", into.string(), url_ + "api/events"}));
      ASSERT_TRUE(zv_test::wait_until(
          [&] {
            const std::string got = read_file(into);
            refused += got.find("Too many pages follow") != std::string::npos ? 1 : 0;
            return refused > 0 || got.find("event: snapshot") != std::string::npos;
          },
          std::chrono::seconds(30)));
    }
    EXPECT_EQ(refused, 1u);
    EXPECT_LE(streams.size(), 9u);
    EXPECT_EQ(curl({url_ + "api/units"}), 200);
  }

  // A client that sends its request's head a byte at a time, each within the read time-out,
  // is cut off before it is done.
  {
    const int port = std::atoi(url_.substr(url_.rfind(':') + 1).c_str());
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(sock, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    const std::string head = "GET /api/units HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(100, 'a');
    ASSERT_EQ(::send(sock, head.data(), 20, MSG_NOSIGNAL), 20);
    size_t sent = 20;
    bool closed = false;
    // A byte every two seconds; the server's read time-out is five.
    while (!closed && sent < head.size()) {
      pollfd p{sock, POLLIN, 0};
      if (::poll(&p, 1, 2000) > 0) {
        char buffer[256];
        const ssize_t got = ::recv(sock, buffer, sizeof buffer, 0);
        EXPECT_EQ(std::string(buffer, size_t(std::max<ssize_t>(got, 0))).find("200 OK"), std::string::npos);
        closed = got <= 0;
      } else {
        closed = ::send(sock, head.data() + sent++, 1, MSG_NOSIGNAL) != 1;
      }
    }
    ::close(sock);
    EXPECT_TRUE(closed) << "the slow client sent its whole head";
  }

  flash.signal(SIGINT);
  EXPECT_EQ(flash.wait_exit(std::chrono::seconds(60)), 0) << output();
}

}  // namespace
