// The registry key's half that is the same on every system: values wait in the ini form
// until Flush, whatever then keeps them.
#include "platform/registry_os.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

std::string registry_section(RegistryRoot Root, const std::string &KeyPath) {
  return (Root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") + KeyPath;
}

std::string registry_relative_file(const std::string &KeyPath) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t stop = KeyPath.find('\\', pos);
    std::string part = KeyPath.substr(pos, stop == std::string::npos ? std::string::npos : stop - pos);
    if (part.empty() && stop == std::string::npos && !out.empty())
      break;  // one trailing "\" is allowed
    if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos ||
        part.find('\0') != std::string::npos)
      throw std::runtime_error("\"" + KeyPath + "\" is not a registry key path this system can keep.");
    out += (out.empty() ? "" : "/") + part;
    if (stop == std::string::npos)
      break;
    pos = stop + 1;
  }
  return out + ".ini";
}

std::string registry_quote(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

bool registry_unquote(const std::string &raw, std::string &value) {
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

bool registry_dword(const std::string &raw, int &value) {
  if (raw.rfind("dword:", 0) != 0)
    return false;
  const std::string digits = raw.substr(6);
  char *end = nullptr;
  unsigned long v = std::strtoul(digits.c_str(), &end, 16);
  if (digits.empty() || digits.size() > 8 || *end != '\0')
    return false;
  value = static_cast<int>(static_cast<uint32_t>(v));
  return true;
}

bool RegistryKey::ReadString(const std::string &Name, std::string &Value) const {
  if (file_.ValueExists(section_, Name))
    return registry_unquote(file_.ReadString(section_, Name, {}), Value);
  return registry_stored_string(section_, Name, Value);
}

bool RegistryKey::ReadInteger(const std::string &Name, int &Value) const {
  if (file_.ValueExists(section_, Name))
    return registry_dword(file_.ReadString(section_, Name, {}), Value);
  return registry_stored_integer(section_, Name, Value);
}

void RegistryKey::WriteString(const std::string &Name, const std::string &Value) {
  file_.WriteString(section_, Name, registry_quote(Value));
}

void RegistryKey::WriteInteger(const std::string &Name, int Value) {
  char text[16];
  std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(Value));
  file_.WriteString(section_, Name, text);
}
