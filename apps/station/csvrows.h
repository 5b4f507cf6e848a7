// CSV as RFC 4180 writes it (quoted fields, doubled quotes, CR LF line ends), read back into
// rows of fields: the records as RecordStore::export_csv gives them.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::vector<std::string>> csv_rows(const std::string &text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
        field += text[++i];
      else if (c == '"')
        quoted = false;
      else
        field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.back().push_back(field);
      field.clear();
      rows.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  rows.pop_back();  // the empty row after the last line end
  return rows;
}
