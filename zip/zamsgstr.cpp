#include "zip/zamsgstr.h"

#include "ziplib/zipformat.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace {

// The message block is little-endian, like the archives.
using zipformat::le16;
using zipformat::le32;

void append_utf8(std::string &out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The language state of the whole program: the decoded built-in table and the selection.
struct Languages {
  std::mutex mutex;
  std::optional<std::vector<uint8_t>> builtin;  // decoded on first lookup
  std::vector<uint8_t> selected;                // decoded selected table, empty for built-in
  uint16_t selected_id = 0;
  std::vector<uint8_t> resource;
};

Languages &languages() {
  static Languages l;
  return l;
}

const std::vector<uint8_t> &builtin_table(Languages &l) {
  if (!l.builtin) {
    std::vector<uint8_t> decoded;
    uint16_t lang;
    std::string name;
    size_t used;
    if (!ZipDecodeBlock(zip_builtin_msg_block, zip_builtin_msg_block_size, decoded, lang, name, used))
      decoded.clear();
    l.builtin = std::move(decoded);
  }
  return *l.builtin;
}

}  // namespace

bool ZipDecodeBlock(const uint8_t *p, size_t n, std::vector<uint8_t> &decoded, uint16_t &language,
                    std::string &name, size_t &consumed) {
  decoded.clear();
  if (n < 6)
    return false;
  language = le16(p);
  size_t a = le16(p + 2), b = le16(p + 4);
  if (n < a + b + 6 || a < 8)
    return false;
  name.assign(reinterpret_cast<const char *>(p + 6), b);
  consumed = a + b + 6;
  const uint8_t *s = p + 6 + b;
  uint32_t want = le32(s);
  if (want >= 50000)
    return false;
  // Ring positions before the first write hold blanks, as in the classic LZSS coder.
  uint8_t ring[4096];
  std::fill(ring, ring + 4096, ' ');
  unsigned r = 4080;
  size_t pos = 4, end = a - 4;
  decoded.reserve(want);
  while (pos < end) {
    uint8_t flags = s[pos++];
    for (int bit = 0; bit < 8 && pos < end; ++bit) {
      if (flags & (1 << bit)) {
        uint8_t c = s[pos++];
        decoded.push_back(c);
        ring[r] = c;
        r = (r + 1) & 4095;
      } else {
        if (pos + 2 > end)
          return false;
        unsigned from = s[pos] | ((s[pos + 1] & 0xF0) << 4);
        unsigned len = (s[pos + 1] & 0x0F) + 3;
        pos += 2;
        for (unsigned k = 0; k < len; ++k) {
          uint8_t c = ring[(from + k) & 4095];
          decoded.push_back(c);
          ring[r] = c;
          r = (r + 1) & 4095;
        }
      }
      if (decoded.size() > want)
        return false;
    }
  }
  return decoded.size() == want;
}

std::string ZipResourceString(const std::vector<uint8_t> &image, int id) {
  if (id < 0)
    return {};
  const unsigned want_name = static_cast<unsigned>(id / 16 + 1);
  size_t at = 0;
  const size_t n = image.size();
  while (at + 8 <= n) {
    uint32_t data_size = le32(&image[at]), header_size = le32(&image[at + 4]);
    if (static_cast<uint64_t>(data_size) + header_size < 8)
      break;
    if (header_size < 16 || at + header_size > n || at + header_size + static_cast<uint64_t>(data_size) > n)
      break;
    const uint8_t *h = &image[at + 8];
    // Only ordinal type and name (0xFFFF markers) can be a string table block.
    if (le16(h) == 0xFFFF && le16(h + 2) == 6 && le16(h + 4) == 0xFFFF && le16(h + 6) == want_name) {
      const uint8_t *d = &image[at + header_size];
      size_t pos = 0;
      for (int k = 0; k <= id % 16; ++k) {
        if (pos + 2 > data_size)
          return {};
        size_t len = le16(d + pos);
        pos += 2;
        if (pos + 2 * len > data_size)
          return {};
        if (k == id % 16) {
          std::string out;
          for (size_t i = 0; i < len; ++i) {
            uint32_t u = le16(d + pos + 2 * i);
            if (u >= 0xD800 && u < 0xDC00 && i + 1 < len) {
              uint32_t lo = le16(d + pos + 2 * (i + 1));
              u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
              ++i;
            }
            append_utf8(out, u);
          }
          return out;
        }
        pos += 2 * len;
      }
      return {};
    }
    at += header_size + data_size;
    at = (at + 3) & ~static_cast<size_t>(3);
  }
  return {};
}

std::string ZipLoadStr(int id) {
  Languages &l = languages();
  std::string text;
  {
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!l.selected.empty())
      text = ZipResourceString(l.selected, id);
    if (text.empty())
      text = ZipResourceString(builtin_table(l), id);
  }
  if (text.empty())
    text = "Resource missing for " + std::to_string(id);
  return text;
}

std::string ZipFormat(const std::string &format, const std::vector<ZipFmtArg> &args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < format.size() && std::strchr("-+ #0", format[j]))
      ++j;
    while (j < format.size() && (std::isdigit(static_cast<unsigned char>(format[j])) || format[j] == '.'))
      ++j;
    if (j >= format.size() || !std::strchr("sduxX", format[j]) || next >= args.size()) {
      out += format.substr(i, j < format.size() ? j - i + 1 : j - i);
      i = j;
      continue;
    }
    std::string spec = format.substr(i, j - i);
    char conv = format[j];
    const ZipFmtArg &arg = args[next++];
    char buf[128];
    if (conv == 's') {
      std::string s = std::holds_alternative<std::string>(arg) ? std::get<std::string>(arg)
                                                               : std::to_string(std::get<long long>(arg));
      // Width and precision of %s are ignored: a file name in a message is never cut.
      out += s;
    } else {
      long long v = std::holds_alternative<long long>(arg) ? std::get<long long>(arg)
                                                           : std::atoll(std::get<std::string>(arg).c_str());
      std::string f = spec + "ll" + conv;
      // The format is the message's own conversion, re-assembled from its parsed flags, width
      // and precision with a fixed length and conversion: it takes exactly the one `v`.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      std::snprintf(buf, sizeof buf, f.c_str(), v);
#pragma GCC diagnostic pop
      out += buf;
    }
    i = j;
  }
  return out;
}

std::string ZipFmtLoadStr(int id, std::initializer_list<ZipFmtArg> args) {
  return ZipFormat(ZipLoadStr(id), std::vector<ZipFmtArg>(args));
}

void ZipSetLanguageResource(std::vector<uint8_t> blocks) {
  Languages &l = languages();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.resource = std::move(blocks);
}

bool ZipSetLanguage(const std::string &language) {
  Languages &l = languages();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.selected.clear();
  l.selected_id = 0;
  size_t i = 0;
  while (i < language.size() && language[i] == ' ')
    ++i;
  std::string code;
  if (i < language.size() && !std::isdigit(static_cast<unsigned char>(language[i]))) {
    while (i < language.size() &&
           (std::isalnum(static_cast<unsigned char>(language[i])) || language[i] == '_'))
      code += static_cast<char>(std::toupper(static_cast<unsigned char>(language[i++])));
  }
  long id = 0;
  if (code.size() < 2) {
    std::string t = language.substr(language.find_first_not_of(' ') == std::string::npos
                                        ? language.size()
                                        : language.find_first_not_of(' '));
    if (!t.empty() && t[0] == '*')
      id = 1033;  // the user's default locale: this program has no locale-specific tables
    else
      id = std::strtol(t.c_str(), nullptr, 0);
    if (id < 1 || id > 65535)
      return false;
    code.clear();
  }
  if (code == "US" || id == 1033)
    return false;
  size_t at = 0;
  while (at < l.resource.size()) {
    std::vector<uint8_t> decoded;
    uint16_t lang;
    std::string name;
    size_t used = 0;
    const uint8_t *p = l.resource.data() + at;
    size_t left = l.resource.size() - at;
    if (left < 6)
      break;
    bool ok = ZipDecodeBlock(p, left, decoded, lang, name, used);
    if (used == 0)
      break;
    bool match;
    if (id) {
      match = lang == id || (id < 1024 && (lang & 0x3FF) == id);
    } else {
      std::string upper;
      for (char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      match = upper == code;
    }
    if (match) {
      if (!ok)
        return false;
      l.selected = std::move(decoded);
      l.selected_id = lang;
      return true;
    }
    at += used;
  }
  return false;
}

std::string ZipLanguageId() {
  Languages &l = languages();
  std::lock_guard<std::mutex> lock(l.mutex);
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X",
                l.selected.empty() ? 0x0409u : static_cast<unsigned>(l.selected_id));
  return buf;
}
