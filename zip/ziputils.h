// File and name helpers of the archive component.
#pragma once

#include <string>

// Whether the file pattern `spec` picks the entry `name`, by the rule the library also
// extracts by (ziplib/zawild.h: "?" is one UTF-8 code point).
bool FileNameMatch(const std::string &spec, const std::string &name);

// `path` with a trailing delimiter, in the delimiter style the path already uses ("\\" by
// default); unchanged when it already ends in one.
std::string AppendSlash(const std::string &path);

// The full path of `dir` with "\\" turned into "/" and a trailing "/": the form the
// library receives for its base directory on this system.
std::string ZipFullDirPath(const std::string &dir);

bool ZipIsDirectory(const std::string &path);
bool ZipFileExists(const std::string &path);
// `s` with every "/" turned into "\\", the delimiter of the component's names.
std::string slashes_to_backslashes(std::string s);
// Directory part of `path` (without the delimiter), "" when there is none.
std::string ZipDirName(const std::string &path);
