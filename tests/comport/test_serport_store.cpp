// Stored port settings: the exact text of the ini file, the character and yes/no forms,
// round trips of every group, the missing-value rules, and the registry's stand-in.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>

#include "comport/serport.h"
#include "platform/paths.h"
#include "platform/settingsstore.h"
#include "tests/support/fs.h"

namespace fs = std::filesystem;
using zv_test::read_file;
using zv_test::write_file;

namespace {

class PortStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ini = (dir / "port.ini").string();
    setenv("XDG_CONFIG_HOME", (dir / "user").string().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (dir / "machine").string().append(":/etc/xdg").c_str(), 1);
  }
  int FailureCode(const std::function<void()> &f) {
    try {
      f();
    } catch (const EComPort &e) {
      return e.Code();
    }
    return 0;
  }
  zv_test::TempDir temp{"zv-store"};
  const fs::path &dir = temp.path();
  std::string ini;
};

TEST_F(PortStore, DefaultsWriteOnlyTheBasicGroupUnderTheComponentsName) {
  TComPort port;
  port.StoreSettings(stIniFile, ini);
  EXPECT_EQ(read_file(ini),
            "[ComPort]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");
}

TEST_F(PortStore, OtherSectionsAndCommentsOfTheFileSurviveAStore) {
  write_file(ini, "; kept\n[Other]\nKey = value \n\n[ComPort]\nBaudRate=110\nExtra=1\n");
  TComPort port;
  port.StoreSettings(stIniFile, ini);
  EXPECT_EQ(read_file(ini),
            "; kept\n[Other]\nKey = value\n\n[ComPort]\nBaudRate=9600\nExtra=1\nPort=COM1\nStopBits=1\n"
            "DataBits=8\nParity=None\nFlowControl=None\n");
}

TEST_F(PortStore, CharacterForms) {
  const struct {
    int code;
    const char *stored;
  } writes[] = {{'A', "A"}, {17, "#17"}, {200, "#200"}, {0, "#0"}, {32, "#32"}, {33, "!"}, {127, "\x7f"}};
  for (const auto &w : writes) {
    TComPort port;
    port.SetStoredProps({spOthers});
    port.SetEventChar(static_cast<char>(w.code));
    port.StoreSettings(stIniFile, ini);
    EXPECT_EQ(IniFile(ini).ReadString("ComPort", "EventChar", "?"), w.stored) << w.code;
    TComPort back;
    back.SetStoredProps({spOthers});
    back.SetEventChar('z');
    back.LoadSettings(stIniFile, ini);
    EXPECT_EQ(static_cast<unsigned char>(back.EventChar()), w.code);
  }
  const struct {
    const char *text;
    int code;
  } reads[] = {{"#300", 44}, {"x#", 'x'}, {"#", '#'}, {"#abc", 0}, {"#-1", 255}, {"Yes", 'Y'}};
  for (const auto &r : reads) {
    write_file(ini, std::string("[ComPort]\nEventChar=") + r.text + "\nDiscardNull=yEs\n");
    TComPort port;
    port.SetStoredProps({spOthers});
    port.LoadSettings(stIniFile, ini);
    EXPECT_EQ(static_cast<unsigned char>(port.EventChar()), r.code) << r.text;
    EXPECT_TRUE(port.DiscardNull());
  }
}

TEST_F(PortStore, EveryGroupRoundTrips) {
  TComPort port;
  port.SetName("Bench");
  port.SetStoredProps({spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers});
  port.SetPort("/dev/ttyUSB0");
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(31250);
  port.SetDataBits(dbSeven);
  port.SetStopBits(sbOne5StopBits);
  port.Parity().SetBits(prMark);
  port.Parity().SetCheck(true);
  port.Parity().SetReplaceChar('?');
  port.FlowControl().SetControlRTS(rtsToggle);
  port.FlowControl().SetControlDTR(dtrHandshake);
  port.FlowControl().SetXonChar(1);
  port.FlowControl().SetXoffChar('~');
  port.FlowControl().SetTxContinueOnXoff(true);
  port.Buffer().SetInputSize(4096);
  port.Buffer().SetOutputSize(512);
  port.Timeouts().SetReadInterval(7);
  port.Timeouts().SetWriteTotalConstant(12345);
  port.SetDiscardNull(true);
  port.StoreSettings(stIniFile, ini);
  EXPECT_NE(read_file(ini).find("BaudRate=Custom\nCustomBaudRate=31250\n"), std::string::npos)
      << read_file(ini);

  TComPort back;
  back.SetName("Bench");
  back.SetStoredProps(port.StoredProps());
  back.LoadSettings(stIniFile, ini);
  EXPECT_EQ(back.Port(), "/dev/ttyUSB0");
  EXPECT_EQ(back.CustomBaudRate(), 31250);
  EXPECT_EQ(back.Buffer().InputSize(), 4096);
  EXPECT_EQ(back.Buffer().OutputSize(), 512);
  EXPECT_EQ(back.Timeouts().ReadInterval(), 7);
  EXPECT_EQ(back.Timeouts().WriteTotalConstant(), 12345);
  EXPECT_EQ(back.FlowControl().XoffChar(), '~');
  const CommDcb a = back.BuildDCB(), b = port.BuildDCB();
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  const CommTimeouts ta = back.BuildTimeouts(), tb = port.BuildTimeouts();
  EXPECT_EQ(std::memcmp(&ta, &tb, sizeof ta), 0);
}

TEST_F(PortStore, AMissingIniKeyLeavesItsSettingAlone) {
  write_file(
      ini,
      "[ComPort]\nFlowControl.OutCTSFlow=Yes\nFlowControl.ControlRTS=Handshake\nFlowControl.XonChar=#1\n"
      "Buffer.InputSize=oops\n");
  for (bool dsr : {false, true}) {
    TComPort port;
    port.SetStoredProps({spFlowControl, spBuffer, spBasic});
    port.SetBaudRate(br57600);
    port.FlowControl().SetOutDSRFlow(dsr);
    port.LoadSettings(stIniFile, ini);
    EXPECT_TRUE(port.FlowControl().OutCTSFlow());
    EXPECT_EQ(port.FlowControl().OutDSRFlow(), dsr);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
    EXPECT_EQ(port.FlowControl().XonChar(), 1);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);  // not a number: the current value
    EXPECT_EQ(port.BaudRate(), br57600);
  }
  // Only CustomBaudRate falls back to 9600 rather than to the current value.
  write_file(ini, "[ComPort]\nBaudRate=custom\n");
  TComPort port;
  port.SetCustomBaudRate(250000);
  port.LoadSettings(stIniFile, ini);
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
}

TEST_F(PortStore, RegistryPathsMapOntoKeyFiles) {
  const struct {
    const char *path;
    std::string file;
  } cases[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\Example", "machine/zevavi/registry/Software/Example/ComPort.ini"},
      {"hkey_local_machine\\Software\\Example\\", "machine/zevavi/registry/Software/Example/ComPort.ini"},
      {"HKEY_CURRENT_USER\\Software\\Example", "user/zevavi/registry/Software/Example/ComPort.ini"},
      {"HKEY_CLASSES_ROOT\\Software", "user/zevavi/registry/Software/ComPort.ini"},
  };
  for (const auto &c : cases) {
    TComPort port;
    port.SetPort("COM3");
    port.StoreSettings(stRegistry, c.path);
    ASSERT_TRUE(fs::exists(dir / c.file)) << c.path;
    TComPort back;
    back.LoadSettings(stRegistry, c.path);
    EXPECT_EQ(back.Port(), "COM3") << c.path;
    fs::remove(dir / c.file);
  }
  TComPort port;
  port.SetStoredProps({spBasic, spBuffer});
  port.SetPort("a \"quoted\" \\ name ");
  port.StoreSettings(stRegistry, "HKEY_LOCAL_MACHINE\\Software\\Example");
  EXPECT_EQ(read_file(dir / cases[0].file),
            "[HKEY_LOCAL_MACHINE\\Software\\Example\\ComPort]\nPort=\"a \\\"quoted\\\" \\\\ name \"\n"
            "BaudRate=\"9600\"\nStopBits=\"1\"\nDataBits=\"8\"\nParity=\"None\"\nFlowControl=\"None\"\n"
            "Buffer.OutputSize=dword:00000400\nBuffer.InputSize=dword:00000400\n");
  TComPort back;
  back.SetStoredProps({spBasic, spBuffer});
  back.LoadSettings(stRegistry, "HKEY_LOCAL_MACHINE\\Software\\Example");
  EXPECT_EQ(back.Port(), port.Port());
}

TEST_F(PortStore, RegistryMissingValuesAndRefusedPaths) {
  // A missing text takes the conversion's fallback; a missing integer fails the load, with
  // what was read before it kept.
  write_file(dir / "user/zevavi/registry/S/ComPort.ini",
             "[HKEY_CURRENT_USER\\S\\ComPort]\nBaudRate=\"57600\"\n");
  TComPort port;
  port.SetStoredProps({spBasic, spBuffer});
  port.SetBaudRate(br110);
  port.SetDataBits(dbFive);
  EXPECT_EQ(FailureCode([&] { port.LoadSettings(stRegistry, "HKEY_CURRENT_USER\\S"); }), 17);
  EXPECT_EQ(port.BaudRate(), br57600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.Port(), "");

  for (const char *bad : {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\..\\x", "HKEY_CURRENT_USER\\a\\\\b",
                          "HKEY_CURRENT_USER\\a/b"}) {
    TComPort p;
    EXPECT_EQ(FailureCode([&] { p.StoreSettings(stRegistry, bad); }), 16) << bad;
    EXPECT_EQ(FailureCode([&] { p.LoadSettings(stRegistry, bad); }), 17) << bad;
  }
  EXPECT_FALSE(fs::exists(dir / "user/zevavi/x"));
}

TEST_F(PortStore, AFailedStoreLeavesTheOldFileWhole) {
  write_file(ini, "[ComPort]\nPort=COM2\n");
  TComPort port;
  port.SetName("Bad\nName");  // a section a file cannot hold
  EXPECT_EQ(FailureCode([&] { port.StoreSettings(stIniFile, ini); }), 16);
  EXPECT_EQ(read_file(ini), "[ComPort]\nPort=COM2\n");
  EXPECT_EQ(FailureCode([&] { TComPort().StoreSettings(stIniFile, (dir / "port.ini" / "x.ini").string()); }),
            16);
  try {
    TComPort().StoreSettings(stIniFile, (dir / "port.ini" / "x.ini").string());
  } catch (const EComPort &e) {
    EXPECT_STREQ(e.what(), "COM1 Error: Failed to store settings");
  }
}

#ifndef _WIN32
// A save creates its temporary anew: a link planted at its name is neither followed nor
// left, whatever it points at.
TEST_F(PortStore, ASaveNeverWritesThroughAPlantedTemporary) {
  const fs::path victim = dir / "victim";
  const struct {
    const char *name;
    std::function<void()> plant;
  } plants[] = {
      {"a link to a file", [&] { fs::create_symlink(victim, ini + ".new"); }},
      {"a link to nothing yet", [&] { fs::create_symlink(dir / "made-through-the-link", ini + ".new"); }},
      {"a file left by a save that died", [&] { write_file(ini + ".new", "half"); }},
  };
  for (const auto &plant : plants) {
    SCOPED_TRACE(plant.name);
    write_file(victim, "precious");
    plant.plant();
    IniFile file(ini);
    file.WriteString("ComPort", "Port", "COM4");
    file.UpdateFile();
    EXPECT_EQ(read_file(ini), "[ComPort]\nPort=COM4\n");
    EXPECT_EQ(read_file(victim), "precious");
    EXPECT_FALSE(fs::exists(dir / "made-through-the-link"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(ini + ".new")));
    fs::remove(ini);
  }
}
#endif

// A key the reader would take for a comment or a section is refused, as a key with "=" is:
// written, it would never read back.
TEST_F(PortStore, KeysAFileCannotHoldAreRefused) {
  IniFile file(ini);
  for (const char *bad : {";Port", "[Port", "Po=rt", " Port", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(file.WriteString("ComPort", bad, "x"), std::runtime_error);
  }
  file.WriteString("ComPort", "Po;rt", "x");
  file.UpdateFile();
  EXPECT_EQ(IniFile(ini).ReadString("ComPort", "Po;rt", "missing"), "x");
  EXPECT_EQ(read_file(ini), "[ComPort]\nPo;rt=x\n");
}

#ifndef _WIN32
// Without HOME the user's folders come from the password database, never a shared /tmp.
TEST_F(PortStore, RegistryAndSettingsWithoutHomeAreInTheUsersOwnFolder) {
  const passwd *entry = ::getpwuid(::geteuid());
  ASSERT_NE(entry, nullptr);
  const std::string passwd_home = entry->pw_dir;
  const char *was = std::getenv("HOME");
  const std::string saved = was ? was : "";
  unsetenv("HOME");
  unsetenv("XDG_CONFIG_HOME");
  const std::string file = RegistryKeyFile(RegistryRoot::CurrentUser, "Software\\Example");
  const std::string settings = settings_file_path("term.ini");
  setenv("HOME", saved.c_str(), 1);
  EXPECT_EQ(file, passwd_home + "/.config/zevavi/registry/Software/Example.ini");
  EXPECT_EQ(settings, passwd_home + "/.config/zevavi/term.ini");
}
#endif

}  // namespace
