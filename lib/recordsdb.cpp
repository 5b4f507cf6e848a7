#include "lib/recordsdb.h"

#include <algorithm>

bool names_records_database(const std::string &target) {
  return target.rfind("postgresql://", 0) == 0 || target.rfind("postgres://", 0) == 0;
}

std::string shown_records_database(const std::string &uri) {
  std::string shown = uri;
  const size_t scheme = shown.find("://");
  if (scheme == std::string::npos)
    return shown;
  const size_t begin = scheme + 3;
  const size_t end = std::min(shown.find_first_of("/?", begin), shown.size());
  const size_t at = shown.rfind('@', end);
  if (at != std::string::npos && at >= begin) {
    const size_t colon = shown.find(':', begin);
    if (colon != std::string::npos && colon < at)
      shown.replace(colon + 1, at - colon - 1, "***");
  }
  for (size_t from = shown.find('?'); from != std::string::npos; from = shown.find('&', from + 1)) {
    if (shown.compare(from + 1, 9, "password=") == 0) {
      const size_t value = from + 10;
      const size_t stop = std::min(shown.find('&', value), shown.size());
      shown.replace(value, stop - value, "***");
    }
  }
  return shown;
}
