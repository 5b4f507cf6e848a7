// The port's settings in the Windows registry itself (the Linux build keeps them in files
// that stand in for it, tested elsewhere).
#include "comport/serport.h"
#include "platform/settingsstore.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>

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

}  // namespace
