#include "lib/records.h"

#include <cstdio>

const char *const record_partition_names[4] = {"kernel", "splash", "boot", "root"};

std::string record_time_text(BoxRecord::Time time) {
  using namespace std::chrono;
  const auto ms = time_point_cast<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date(day);
  const hh_mm_ss clock(ms - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02lldZ", int(date.year()), unsigned(date.month()),
                unsigned(date.day()), long(clock.hours().count()), long(clock.minutes().count()),
                static_cast<long long>(clock.seconds().count()));
  // Milliseconds go before the zone letter.
  std::string out(text);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03lld", static_cast<long long>(clock.subseconds().count()));
  out.insert(out.size() - 1, fraction);
  return out;
}

std::string records_since_text(const std::string &text) {
  std::string t = text;
  if (!t.empty() && t.back() == 'Z')
    t.pop_back();
  auto digits = [&](size_t at, size_t count, int &value) {
    if (at + count > t.size())
      return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
      if (t[i] < '0' || t[i] > '9')
        return false;
      value = value * 10 + (t[i] - '0');
    }
    return true;
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!digits(0, 4, y) || t.size() < 10 || t[4] != '-' || !digits(5, 2, mo) || t[7] != '-' || !digits(8, 2, d))
    return {};
  if (t.size() > 10) {
    if ((t[10] != 'T' && t[10] != ' ') || !digits(11, 2, h) || t.size() < 16 || t[13] != ':' ||
        !digits(14, 2, mi))
      return {};
    if (t.size() > 16 && (t.size() != 19 || t[16] != ':' || !digits(17, 2, s)))
      return {};
  }
  using namespace std::chrono;
  if (!year_month_day(year(y), month(unsigned(mo)), day(unsigned(d))).ok() || h > 23 || mi > 59 || s > 59)
    return {};
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
  return out;
}

std::string csv_field(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"')
      out += '"';
    out += c;
  }
  return out + "\"";
}
