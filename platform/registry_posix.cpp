// The registry's stand-in where the system has none: a key is an ini file named after its
// path, with one section holding its values.
#include "platform/settingsstore.h"

#include "platform/paths.h"
#include "platform/registry_os.h"

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

}  // namespace

std::string RegistryKeyFile(RegistryRoot Root, const std::string &KeyPath) {
  return root_folder(Root) + "/" + registry_relative_file(KeyPath);
}

RegistryKey::RegistryKey(RegistryRoot Root, const std::string &KeyPath)
    : file_(RegistryKeyFile(Root, KeyPath)), section_(registry_section(Root, KeyPath)) {}

bool registry_stored_string(const std::string &, const std::string &, std::string &) { return false; }

bool registry_stored_integer(const std::string &, const std::string &, int &) { return false; }

void RegistryKey::Flush() { file_.UpdateFile(); }
