#include "platform/settingsstore.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string trim(const std::string &s) {
  const char *blanks = " \t\r";
  size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos)
    return {};
  size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

bool same_name(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

void refuse_line_breaks(const std::string &what, const std::string &text) {
  if (text.find_first_of("\r\n") != std::string::npos)
    throw std::runtime_error("The " + what + " \"" + text.substr(0, text.find_first_of("\r\n")) +
                             "…\" has a line break, which a settings file cannot hold.");
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (fs::exists(path_, ec))
      throw std::runtime_error("The settings file " + path_ + " cannot be read (" + std::strerror(errno) +
                               ").");
    return;
  }
  std::string raw;
  while (std::getline(in, raw)) {
    std::string line = trim(raw);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections_.push_back({trim(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    Line entry{{}, line};
    size_t eq = line.find('=');
    if (!line.empty() && line[0] != ';' && eq != std::string::npos && eq > 0)
      entry.key = trim(line.substr(0, eq));
    (sections_.empty() ? head_ : sections_.back().lines).push_back(std::move(entry));
  }
}

const IniFile::Line *IniFile::Find(const std::string &Section, const std::string &Key) const {
  for (const auto &s : sections_)
    if (same_name(s.name, Section))
      for (const auto &l : s.lines)
        if (!l.key.empty() && same_name(l.key, Key))
          return &l;
  return nullptr;
}

bool IniFile::ValueExists(const std::string &Section, const std::string &Key) const {
  return Find(Section, Key) != nullptr;
}

std::string IniFile::ReadString(const std::string &Section, const std::string &Key,
                                const std::string &Default) const {
  const Line *l = Find(Section, Key);
  if (!l)
    return Default;
  return trim(l->text.substr(l->text.find('=') + 1));
}

int IniFile::ReadInteger(const std::string &Section, const std::string &Key, int Default) const {
  std::string text = ReadString(Section, Key, {});
  if (text.empty())
    return Default;
  int base = 10;
  std::string_view digits = text;
  bool negative = false;
  if (digits[0] == '-' || digits[0] == '+') {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  long long value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
    return Default;
  value = negative ? -value : value;
  if (value < INT32_MIN || value > INT32_MAX)
    return Default;
  return static_cast<int>(value);
}

void IniFile::WriteString(const std::string &Section, const std::string &Key, const std::string &Value) {
  refuse_line_breaks("section name", Section);
  refuse_line_breaks("key", Key);
  refuse_line_breaks("value of " + Key, Value);
  // A key of its own line: no "=", no blanks around it, and not the start of a comment (";")
  // or a section ("["), which the reader would take it for.
  if (Key.empty() || Key.find('=') != std::string::npos || trim(Key) != Key || Key[0] == ';' || Key[0] == '[')
    throw std::runtime_error("\"" + Key + "\" cannot be a key of a settings file.");
  auto s = std::find_if(sections_.begin(), sections_.end(),
                        [&](const auto &x) { return same_name(x.name, Section); });
  if (s == sections_.end()) {
    sections_.push_back({Section, {}});
    s = sections_.end() - 1;
  }
  std::string text = Key + "=" + Value;
  for (auto &l : s->lines)
    if (!l.key.empty() && same_name(l.key, Key)) {
      l.text = text;
      return;
    }
  // After the section's last value, so that blank lines between sections stay between them.
  auto at = s->lines.end();
  while (at != s->lines.begin() && (at - 1)->key.empty() && (at - 1)->text.empty())
    --at;
  s->lines.insert(at, Line{Key, text});
}

void IniFile::WriteInteger(const std::string &Section, const std::string &Key, int Value) {
  WriteString(Section, Key, std::to_string(Value));
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto &l : head_)
    out += l.text + "\n";
  for (const auto &s : sections_) {
    out += "[" + s.name + "]\n";
    for (const auto &l : s.lines)
      out += l.text + "\n";
  }
  return out;
}

void IniFile::UpdateFile() const {
  if (path_.empty())
    throw std::runtime_error(std::string("The settings have no place: ") + no_home_folder + ".");
  const fs::path path(path_);
  std::error_code ec;
  if (path.has_parent_path())
    fs::create_directories(path.parent_path(), ec);
  // The temporary sits beside the file, so the rename never crosses file systems. It is
  // created anew in the folder held open: whatever stands at its name (left by a save that
  // died, or a link planted there to steer the write elsewhere) never takes the write.
  const fs::path temp = path.string() + ".new";
  {
    std::string reason;
    Folder folder;
    FILE *out = nullptr;
    if (folder.open(path.has_parent_path() ? path.parent_path().string() : ".", false, reason))
      out = folder.create(temp.filename().string().c_str(), reason);
    const std::string text = Text();
    bool written =
        out && std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
    if (out && !written)
      reason = std::strerror(errno);
    if (out && std::fclose(out) != 0 && written) {
      written = false;
      reason = std::strerror(errno);
    }
    if (!written) {
      if (out)
        folder.remove(temp.filename().string().c_str());
      throw std::runtime_error("The settings file " + path_ + " cannot be written (" + reason + ").");
    }
  }
  fs::rename(temp, path, ec);
  if (ec) {
    const std::string reason = ec.message();
    fs::remove(temp, ec);
    throw std::runtime_error("The settings file " + path_ + " cannot be written (" + reason + ").");
  }
}
