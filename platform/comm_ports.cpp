// The order and the sameness of port names, for every list of ports a person chooses from.
#include "platform/comm.h"

#include <algorithm>
#include <cctype>

namespace {

bool is_path(const std::string &name) { return !name.empty() && (name[0] == '/' || name[0] == '\\'); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Text compared as text, runs of digits as numbers: "COM2" before "COM10", "ttyUSB2" before
// "ttyUSB10". 0 when the names read as equal ("COM02" and "COM2").
int natural_compare(const std::string &a, const std::string &b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_digit(a[i]) && is_digit(b[j])) {
      while (i < a.size() && a[i] == '0')
        ++i;
      while (j < b.size() && b[j] == '0')
        ++j;
      size_t end_a = i, end_b = j;
      while (end_a < a.size() && is_digit(a[end_a]))
        ++end_a;
      while (end_b < b.size() && is_digit(b[end_b]))
        ++end_b;
      if (end_a - i != end_b - j)
        return end_a - i < end_b - j ? -1 : 1;
      if (int c = a.compare(i, end_a - i, b, j, end_b - j))
        return c < 0 ? -1 : 1;
      i = end_a;
      j = end_b;
    } else {
      if (a[i] != b[j])
        return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
      ++i;
      ++j;
    }
  }
  if (i < a.size() || j < b.size())
    return i < a.size() ? 1 : -1;
  return 0;
}

}  // namespace

bool comm_port_less(const std::string &a, const std::string &b) {
  if (is_path(a) != is_path(b))
    return is_path(b);
  if (int c = natural_compare(a, b))
    return c < 0;
  return a < b;
}

std::vector<std::string> comm_port_list(const std::vector<std::string> &names) {
  std::vector<std::string> kept, devices;
  for (const std::string &name : names) {
    if (name.empty())
      continue;
    std::string device = comm_device_path(name);
    if (std::find(devices.begin(), devices.end(), device) != devices.end())
      continue;
    devices.push_back(std::move(device));
    kept.push_back(name);
  }
  std::sort(kept.begin(), kept.end(), comm_port_less);
  return kept;
}
