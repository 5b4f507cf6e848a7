// The registry's stand-in where the system has none: a key is an ini file named after its
// path, with one section holding its values.
#include "platform/settingsstore.h"

#include "platform/paths.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

std::string root_folder(RegistryRoot Root) {
  if (Root == RegistryRoot::LocalMachine) {
    // Machine-wide settings live where the XDG spec puts them: the first folder of
    // XDG_CONFIG_DIRS, which only the administrator may write.
    std::string dirs;
    if (const char *env = std::getenv("XDG_CONFIG_DIRS"))
      dirs = env;
    std::string first = dirs.substr(0, dirs.find(':'));
    if (first.empty() || first[0] != '/')
      first = "/etc/xdg";
    return first + "/zevavi/registry";
  }
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/')
    return std::string(xdg) + "/zevavi/registry";
  const std::string home = home_folder();
  if (home.empty())
    throw std::runtime_error(std::string("The settings have no place: ") + no_home_folder + ".");
  return home + "/.config/zevavi/registry";
}

// The key path's components joined by "/"; refuses what would step outside the root.
std::string relative_file(const std::string &KeyPath) {
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

std::string quote(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string RegistryKeyFile(RegistryRoot Root, const std::string &KeyPath) {
  return root_folder(Root) + "/" + relative_file(KeyPath);
}

RegistryKey::RegistryKey(RegistryRoot Root, const std::string &KeyPath)
    : file_(RegistryKeyFile(Root, KeyPath)),
      section_((Root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
               KeyPath) {}

bool RegistryKey::ReadString(const std::string &Name, std::string &Value) const {
  if (!file_.ValueExists(section_, Name))
    return false;
  std::string raw = file_.ReadString(section_, Name, {});
  if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
    return false;
  Value.clear();
  for (size_t i = 1; i + 1 < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 2 < raw.size())
      ++i;
    Value += raw[i];
  }
  return true;
}

bool RegistryKey::ReadInteger(const std::string &Name, int &Value) const {
  std::string raw = file_.ReadString(section_, Name, {});
  if (raw.rfind("dword:", 0) != 0)
    return false;
  const std::string digits = raw.substr(6);
  char *end = nullptr;
  unsigned long v = std::strtoul(digits.c_str(), &end, 16);
  if (digits.empty() || digits.size() > 8 || *end != '\0')
    return false;
  Value = static_cast<int>(static_cast<uint32_t>(v));
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

void RegistryKey::Flush() { file_.UpdateFile(); }
