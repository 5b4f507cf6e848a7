// Whole upgrades through the main window's own buttons against the simulated box: the box
// fetches every partition over TFTP from the window's server on port 69 and reports what it
// flashed, and the report must match the image byte for byte (SHA-256 and size).
#include "lib/log.h"
#include "lib/tftpthread.h"
#include "platform/comm_fake.h"
#include "platform/paths.h"
#include "src/formkymain.h"
#include "tests/e2e/window_run.h"
#include "tests/src/fake_dialogs.h"
#include "tests/support/process.h"
#include "tests/support/upgrade_expect.h"
#include "tools/demo/sampleimage.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QJsonArray>
#include <QLabel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

using namespace e2e_window;

class WholeUpgrade : public Upgrade, public ::testing::WithParamInterface<ModelRun> {};

TEST_P(WholeUpgrade, EveryFlashedByteEqualsTheImage) {
  const ModelRun &run = GetParam();
  SamplePartitions image = make_sample_partitions(unsigned(run.model[0]));
  fs::path path = dir_ / (run.zip ? "firmware.zip" : "firmware.nfi");
  if (run.zip)
    ASSERT_TRUE(write_sample_zip(path.string(), dir_.string(), image));
  else
    ASSERT_TRUE(write_sample_container(path.string(), image));
  box_->start();
  fill_inputs(run.model, path);
  next_and_start();
  ASSERT_TRUE(wait_for_the_worker()) << lines().join("\n").toStdString();

  QStringList want = lines_without_splash;
  if (run.zip)
    want = to_list(upgrade_expect::lines_with_splash);
  EXPECT_EQ(lines(), want);
  EXPECT_EQ(window_->pbStatusGage->Position(), 100);
  EXPECT_TRUE(window_->btnStatus->isEnabled());
  EXPECT_TRUE(window_->btnExit->isEnabled());
  EXPECT_EQ(window_->btnStatus->text(), "Previous");
  EXPECT_FALSE(window_->RTFLabel->isVisible()) << "the box answered; the request to start it must go";

  ASSERT_TRUE(pump_until([&] { return box_->took("reboot"); }, 30000))
      << "the box never took the reboot line";
  box_->stop();
  QJsonObject report = box_->report();
  expect_flashed(report, "flash0.kernel", image.kernel);
  expect_flashed(report, "flash0.boot", image.boot);
  expect_flashed(report, "flash0.avail0", image.root);
  if (run.zip)
    expect_flashed(report, "flash0.splash", image.splash);
  else
    EXPECT_FALSE(report["partitions"].toObject().contains("flash0.splash"));
  EXPECT_EQ(report["ip"].toString().toStdString(), std::string(machine_ip));

  std::string log = read_file(log_);
  // The dumps' text column shows each command line sixteen characters a row.
  for (const char *command : {"ifconfig eth0 -a", "flash -noheader ", "erase_flash2; er", "reboot."})
    EXPECT_NE(log.find(command), std::string::npos) << command;
  EXPECT_NE(log.find("\tSTEP > 8\n================== BINARY HEX"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Models, WholeUpgrade,
                         ::testing::Values(ModelRun{"KESTA", false}, ModelRun{"MORVA", false},
                                           ModelRun{"PELIN", false}, ModelRun{"TORQA", false},
                                           ModelRun{"TORQA", true}),
                         [](const auto &test_case) {
                           return std::string(test_case.param.model) +
                                  (test_case.param.zip ? "_zip" : "_container");
                         });

// The box fails the root step with -21; Previous then resets the wizard, and a second
// upgrade after the technician restarts the box runs cleanly from the first step.
TEST_F(Upgrade, BoxFailureThenPreviousThenASecondUpgrade) {
  SamplePartitions image = make_sample_partitions(7);
  fs::path path = dir_ / "firmware.nfi";
  ASSERT_TRUE(write_sample_container(path.string(), image));
  box_->start({"--fail-at", "5=-21"});  // the fifth command line: the root image
  fill_inputs("MORVA", path);
  next_and_start();
  ASSERT_TRUE(wait_for_the_worker());

  QStringList want = lines_without_splash.mid(0, 7);
  want << "9. Fail to upgrade your machine.[step : 7, err-code : -21]";
  EXPECT_EQ(lines(), want);
  EXPECT_EQ(window_->pbStatusGage->Position(), 0);
  EXPECT_EQ(worker_running.load(), 0);
  EXPECT_FALSE(tftp_running());
  EXPECT_TRUE(window_->btnStatus->isEnabled());
  EXPECT_TRUE(window_->btnExit->isEnabled());
  EXPECT_TRUE(window_->ComPort.Connected()) << "the port stays open after a box failure";

  click(window_->btnStatus);  // Previous
  EXPECT_EQ(window_->btnStatus->text(), "Next");
  EXPECT_EQ(window_->pcKyCtrl->ActivePage(), window_->tabInput);
  EXPECT_EQ(window_->lvStatusText->count(), 0);
  EXPECT_EQ(window_->pbStatusGage->Position(), 0);
  EXPECT_FALSE(window_->ComPort.Connected());
  EXPECT_EQ(window_->cbMachine->currentText(), "MORVA");
  EXPECT_EQ(window_->edtFilePath->text().toStdString(), path.string());
  deliver_posted();  // anything the stopped worker still posted must not land
  EXPECT_EQ(window_->lvStatusText->count(), 0);

  // A file left from an earlier image must not be flashed: the second Start clears them.
  write_file_bytes(fs::path(temp_dir) / "splash_cfe_auto.bin", "stale splash");
  window_->cbMachine->setCurrentText("PELIN");
  next_and_start();
  EXPECT_FALSE(fs::exists(fs::path(temp_dir) / "splash_cfe_auto.bin"));
  ASSERT_TRUE(pump_until([&] { return lines().size() >= 2; }, 10000));  // waiting for the box
  box_->power_cycle();
  ASSERT_TRUE(wait_for_the_worker());
  EXPECT_EQ(lines(), lines_without_splash);
  box_->stop();
  QJsonObject report = box_->report();
  expect_flashed(report, "flash0.avail0", image.root);
  EXPECT_FALSE(report["partitions"].toObject().contains("flash0.splash"));

  click(window_->btnStatus);  // Previous after a finished upgrade
  EXPECT_EQ(window_->btnStatus->text(), "Next");
  EXPECT_EQ(window_->lvStatusText->count(), 0);
  EXPECT_FALSE(window_->ComPort.Connected());
}

TEST_F(Upgrade, NoBoxAnsweringKeepsSendingTheBreakKeyThenExit) {
  fs::path path = dir_ / "firmware.nfi";
  ASSERT_TRUE(write_sample_container(path.string(), make_sample_partitions(3)));
  box_->start({"--boot-delay-ms", "600000"});  // powered off
  fill_inputs("KESTA", path);
  next_and_start();
  auto breaks_sent = [&] {
    const std::string log = read_file(log_);
    size_t n = 0;
    for (size_t at = log.find("STEP > 0\n"); at != std::string::npos; at = log.find("STEP > 0\n", at + 1))
      ++n;
    return n;
  };
  ASSERT_TRUE(pump_until([&] { return breaks_sent() >= 3; }, 30000))
      << "the break key went out " << breaks_sent() << " times";
  deliver_posted();
  EXPECT_EQ(lines(), QStringList({"1. Extract the image.", "2. Enter into the CFE mode."}));
  EXPECT_FALSE(window_->btnStatus->isEnabled());
  EXPECT_TRUE(window_->btnExit->isEnabled());
  EXPECT_TRUE(window_->RTFLabel->isVisible());
  EXPECT_GE(breaks_sent(), 3u);
  EXPECT_TRUE(fs::exists(fs::path(temp_dir) / "kernel_cfe_auto.bin"));

  click(window_->btnExit);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(fs::exists(temp_dir));
}

TEST_F(Upgrade, DamagedContainerNeverReachesTheBox) {
  fs::path path = dir_ / "firmware.nfi";
  ASSERT_TRUE(write_sample_container(path.string(), make_sample_partitions(5)));
  fs::resize_file(path, fs::file_size(path) - 1000);  // the kernel record ends early
  box_->start();
  fill_inputs("PELIN", path);
  next_and_start();
  ASSERT_TRUE(pump_until([&] { return lines().size() >= 2; }, 10000));
  EXPECT_EQ(lines(), QStringList({"1. Extract the image.", "2. Fail to unpack image."}));
  EXPECT_EQ(window_->pbStatusGage->Position(), 0);
  EXPECT_TRUE(window_->btnStatus->isEnabled());
  EXPECT_FALSE(window_->worker_alive());
  EXPECT_FALSE(fs::exists(fs::path(temp_dir) / "kernel_cfe_auto.bin"));
  box_->stop();
  EXPECT_TRUE(box_->report()["partitions"].toObject().isEmpty());
}

struct CheckRow {
  const char *name;
  bool port, model, machine_ip, image;
  const char *message;
  friend void PrintTo(const CheckRow &r, std::ostream *os) { *os << r.name; }
};

class NextChecks : public Upgrade, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(NextChecks, OneMessageForTheFirstMissingInput) {
  const CheckRow &row = GetParam();
  if (row.port)
    window_->cbComPort->setEditText("/dev/null-port");
  if (row.model)
    window_->cbMachine->setCurrentText("TORQA");
  window_->edtMachineIp->setText(row.machine_ip ? "10.1.1.1" : "");
  if (row.image)
    window_->edtFilePath->setText("/tmp/x.nfi");
  click(window_->btnStatus);
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{row.message});
  EXPECT_EQ(window_->btnStatus->text(), "Next");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, NextChecks,
    ::testing::Values(CheckRow{"nothing", false, false, true, false, "Please, Select ComPort!!"},
                      CheckRow{"no_model", true, false, true, true, "Please, Select Machine!!"},
                      CheckRow{"no_machine_ip", true, true, false, true, "Please, Input Machine-IP!!"},
                      CheckRow{"no_image", true, true, true, false, "Please, Select Image!!"}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

TEST_F(Upgrade, NextRefusesAPortAnotherProgramHolds) {
  box_->start();
  int holder = ::open(box_->tty().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  fill_inputs("TORQA", dir_ / "x.nfi");
  click(window_->btnStatus);
  ::close(holder);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0], "Can't open " + box_->tty() + ".");
  EXPECT_NE(read_file(log_).find("\tCan't open " + box_->tty() + ".\n"), std::string::npos);
  EXPECT_EQ(window_->btnStatus->text(), "Next");
}

// The holder is named where the system lets us see it: here this test program itself (the
// box's process must not inherit the socket, or it would be named too).
TEST_F(Upgrade, NextRefusesWhenPort69IsTaken) {
  int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(69);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  box_->start();
  fill_inputs("TORQA", dir_ / "x.nfi");
  click(window_->btnStatus);
  ::close(holder);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0],
            "UDP port 69 (TFTP) is in use by another program: test_e2e_upgrade (process " +
                std::to_string(::getpid()) +
                ").\nThe machine fetches its images from this PC on that port.\n"
                "Stop that program (for example: sudo systemctl stop tftpd-hpa) and press Next again.");
  EXPECT_NE(read_file(log_).find("[ WARN]"), std::string::npos);
  EXPECT_EQ(window_->btnStatus->text(), "Next");
}

TEST_F(Upgrade, NextWarnsWhenTheBoxIsInAnotherSubnet) {
  box_->start();
  fill_inputs("TORQA", dir_ / "x.nfi");
  window_->edtMachineIp->setText("203.0.113.9");
  dialogs_.answers.push_back(false);
  click(window_->btnStatus);
  ASSERT_EQ(dialogs_.questions.size(), 1u);
  EXPECT_NE(dialogs_.questions[0].find(std::string(local_ip)), std::string::npos);
  EXPECT_NE(dialogs_.questions[0].find("203.0.113.9"), std::string::npos);
  EXPECT_EQ(window_->btnStatus->text(), "Next");
  EXPECT_FALSE(window_->ComPort.Connected());

  dialogs_.answers.push_back(true);  // the technician knows better: go on
  click(window_->btnStatus);
  EXPECT_EQ(window_->btnStatus->text(), "Start");
}

// Two of the PC's cards on the box's network: both are offered, the first is taken unless
// the technician picks the other, and Next keeps the pick.
TEST_F(Upgrade, SeveralPcAddressesFacingTheBoxAreOfferedAndThePickKept) {
  const std::string first = local_ip;
  std::string second = first.substr(0, first.rfind('.')) + ".77";
  ASSERT_NE(second, first);
  ASSERT_EQ(std::system(("ip addr add " + second + "/24 dev lo").c_str()), 0);
  struct Drop {
    std::string address;
    ~Drop() { (void)std::system(("ip addr del " + address + "/24 dev lo").c_str()); }
  } drop{second};

  box_->start();
  window_->edtMachineIp->clear();  // typed afresh, now that the second card is up
  fill_inputs("TORQA", dir_ / "x.nfi");
  ASSERT_FALSE(window_->cbLocalIp->isHidden());
  EXPECT_TRUE(window_->edtLocalIp->isHidden());
  QStringList offered;
  for (int i = 0; i < window_->cbLocalIp->count(); ++i)
    offered << window_->cbLocalIp->itemText(i);
  EXPECT_EQ(offered, QStringList({QString::fromStdString(first), QString::fromStdString(second)}));
  EXPECT_EQ(std::string(local_ip), first) << "the automatic choice is the first";

  window_->cbLocalIp->setCurrentText(QString::fromStdString(second));
  window_->edtMachineIp->setText(window_->edtMachineIp->text());  // typed again: the pick stays
  click(window_->btnStatus);
  ASSERT_EQ(window_->btnStatus->text(), "Start")
      << (dialogs_.messages.empty() ? "" : dialogs_.messages.back());
  EXPECT_EQ(std::string(local_ip), second);
  EXPECT_NE(read_file(log_).find("local-ip[" + second + "]"), std::string::npos);

  window_->edtMachineIp->setText("203.0.113.9");  // a box no card faces: the plain field again
  EXPECT_TRUE(window_->cbLocalIp->isHidden());
  EXPECT_FALSE(window_->edtLocalIp->isHidden());
}

TEST_F(Upgrade, NextRefusesAMachineIpThatDoesNotFit) {
  box_->start();
  fill_inputs("TORQA", dir_ / "x.nfi");
  window_->edtMachineIp->setText(QString(32, '1'));
  click(window_->btnStatus);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find("too long"), std::string::npos);
}

// What is typed as the box's address goes into a command line: only an address may.
TEST_F(Upgrade, NextRefusesAMachineIpThatIsNoAddress) {
  box_->start();
  fill_inputs("TORQA", dir_ / "x.nfi");
  const std::string own = local_ip;
  for (std::string typed : {std::string("192.168.102"), std::string("10.0.0.1; reboot"), own}) {
    dialogs_.messages.clear();
    window_->edtMachineIp->setText(QString::fromStdString(typed));
    click(window_->btnStatus);
    ASSERT_EQ(dialogs_.messages.size(), 1u) << typed;
    EXPECT_NE(dialogs_.messages[0].find(typed), std::string::npos) << dialogs_.messages[0];
    EXPECT_EQ(window_->btnStatus->text(), "Next");
    EXPECT_FALSE(window_->ComPort.Connected());
  }
}

// The window's port on a scripted device: the probe still meets the box's real pty, the
// component then opens the fake line of the same name.
class FakeLine : public Upgrade {
 protected:
  void SetUp() override {
    Upgrade::SetUp();
    box_->start({"--boot-delay-ms", "600000"});
    line_ = backend_.add(box_->tty());
    window_->ComPort.SetCommBackend(&backend_);
  }
  void TearDown() override {
    window_.reset();  // the port goes before the backend it uses
    Upgrade::TearDown();
  }
  FakeCommBackend backend_;
  std::shared_ptr<FakeCommLine> line_;
};

// A device that opens but takes no serial settings: the error is shown, not thrown.
TEST_F(FakeLine, NextShowsAPortThatRefusesItsSettings) {
  fill_inputs("TORQA", dir_ / "x.nfi");
  line_->fail_next("SetCommState", COMM_ERR_GEN_FAILURE);
  click(window_->btnStatus);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  const std::string open_error = "Can't open " + box_->tty() + ".\n";
  EXPECT_EQ(dialogs_.messages[0].rfind(open_error, 0), 0u) << dialogs_.messages[0];
  EXPECT_NE(read_file(log_).find("Can't open " + box_->tty() + " : "), std::string::npos);
  EXPECT_EQ(window_->btnStatus->text(), "Next");
  EXPECT_FALSE(window_->ComPort.Connected());
}

// The adapter is pulled while the worker waits for the box: the upgrade ends at once.
TEST_F(FakeLine, DeviceVanishingEndsTheUpgrade) {
  fs::path path = dir_ / "firmware.nfi";
  ASSERT_TRUE(write_sample_container(path.string(), make_sample_partitions(21)));
  fill_inputs("KESTA", path);
  next_and_start();
  ASSERT_TRUE(pump_until([&] { return lines().size() >= 2; }, 10000));
  line_->vanish();
  ASSERT_TRUE(wait_for_the_worker(20000));
  EXPECT_TRUE(
      lines().last().endsWith(QString::fromStdString(". Lost the connection to " + box_->tty() + ".")))
      << lines().join("\n").toStdString();
  EXPECT_EQ(window_->pbStatusGage->Position(), 0);
  EXPECT_TRUE(window_->btnExit->isEnabled());
  EXPECT_NE(read_file(log_).find("the device is not connected"), std::string::npos);
}

// ---- the bench's faults: the upgrade ends by itself, says why, and frees the window ----

class Fault : public Upgrade {
 protected:
  void TearDown() override {
    box_silence_limit_ms = box_silence_limit_default_ms;
    Upgrade::TearDown();
  }
  fs::path container(unsigned seed) {
    fs::path path = dir_ / "firmware.nfi";
    EXPECT_TRUE(write_sample_container(path.string(), make_sample_partitions(seed)));
    return path;
  }
  // The end of every failed upgrade: the last line says why, the bar is empty, nothing
  // runs, and both buttons work.
  void expect_ended_with(const QString &last) {
    ASSERT_TRUE(wait_for_the_worker(120000)) << lines().join("\n").toStdString();
    ASSERT_FALSE(lines().isEmpty());
    EXPECT_TRUE(lines().last().endsWith(last)) << lines().join("\n").toStdString();
    for (const QString &line : lines())
      EXPECT_FALSE(line.contains("Finished")) << line.toStdString();
    EXPECT_EQ(window_->pbStatusGage->Position(), 0);
    EXPECT_FALSE(tftp_running());
    EXPECT_EQ(worker_running.load(), 0);
    EXPECT_TRUE(window_->btnStatus->isEnabled());
    EXPECT_TRUE(window_->btnExit->isEnabled());
  }
};

TEST_F(Fault, LineLostDuringAFlash) {
  box_->start({"--vanish-at", "flash0.kernel"});
  fill_inputs("MORVA", container(11));
  next_and_start();
  expect_ended_with(QString::fromStdString(". Lost the connection to " + box_->tty() + "."));
  std::string log = read_file(log_);
  EXPECT_NE(log.find("[ERROR]"), std::string::npos);
  EXPECT_NE(log.find("Lost the connection to " + box_->tty() + " : system error"), std::string::npos);
  click(window_->btnStatus);  // Previous closes what is left of the port
  EXPECT_EQ(window_->btnStatus->text(), "Next");
  EXPECT_FALSE(window_->ComPort.Connected());
}

TEST_F(Fault, LineLostBeforeTheRebootIsNeverFinished) {
  box_->start({"--vanish-after", "5"});  // MORVA's fifth line is the root image
  fill_inputs("MORVA", container(12));
  next_and_start();
  expect_ended_with(QString::fromStdString(". Lost the connection to " + box_->tty() + "."));
  box_->stop();
  EXPECT_FALSE(box_->report()["partitions"].toObject()["flash0.avail0"].toObject().isEmpty());
}

TEST_F(Fault, BoxSilentAfterACommand) {
  box_silence_limit_ms = 3000;
  box_->start({"--hang-at", "ifconfig"});
  fill_inputs("KESTA", container(13));
  next_and_start();
  expect_ended_with("4. The machine stopped answering at step 3.");
  EXPECT_NE(read_file(log_).find("no answer from the machine"), std::string::npos);
}

// A box with slow flash is quiet while it programs for longer than the base limit; the limit
// grows with what it writes, so the upgrade finishes and each step's limit is in the log.
TEST_F(Fault, SlowFlashIsNotTakenForASilentBox) {
  box_silence_limit_ms = 1000;
  box_->start({"--program-kib-s", "25"});  // the root image: 3 s of silence at speed 20
  fill_inputs("KESTA", container(16));
  next_and_start();
  ASSERT_TRUE(wait_for_the_worker(120000)) << lines().join("\n").toStdString();
  EXPECT_EQ(lines(), lines_without_splash);
  const std::string log = read_file(log_);
  const int root_limit_s = silence_limit_ms(1000, 1536 * 1024 + 300) / 1000;
  EXPECT_NE(log.find("silence limit " + std::to_string(root_limit_s) + " s at step 7"), std::string::npos)
      << log;
  EXPECT_NE(log.find("silence limit 1 s at step 2"), std::string::npos);
}

TEST_F(Fault, ImageWithoutBootPartitionNeverReachesTheBox) {
  fs::path path = dir_ / "firmware.zip";
  ASSERT_TRUE(write_sample_zip(path.string(), dir_.string(), make_sample_partitions(14)));
  std::string drop = "zip -q -d '" + path.string() + "' image/boot_cfe_auto.jffs2";
  ASSERT_EQ(std::system(drop.c_str()), 0);
  box_->start();
  fill_inputs("TORQA", path);
  next_and_start();
  ASSERT_TRUE(pump_until([&] { return lines().size() >= 2; }, 10000));
  EXPECT_EQ(lines(), QStringList({"1. Extract the image.",
                                  "2. The image has no boot partition (boot_cfe_auto.jffs2)."}));
  EXPECT_EQ(dialogs_.messages,
            std::vector<std::string>{"The image has no boot partition (boot_cfe_auto.jffs2)."});
  EXPECT_EQ(window_->pbStatusGage->Position(), 0);
  EXPECT_FALSE(window_->worker_alive());
  EXPECT_TRUE(window_->btnStatus->isEnabled());
  box_->stop();
  QJsonObject report = box_->report();
  EXPECT_TRUE(report["commands"].toArray().isEmpty()) << "nothing may be typed into the box";
  EXPECT_TRUE(report["erased"].toArray().isEmpty());
}

// A loader that waits only 0.3 s for the break key, and forgets what came before its wait.
TEST_F(Fault, ShortAutostartPauseIsStillCaught) {
  box_->start({"--autostart-ms", "300", "--break-window-only", "--boot-delay-ms", "600000"});  // off
  fill_inputs("KESTA", container(15));
  next_and_start();
  ASSERT_TRUE(pump_until([&] { return lines().size() >= 2; }, 10000));
  box_->power_cycle();  // the technician switches the box on
  ASSERT_TRUE(pump_until([] { return upgrade_step.load() >= 2; }, 15000)) << "the box booted past its loader";
  ASSERT_TRUE(wait_for_the_worker(120000)) << lines().join("\n").toStdString();
  EXPECT_EQ(lines(), lines_without_splash);
}

// The box gives up on a transfer while the server waits for an acknowledgement: the window
// keeps painting while the failure stops the server.
TEST_F(Fault, BoxFailureDuringATransferKeepsTheWindowResponsive) {
  box_->start({"--give-up-at", "3"});
  fill_inputs("KESTA", container(16));
  next_and_start();
  QElapsedTimer clock;
  clock.start();
  qint64 last_tick = 0, longest_gap = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longest_gap = std::max(longest_gap, clock.elapsed() - last_tick);
    last_tick = clock.elapsed();
  });
  ticker.start(20);
  expect_ended_with("5. Fail to upgrade your machine.[step : 4, err-code : -21]");
  // Not a timing measurement: a window frozen by the server's time-outs stalls for seconds.
  EXPECT_LT(longest_gap, 2000);
}

TEST_F(Fault, ExitDuringAFlashEndsAtOnce) {
  // The box stops answering in the middle of a transfer, and the technician gives up.
  box_->start({"--stall-at", "3"});
  fill_inputs("KESTA", container(17));
  next_and_start();
  // The box has taken the first blocks and stalls.
  ASSERT_TRUE(pump_until([] { return tftp_running() && tftp_bytes_served.load() > 0; }, 60000));
  click(window_->btnExit);
  QElapsedTimer clock;
  clock.start();
  window_.reset();  // what the program does after its window closed
  EXPECT_LT(clock.elapsed(), 2500) << "the window waited for the transfer";
  EXPECT_FALSE(tftp_running());
}

}  // namespace
