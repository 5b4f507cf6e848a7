// The port's settings in the Windows registry itself (the Linux build keeps them in files
// that stand in for it, tested elsewhere), and the system's list of serial ports there.
#include "comport/serport.h"
#include "platform/comm.h"
#include "platform/settingsstore.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The prefix outlives a run: each test starts from no key at all.
class WindowsRegistry : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZeVaviTest"); }
  void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZeVaviTest"); }
};

TEST_F(WindowsRegistry, ValuesReadBackOnlyAfterFlushAndAsTheirKind) {
  const std::string path = "Software\\ZeVaviTest\\Values";
  {
    RegistryKey key(RegistryRoot::CurrentUser, path);
    key.WriteString("Text", "a \"quoted\" \\ name ");
    key.WriteInteger("Number", -7);
    key.WriteString("Empty", "");
    RegistryKey other(RegistryRoot::CurrentUser, path);
    std::string text;
    EXPECT_FALSE(other.ReadString("Text", text));  // nothing reaches the key before Flush
    key.Flush();
  }
  RegistryKey back(RegistryRoot::CurrentUser, path);
  const struct {
    const char *name;
    bool is_text;
    bool found;
    std::string text;
    int number;
  } cases[] = {
      {"Text", true, true, "a \"quoted\" \\ name ", 0},
      {"Empty", true, true, "", 0},
      {"Number", false, true, "", -7},
      {"Number", true, false, "", 0},  // an integer is not a text
      {"Text", false, false, "", 0},   // nor a text an integer
      {"Missing", true, false, "", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.is_text) {
      std::string text = "unchanged";
      ASSERT_EQ(back.ReadString(c.name, text), c.found);
      if (c.found) {
        EXPECT_EQ(text, c.text);
      }
    } else {
      int number = 12345;
      ASSERT_EQ(back.ReadInteger(c.name, number), c.found);
      if (c.found) {
        EXPECT_EQ(number, c.number);
      }
    }
  }
}

TEST_F(WindowsRegistry, PortSettingsRoundTripAndBadPathsAreRefused) {
  TComPort port;
  port.SetPort("COM5");
  port.SetBaudRate(br115200);
  port.StoreSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\ZeVaviTest\\Port");
  TComPort back;
  back.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\Software\\ZeVaviTest\\Port");
  EXPECT_EQ(back.Port(), "COM5");
  EXPECT_EQ(back.BaudRate(), br115200);
  for (const char *bad : {"Software\\..\\Other", "Software\\\\Twice", "Soft/ware"})
    EXPECT_THROW(RegistryKey(RegistryRoot::CurrentUser, bad), std::runtime_error) << bad;
}

// The window's Port list on Windows: the form's COM1..COM9 and the system's serial ports (a
// USB adapter's COM10 and COM23, and a COM2 the form has too), each once, in port order.
TEST(WindowsPorts, TheSystemsPortsJoinTheFormsOnceInPortOrder) {
  HKEY key;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const struct {
    const char *device, *port;
  } added[] = {
      {"\\Device\\ZvUsbSer23", "COM23"}, {"\\Device\\ZvUsbSer10", "COM10"}, {"\\Device\\ZvSerial2", "COM2"}};
  for (const auto &a : added)
    ASSERT_EQ(::RegSetValueExA(key, a.device, 0, REG_SZ, reinterpret_cast<const BYTE *>(a.port),
                               DWORD(std::strlen(a.port) + 1)),
              ERROR_SUCCESS);
  std::vector<std::string> system;
  const uint32_t rc = comm_enum_ports(system);
  for (const auto &a : added)
    ::RegDeleteValueA(key, a.device);
  ::RegCloseKey(key);
  ASSERT_EQ(rc, COMM_OK);

  std::vector<std::string> ports = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"};
  ports.insert(ports.end(), system.begin(), system.end());
  const std::vector<std::string> list = comm_port_list(ports);
  ASSERT_GE(list.size(), 11u);
  EXPECT_EQ(std::vector<std::string>(list.begin(), list.begin() + 9),
            std::vector<std::string>(ports.begin(), ports.begin() + 9));
  auto at = [&](const char *port) { return std::find(list.begin(), list.end(), port) - list.begin(); };
  EXPECT_LT(at("COM10"), at("COM23"));
  EXPECT_LT(at("COM23"), std::ptrdiff_t(list.size()));
  EXPECT_EQ(std::set<std::string>(list.begin(), list.end()).size(), list.size()) << "a port twice";
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), comm_port_less));
}

}  // namespace
