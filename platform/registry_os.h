// Inside the registry key (platform/settingsstore.h): the form a key's values take while
// they wait for Flush, kept by the half every system shares (registry.cpp), and what each
// system's source (registry_posix.cpp, registry_win.cpp) gives it.
#pragma once

#include "platform/settingsstore.h"

#include <string>

// The ini section that holds the key's values: the root's name, "\", the key path.
std::string registry_section(RegistryRoot Root, const std::string &KeyPath);
// The key path's components joined by "/", as a file name ending in ".ini". Refuses (throws)
// what would step outside the root or name another file: an empty, "." or ".." component,
// or one with "/" in it; one trailing "\" is allowed.
std::string registry_relative_file(const std::string &KeyPath);

// A text value in its written form ("text" with " and \ escaped) and back; false when `raw`
// is not one.
std::string registry_quote(const std::string &text);
bool registry_unquote(const std::string &raw, std::string &value);
// An integer value's written form ("dword:" and eight hex digits) read back; false when `raw`
// is not one.
bool registry_dword(const std::string &raw, int &value);

// The value as the system keeps it, when it was not written since the key was opened; false
// when it has none (or one of another type). Where the key is a file, its values are all in
// the key's ini form already: there is nothing further to read.
bool registry_stored_string(const std::string &section, const std::string &Name, std::string &Value);
bool registry_stored_integer(const std::string &section, const std::string &Name, int &Value);
