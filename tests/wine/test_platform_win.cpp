// The Windows side of two things a technician meets: where the log goes, and who holds UDP
// port 69. Binds port 69 for real, so it runs in a private network namespace, with a Wine
// prefix of its own: the sockets are made by the prefix's wineserver, which must start
// inside the namespace too.
#include "platform/net.h"
#include "platform/paths.h"
#include "src/upgradeengine.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string read_all(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

// The names in a folder, so a test can say that a probe left nothing behind.
std::vector<std::string> names_in(const std::string &folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE h = ::FindFirstFileA((folder + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE)
    return names;
  do
    if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..")
      names.push_back(found.cFileName);
  while (::FindNextFileA(h, &found));
  ::FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

class LogPlace : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH + 1] = "";
    ::GetTempPathA(sizeof temp, temp);
    dir_ = std::string(temp) + "zevavi-logplace-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::string &name : names_in(dir_)) {
      const std::string path = dir_ + "\\" + name;
      if (!::DeleteFileA(path.c_str()))
        ::RemoveDirectoryA(path.c_str());
    }
    ::RemoveDirectoryA(dir_.c_str());
  }
  std::string dir_;
};

TEST_F(LogPlace, AFreshLogStartsInPlaceOfNothingOrARegularFileAndTheProbeLeavesNothing) {
  const std::string log = dir_ + "\\zevavi.log";
  const struct {
    const char *name;
    const char *file;  // content of a regular file at the log's path, or null
    bool folder;       // a folder at the log's path
    std::string path;
    bool startable;
  } cases[] = {
      {"nothing there", nullptr, false, log, true},
      {"the last run's log", "the last run", false, log, true},
      {"a folder of that name", nullptr, true, log, false},
      {"a missing folder", nullptr, false, dir_ + "\\missing\\zevavi.log", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.file)
      std::ofstream(c.path, std::ios::binary) << c.file;
    if (c.folder)
      ::CreateDirectoryA(c.path.c_str(), nullptr);
    const std::vector<std::string> before = names_in(dir_);
    EXPECT_EQ(can_start_file_at(c.path), c.startable);
    EXPECT_EQ(names_in(dir_), before) << "the probe left something behind";
    if (c.file) {
      EXPECT_EQ(read_all(c.path), c.file);
    }
    ::DeleteFileA(c.path.c_str());
    ::RemoveDirectoryA(c.path.c_str());
  }
}

// The runs shift up one by one and the oldest kept gives way: the C runtime's rename would
// refuse to replace it. A device is no log to move.
TEST_F(LogPlace, EarlierLogsShiftAndTheOldestGivesWay) {
  const std::string log = dir_ + "\\zevavi.log";
  std::ofstream(log, std::ios::binary) << "the last run";
  for (int n = 1; n <= kept_logs; ++n)
    std::ofstream(log + "." + std::to_string(n), std::ios::binary) << "run -" << n;
  std::string error;
  EXPECT_TRUE(start_log_at(log, error)) << error;
  EXPECT_EQ(::GetFileAttributesA(log.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(read_all(log + ".1"), "the last run");
  EXPECT_EQ(read_all(log + ".5"), "run -4");
  EXPECT_FALSE(start_log_at("NUL", error));
  EXPECT_NE(error.find("NUL is a device"), std::string::npos) << error;
}

TEST_F(LogPlace, BesideTheProgramWhereItsFolderTakesTheLog) {
  const std::string exe = executable_path();
  const std::string beside = exe.substr(0, exe.find_last_of('\\') + 1) + "zevavi.log";
  ::DeleteFileA(beside.c_str());
  EXPECT_EQ(default_log_path("test_platform_win"), beside);  // named so with ".exe" on Windows
  EXPECT_EQ(::GetFileAttributesA(beside.c_str()), INVALID_FILE_ATTRIBUTES) << "the probe left a log behind";
}

// A program of the PC holds UDP port 69 (here this very program, on a socket of its own): the
// refusal names it, by its file name and process id, and says what to do on Windows.
TEST(Port69, HeldByAProgramIsRefusedNamingIt) {
  WSADATA data;
  ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  // A service commonly binds its port exclusively: others are then refused with "access
  // denied", not "in use".
  for (bool exclusive : {false, true}) {
    SCOPED_TRACE(exclusive ? "bound exclusively" : "bound");
    SOCKET holder = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(holder, INVALID_SOCKET);
    BOOL on = TRUE;
    if (exclusive) {
      ASSERT_EQ(::setsockopt(holder, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on),
                             sizeof on),
                0);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(69);
    ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0)
        << ::WSAGetLastError();
    // Wine makes a socket in its server and hands this process the descriptor only when it
    // first reads; until then the system's table knows no owner. An empty read fetches it
    // (Windows needs none of this).
    u_long nonblocking = 1;
    ::ioctlsocket(holder, FIONBIO, &nonblocking);
    char byte;
    EXPECT_EQ(::recv(holder, &byte, 1, 0), SOCKET_ERROR);

    std::string detail;
    EXPECT_EQ(udp_port_check(69, detail), PortCheck::in_use) << detail;
    const std::vector<PortHolder> holders = udp_port_holders(69);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, long(::GetCurrentProcessId()));
    EXPECT_EQ(lower(holders[0].program), "test_platform_win.exe");
    EXPECT_EQ(
        tftp_port_refusal("C:\\ZeVavi\\ZeVavi.exe"),
        "UDP port 69 (TFTP) is in use by another program: " + holders[0].program + " (process " +
            std::to_string(::GetCurrentProcessId()) +
            ").\nThe machine fetches its images from this PC on that port.\n"
            "Close that program, or, if it runs as a service, stop the service from an administrator's "
            "command prompt (for Windows Deployment Services: net stop WDSServer) and press Next again.");
    ::closesocket(holder);
    EXPECT_EQ(udp_port_check(69, detail), PortCheck::free) << detail;
    EXPECT_TRUE(udp_port_holders(69).empty());
  }
  ::WSACleanup();
}

}  // namespace
