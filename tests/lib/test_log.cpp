#include "lib/log.h"
#include "tests/support/fs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string header = "================== BINARY HEX ================= ==== ASCII =====\n";
const std::string footer = std::string(47, '-') + " " + std::string(16, '-') + "\n";

using zv_test::read_file;

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    path_ = fs::temp_directory_path() / ("zevavi-log-" + std::to_string(::getpid()) + "-" + name + ".log");
    fs::remove(path_);
    log_open(path_.string().c_str(), LOG_HEX);
  }
  void TearDown() override {
    log_close();
    fs::remove(path_);
  }
  std::string contents() { return zv_test::read_text_file(path_); }
  fs::path path_;
};

// Strips the "[LEVEL][time]" prefix of every entry line so the rest compares as bytes.
std::string without_times(const std::string &text) {
  return std::regex_replace(text, std::regex(R"(\]\[\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\])"), "][T]");
}

struct DumpCase {
  const char *name;
  std::string bytes;
  std::string rows;
  friend void PrintTo(const DumpCase &c, std::ostream *os) { *os << c.name; }
};

class LogDumpText : public ::testing::TestWithParam<DumpCase> {};

TEST_P(LogDumpText, RowsMatchTheLayout) {
  const DumpCase &c = GetParam();
  EXPECT_EQ(log_dump_text(c.bytes.data(), int(c.bytes.size())), header + c.rows + footer);
}

std::string hex_groups(int from, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    char group[4];
    std::snprintf(group, sizeof group, "%02x ", (from + i) & 0xff);
    out += group;
  }
  return out;
}

std::string letters(int count) {  // 'A', 'B', ... as both data and expected text
  std::string out;
  for (int i = 0; i < count; ++i)
    out += char('A' + i % 26);
  return out;
}

std::string letter_hex(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    char group[4];
    std::snprintf(group, sizeof group, "%02x ", 'A' + i % 26);
    out += group;
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LogDumpText,
    ::testing::Values(DumpCase{"empty", "", ""},
                      DumpCase{"one_ctrl_c", "\x03", "03 " + std::string(45, ' ') + ".\n"},
                      DumpCase{"fifteen", letters(15), letter_hex(15) + "   " + letters(15) + "\n"},
                      DumpCase{"sixteen", letters(16), letter_hex(16) + letters(16) + "\n"},
                      DumpCase{"seventeen", letters(17),
                               letter_hex(16) + letters(16) + "\n" + "51 " + std::string(45, ' ') + "Q\n"},
                      DumpCase{"command_line_feed", "reboot\n",
                               "72 65 62 6f 6f 74 0a " + std::string(27, ' ') + "reboot.\n"},
                      DumpCase{"high_and_control_bytes", std::string("\x00\x7f\x80\xff ~", 6),
                               "00 7f 80 ff 20 7e " + std::string(30, ' ') + ".... ~\n"}),
    [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(LogDumpText, SingleByteTextColumnStartsAtCharacter49) {
  std::string row = log_dump_text("\x03", 1).substr(header.size());
  EXPECT_EQ(row.find('.'), 48u);
}

TEST(LogDumpText, AllByteValuesInOrder) {
  std::string all;
  for (int i = 0; i < 256; ++i)
    all += char(i);
  std::string text = log_dump_text(all.data(), 256);
  std::istringstream rows(text.substr(header.size()));
  std::string row;
  for (int r = 0; r < 16; ++r) {
    ASSERT_TRUE(std::getline(rows, row));
    EXPECT_EQ(row.substr(0, 48), hex_groups(r * 16, 16)) << "row " << r;
    ASSERT_EQ(row.size(), 64u);
  }
}

struct LevelCase {
  int level;
  const char *field;
  friend void PrintTo(const LevelCase &c, std::ostream *os) { *os << c.field; }
};

class LogLevelField : public LogFile, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LogLevelField, NameIsRightAlignedInFive) {
  log_print(GetParam().level, "x\n");
  std::string line = contents();
  EXPECT_EQ(line.substr(0, 7), std::string("[") + GetParam().field + "]");
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\[.{5}\]\[\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d\]x\n)")))
      << line;
}

INSTANTIATE_TEST_SUITE_P(Levels, LogLevelField,
                         ::testing::Values(LevelCase{LOG_HEX, "  HEX"}, LevelCase{LOG_DEBUG, "DEBUG"},
                                           LevelCase{LOG_INFO, " INFO"}, LevelCase{LOG_WARN, " WARN"},
                                           LevelCase{LOG_ERROR, "ERROR"}, LevelCase{LOG_CRIT, " CRIT"}));

TEST_F(LogFile, EntryCarriesFunctionLineAndFile) {
  int line = __LINE__ + 1;
  ZV_LOG(LOG_INFO, "tftp_thread", "Sending [%s] %d", "kernel", 7);
  std::string expected =
      " INFO][T] [tftp_thread:" + std::to_string(line) + "] [" + __FILE__ + "]\n\tSending [kernel] 7\n";
  EXPECT_EQ(without_times(contents()), "[" + expected);
}

TEST_F(LogFile, DumpEntryThenDumpText) {
  ZV_LOG_DUMP(LOG_HEX, "threadCommandMain", "\x03", 1, "send [%s]", "ctrl-c");
  std::string text = without_times(contents());
  std::string entry_end = "]\n\tsend [ctrl-c]\n";
  size_t at = text.find(entry_end);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.substr(0, 14), "[  HEX][T] [th");
  EXPECT_EQ(text.substr(at + entry_end.size()), log_dump_text("\x03", 1));
}

TEST_F(LogFile, DumpOfZeroBytesHasEntryHeaderFooter) {
  log_dump(LOG_HEX, "", 0, "e\n");
  EXPECT_EQ(without_times(contents()), "[  HEX][T]e\n" + header + footer);
}

TEST_F(LogFile, NullDumpWritesNothing) {
  log_dump(LOG_HEX, nullptr, 5, "e\n");
  EXPECT_EQ(contents(), "");
}

TEST_F(LogFile, PercentInArgumentsIsNotReinterpreted) {
  log_print(LOG_INFO, "%s\n", "100%d");
  EXPECT_EQ(without_times(contents()), "[ INFO][T]100%d\n");
}

TEST_F(LogFile, WritesAfterCloseAreDropped) {
  log_print(LOG_INFO, "before\n");
  log_close();
  EXPECT_FALSE(log_enabled(LOG_INFO));
  log_print(LOG_INFO, "after\n");
  log_dump(LOG_HEX, "ab", 2, "after\n");
  EXPECT_EQ(without_times(contents()), "[ INFO][T]before\n");
}

TEST_F(LogFile, OpenAppendsToAnExistingFile) {
  log_print(LOG_INFO, "one\n");
  log_close();
  log_open(path_.string().c_str(), LOG_HEX);
  log_print(LOG_INFO, "two\n");
  EXPECT_EQ(without_times(contents()), "[ INFO][T]one\n[ INFO][T]two\n");
}

TEST(LogOpen, MinimumLevelLeavesLowerLevelsOff) {
  fs::path path = fs::temp_directory_path() / ("zevavi-min-" + std::to_string(::getpid()) + ".log");
  fs::remove(path);
  log_open(path.string().c_str(), LOG_WARN);
  EXPECT_FALSE(log_enabled(LOG_INFO));
  EXPECT_TRUE(log_enabled(LOG_WARN));
  EXPECT_TRUE(log_enabled(LOG_CRIT));
  log_print(LOG_DEBUG, "hidden\n");
  log_print(LOG_ERROR, "shown\n");
  log_close();
  EXPECT_EQ(without_times(zv_test::read_text_file(path)), "[ERROR][T]shown\n");
  fs::remove(path);
}

TEST(LogOpen, UnwritablePathDisablesEveryLevelSilently) {
  EXPECT_EQ(log_open("/nonexistent-dir/zevavi.log", LOG_HEX), 1);
  for (int level = 0; level < LOG_LEVELS; ++level)
    EXPECT_FALSE(log_enabled(level));
  log_print(LOG_ERROR, "nowhere\n");
  EXPECT_EQ(log_close(), 1);
}

// Three threads write entries with dumps at once; every entry must come out whole: its
// prefix line, its message and its complete dump, with no other entry inside it.
TEST_F(LogFile, EntriesFromThreeThreadsNeverInterleave) {
  constexpr int per_thread = 400;
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([t] {
      std::string payload(21 + t * 5, char('a' + t));
      for (int i = 0; i < per_thread; ++i) {
        if (i % 2)
          ZV_LOG_DUMP(LOG_HEX, "writer", payload.data(), int(payload.size()), "t%d i%d", t, i);
        else
          ZV_LOG(LOG_DEBUG, "writer", "t%d i%d %s", t, i, payload.c_str());
      }
    });
  }
  for (auto &w : writers)
    w.join();

  std::string text = without_times(contents());
  std::regex entry(R"(\[(  HEX|DEBUG)\]\[T\] \[writer:\d+\] \[[^\]]+\]\n\tt(\d) i(\d+)( [a-z]+)?\n)");
  std::vector<int> next(3, 0);
  size_t pos = 0;
  int entries = 0;
  while (pos < text.size()) {
    std::smatch m;
    std::string rest = text.substr(pos, 4096);
    ASSERT_TRUE(std::regex_search(rest, m, entry, std::regex_constants::match_continuous))
        << "broken entry at byte " << pos << ":\n"
        << rest.substr(0, 300);
    int t = std::stoi(m[2]);
    int i = std::stoi(m[3]);
    EXPECT_EQ(i, next[t]) << "thread " << t << " out of order";
    next[t] = i + 1;
    pos += m.length(0);
    if (m[1] == "  HEX") {
      std::string payload(21 + t * 5, char('a' + t));
      std::string dump = log_dump_text(payload.data(), int(payload.size()));
      ASSERT_EQ(text.compare(pos, dump.size(), dump), 0) << "dump of t" << t << " i" << i << " split";
      pos += dump.size();
    } else {
      EXPECT_EQ(m[4].str(), " " + std::string(21 + t * 5, char('a' + t)));
    }
    ++entries;
  }
  EXPECT_EQ(entries, 3 * per_thread);
}

// A close from one thread while others write: writes before it are whole, the rest dropped.
TEST(LogClose, RacingWritersAndCloseLeaveWholeEntries) {
  fs::path path = fs::temp_directory_path() / ("zevavi-race-" + std::to_string(::getpid()) + ".log");
  for (int round = 0; round < 20; ++round) {
    fs::remove(path);
    log_open(path.string().c_str(), LOG_HEX);
    std::atomic<bool> go{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t)
      writers.emplace_back([&] {
        while (!go) {
        }
        for (int i = 0; i < 200; ++i)
          log_dump(LOG_HEX, "0123456789abcdefXYZ", 19, "w\n");
      });
    go = true;
    std::this_thread::yield();
    log_close();
    for (auto &w : writers)
      w.join();
    std::string text = without_times(zv_test::read_text_file(path));
    std::string one = "[  HEX][T]w\n" + log_dump_text("0123456789abcdefXYZ", 19);
    ASSERT_EQ(text.size() % one.size(), 0u) << "round " << round;
    for (size_t at = 0; at < text.size(); at += one.size())
      ASSERT_EQ(text.compare(at, one.size(), one), 0) << "round " << round;
  }
  fs::remove(path);
}

}  // namespace
