// Stored port settings: the groups of StoredProps to an ini file or the registry, with the
// fixed value names and text forms of the component set.
#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include "comport/serport.h"
#include "lib/log.h"
#include "platform/settingsstore.h"

namespace {

// Yes/no form: "Yes" or "No"; only "YES" in any case reads as true.
std::string YesNo(bool Value) { return Value ? "Yes" : "No"; }
bool IsYes(const std::string &Text) {
  std::string up;
  for (char c : Text)
    up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return up == "YES";
}

// Character form: 33..127 as itself, anything else as "#" and its decimal code.
std::string CharToStored(char Ch) {
  const auto code = static_cast<unsigned char>(Ch);
  if (code >= 33 && code <= 127)
    return std::string(1, Ch);
  return "#" + std::to_string(code);
}
char StoredToChar(const std::string &Text) {
  if (Text.empty())
    return 0;
  if (Text[0] != '#' || Text.size() == 1)
    return Text[0];
  const std::string digits = Text.substr(1);
  char *end = nullptr;
  long long code = std::strtoll(digits.c_str(), &end, 10);
  if (*end != '\0' || digits.find_first_not_of("+-0123456789") != std::string::npos)
    return 0;
  return static_cast<char>(static_cast<unsigned char>(code & 0xFF));
}

// The two stores as the groups see them. Reading takes the setting's current text, which
// the ini file returns for a missing key and the registry ignores (a missing text value
// reads as empty there, a missing integer fails the load).
struct ValueStore {
  virtual ~ValueStore() = default;
  virtual void PutText(const char *Name, const std::string &Value) = 0;
  virtual void PutInt(const char *Name, int Value) = 0;
  virtual std::string Text(const char *Name, const std::string &Current) const = 0;
  virtual int Int(const char *Name, int Current) const = 0;
};

struct IniStore : ValueStore {
  IniStore(const IniFile &Ini, IniFile *Writable, std::string Section)
      : ini(Ini), writable(Writable), section(std::move(Section)) {}
  void PutText(const char *Name, const std::string &Value) override {
    writable->WriteString(section, Name, Value);
  }
  void PutInt(const char *Name, int Value) override { writable->WriteInteger(section, Name, Value); }
  std::string Text(const char *Name, const std::string &Current) const override {
    return ini.ReadString(section, Name, Current);
  }
  int Int(const char *Name, int Current) const override { return ini.ReadInteger(section, Name, Current); }
  const IniFile &ini;
  IniFile *writable;
  std::string section;
};

struct RegistryStore : ValueStore {
  RegistryStore(const RegistryKey &Key, RegistryKey *Writable) : key(Key), writable(Writable) {}
  void PutText(const char *Name, const std::string &Value) override { writable->WriteString(Name, Value); }
  void PutInt(const char *Name, int Value) override { writable->WriteInteger(Name, Value); }
  std::string Text(const char *Name, const std::string &) const override {
    std::string value;
    key.ReadString(Name, value);
    return value;
  }
  int Int(const char *Name, int) const override {
    int value = 0;
    if (!key.ReadInteger(Name, value))
      throw std::runtime_error(std::string("The value ") + Name + " is missing.");
    return value;
  }
  const RegistryKey &key;
  RegistryKey *writable;
};

void StoreGroups(const TCustomComPort &P, ValueStore &S) {
  const TStoredProps props = P.StoredProps();
  if (props.contains(spBasic)) {
    S.PutText("Port", P.Port());
    S.PutText("BaudRate", BaudRateToStr(P.BaudRate()));
    if (P.BaudRate() == brCustom)
      S.PutInt("CustomBaudRate", P.CustomBaudRate());
    S.PutText("StopBits", StopBitsToStr(P.StopBits()));
    S.PutText("DataBits", DataBitsToStr(P.DataBits()));
    S.PutText("Parity", ParityToStr(P.Parity().Bits()));
    S.PutText("FlowControl", FlowControlToStr(P.FlowControl().FlowControl()));
  }
  if (props.contains(spOthers)) {
    S.PutText("EventChar", CharToStored(P.EventChar()));
    S.PutText("DiscardNull", YesNo(P.DiscardNull()));
  }
  if (props.contains(spParity)) {
    S.PutText("Parity.Check", YesNo(P.Parity().Check()));
    S.PutText("Parity.Replace", YesNo(P.Parity().Replace()));
    S.PutText("Parity.ReplaceChar", CharToStored(P.Parity().ReplaceChar()));
  }
  if (props.contains(spBuffer)) {
    S.PutInt("Buffer.OutputSize", P.Buffer().OutputSize());
    S.PutInt("Buffer.InputSize", P.Buffer().InputSize());
  }
  if (props.contains(spTimeouts)) {
    const TComTimeouts &t = P.Timeouts();
    S.PutInt("Timeouts.ReadInterval", t.ReadInterval());
    S.PutInt("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
    S.PutInt("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
    S.PutInt("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
    S.PutInt("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
  }
  if (props.contains(spFlowControl)) {
    const TComFlowControl &f = P.FlowControl();
    S.PutText("FlowControl.ControlRTS", RTSFlowControlToStr(f.ControlRTS()));
    S.PutText("FlowControl.ControlDTR", DTRFlowControlToStr(f.ControlDTR()));
    S.PutText("FlowControl.DSRSensitivity", YesNo(f.DSRSensitivity()));
    S.PutText("FlowControl.OutCTSFlow", YesNo(f.OutCTSFlow()));
    S.PutText("FlowControl.OutDSRFlow", YesNo(f.OutDSRFlow()));
    S.PutText("FlowControl.TxContinueOnXoff", YesNo(f.TxContinueOnXoff()));
    S.PutText("FlowControl.XonXoffIn", YesNo(f.XonXoffIn()));
    S.PutText("FlowControl.XonXoffOut", YesNo(f.XonXoffOut()));
    S.PutText("FlowControl.XoffChar", CharToStored(f.XoffChar()));
    S.PutText("FlowControl.XonChar", CharToStored(f.XonChar()));
  }
}

void LoadGroups(TCustomComPort &P, const ValueStore &S) {
  const TStoredProps props = P.StoredProps();
  if (props.contains(spBasic)) {
    P.SetPort(S.Text("Port", P.Port()));
    P.SetBaudRate(StrToBaudRate(S.Text("BaudRate", BaudRateToStr(P.BaudRate()))));
    if (P.BaudRate() == brCustom)
      P.SetCustomBaudRate(S.Int("CustomBaudRate", 9600));
    P.SetStopBits(StrToStopBits(S.Text("StopBits", StopBitsToStr(P.StopBits()))));
    P.SetDataBits(StrToDataBits(S.Text("DataBits", DataBitsToStr(P.DataBits()))));
    P.Parity().SetBits(StrToParity(S.Text("Parity", ParityToStr(P.Parity().Bits()))));
    P.FlowControl().SetFlowControl(
        StrToFlowControl(S.Text("FlowControl", FlowControlToStr(P.FlowControl().FlowControl()))));
  }
  if (props.contains(spOthers)) {
    P.SetEventChar(StoredToChar(S.Text("EventChar", CharToStored(P.EventChar()))));
    P.SetDiscardNull(IsYes(S.Text("DiscardNull", YesNo(P.DiscardNull()))));
  }
  if (props.contains(spParity)) {
    TComParity &par = P.Parity();
    par.SetCheck(IsYes(S.Text("Parity.Check", YesNo(par.Check()))));
    par.SetReplace(IsYes(S.Text("Parity.Replace", YesNo(par.Replace()))));
    par.SetReplaceChar(StoredToChar(S.Text("Parity.ReplaceChar", CharToStored(par.ReplaceChar()))));
  }
  if (props.contains(spBuffer)) {
    TComBuffer &b = P.Buffer();
    b.SetOutputSize(S.Int("Buffer.OutputSize", b.OutputSize()));
    b.SetInputSize(S.Int("Buffer.InputSize", b.InputSize()));
  }
  if (props.contains(spTimeouts)) {
    TComTimeouts &t = P.Timeouts();
    t.SetReadInterval(S.Int("Timeouts.ReadInterval", t.ReadInterval()));
    t.SetReadTotalConstant(S.Int("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
    t.SetReadTotalMultiplier(S.Int("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
    t.SetWriteTotalConstant(S.Int("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
    t.SetWriteTotalMultiplier(S.Int("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
  }
  if (props.contains(spFlowControl)) {
    TComFlowControl &f = P.FlowControl();
    f.SetControlRTS(
        StrToRTSFlowControl(S.Text("FlowControl.ControlRTS", RTSFlowControlToStr(f.ControlRTS()))));
    f.SetControlDTR(
        StrToDTRFlowControl(S.Text("FlowControl.ControlDTR", DTRFlowControlToStr(f.ControlDTR()))));
    f.SetDSRSensitivity(IsYes(S.Text("FlowControl.DSRSensitivity", YesNo(f.DSRSensitivity()))));
    f.SetOutCTSFlow(IsYes(S.Text("FlowControl.OutCTSFlow", YesNo(f.OutCTSFlow()))));
    f.SetOutDSRFlow(IsYes(S.Text("FlowControl.OutDSRFlow", YesNo(f.OutDSRFlow()))));
    f.SetTxContinueOnXoff(IsYes(S.Text("FlowControl.TxContinueOnXoff", YesNo(f.TxContinueOnXoff()))));
    f.SetXonXoffIn(IsYes(S.Text("FlowControl.XonXoffIn", YesNo(f.XonXoffIn()))));
    f.SetXonXoffOut(IsYes(S.Text("FlowControl.XonXoffOut", YesNo(f.XonXoffOut()))));
    f.SetXoffChar(StoredToChar(S.Text("FlowControl.XoffChar", CharToStored(f.XoffChar()))));
    f.SetXonChar(StoredToChar(S.Text("FlowControl.XonChar", CharToStored(f.XonChar()))));
  }
}

// "HKEY_LOCAL_MACHINE\\Software\\Example" and the name ComPort → the machine root and
// "Software\\Example\\ComPort". Any root text other than the two known ones means the
// current user. A path without "\\" names no key, which here is a failure rather than a
// write into the root of the hive.
bool SplitRegistryPath(const std::string &Path, const std::string &Name, RegistryRoot &Root,
                       std::string &Key) {
  const size_t cut = Path.find('\\');
  if (cut == std::string::npos)
    return false;
  std::string root;
  for (char c : Path.substr(0, cut))
    root += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Root = root == "HKEY_LOCAL_MACHINE" ? RegistryRoot::LocalMachine : RegistryRoot::CurrentUser;
  Key = Path.substr(cut + 1);
  if (!Key.empty() && Key.back() != '\\')
    Key += '\\';
  Key += Name;
  return true;
}

}  // namespace

void TCustomComPort::StoreIniFile(IniFile &Ini) {
  IniStore store(Ini, &Ini, name_);
  StoreGroups(*this, store);
}

void TCustomComPort::LoadIniFile(const IniFile &Ini) {
  IniStore store(Ini, nullptr, name_);
  LoadGroups(*this, store);
}

void TCustomComPort::StoreRegistry(RegistryKey &Key) {
  RegistryStore store(Key, &Key);
  StoreGroups(*this, store);
}

void TCustomComPort::LoadRegistry(const RegistryKey &Key) {
  RegistryStore store(Key, nullptr);
  LoadGroups(*this, store);
}

void TCustomComPort::StoreSettings(TStoreType StoreType, const std::string &Location) {
  try {
    if (StoreType == stIniFile) {
      IniFile ini(Location);
      StoreIniFile(ini);
      ini.UpdateFile();
    } else {
      RegistryRoot root;
      std::string key_path;
      if (!SplitRegistryPath(Location, name_, root, key_path))
        throw std::runtime_error("no registry key in " + Location);
      RegistryKey key(root, key_path);
      StoreRegistry(key);
      key.Flush();
    }
  } catch (const std::exception &e) {
    ZV_LOG(LOG_ERROR, "TCustomComPort.StoreSettings", "%s", e.what());
    throw EComPort(port_, 16);
  }
}

void TCustomComPort::LoadSettings(TStoreType StoreType, const std::string &Location) {
  BeginUpdate();
  try {
    if (StoreType == stIniFile) {
      IniFile ini(Location);
      LoadIniFile(ini);
    } else {
      RegistryRoot root;
      std::string key_path;
      if (!SplitRegistryPath(Location, name_, root, key_path))
        throw std::runtime_error("no registry key in " + Location);
      RegistryKey key(root, key_path);
      LoadRegistry(key);
    }
  } catch (const std::exception &e) {
    ZV_LOG(LOG_ERROR, "TCustomComPort.LoadSettings", "%s", e.what());
    // What was read before the failure still reaches the device, once.
    try {
      EndUpdate();
    } catch (const std::exception &apply) {
      ZV_LOG(LOG_ERROR, "TCustomComPort.LoadSettings", "%s", apply.what());
    }
    throw EComPort(port_, 17);
  }
  EndUpdate();
}
