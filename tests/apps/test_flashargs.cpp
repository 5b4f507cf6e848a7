// The command line of zevavi-flash: what it takes, and that every refusal names the argument
// that is wrong.
#include "apps/zevavi-flash/flashargs.h"

#include "tests/support/fifo_watchdog.h"
#include "tests/support/fs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const std::vector<std::string> good = {"--port", "/dev/ttyUSB0", "--model",  "TORQA",
                                       "--box",  "192.168.1.50", "image.zip"};

std::vector<std::string> with(std::vector<std::string> args, std::initializer_list<std::string> more) {
  args.insert(args.end(), more);
  return args;
}

TEST(FlashArgs, TakesTheGoodCommandLineInBothSpellings) {
  FlashOptions options;
  std::string error;
  ASSERT_TRUE(parse_flash_args(with(good, {"--pc-address=192.168.1.10", "--json", "--timeout", "600",
                                           "--silence=900", "--console", "c.bin", "--log=x.log"}),
                               options, error))
      << error;
  EXPECT_EQ(options.port, "/dev/ttyUSB0");
  EXPECT_EQ(options.machine, 3);
  EXPECT_EQ(options.box, "192.168.1.50");
  EXPECT_EQ(options.pc_address, "192.168.1.10");
  EXPECT_EQ(options.image, "image.zip");
  EXPECT_EQ(options.timeout_s, 600);
  EXPECT_EQ(options.silence_s, 900);
  EXPECT_EQ(options.console, "c.bin");
  EXPECT_EQ(options.log, "x.log");
  EXPECT_TRUE(options.json);

  ASSERT_TRUE(parse_flash_args({"--model", "KESTA", "img.nfi", "--box", "10.0.0.2", "--port", "/dev/ttyS0"},
                               options, error));
  EXPECT_EQ(options.machine, 0);
  EXPECT_TRUE(options.pc_address.empty());
  EXPECT_EQ(options.timeout_s, 0);
  EXPECT_FALSE(options.json);

  ASSERT_TRUE(parse_flash_args({"--help"}, options, error));
  EXPECT_TRUE(options.help);

  // The records: flashing with a file of its own, and printing them with or without a limit.
  ASSERT_TRUE(parse_flash_args({"--station", "--continuous", "--records", "r.sqlite", "--model", "KESTA",
                                "--unit", "/dev/ttyUSB0=192.168.1.5", "image.zip"},
                               options, error))
      << error;
  EXPECT_TRUE(options.continuous);
  EXPECT_EQ(options.records, "r.sqlite");
  const std::pair<const char *, const char *> since[] = {{"2026-12-10", "2026-12-10T00:00:00"},
                                                         {"2026-12-10T08:30", "2026-12-10T08:30:00"},
                                                         {"2026-12-10 08:30:05Z", "2026-12-10T08:30:05"},
                                                         {"2028-02-29T23:59:59", "2028-02-29T23:59:59"}};
  for (const auto &[text, normal] : since) {
    ASSERT_TRUE(parse_flash_args({"--records=r.sqlite", "--export", "csv", "--since", text}, options, error))
        << text << ": " << error;
    EXPECT_EQ(options.since, normal) << text;
  }
  // The station's page, and the token that may start and stop units from it.
  zv_test::TempDir dir("zevavi-flashargs");
  zv_test::write_file(dir.str("token"), "  0123456789abcdef-line \nsecond line\n");
  ASSERT_TRUE(parse_flash_args(
      {"--station", "--continuous", "--http", "0.0.0.0:8080", "--http-control", dir.str("token"), "--model",
       "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5", "image.zip"},
      options, error))
      << error;
  EXPECT_EQ(options.http_address, "0.0.0.0");
  EXPECT_EQ(options.http_port, 8080);
  EXPECT_EQ(options.http_token, "0123456789abcdef-line");
  ASSERT_TRUE(parse_flash_args({"--export=csv"}, options, error)) << error;
  EXPECT_EQ(options.export_format, "csv");
  EXPECT_TRUE(options.records.empty());
}

struct BadLine {
  std::vector<std::string> args;
  const char *named;  // what the refusal must name
};

TEST(FlashArgs, EachBadArgumentIsNamed) {
  const std::vector<std::string> no_image(good.begin(), good.end() - 1);
  const BadLine table[] = {
      {{"--model", "TORQA", "--box", "192.168.1.50", "image.zip"}, "--port"},
      {{"--port", "/dev/ttyUSB0", "--box", "192.168.1.50", "image.zip"}, "--model"},
      {{"--port", "/dev/ttyUSB0", "--model", "TORQA", "image.zip"}, "--box"},
      {no_image, "image"},
      {with(good, {"--model", "torqa"}), "torqa"},
      {with(good, {"--model", "ZEBRA"}), "ZEBRA"},
      {with(good, {"--box", "192.168.1.256"}), "192.168.1.256"},
      {with(good, {"--box", "192.168.01.5"}), "192.168.01.5"},
      {with(good, {"--box", "box.local"}), "box.local"},
      {with(good, {"--box", "192.168.1.0"}), "192.168.1.0 is the network address"},
      {with(good, {"--box", "192.168.1.255"}), "192.168.1.255 is the broadcast address"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=10.1.2.255", "image.zip"},
       "10.1.2.255 in \"/dev/ttyUSB0=10.1.2.255\" is the broadcast address"},
      {with(good, {"--pc-address", "10.0.0"}), "10.0.0"},
      {with(good, {"--timeout", "0"}), "--timeout"},
      {with(good, {"--timeout", "-5"}), "-5"},
      {with(good, {"--timeout", "10s"}), "10s"},
      {with(good, {"--timeout", "99999999999999999999"}), "99999999999999999999"},
      {with(good, {"--timeout"}), "--timeout"},
      {with(good, {"--silence", "86401"}), "86401"},
      {with(good, {"--silence", "+60"}), "--silence \"+60\""},
      {with(good, {"--port="}), "--port"},
      {with(good, {"--json=yes"}), "--json"},
      {with(good, {"--speed", "2"}), "--speed"},
      {with(good, {"-x"}), "-x"},
      {with(good, {"second.zip"}), "second.zip"},
      {with(good, {"--unit", "/dev/ttyUSB1=192.168.1.51"}), "--station"},
      {{"--station", "--model", "KESTA", "image.zip"}, "--unit"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.300", "image.zip"},
       "192.168.1.300"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0", "image.zip"}, "/dev/ttyUSB0"},
      {{"--station", "--model", "KESTA", "--unit", "=192.168.1.5", "image.zip"}, "=192.168.1.5"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5", "--unit",
        "/dev/ttyUSB1=192.168.1.5", "image.zip"},
       "192.168.1.5"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5", "--unit",
        "/dev/ttyUSB0=192.168.1.6", "image.zip"},
       "/dev/ttyUSB0"},
      {{"--station", "--port", "/dev/ttyUSB0", "--model", "KESTA", "--unit", "/dev/ttyUSB1=192.168.1.5",
        "image.zip"},
       "--port"},
      {{"--station", "--model", "KESTA", "--units", "/nonexistent/units.txt", "image.zip"},
       "/nonexistent/units.txt"},
      {with(good, {"--continuous"}), "--station"},
      {with(good, {"--records", "r.sqlite"}), "--records"},
      {with(good, {"--since", "2026-12-10"}), "--export"},
      {{"--export", "json"}, "json"},
      {{"--export", "csv", "image.zip"}, "--export"},
      {{"--export", "csv", "--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5"},
       "--export"},
      {{"--export", "csv", "--since", "2026-02-30"}, "2026-02-30"},
      {{"--export", "csv", "--since", "2026-12-10T24:00"}, "2026-12-10T24:00"},
      {{"--export", "csv", "--since", "10.12.2026"}, "10.12.2026"},
      {{"--export", "csv", "--since", "2026-12-10T08:30:00+01:00"}, "+01:00"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5", "--http", "localhost:80",
        "i.zip"},
       "localhost:80"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5", "--http", "127.0.0.1:65536",
        "i.zip"},
       "127.0.0.1:65536"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5", "--http", "127.0.0.1",
        "i.zip"},
       "ADDRESS:PORT"},
      {{"--station", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5", "--http", "127.0.0.1:-1",
        "i.zip"},
       "127.0.0.1:-1"},
      {{"--http", "127.0.0.1:8080", "--port", "/dev/ttyUSB0", "--model", "KESTA", "--box", "192.168.1.5",
        "i.zip"},
       "--station"},
      {{"--station", "--continuous", "--model", "KESTA", "--unit", "/dev/ttyUSB0=192.168.1.5",
        "--http-control", "/nonexistent/token", "--http", "127.0.0.1:0", "i.zip"},
       "/nonexistent/token"},
  };
  for (const BadLine &bad : table) {
    std::string joined;
    for (const std::string &a : bad.args)
      joined += a + " ";
    SCOPED_TRACE(joined);
    FlashOptions options;
    std::string error;
    EXPECT_FALSE(parse_flash_args(bad.args, options, error));
    EXPECT_NE(error.find(bad.named), std::string::npos) << error;
  }
}

// The token that may start and stop units: from a file (a command line is every user's to
// read), a line long enough to guess at, and only where a page with units to start serves it.
TEST(FlashArgs, TheControlTokenIsReadWhole) {
  zv_test::TempDir dir("zevavi-flashargs");
  const std::string token = dir.str("token");
  struct Case {
    std::string content;
    std::vector<std::string> more;
    const char *said;  // "" : taken
  };
  const Case cases[] = {
      {"0123456789abcdef\n", {"--continuous", "--http", "127.0.0.1:0"}, ""},
      {"0123456789abcde\n", {"--continuous", "--http", "127.0.0.1:0"}, "at least 16 printable"},
      {"0123456789 abcdef\n", {"--continuous", "--http", "127.0.0.1:0"}, "at least 16 printable"},
      {"\n0123456789abcdef\n", {"--continuous", "--http", "127.0.0.1:0"}, "at least 16 printable"},
      {std::string(5000, 'k'), {"--continuous", "--http", "127.0.0.1:0"}, "too large for a token file"},
      {"0123456789abcdef\n", {"--http", "127.0.0.1:0"}, "needs --http and --continuous"},
      {"0123456789abcdef\n", {"--continuous"}, "needs --http and --continuous"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.content.substr(0, 40));
    zv_test::write_file(token, c.content);
    std::vector<std::string> args = {
        "--station",      "--model", "KESTA",    "--unit", "/dev/ttyUSB0=192.168.1.5",
        "--http-control", token,     "image.zip"};
    args.insert(args.end(), c.more.begin(), c.more.end());
    FlashOptions options;
    std::string error;
    EXPECT_EQ(parse_flash_args(args, options, error), *c.said == '\0') << error;
    EXPECT_NE(error.find(c.said), std::string::npos) << error;
    EXPECT_EQ(error.find("0123456789"), std::string::npos) << "the token is shown: " << error;
  }
}

// A station's boxes come from --unit options and a units file together, in their order.
TEST(FlashArgs, StationTakesUnitsFromOptionsAndAFile) {
  zv_test::TempDir dir("zevavi-flashargs");
  const std::string list = dir.str("units.txt");
  zv_test::write_file(list,
                      "# bench 2\n"
                      "/dev/ttyUSB1 192.168.1.51\n"
                      "\n"
                      "  /dev/serial/by-id/usb-FTDI=x-if00=192.168.1.52   # a path with \"=\" in it\n");
  FlashOptions options;
  std::string error;
  ASSERT_TRUE(parse_flash_args(
      {"--station", "--model", "PELIN", "--unit", "/dev/ttyUSB0=192.168.1.50", "--units", list, "image.zip"},
      options, error))
      << error;
  EXPECT_TRUE(options.station);
  ASSERT_EQ(options.units.size(), 3u);
  EXPECT_EQ(options.units[0].port, "/dev/ttyUSB0");
  EXPECT_EQ(options.units[0].box, "192.168.1.50");
  EXPECT_EQ(options.units[1].port, "/dev/ttyUSB1");
  EXPECT_EQ(options.units[2].port, "/dev/serial/by-id/usb-FTDI=x-if00");
  EXPECT_EQ(options.units[2].box, "192.168.1.52");

  // A bad line is named by file and number.
  zv_test::write_file(list, "/dev/ttyUSB1 192.168.1.51\n/dev/ttyUSB2 box-two\n");
  EXPECT_FALSE(
      parse_flash_args({"--station", "--model", "PELIN", "--units", list, "image.zip"}, options, error));
  EXPECT_NE(error.find(list + ", line 2"), std::string::npos) << error;
}

// Only a regular units file of a units file's size is read: a device would be read until
// memory runs out, a FIFO with no writer never ends, and a bad line is quoted cut short.
TEST(FlashArgs, AUnitsFileIsARegularFileOfBoundedSize) {
  zv_test::TempDir dir("zevavi-flashargs");
  const std::string fifo = dir.str("units.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = dir.str("huge.txt");
  zv_test::write_file(huge, std::string(2 * 1024 * 1024, '#'));
  const std::string long_line = dir.str("long-line.txt");
  zv_test::write_file(long_line, "/dev/ttyUSB0 192.168.1.50\n" + std::string(900 * 1024, 'x') + "\n");
  const std::string long_port = dir.str("long-port.txt");
  const std::string port(500 * 1024, 'p');
  zv_test::write_file(long_port, port + " 192.168.1.50\n" + port + " 192.168.1.51\n");
  struct Case {
    std::string path;
    const char *said;
  };
  const Case cases[] = {
      {"/dev/zero", "\"/dev/zero\" is not a regular file."},
      {fifo, "units.fifo\" is not a regular file."},
      {dir.str(""), "\" is not a regular file."},
      {huge, "is too large for a units file (2097152 bytes; at most 1048576)."},
      {long_line, "long-line.txt, line 2: \"xxxx"},
      {long_port, "The port \"pppp"},
  };
  FifoWatchdog watchdog(fifo, std::chrono::seconds(10));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    FlashOptions options;
    std::string error;
    EXPECT_FALSE(
        parse_flash_args({"--station", "--model", "PELIN", "--units", c.path, "image.zip"}, options, error));
    EXPECT_NE(error.find(c.said), std::string::npos) << error.substr(0, 300);
    EXPECT_LT(error.size(), 400u) << "the error echoes what it was given";
  }
  EXPECT_FALSE(watchdog.finish()) << "the FIFO was opened and waited on";
}

}  // namespace
