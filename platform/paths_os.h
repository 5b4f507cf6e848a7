// Inside the paths service (platform/paths.h): what each OS's source (paths_posix.cpp,
// paths_win.cpp) gives the half they share (paths.cpp).
#pragma once

#include <string>

// The file name of the program `stem` on this OS: the stem itself, or "ZeVavi.exe" for
// "ZeVavi" on Windows.
std::string executable_name(const std::string &stem);

// Creates the folder `path` unless it is there (on Linux with its missing parents, private
// to the user). False with the system's words for why in `reason`.
bool make_private_folder(const std::string &path, std::string &reason);

// Removes the folder `path` if it is empty; failures are ignored.
void remove_folder(const std::string &path);
