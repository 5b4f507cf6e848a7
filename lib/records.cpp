#include "lib/records.h"

#include <cstdio>
#include <ostream>

const char *const record_partition_names[4] = {"kernel", "splash", "boot", "root"};

std::string record_time_text(BoxRecord::Time time) {
  using namespace std::chrono;
  const auto ms = time_point_cast<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date(day);
  const hh_mm_ss clock(ms - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02lldZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), long(clock.hours().count()),
                long(clock.minutes().count()), static_cast<long long>(clock.seconds().count()));
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
  if (!digits(0, 4, y) || t.size() < 10 || t[4] != '-' || !digits(5, 2, mo) || t[7] != '-' ||
      !digits(8, 2, d))
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

const char *const record_columns =
    "station, port, box, mac, board, build, model, image, image_sha256,"
    " kernel_size, kernel_sha256, kernel_served, splash_size, splash_sha256, splash_served,"
    " boot_size, boot_sha256, boot_served, root_size, root_sha256, root_served,"
    " started, ended, result, failed_step, box_code, detail";

std::vector<std::string> record_column_names() {
  std::vector<std::string> names;
  const std::string columns = record_columns;
  for (size_t at = 0; at < columns.size();) {
    size_t comma = columns.find(',', at);
    if (comma == std::string::npos)
      comma = columns.size();
    std::string name = columns.substr(at, comma - at);
    name.erase(0, name.find_first_not_of(' '));
    names.push_back(name);
    at = comma + 1;
  }
  return names;
}

RecordValues record_values(const BoxRecord &r) {
  RecordValues values;
  values.reserve(record_column_count);
  for (const std::string *text :
       {&r.station, &r.port, &r.box, &r.mac, &r.board, &r.build, &r.model, &r.image, &r.image_sha256})
    values.emplace_back(*text);
  for (const PartitionServed &p : r.partitions) {
    if (p.in_image) {
      values.emplace_back(std::to_string(p.size));
      values.emplace_back(p.sha256);
    } else {
      values.emplace_back();
      values.emplace_back();
    }
    values.emplace_back(std::to_string(p.served));
  }
  for (const std::string &text : {record_time_text(r.started), record_time_text(r.ended), r.result,
                                  r.failed_step, r.box_code, r.detail})
    values.emplace_back(text);
  return values;
}

std::string records_csv_header() {
  std::string line = "id," + std::string(record_columns);
  for (size_t blank; (blank = line.find(' ')) != std::string::npos;)
    line.erase(blank, 1);
  return line + "\r\n";
}

std::string records_csv_row(const std::string &id, const RecordValues &values) {
  std::string line = csv_field(id);
  for (size_t column = 0; column < values.size(); ++column) {
    line += ',';
    if (!values[column])
      continue;
    std::string value = *values[column];
    // mac, board and build: what the box's console printed.
    const bool from_console = column >= 3 && column <= 5;
    if (from_console && !value.empty() && std::string("=+-@\t").find(value[0]) != std::string::npos)
      value.insert(0, "'");
    line += csv_field(value);
  }
  return line + "\r\n";
}

bool write_records_csv(std::ostream &out,
                       const std::function<bool(const RecordVisitor &, std::string &)> &read,
                       std::string &error) {
  out << records_csv_header();
  const bool ok = read(
      [&](const std::string &id, const RecordValues &values) { out << records_csv_row(id, values); }, error);
  out.flush();
  return ok && bool(out);
}
