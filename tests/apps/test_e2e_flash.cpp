// zevavi-flash run as a child process against the simulated box: the box fetches every
// partition over TFTP from the program's server on port 69 and reports what it flashed; the
// exit code, the output and the report must tell the same story.
#include "platform/net.h"
#include "platform/paths.h"
#include "tests/support/process.h"
#include "tests/support/upgrade_expect.h"
#include "tests/support/wait.h"
#include "tools/demo/sampleimage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

using upgrade_expect::read_file;
using upgrade_expect::sha256_of;

// Polls `done` until it holds or `limit_ms` passes.
template <class Done>
bool wait_for(Done done, int limit_ms) {
  return zv_test::wait_until(done, std::chrono::milliseconds(limit_ms), std::chrono::milliseconds(20));
}

std::vector<std::string> numbered_lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] >= '1' && line[0] <= '9')
      lines.push_back(line);
  return lines;
}

class Flash : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::getenv("ZEVAVI_IN_NETNS")) << "not in a network namespace of our own";
    dir_ = fs::temp_directory_path() / ("zevavi-flash-e2e-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // The child inherits it: its partition folder is ours to look into.
    ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
    for (const std::string &address : interface_ipv4_addresses())
      if (address.rfind("127.", 0) != 0)
        pc_ = address;
    ASSERT_FALSE(pc_.empty()) << "the namespace gives the PC no address";
    box_address_ = box_address_beside(pc_.c_str());
  }
  void TearDown() override {
    stop_box();
    if (!HasFailure())
      fs::remove_all(dir_);
    else
      std::fprintf(stderr, "kept for a look: %s\n%s\n%s\n", dir_.c_str(), read_file(dir_ / "out").c_str(),
                   read_file(dir_ / "err").c_str());
  }

  void start_box(const std::vector<std::string> &extra = {}) {
    std::vector<std::string> args = {std::string(ZEVAVI_BIN_DIR) + "/boxsim",
                                     "--pty-link",
                                     tty().string(),
                                     "--report",
                                     (dir_ / "box.json").string(),
                                     "--speed",
                                     "20"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(box_.start(args, outputs("box.")));
    ASSERT_TRUE(wait_for([&] { return fs::exists(tty()); }, 10000)) << "the box made no pty";
  }
  void stop_box() { box_.stop(SIGTERM, std::chrono::seconds(10)); }
  // Standard output and error into <prefix>out and <prefix>err of the test's folder.
  zv_test::SpawnOptions outputs(const std::string &prefix = "") const {
    zv_test::SpawnOptions options;
    options.out = dir_ / (prefix + "out");
    options.err = dir_ / (prefix + "err");
    return options;
  }
  QJsonObject report() {
    return QJsonDocument::fromJson(QByteArray::fromStdString(read_file(dir_ / "box.json"))).object();
  }

  // Starts zevavi-flash on the box's pty with `model` and `image`.
  bool start_flash(const char *model, const fs::path &image, const std::vector<std::string> &extra = {}) {
    std::vector<std::string> args = {std::string(ZEVAVI_BIN_DIR) + "/zevavi-flash",
                                     "--port",
                                     tty().string(),
                                     "--model",
                                     model,
                                     "--box",
                                     box_address_,
                                     "--log",
                                     (dir_ / "zevavi.log").string(),
                                     "--timeout",
                                     "400"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(image.string());
    return flash_.start(args, outputs());
  }
  int flash(const char *model, const fs::path &image, const std::vector<std::string> &extra = {}) {
    return start_flash(model, image, extra) ? flash_.wait_exit(std::chrono::seconds(500)) : -2;
  }
  std::string out() { return read_file(dir_ / "out"); }
  std::string err() { return read_file(dir_ / "err"); }

  void expect_flashed(const char *target, const std::string &bytes) {
    SCOPED_TRACE(target);
    QJsonObject partition = report()["partitions"].toObject()[target].toObject();
    ASSERT_FALSE(partition.isEmpty()) << "the box flashed nothing to " << target;
    EXPECT_EQ(partition["size"].toInteger(), qint64(bytes.size()));
    EXPECT_EQ(partition["sha256"].toString().toStdString(), sha256_of(bytes, dir_ / "expected"));
  }
  // No partition file is left in the program's temporary folder.
  void expect_no_partition_files() {
    const fs::path folder = temp_dir_path();
    for (const char *name :
         {"kernel_cfe_auto.bin", "splash_cfe_auto.bin", "boot_cfe_auto.jffs2", "root_cfe_auto.jffs2"})
      EXPECT_FALSE(fs::exists(folder / name)) << name;
  }
  fs::path tty() const { return dir_ / "box-tty"; }
  fs::path container(unsigned seed) {
    SamplePartitions parts = make_sample_partitions(seed);
    fs::path path = dir_ / "firmware.nfi";
    EXPECT_TRUE(write_sample_container(path.string(), parts));
    image_ = parts;
    return path;
  }

  fs::path dir_;
  std::string pc_, box_address_;
  zv_test::Child box_, flash_;
  SamplePartitions image_;
};

using upgrade_expect::lines_without_splash;

using upgrade_expect::ModelRun;

class WholeFlash : public Flash, public ::testing::WithParamInterface<ModelRun> {};

TEST_P(WholeFlash, ExitsZeroAndEveryFlashedByteEqualsTheImage) {
  const ModelRun &run = GetParam();
  fs::path path;
  if (run.zip) {
    image_ = make_sample_partitions(unsigned(run.model[0]));
    path = dir_ / "firmware.zip";
    ASSERT_TRUE(write_sample_zip(path.string(), dir_.string(), image_));
  } else {
    path = container(unsigned(run.model[0]));
  }
  start_box();
  ASSERT_EQ(flash(run.model, path), 0) << out() << err();
  stop_box();

  std::vector<std::string> want = lines_without_splash;
  if (run.zip)
    want = upgrade_expect::lines_with_splash;
  EXPECT_EQ(numbered_lines(out()), want);
  expect_flashed("flash0.kernel", image_.kernel);
  expect_flashed("flash0.boot", image_.boot);
  expect_flashed("flash0.avail0", image_.root);
  if (run.zip)
    expect_flashed("flash0.splash", image_.splash);
  else
    EXPECT_FALSE(report()["partitions"].toObject().contains("flash0.splash"));
  EXPECT_EQ(report()["ip"].toString().toStdString(), box_address_);
  expect_no_partition_files();
  // The log reads as the window's: the worker's dumps of what it typed.
  std::string log = read_file(dir_ / "zevavi.log");
  EXPECT_NE(log.find("\tSTEP > 8\n================== BINARY HEX"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Models, WholeFlash,
                         ::testing::Values(ModelRun{"KESTA", false}, ModelRun{"MORVA", false},
                                           ModelRun{"PELIN", false}, ModelRun{"TORQA", false},
                                           ModelRun{"TORQA", true}),
                         [](const auto &test_case) {
                           return std::string(test_case.param.model) +
                                  (test_case.param.zip ? "_zip" : "_container");
                         });

struct Fault {
  const char *name;
  std::vector<std::string> box_args;
  int exit_code;
  const char *last_line;  // the last numbered line
  std::vector<std::string> flash_args = {};
};

TEST_F(Flash, FaultsEndWithTheirOwnExitCodeAndSaySo) {
  const Fault table[] = {
      {"box failure",
       {"--fail-at", "5=-21"},
       4,
       "9. Fail to upgrade your machine.[step : 7, err-code : -21]"},
      {"lost line", {"--vanish-at", "flash0.kernel"}, 5, "Lost the connection to "},
      {"time-out", {"--boot-delay-ms", "600000"}, 6, "3. No end after 2 seconds.", {"--timeout", "2"}},
  };
  const fs::path path = container(11);
  for (const Fault &fault : table) {
    SCOPED_TRACE(fault.name);
    fs::remove(dir_ / "box.json");
    start_box(fault.box_args);
    EXPECT_EQ(flash("MORVA", path, fault.flash_args), fault.exit_code) << out() << err();
    stop_box();
    std::vector<std::string> lines = numbered_lines(out());
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(fault.last_line), std::string::npos) << lines.back();
    EXPECT_EQ(numbered_lines(out()).front(), "1. Extract the image.");
    if (fault.exit_code == 4) {
      EXPECT_NE(err().find("-21"), std::string::npos) << err();
    }
    expect_no_partition_files();
  }
  // Nothing was flashed past the failure: the box never got the root image.
  EXPECT_FALSE(report()["partitions"].toObject().contains("flash0.avail0"));
}

struct Refusal {
  const char *name;
  std::vector<std::string> args;  // replacing the defaults of the same name
  int exit_code;
  const char *said;
};

// Refused inputs end before anything is typed into the box, with their own exit code and a
// sentence naming what is wrong.
TEST_F(Flash, RefusalsEndBeforeTheBoxIsTouched) {
  const fs::path good_image = container(3);
  const std::string outside = pc_.substr(0, pc_.rfind('.')) == "10.9.8" ? "10.9.7.5" : "10.9.8.5";
  const Refusal table[] = {
      {"no such port", {"--port", (dir_ / "no-such-tty").string()}, 3, "Can't open"},
      {"box outside the PC's network", {"--box", outside}, 2, "is not in the machine's subnet"},
      {"box is the PC", {"--box", pc_}, 2, "is this PC's own address"},
      {"no image", {"--image", (dir_ / "missing.zip").string()}, 7, "missing.zip"},
      {"damaged image", {"--image", (dir_ / "damaged.nfi").string()}, 7, "Fail to unpack image."},
      // A log is kept only in a file of ours: nothing else at its path is moved or written.
      {"log is a folder", {"--log", (dir_ / "logs").string()}, 2, "logs is a folder, not a regular file"},
      {"log is a device", {"--log", "/dev/null"}, 2, "The log /dev/null is a device, not a regular file"},
      {"log is a link", {"--log", (dir_ / "null.log").string()}, 2, "null.log is a symbolic link"},
  };
  fs::create_directory(dir_ / "logs");
  fs::create_symlink("/dev/null", dir_ / "null.log");
  {
    std::string bytes = read_file(good_image);
    std::ofstream(dir_ / "damaged.nfi", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  }
  start_box();
  for (const Refusal &refusal : table) {
    SCOPED_TRACE(refusal.name);
    std::map<std::string, std::string> opts = {{"--port", tty().string()},
                                               {"--model", "TORQA"},
                                               {"--box", box_address_},
                                               {"--image", good_image.string()}};
    opts[refusal.args[0]] = refusal.args[1];
    std::vector<std::string> args = {std::string(ZEVAVI_BIN_DIR) + "/zevavi-flash", "--log",
                                     (dir_ / "zevavi.log").string()};
    for (const auto &[name, value] : opts)
      if (name != "--image") {
        args.push_back(name);
        args.push_back(value);
      }
    args.push_back(opts["--image"]);
    ASSERT_TRUE(flash_.start(args, outputs()));
    EXPECT_EQ(flash_.wait_exit(std::chrono::seconds(60)), refusal.exit_code) << out() << err();
    EXPECT_NE((out() + err()).find(refusal.said), std::string::npos) << out() << err();
    expect_no_partition_files();
  }
  EXPECT_TRUE(fs::is_directory(dir_ / "logs") && fs::is_empty(dir_ / "logs"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "null.log"));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  stop_box();
  EXPECT_TRUE(report()["commands"].toArray().isEmpty()) << "a refused run typed a command into the box";
}

TEST_F(Flash, InterruptMidTransferStopsCleanly) {
  const fs::path path = container(5);
  start_box();
  ASSERT_TRUE(start_flash("TORQA", path));
  const pid_t pid = flash_.pid();
  // The server is sending the kernel to the box.
  ASSERT_TRUE(wait_for(
      [&] { return read_file(dir_ / "zevavi.log").find("sending data!!") != std::string::npos; }, 120000))
      << out();
  flash_.signal(SIGINT);
  // A bound that only a server left to its own time-outs would miss.
  EXPECT_EQ(flash_.wait_exit(std::chrono::seconds(5)), 130) << out() << err();
  EXPECT_NE(err().find("Interrupted"), std::string::npos) << err();
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
  expect_no_partition_files();
  // The server let go of port 69: a second run could start at once.
  std::string detail;
  EXPECT_EQ(udp_port_check(69, detail), PortCheck::free) << detail;
  EXPECT_FALSE(report()["partitions"].toObject().contains("flash0.avail0"));
}

TEST_F(Flash, JsonGivesOneParsableObjectPerEvent) {
  const fs::path path = container(9);
  start_box({"--fail-at", "flash0.boot=-4"});
  ASSERT_EQ(flash("KESTA", path, {"--json", "--console", (dir_ / "console.bin").string()}), 4)
      << out() << err();
  // The console file holds what the box said, its failure code too.
  std::string console = read_file(dir_ / "console.bin");
  EXPECT_NE(console.find("CFE> "), std::string::npos);
  EXPECT_NE(console.find("-4"), std::string::npos);
  std::istringstream in(out());
  std::vector<QJsonObject> events;
  for (std::string line; std::getline(in, line);) {
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    ASSERT_TRUE(doc.isObject()) << line;
    events.push_back(doc.object());
  }
  ASSERT_GE(events.size(), 3u);
  // Both transfers before the failure went out whole, every byte acknowledged.
  int transfers = 0;
  for (const QJsonObject &e : events) {
    if (e["type"].toString() != "transfer")
      continue;
    ++transfers;
    EXPECT_TRUE(e["completed"].toBool());
    const bool kernel = e["file"].toString() == "kernel_cfe_auto.bin";
    const std::string &sent = kernel ? image_.kernel : image_.boot;
    EXPECT_EQ(e["bytes"].toInteger(), qint64(sent.size())) << (kernel ? "kernel" : "boot");
  }
  EXPECT_EQ(transfers, 2);
  EXPECT_EQ(events.front()["type"].toString(), "status");
  EXPECT_EQ(events.front()["step"].toInt(), 1);
  EXPECT_EQ(events.front()["percent"].toInt(), 10);
  EXPECT_EQ(events.front()["text"].toString(), "Extract the image.");
  const QJsonObject &failure = events[events.size() - 2];
  EXPECT_EQ(failure["code"].toString(), "-4");
  EXPECT_EQ(failure["text"].toString(), "Fail to upgrade your machine.[step : 6, err-code : -4]");
  EXPECT_EQ(events.back()["type"].toString(), "result");
  EXPECT_EQ(events.back()["exit"].toInt(), 4);
}

}  // namespace
