// What a process holds, read from /proc: resident memory, open descriptors and threads; and
// whether a series of such figures grows with the number of boxes a soak has run.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace zv_test {

struct Usage {
  double rss_kib = 0;
  double fds = 0;
  double threads = 0;
};

// The figures of process `pid` now; all zero when it has gone.
inline Usage usage_of(pid_t pid) {
  Usage usage;
  const std::filesystem::path proc = "/proc/" + std::to_string(pid);
  std::ifstream status(proc / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0)
      usage.rss_kib = std::stod(line.substr(6));
    else if (line.rfind("Threads:", 0) == 0)
      usage.threads = std::stod(line.substr(8));
  }
  std::error_code ec;
  for (std::filesystem::directory_iterator it(proc / "fd", ec), end; !ec && it != end; it.increment(ec))
    ++usage.fds;
  return usage;
}

// The least-squares line through y[0], y[1], ... (one point a box): its slope per box, and
// the slope's standard error from the scatter about the line.
struct Trend {
  double slope = 0;
  double error = 0;
};

inline Trend trend_of(const std::vector<double> &y) {
  const double n = double(y.size());
  if (y.size() < 3)
    return {};
  double mean_x = (n - 1) / 2, mean_y = 0;
  for (double v : y)
    mean_y += v / n;
  double sxx = 0, sxy = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    sxx += (double(i) - mean_x) * (double(i) - mean_x);
    sxy += (double(i) - mean_x) * (y[i] - mean_y);
  }
  Trend t;
  t.slope = sxy / sxx;
  double residuals = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    const double r = y[i] - (mean_y + t.slope * (double(i) - mean_x));
    residuals += r * r;
  }
  t.error = std::sqrt(residuals / (n - 2) / sxx);
  return t;
}

// A figure grows with the boxes when its slope is above `floor` (what a real leak costs per
// box at the least) and clearly above the scatter (three standard errors): one figure that
// moves with the boxes in flight is noise, one that climbs box after box is a leak.
inline bool grows(const Trend &t, double floor) { return t.slope > floor && t.slope > 3 * t.error; }

}  // namespace zv_test
