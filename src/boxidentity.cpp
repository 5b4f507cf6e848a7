#include "src/boxidentity.h"

#include <cctype>

namespace {

bool is_hex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Console text kept for the record: printable ASCII only, trimmed.
std::string printable(const std::string &line) {
  std::string out;
  for (char c : line)
    if (c >= 0x20 && c < 0x7f)
      out += c;
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos)
    return {};
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string hwaddr_in_line(const std::string &line) {
  std::string lower;
  for (char c : line)
    lower += char(std::tolower(static_cast<unsigned char>(c)));
  for (size_t at = lower.find("hwaddr"); at != std::string::npos; at = lower.find("hwaddr", at + 1)) {
    size_t i = at + 6;
    // "hwaddr 00-..", "HWADDR=00:..", "hwaddr: [00:..": a few separators, then the pairs.
    while (i < line.size() && i - at < 10 &&
           (line[i] == ' ' || line[i] == ':' || line[i] == '=' || line[i] == '['))
      ++i;
    if (i + 17 > line.size())
      continue;
    const char joint = line[i + 2];
    if (joint != '-' && joint != ':')
      continue;
    std::string mac;
    bool ok = true;
    for (int pair = 0; pair < 6 && ok; ++pair) {
      const size_t p = i + size_t(pair) * 3;
      ok = is_hex(line[p]) && is_hex(line[p + 1]) && (pair == 5 || line[p + 2] == joint);
      if (ok) {
        if (pair > 0)
          mac += '-';
        mac += char(std::toupper(static_cast<unsigned char>(line[p])));
        mac += char(std::toupper(static_cast<unsigned char>(line[p + 1])));
      }
    }
    // A seventh pair or a longer hex run is not an Ethernet address.
    if (!ok || (i + 17 < line.size() && (is_hex(line[i + 17]) || line[i + 17] == joint)))
      continue;
    if (mac == "00-00-00-00-00-00" || mac == "FF-FF-FF-FF-FF-FF")
      return {};
    return mac;
  }
  return {};
}

bool is_loader_version_line(const std::string &line) {
  if (line.find("CFE>") != std::string::npos)
    return false;
  for (const char *loader : {"CFE", "BOLT"}) {
    const std::string name = loader;
    for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
      const size_t end = at + name.size();
      if ((at > 0 && word_char(line[at - 1])) || (end < line.size() && word_char(line[end])))
        continue;  // CFE_VERSION, CFERAM: a variable or another word
      // "CFE version 1.0.37", "(CFE) version 1.1", "CFE v2.17", "BOLT v1.20"
      size_t i = end;
      if (i < line.size() && line[i] == ')')
        ++i;
      while (i < line.size() && line[i] == ' ')
        ++i;
      if (line.compare(i, 8, "version ") == 0) {
        i += 8;
        while (i < line.size() && line[i] == ' ')
          ++i;
      } else if (i < line.size() && line[i] == 'v') {
        ++i;
      } else {
        continue;
      }
      if (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
        return true;
    }
  }
  return false;
}

BannerReader::Event BannerReader::on_char(char ch) {
  if (ch == '\n')
    return end_line();
  if (ch == '\r')
    return Event::None;
  if (line_.size() < max_line)
    line_ += ch;
  if (ch == '>' && line_.size() >= 4 && line_.compare(line_.size() - 4, 4, "CFE>") == 0)
    banner_since_prompt_ = false;
  return Event::None;
}

BannerReader::Event BannerReader::end_line() {
  std::string line;
  line.swap(line_);
  if (is_loader_version_line(line)) {
    identity_ = BoxIdentity{};
    identity_.board = printable(line);
    banner_since_prompt_ = true;
    return Event::BannerBegan;
  }
  if (line.compare(0, 11, "Build Date:") == 0 && identity_.build.empty() && !identity_.board.empty()) {
    identity_.build = printable(line);
    return Event::None;
  }
  const std::string mac = hwaddr_in_line(line);
  if (mac.empty() || mac == identity_.mac)
    return Event::None;
  if (!identity_.mac.empty()) {
    // Another address where one was known: another box, whose version line we missed.
    identity_ = BoxIdentity{};
    banner_since_prompt_ = true;
  }
  identity_.mac = mac;
  return Event::AddressSeen;
}

void FixtureWatch::box_done(const BoxIdentity &box, bool rebooting) {
  last_mac_ = box.mac;
  again_ = false;
  // The rebooting box may have begun its banner before its upgrade was seen to end: that
  // banner is its own, not the next box's.
  reboot_pending_ = rebooting && !reader_.restarting();
  banner_open_ = false;
}

bool FixtureWatch::new_box() {
  banner_open_ = false;
  reboot_pending_ = false;
  again_ = false;
  return true;
}

bool FixtureWatch::on_char(char ch, int64_t now_ms) {
  last_char_ms_ = now_ms;
  switch (reader_.on_char(ch)) {
    case BannerReader::Event::BannerBegan:
      banner_open_ = true;
      return false;
    case BannerReader::Event::AddressSeen:
      if (again_ || reader_.identity().mac != last_mac_)
        return new_box();
      // The box that was just on the fixture, starting again: let it boot.
      banner_open_ = false;
      reboot_pending_ = false;
      return false;
    case BannerReader::Event::None:
      return false;
  }
  return false;
}

bool FixtureWatch::on_tick(int64_t now_ms) {
  if (!banner_open_ || !reader_.identity().mac.empty() || now_ms - last_char_ms_ < quiet_ms)
    return false;
  banner_open_ = false;
  if (reboot_pending_ && !again_) {
    reboot_pending_ = false;
    return false;
  }
  return new_box();
}
