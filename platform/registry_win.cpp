// The registry itself on Windows. A key keeps its writes in memory (in the ini form the
// stand-in elsewhere uses, so the class is the same on every system) until Flush, which
// creates the key and sets the values; reads see those writes first, then the key.
#include "platform/settingsstore.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace {

HKEY root_key(const std::string &section) {
  return section.rfind("HKEY_LOCAL_MACHINE\\", 0) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::string key_path(const std::string &section) { return section.substr(section.find('\\') + 1); }

// The same paths are refused as by the stand-in, so a setting behaves alike everywhere.
void check_path(const std::string &KeyPath) {
  size_t pos = 0;
  bool any = false;
  for (;;) {
    size_t stop = KeyPath.find('\\', pos);
    std::string part = KeyPath.substr(pos, stop == std::string::npos ? std::string::npos : stop - pos);
    if (part.empty() && stop == std::string::npos && any)
      return;  // one trailing "\" is allowed
    if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos ||
        part.find('\0') != std::string::npos)
      throw std::runtime_error("\"" + KeyPath + "\" is not a registry key path this system can keep.");
    any = true;
    if (stop == std::string::npos)
      return;
    pos = stop + 1;
  }
}

std::string quote(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

bool unquote(const std::string &raw, std::string &value) {
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
    return false;
  value.clear();
  for (size_t i = 1; i + 1 < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 2 < raw.size())
      ++i;
    value += raw[i];
  }
  return true;
}

std::string trimmed(const std::string &s) {
  size_t a = s.find_first_not_of(" \t\r");
  size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

}  // namespace

std::string RegistryKeyFile(RegistryRoot, const std::string &) { return {}; }

RegistryKey::RegistryKey(RegistryRoot Root, const std::string &KeyPath)
    : file_(std::string()),
      section_((Root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
               KeyPath) {
  check_path(KeyPath);
  while (!section_.empty() && section_.back() == '\\')
    section_.pop_back();
}

bool RegistryKey::ReadString(const std::string &Name, std::string &Value) const {
  if (file_.ValueExists(section_, Name))
    return unquote(file_.ReadString(section_, Name, {}), Value);
  DWORD type = 0, size = 0;
  const std::string path = key_path(section_);
  if (::RegGetValueA(root_key(section_), path.c_str(), Name.c_str(), RRF_RT_REG_SZ, &type, nullptr, &size) !=
      ERROR_SUCCESS)
    return false;
  std::string text(size, '\0');
  if (::RegGetValueA(root_key(section_), path.c_str(), Name.c_str(), RRF_RT_REG_SZ, &type, text.data(),
                     &size) != ERROR_SUCCESS)
    return false;
  text.resize(size > 0 ? size - 1 : 0);  // the size counts the terminating zero
  Value = text;
  return true;
}

bool RegistryKey::ReadInteger(const std::string &Name, int &Value) const {
  if (file_.ValueExists(section_, Name)) {
    std::string raw = file_.ReadString(section_, Name, {});
    if (raw.rfind("dword:", 0) != 0)
      return false;
    Value = static_cast<int>(static_cast<uint32_t>(std::strtoul(raw.c_str() + 6, nullptr, 16)));
    return true;
  }
  DWORD data = 0, size = sizeof data;
  if (::RegGetValueA(root_key(section_), key_path(section_).c_str(), Name.c_str(), RRF_RT_REG_DWORD, nullptr,
                     &data, &size) != ERROR_SUCCESS)
    return false;
  Value = static_cast<int>(data);
  return true;
}

void RegistryKey::WriteString(const std::string &Name, const std::string &Value) {
  file_.WriteString(section_, Name, quote(Value));
}

void RegistryKey::WriteInteger(const std::string &Name, int Value) {
  char text[16];
  std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(Value));
  file_.WriteString(section_, Name, text);
}

void RegistryKey::Flush() {
  const std::string path = key_path(section_);
  HKEY key = nullptr;
  LONG rc = ::RegCreateKeyExA(root_key(section_), path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr);
  if (rc != ERROR_SUCCESS)
    throw std::runtime_error("The registry key " + section_ + " cannot be written (error " +
                             std::to_string(rc) + ").");
  // The pending values, read back from their ini form: "name=value" below the one section.
  std::istringstream lines(file_.Text());
  std::string line;
  while (rc == ERROR_SUCCESS && std::getline(lines, line)) {
    size_t eq = line.find('=');
    if (line.empty() || line[0] == '[' || eq == std::string::npos)
      continue;
    const std::string name = trimmed(line.substr(0, eq));
    const std::string raw = trimmed(line.substr(eq + 1));
    std::string text;
    if (raw.rfind("dword:", 0) == 0) {
      DWORD data = static_cast<DWORD>(std::strtoul(raw.c_str() + 6, nullptr, 16));
      rc = ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                            sizeof data);
    } else if (unquote(raw, text)) {
      rc = ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
    }
  }
  ::RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    throw std::runtime_error("The registry key " + section_ + " cannot be written (error " +
                             std::to_string(rc) + ").");
  file_ = IniFile(std::string());
}
