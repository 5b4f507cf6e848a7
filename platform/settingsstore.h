// Where a component keeps settings between runs: an ini file, and the registry (on a system
// without one, a stand-in of files, one per key).
//
// Both stores work in memory and reach the disk only at UpdateFile / Flush, through a
// temporary file renamed over the old one: a failure half-way leaves the old file whole.
// Failures raise std::runtime_error with a sentence naming the file.
#pragma once

#include <memory>
#include <string>
#include <vector>

// An ini file: [section] lines, key=value lines, ";" comments. Section and key names
// compare case-blind, as the Windows profile functions do; keys and values are trimmed.
// Lines the reader does not understand are kept as they were.
class IniFile {
 public:
  // Reads `path` when it exists; a missing file is an empty one.
  explicit IniFile(std::string path);

  const std::string &FileName() const { return path_; }
  bool ValueExists(const std::string &Section, const std::string &Key) const;
  std::string ReadString(const std::string &Section, const std::string &Key,
                         const std::string &Default) const;
  // The value as a decimal integer (optionally "0x" hexadecimal); Default when missing or
  // not a number.
  int ReadInteger(const std::string &Section, const std::string &Key, int Default) const;
  // A value with a line break in it is refused: it would not read back as one value.
  void WriteString(const std::string &Section, const std::string &Key, const std::string &Value);
  void WriteInteger(const std::string &Section, const std::string &Key, int Value);
  // The file's text as UpdateFile writes it.
  std::string Text() const;
  // Writes the file (making its folder when missing).
  void UpdateFile() const;

 private:
  struct Line {
    std::string key;  // empty for a comment, blank or unknown line
    std::string text;
  };
  struct SectionLines {
    std::string name;
    std::vector<Line> lines;
  };
  const Line *Find(const std::string &Section, const std::string &Key) const;

  std::string path_;
  std::vector<Line> head_;  // lines before the first section
  std::vector<SectionLines> sections_;
};

enum class RegistryRoot { CurrentUser, LocalMachine };

// One key of the registry with its text and integer values. Where the system has no
// registry, a key is a file named after its path below the root's folder (see
// RegistryKeyFile); the values of a text form are written quoted, the integers as "dword:".
class RegistryKey {
 public:
  // Opens the key `KeyPath` ("Software\\Example\\ComPort") below Root; a missing key is an
  // empty one, made at the first Flush. A path with an empty, "." or ".." component, or with "/" in one, is
  // refused rather than mapped onto some other file.
  RegistryKey(RegistryRoot Root, const std::string &KeyPath);

  // False when the value is missing (or, for an integer, is not an integer value).
  bool ReadString(const std::string &Name, std::string &Value) const;
  bool ReadInteger(const std::string &Name, int &Value) const;
  void WriteString(const std::string &Name, const std::string &Value);
  void WriteInteger(const std::string &Name, int Value);
  // Writes what was changed. Nothing reaches the key before.
  void Flush();

 private:
  IniFile file_;
  std::string section_;  // the root's name and the key path
};

// The file that stands for a key: below ${XDG_CONFIG_HOME:-$HOME/.config}/zevavi/registry
// for the current user and below the first folder of ${XDG_CONFIG_DIRS:-/etc/xdg} +
// /zevavi/registry for the machine (which ordinary users can read but not write), the key
// path's components as folders and the last one with ".ini". Empty where the system has a
// registry of its own.
std::string RegistryKeyFile(RegistryRoot Root, const std::string &KeyPath);
