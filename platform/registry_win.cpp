// The registry itself on Windows. A key keeps its writes in memory (in the ini form the
// stand-in elsewhere uses, so the class is the same on every system) until Flush, which
// creates the key and sets the values; reads see those writes first, then the key.
#include "platform/settingsstore.h"

#include "platform/registry_os.h"

#include <windows.h>

#include <sstream>
#include <stdexcept>

namespace {

HKEY root_key(const std::string &section) {
  return section.rfind("HKEY_LOCAL_MACHINE\\", 0) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::string key_path(const std::string &section) { return section.substr(section.find('\\') + 1); }

std::string trimmed(const std::string &s) {
  size_t a = s.find_first_not_of(" \t\r");
  size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

}  // namespace

std::string RegistryKeyFile(RegistryRoot, const std::string &) { return {}; }

RegistryKey::RegistryKey(RegistryRoot Root, const std::string &KeyPath)
    : file_(std::string()), section_(registry_section(Root, KeyPath)) {
  registry_relative_file(KeyPath);  // the same paths are refused as by the stand-in elsewhere
  while (!section_.empty() && section_.back() == '\\')
    section_.pop_back();
}

bool registry_stored_string(const std::string &section, const std::string &Name, std::string &Value) {
  DWORD type = 0, size = 0;
  const std::string path = key_path(section);
  if (::RegGetValueA(root_key(section), path.c_str(), Name.c_str(), RRF_RT_REG_SZ, &type, nullptr, &size) !=
      ERROR_SUCCESS)
    return false;
  std::string text(size, '\0');
  if (::RegGetValueA(root_key(section), path.c_str(), Name.c_str(), RRF_RT_REG_SZ, &type, text.data(),
                     &size) != ERROR_SUCCESS)
    return false;
  text.resize(size > 0 ? size - 1 : 0);  // the size counts the terminating zero
  Value = text;
  return true;
}

bool registry_stored_integer(const std::string &section, const std::string &Name, int &Value) {
  DWORD data = 0, size = sizeof data;
  if (::RegGetValueA(root_key(section), key_path(section).c_str(), Name.c_str(), RRF_RT_REG_DWORD, nullptr,
                     &data, &size) != ERROR_SUCCESS)
    return false;
  Value = static_cast<int>(data);
  return true;
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
    if (int number = 0; registry_dword(raw, number)) {
      const DWORD data = static_cast<DWORD>(number);
      rc = ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data),
                            sizeof data);
    } else if (registry_unquote(raw, text)) {
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
