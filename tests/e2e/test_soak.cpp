// A day on the line in small: upgrade after upgrade in one process, the window's and the
// station's, with the process's resident memory, open descriptors and threads sampled after
// every box; none of them may grow with the number of boxes, and every flashed byte is
// checked. The chaos run gives each box of a continuous station one fault drawn from a
// table with a fixed seed: every box ends as its fault says it must (exit code, status line,
// record), the others finish byte-exact, and the fixtures go on without each other.
//
// ./test runs them small. bench/soak/run.sh runs them at a line's size through these
// variables: ZEVAVI_SOAK_UPGRADES (the window), ZEVAVI_SOAK_FIXTURES and ZEVAVI_SOAK_BOXES
// (the station), ZEVAVI_CHAOS_FIXTURES, ZEVAVI_CHAOS_BOXES and ZEVAVI_CHAOS_SEED.
#include "tests/e2e/station_run.h"
#include "tests/e2e/window_run.h"
#include "tests/support/proc_usage.h"
#include "tests/support/wait.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

size_t count_from_env(const char *name, size_t fallback) {
  const char *text = std::getenv(name);
  return text && std::atoi(text) > 0 ? size_t(std::atoi(text)) : fallback;
}

// A sanitizer's allocator holds freed memory back (AddressSanitizer's quarantine) and keeps
// shadow memory of its own, so there a process's memory says more about the sanitizer than
// about us: it is shown, not judged. Descriptors and threads are judged in every build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool memory_is_judged = false;
#else
constexpr bool memory_is_judged = true;
#endif

// The figures of one process after each box, and the verdict on each.
class Samples {
 public:
  void add(const zv_test::Usage &usage) { taken_.push_back(usage); }

  // Prints the figures at boxes 1, the middle and the last, and each figure's slope after the
  // warm-up (the first fifth, at least two boxes: caches, pools and the allocator's arenas
  // fill there). Floors: a descriptor or a thread kept by one box in twenty, or 32 KiB of
  // memory a box (a leaked transfer buffer, image buffer or console history is larger).
  void expect_flat(const std::string &who) {
    ASSERT_FALSE(taken_.empty());
    const size_t n = taken_.size();
    for (size_t box : {size_t(1), (n + 1) / 2, n})
      std::printf("[soak] %s box %zu: memory %.0f KiB, descriptors %.0f, threads %.0f\n", who.c_str(), box,
                  taken_[box - 1].rss_kib, taken_[box - 1].fds, taken_[box - 1].threads);
    const size_t warm_up = std::max<size_t>(2, n / 5);
    struct Figure {
      const char *name;
      double zv_test::Usage::*field;
      double floor;
    };
    for (const Figure &figure : {Figure{"memory KiB", &zv_test::Usage::rss_kib, 32},
                                 Figure{"descriptors", &zv_test::Usage::fds, 0.05},
                                 Figure{"threads", &zv_test::Usage::threads, 0.05}}) {
      std::vector<double> series;
      for (size_t i = warm_up; i < n; ++i)
        series.push_back(taken_[i].*figure.field);
      const zv_test::Trend t = zv_test::trend_of(series);
      std::printf("[soak] %s %s: slope %.4f a box (+- %.4f) over boxes %zu..%zu\n", who.c_str(), figure.name,
                  t.slope, t.error, warm_up + 1, n);
      if (figure.field == &zv_test::Usage::rss_kib && !memory_is_judged)
        continue;
      EXPECT_FALSE(zv_test::grows(t, figure.floor))
          << who << ": " << figure.name << " grows by " << t.slope << " a box (+- " << t.error << ")";
    }
    std::fflush(stdout);
  }

 private:
  std::vector<zv_test::Usage> taken_;
};

// ---- the window ----

using e2e_window::lines_without_splash;

class WindowSoak : public e2e_window::Upgrade {};

// Previous, Next and Start again, box after box, in one window: each box is the next one on
// the fixture, and the samples are taken once it runs the system it was given.
TEST_F(WindowSoak, UpgradeAfterUpgradeKeepsMemoryDescriptorsAndThreadsFlat) {
  const size_t upgrades = count_from_env("ZEVAVI_SOAK_UPGRADES", 5);
  const SamplePartitions full = make_sample_partitions(7);
  SamplePartitions image;
  image.kernel = full.kernel.substr(0, 30000);
  image.boot = full.boot.substr(0, 512 * 20);
  image.root = full.root.substr(0, 60001);
  const fs::path path = dir_ / "firmware.nfi";
  ASSERT_TRUE(write_sample_container(path.string(), image));
  box_->start({"--mac", "00-10-18-00-00-01"});
  fill_inputs("KESTA", path);
  Samples samples;
  for (size_t k = 1; k <= upgrades; ++k) {
    SCOPED_TRACE("upgrade " + std::to_string(k));
    if (k > 1) {
      click(window_->btnStatus);  // Previous
      ASSERT_EQ(window_->btnStatus->text(), "Next");
    }
    next_and_start();
    if (k > 1) {
      // Waiting for the box: the next one goes on the fixture and powers on.
      ASSERT_TRUE(e2e_window::pump_until([&] { return lines().size() >= 2; }, 60000));
      box_->next_box();
    }
    ASSERT_TRUE(wait_for_the_worker()) << lines().join("\n").toStdString();
    ASSERT_EQ(lines(), lines_without_splash);
    ASSERT_TRUE(e2e_window::pump_until([&] { return box_->report()["state"].toString() == "linux"; }, 60000));
    const QJsonObject report = box_->report();
    ASSERT_EQ(report["box"].toInt(), int(k));
    expect_flashed(report, "flash0.kernel", image.kernel);
    expect_flashed(report, "flash0.boot", image.boot);
    expect_flashed(report, "flash0.avail0", image.root);
    samples.add(zv_test::usage_of(::getpid()));
  }
  samples.expect_flat("window");
}

// ---- the station ----

// A fault a box of the chaos run may get. Drawn with its weight; the box's own faults go
// on its simulated box's command line, the others come from this test while it runs.
enum class Kind { None, LineLost, BoxCode, Silent, SlowFlash, Stray, RepeatedRequest, OtherFile };

struct FaultRow {
  const char *name;
  Kind kind;
  int weight;
};

const FaultRow fault_table[] = {
    {"none", Kind::None, 6},
    {"line lost at a random step", Kind::LineLost, 1},
    {"box error code at a random command", Kind::BoxCode, 2},
    {"box silent at a random command", Kind::Silent, 2},
    {"box slow to program (a NOR part)", Kind::SlowFlash, 2},
    {"stray datagrams during its transfers", Kind::Stray, 2},
    {"its read request repeated from another address", Kind::RepeatedRequest, 2},
    {"box asks for another box's file", Kind::OtherFile, 2},
};
// Not a box's: the records unreachable for a while, twice. The chaos run's station records
// into PostgreSQL through a relay that is cut for a round of boxes; later its own queue file
// is locked by another process for another round.
const char *const records_faults[] = {"records database unreachable for a while",
                                      "station's own records file locked for a while"};

// The command lines an upgrade types (no splash), and the status line each one is under.
const char *const step_of_line[] = {nullptr,
                                    "IP is set in the machine.",
                                    "Upgrade the kernel image on the machine.",
                                    "Erase memory area about FLASH2 and FLASH0.",
                                    "Upgrade the boot image on the machine.",
                                    "Upgrade the root image on the machine."};
constexpr int first_status_of_line = 2;  // line 1's status line is number 3

// One box of the run: its fault and what it must end with.
struct PlannedBox {
  const FaultRow *fault = &fault_table[0];
  int line = 0;     // the command line the fault strikes (from 1)
  int code = 0;     // the box's failure code
  std::string mac;  // as its boot loader prints it
  int exit = 0;
  std::string text;  // the status line of the outcome
  std::string failed_step;
  // Filled as it runs:
  bool done = false;
  Clock::time_point on, ended;
  int others_meanwhile = 0;  // boxes of other fixtures that ended while this one ran
};

// The station's JSON events, read on from where the last call stopped.
class EventTail {
 public:
  explicit EventTail(fs::path path) : path_(std::move(path)) {}
  const std::vector<QJsonObject> &read() {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(std::streamoff(offset_));
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    for (size_t end; (end = chunk.find('\n', start)) != std::string::npos; start = end + 1)
      events_.push_back(
          QJsonDocument::fromJson(QByteArray::fromStdString(chunk.substr(start, end - start))).object());
    offset_ += start;
    return events_;
  }

 private:
  fs::path path_;
  size_t offset_ = 0;
  std::vector<QJsonObject> events_;
};

// Datagrams to the station's port 69 from an address of the loopback that is no box's.
void send_from(const std::string &address, const std::string &bytes) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  ::inet_pton(AF_INET, address.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(69);
  ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0)
    (void)::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  ::close(fd);
}

std::string read_request(const std::string &file) {
  return std::string("\0\1", 2) + file + std::string(1, '\0') + "octet" + std::string(1, '\0');
}

class LineSoak : public e2e_station::ContinuousStation {
 protected:
  // The station's own file: its records, or its queue when it records into a database.
  fs::path queue() const {
    return records_target_.empty() ? records() : dir_.path() / "data" / "zevavi" / "records.sqlite";
  }
  std::unique_ptr<zv_test::PrivatePostgres> server_;
  std::unique_ptr<zv_test::CutRelay> relay_;  // between the station and server_

  static std::string mac_of(size_t fixture, size_t box) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "00-10-18-%02X-00-%02X", unsigned(fixture), unsigned(box + 1));
    return mac;
  }

  // Each box's fault, drawn with `seed`; all "none" for seed 0.
  std::vector<std::vector<PlannedBox>> plan(size_t fixtures, size_t boxes, unsigned seed) {
    std::mt19937 draw(seed);
    int total = 0;
    for (const FaultRow &row : fault_table)
      total += row.weight;
    const int codes[] = {-1, -3, -4, -9, -21, -30};
    std::vector<std::vector<PlannedBox>> out(fixtures, std::vector<PlannedBox>(boxes));
    for (size_t i = 0; i < fixtures; ++i)
      for (size_t k = 0; k < boxes; ++k) {
        PlannedBox &b = out[i][k];
        b.mac = mac_of(i, k);
        int pick = seed ? int(draw() % unsigned(total)) : 0;
        for (const FaultRow &row : fault_table) {
          if (pick < row.weight) {
            b.fault = &row;
            break;
          }
          pick -= row.weight;
        }
        b.line = 1 + int(draw() % 5);
        b.code = codes[draw() % std::size(codes)];
        b.failed_step = step_of_line[b.line];
        const std::string status = std::to_string(b.line + first_status_of_line);
        switch (b.fault->kind) {
          case Kind::LineLost:
            b.exit = 5;
            b.text = "Lost the connection to " + tty(i).string() + ".";
            break;
          case Kind::BoxCode:
            b.exit = 4;
            b.text = "The machine reported a failure: " + std::to_string(b.code) + ".";
            break;
          case Kind::Silent:
            b.exit = 6;
            b.text = "The machine stopped answering at step " + status + ".";
            break;
          default:
            b.failed_step.clear();
            b.text = "Finished.";
        }
      }
    return out;
  }

  // The simulated box's own switches for a planned fault.
  static std::string box_switches(const PlannedBox &b) {
    const std::string line = std::to_string(b.line);
    switch (b.fault->kind) {
      case Kind::LineLost:
        return "--vanish-at " + line;
      case Kind::BoxCode:
        return "--fail-at " + line + "=" + std::to_string(b.code);
      case Kind::Silent:
        return "--hang-at " + line;
      case Kind::SlowFlash:
        return "--program-kib-s 8";
      case Kind::OtherFile:
        return "--ask-for ky_tmp/../other-box/root_cfe_auto.jffs2";
      default:
        return "";
    }
  }

  // The simulated box of fixture `i` from its `first` box on (each with its faults), off
  // until it is powered on.
  std::vector<std::string> box_arguments(size_t i, const std::vector<PlannedBox> &boxes, size_t first) {
    const fs::path schedule = dir_.path() / ("faults" + std::to_string(i) + "-" + std::to_string(first));
    std::ofstream out(schedule);
    for (size_t k = first; k < boxes.size(); ++k)
      out << box_switches(boxes[k]) << "\n";
    return {"--mac", boxes[first].mac, "--boot-delay-ms", "3600000", "--box-faults", schedule.string()};
  }

  // The adapter of fixture `i` is pushed back: a new simulated box on a new pty at the same
  // path, once the one whose line went has gone.
  bool plug_back(size_t i, const std::vector<PlannedBox> &boxes, size_t first) {
    if (boxes_[i]->wait_exit(std::chrono::seconds(60)) == zv_test::kStillRunning)
      return false;
    return start_box(i, box_arguments(i, boxes, first)) &&
           zv_test::wait_until([&] { return fs::exists(tty(i)); }, std::chrono::seconds(30));
  }

  // The station's SQLite file is unreachable while a few boxes end, then comes back: another
  // process holds its write lock.
  class RecordsOutage {
   public:
    explicit RecordsOutage(fs::path records) : records_(std::move(records)) {}
    bool begin(const fs::path &dir) {
      const fs::path input = dir / "lock-input";
      if (::mkfifo(input.c_str(), 0600) != 0)
        return false;
      typing_ = ::open(input.c_str(), O_RDWR | O_CLOEXEC);
      zv_test::SpawnOptions options;
      options.in = input;
      options.capture_out = true;
      if (typing_ < 0 || !holder_.start({"sqlite3", records_.string()}, options))
        return false;
      const std::string script = "BEGIN EXCLUSIVE;\nSELECT 'held';\n";
      return ::write(typing_, script.data(), script.size()) == ssize_t(script.size()) &&
             holder_.read_line() == "held";
    }
    bool end() {
      const std::string script = "COMMIT;\n.quit\n";
      const bool written = ::write(typing_, script.data(), script.size()) == ssize_t(script.size());
      ::close(typing_);
      return written && holder_.wait_exit(std::chrono::seconds(60)) == 0;
    }

   private:
    fs::path records_;
    int typing_ = -1;
    zv_test::Child holder_;
  };

  // Runs the line: each fixture takes its boxes one after the other, on its own; the test
  // plays the faults that come from outside, samples the station after each box, checks
  // each outcome and each flash, and at the end the records.
  void run_line(size_t fixtures, size_t boxes, unsigned seed) {
    compute_digests();
    auto planned = plan(fixtures, boxes, seed);
    std::vector<e2e_station::BoxPlan> plans(fixtures);
    for (size_t i = 0; i < fixtures; ++i) {
      if (seed) {
        std::printf("[chaos] fixture %zu:", i);
        for (const PlannedBox &b : planned[i])
          std::printf(" [%s]", box_switches(b).empty() ? b.fault->name : box_switches(b).c_str());
        std::printf("\n");
        std::fflush(stdout);
      }
      plans[i].faults = box_arguments(i, planned[i], 0);
    }
    ASSERT_TRUE(start_boxes(plans));
    zv_test::Child flash;
    ASSERT_TRUE(start_station(flash, fixtures, {"--continuous", "--silence", "10", "--timeout", "86400"}));
    ASSERT_TRUE(power_on_when_waiting(fixtures)) << output();

    const size_t total = fixtures * boxes;
    const Clock::time_point start = Clock::now();
    std::vector<size_t> on(fixtures, 0);  // the box on each fixture
    std::vector<bool> over(fixtures, false);
    for (size_t i = 0; i < fixtures; ++i)
      planned[i][0].on = start;
    size_t ended = 0;
    // With faults, the database goes away once a quarter of the boxes have ended and the
    // station's own file once half have, each for a round of boxes.
    const size_t cut_from = seed ? total / 4 : total + 1, cut_to = cut_from + fixtures;
    const size_t outage_from = seed ? total / 2 : total + 1, outage_to = outage_from + fixtures;
    RecordsOutage outage(queue());
    bool outage_on = false, outage_seen = false, cut_on = false;
    Samples samples;
    EventTail tail(dir_.path() / "out");
    std::vector<size_t> seen(fixtures, 0);
    // Fixtures whose line went, from where in the events: their next box powers on once the
    // station has the line again.
    std::vector<size_t> plugged_back_at(fixtures, 0);
    std::mt19937 junk(seed + 1);

    auto advance = [&] {
      const auto &all = tail.read();
      for (const QJsonObject &event : all)
        if (event["type"].toString() == "error" && event["exit"].toInt() == 9)
          outage_seen = true;
      bool all_over = true;
      for (size_t i = 0; i < fixtures; ++i) {
        if (over[i])
          continue;
        all_over = false;
        if (plugged_back_at[i] > 0) {
          for (size_t e = plugged_back_at[i]; e < all.size(); ++e)
            if (all[e]["type"].toString() == "state" &&
                all[e]["box"].toString().toStdString() == address(i) &&
                all[e]["text"].toString() == "waiting for the next box") {
              plugged_back_at[i] = 0;
              planned[i][on[i]].on = Clock::now();
              boxes_[i]->signal(SIGUSR1);
              break;
            }
          continue;
        }
        PlannedBox &b = planned[i][on[i]];
        // Faults from outside, all the while the box's upgrade runs.
        if (b.fault->kind == Kind::Stray) {
          std::string bytes(junk() % 40, '\0');
          for (char &c : bytes)
            c = char(junk());
          for (const char *opcode : {"\0\4", "\0\3", "\0\5"})
            send_from("127.0.0.250", std::string(opcode, 2) + bytes);
        } else if (b.fault->kind == Kind::RepeatedRequest) {
          for (const char *file : {"ky_tmp/kernel_cfe_auto.bin", "ky_tmp/root_cfe_auto.jffs2"})
            send_from("127.0.0.251", read_request(file));
        }
        std::vector<QJsonObject> outcomes;
        for (size_t e = 0; e < all.size(); ++e)
          if (all[e]["type"].toString() == "unit" && all[e]["box"].toString().toStdString() == address(i))
            outcomes.push_back(all[e]);
        if (outcomes.size() <= seen[i])
          continue;
        const QJsonObject box = report(i);
        const QString state = box["state"].toString();
        // The box settles before it is checked and replaced: the passed one runs its new
        // system, the failed one waits at its prompt, the silent one says nothing more, and
        // the one whose line went has gone.
        if (b.exit == 0 && state != "linux")
          continue;
        if (b.exit == 4 && state != "cfe")
          continue;
        if (b.exit == 5 && state != "vanished")
          continue;
        const QJsonObject outcome = outcomes[seen[i]++];
        b.done = true;
        b.ended = Clock::now();
        ++ended;
        for (size_t j = 0; j < fixtures; ++j)
          if (j != i && !over[j] && !planned[j][on[j]].done)
            ++planned[j][on[j]].others_meanwhile;
        samples.add(zv_test::usage_of(flash.pid()));
        {
          SCOPED_TRACE("fixture " + std::to_string(i) + ", box " + std::to_string(on[i] + 1) + ": " +
                       b.fault->name);
          EXPECT_EQ(outcome["exit"].toInt(), b.exit) << outcome["text"].toString().toStdString();
          EXPECT_EQ(outcome["text"].toString().toStdString(), b.text);
          EXPECT_EQ(outcome["mac"].toString().toStdString(), b.mac);
          EXPECT_EQ(box["mac"].toString().toStdString(), b.mac);
          if (b.exit == 0)
            expect_flashed(i);
        }
        if (relay_ && !cut_on && ended >= cut_from && ended < cut_to) {
          relay_->cut();
          cut_on = true;
        } else if (cut_on && ended >= cut_to) {
          relay_->restore();
          cut_on = false;
        }
        if (!outage_on && ended >= outage_from && ended < outage_to) {
          EXPECT_TRUE(outage.begin(dir_.path()));
          outage_on = true;
        } else if (outage_on && ended >= outage_to) {
          EXPECT_TRUE(outage.end());
          outage_on = false;
        }
        if (++on[i] == boxes) {
          over[i] = true;
          continue;
        }
        if (b.exit == 5) {
          if (!plug_back(i, planned[i], on[i])) {
            ADD_FAILURE() << "fixture " << i << ": no new box after its line went";
            over[i] = true;
            continue;
          }
          plugged_back_at[i] = all.size();
          continue;
        }
        planned[i][on[i]].on = Clock::now();
        boxes_[i]->signal(SIGUSR2);
      }
      return all_over;
    };
    ASSERT_TRUE(
        zv_test::wait_until(advance, std::chrono::seconds(300 + 20 * boxes), std::chrono::milliseconds(50)))
        << output();
    if (outage_on) {
      EXPECT_TRUE(outage.end());
    }
    if (relay_)
      relay_->restore();
    // Every unit waits for a box that does not come (or has stopped): Ctrl-C ends them.
    bool any_failed = false;
    for (const auto &fixture : planned)
      for (const PlannedBox &b : fixture)
        any_failed = any_failed || (b.done && b.exit != 0);
    flash.signal(SIGINT);
    EXPECT_EQ(flash.wait_exit(std::chrono::seconds(120)), any_failed ? 8 : 0) << output();
    if (seed) {
      EXPECT_TRUE(outage_seen) << "the station's file never went away while a box ended";
      const std::string out = output();
      EXPECT_NE(out.find("and are sent when it answers"), std::string::npos)
          << "the database never went away";
      EXPECT_NE(out.find("answers again"), std::string::npos) << out;
    }

    samples.expect_flat("station");
    check_records(planned);
    if (server_) {
      // Sent once each, though some were queued through a cut, and the queue is empty.
      const std::string rows = server_->query("SELECT count(*), count(DISTINCT uid) FROM zevavi_attempts");
      const std::string count = rows.substr(0, rows.find('|'));
      EXPECT_EQ(rows, count + "|" + count);
      zv_test::Child check;
      zv_test::SpawnOptions options;
      options.out = dir_.path() / "outbox";
      ASSERT_TRUE(check.start({"sqlite3", queue().string(), "SELECT count(*) FROM outbox;"}, options));
      ASSERT_EQ(check.wait_exit(std::chrono::seconds(30)), 0);
      EXPECT_EQ(zv_test::read_file(dir_.path() / "outbox"), "0\n");
    }
    if (seed)
      print_table(planned);
  }

  // One row for every box that was put on, in each fixture's order, saying how it ended.
  void check_records(const std::vector<std::vector<PlannedBox>> &planned) {
    const auto rows = exported();
    std::map<std::string, size_t> next;
    size_t attempts = 0;
    for (const auto &fixture : planned)
      for (const PlannedBox &b : fixture)
        attempts += b.done ? 1 : 0;
    EXPECT_EQ(rows.size(), attempts);
    for (const auto &row : rows) {
      size_t i = 0;
      while (i < planned.size() && row.at("box") != address(i))
        ++i;
      ASSERT_LT(i, planned.size()) << row.at("box");
      const size_t k = next[row.at("box")]++;
      ASSERT_LT(k, planned[i].size());
      const PlannedBox &b = planned[i][k];
      SCOPED_TRACE("record of fixture " + std::to_string(i) + ", box " + std::to_string(k + 1) + ": " +
                   b.fault->name);
      EXPECT_EQ(row.at("mac"), b.mac);
      EXPECT_EQ(row.at("result"), b.exit == 0 ? "pass" : "fail");
      EXPECT_EQ(row.at("failed_step"), b.failed_step);
      EXPECT_EQ(row.at("box_code"), b.exit == 4 ? std::to_string(b.code) : "");
      if (b.exit == 0)
        expect_served(row);
    }
  }

  // The chaos run's table: each fault, how many boxes got it, how they ended, the longest
  // any took from being put on to its outcome, and how many boxes of other fixtures ended
  // meanwhile (the fixtures do not wait on each other).
  static void print_table(const std::vector<std::vector<PlannedBox>> &planned) {
    std::printf("[chaos] %-48s %5s %5s  %-34s %8s %8s\n", "fault", "boxes", "ended", "outcome", "max s",
                "others");
    for (const FaultRow &row : fault_table) {
      size_t count = 0, done = 0;
      int others = 0;
      double longest = 0;
      std::string outcome;
      for (const auto &fixture : planned)
        for (const PlannedBox &b : fixture) {
          if (b.fault != &row)
            continue;
          ++count;
          if (!b.done)
            continue;
          ++done;
          others += b.others_meanwhile;
          longest = std::max(longest, std::chrono::duration<double>(b.ended - b.on).count());
          outcome = b.exit == 0
                        ? "exit 0, Finished., pass, byte-exact"
                        : "exit " + std::to_string(b.exit) + ", " + b.text.substr(0, 20) + "..., fail";
        }
      std::printf("[chaos] %-48s %5zu %5zu  %-34s %8.1f %8d\n", row.name, count, done, outcome.c_str(),
                  longest, others);
    }
    for (const char *fault : records_faults)
      std::printf("[chaos] %-48s   (rows kept, written once it came back)\n", fault);
    std::fflush(stdout);
  }
};

TEST_F(LineSoak, BoxAfterBoxOnEveryFixtureKeepsTheStationFlat) {
  run_line(count_from_env("ZEVAVI_SOAK_FIXTURES", 2), count_from_env("ZEVAVI_SOAK_BOXES", 6), 0);
}

TEST_F(LineSoak, ChaosEveryBoxEndsAsItsFaultSays) {
  server_ = std::make_unique<zv_test::PrivatePostgres>();
  ASSERT_EQ(server_->error(), "") << "a private PostgreSQL server is needed";
  relay_ = std::make_unique<zv_test::CutRelay>(server_->port());
  records_target_ = server_->uri(relay_->port());
  run_line(count_from_env("ZEVAVI_CHAOS_FIXTURES", 3), count_from_env("ZEVAVI_CHAOS_BOXES", 8),
           unsigned(count_from_env("ZEVAVI_CHAOS_SEED", 29)));
}

}  // namespace
