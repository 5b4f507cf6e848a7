#include "lib/log.h"

#include <cctype>
#include <cstdarg>
#include <ctime>
#include <mutex>

std::atomic<FILE *> log_streams[LOG_LEVELS];
std::atomic<int> log_min_level{-1};

namespace {

const char *const level_names[LOG_LEVELS] = {"HEX", "DEBUG", "INFO", "WARN", "ERROR", "CRIT"};

// Serialises entries. The stream's own lock would keep single writes whole, but an entry
// with a dump is two writes, and close must not pull the file away mid-entry.
std::mutex log_mutex;

// Writes the entry prefix and the caller's message. Called with log_mutex held; returns
// the stream written to, or null when the level is (now) disabled.
__attribute__((format(printf, 2, 0))) FILE *write_entry(int level, const char *fmt, va_list args) {
  if (level < 0 || level >= LOG_LEVELS)
    return nullptr;
  FILE *stream = log_streams[level].load(std::memory_order_acquire);
  if (!stream)
    return nullptr;
  char when[32] = {};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(when, sizeof when, "%Y.%m.%d %H:%M:%S", &local);
  // The prefix and the caller's text go out as two writes under the lock: the bytes are
  // those of one joined format, without cutting a long caller format at a fixed length.
  std::fprintf(stream, "[%5s][%s]", level_names[level], when);
  std::vfprintf(stream, fmt, args);
  return stream;
}

}  // namespace

int log_open(const char *path, int min_level) {
  if (min_level < 0 || min_level >= LOG_LEVELS)
    return 1;
  return log_open_stream(path ? std::fopen(path, "a+") : nullptr, min_level);
}

int log_open_stream(FILE *stream, int min_level) {
  if (min_level < 0 || min_level >= LOG_LEVELS) {
    if (stream)
      std::fclose(stream);
    return 1;
  }
  std::lock_guard lock(log_mutex);
  for (int level = min_level; level < LOG_LEVELS; ++level)
    log_streams[level].store(stream, std::memory_order_release);
  log_min_level.store(min_level);
  return 1;
}

int log_close() {
  std::lock_guard lock(log_mutex);
  FILE *stream = log_streams[LOG_CRIT].load();
  int from = log_min_level.load();
  for (int level = from < 0 ? 0 : from; level < LOG_LEVELS; ++level)
    log_streams[level].store(nullptr, std::memory_order_release);
  if (stream) {
    std::fflush(stream);
    std::fclose(stream);
  }
  return 1;
}

void log_print(int level, const char *fmt, ...) {
  std::lock_guard lock(log_mutex);
  va_list args;
  va_start(args, fmt);
  FILE *stream = write_entry(level, fmt, args);
  va_end(args);
  if (stream)
    std::fflush(stream);
}

std::string log_dump_text(const char *data, int len) {
  static const char digits[] = "0123456789abcdef";
  auto printable = [](unsigned char c) { return c < 0x80 && std::isprint(c) ? char(c) : '.'; };
  std::string out;
  if (len < 0)
    len = 0;
  out.reserve(size_t(len) * 4 + size_t(len) / 16 + 200);
  out += "================== BINARY HEX ================= ==== ASCII =====\n";
  const auto *bytes = reinterpret_cast<const unsigned char *>(data);
  for (int i = 0; i < len; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0x0f];
    out += ' ';
    if (i % 16 == 15) {
      for (int j = i - 15; j <= i; ++j)
        out += printable(bytes[j]);
      out += '\n';
    }
  }
  int rest = len % 16;
  if (rest) {
    out.append(size_t(16 - rest) * 3, ' ');
    for (int j = len - rest; j < len; ++j)
      out += printable(bytes[j]);
    out += '\n';
  }
  out += std::string(47, '-') + ' ' + std::string(16, '-') + '\n';
  return out;
}

void log_dump(int level, const char *data, int len, const char *fmt, ...) {
  if (!data)
    return;
  std::string dump;
  try {
    dump = log_dump_text(data, len);
  } catch (const std::bad_alloc &) {
    return;  // no memory for the dump: write nothing, not even the entry
  }
  std::lock_guard lock(log_mutex);
  va_list args;
  va_start(args, fmt);
  FILE *stream = write_entry(level, fmt, args);
  va_end(args);
  if (!stream)
    return;
  std::fputs(dump.c_str(), stream);
  std::fflush(stream);
}
