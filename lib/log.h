// The program's log file: six levels, one entry per call, hex dumps of what goes to the box.
//
// Thread-safety: every function may be called from any thread. An entry (including the
// dump that follows it in log_dump) is written under one lock, so no other thread's entry
// ever lands inside it. A write that comes after log_close is dropped.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

enum LogLevel : int {
  LOG_HEX = 0,
  LOG_DEBUG = 1,
  LOG_INFO = 2,
  LOG_WARN = 3,
  LOG_ERROR = 4,
  LOG_CRIT = 5,
};

constexpr int LOG_LEVELS = 6;

// One entry per level: the open log file, or null when the level is disabled. Callers test
// their level here before they format anything (log_enabled does that).
extern std::atomic<FILE *> log_streams[LOG_LEVELS];

// Lowest enabled level, -1 before the first log_open.
extern std::atomic<int> log_min_level;

// Opens `path` for appending and enables min_level..CRIT. Returns 1 even when the file
// cannot be opened: logging is then simply off, and nothing is reported.
int log_open(const char *path, int min_level);
// As log_open, on a stream the caller opened (and that the log now owns and closes).
int log_open_stream(FILE *stream, int min_level);

// Disables every level and closes the file. Returns 1; with no file open nothing happens.
int log_close();

inline bool log_enabled(int level) {
  return level >= 0 && level < LOG_LEVELS && log_streams[level].load(std::memory_order_acquire) != nullptr;
}

// The formats are C99's (%zu, %lld), which the C++ library's stdio gives everywhere; gcc
// calls that gnu_printf where plain printf would mean the Microsoft one (mingw), clang knows
// only printf.
#if defined(__GNUC__) && !defined(__clang__)
#define ZV_PRINTF_FORMAT(fmt_at, args_at) __attribute__((format(gnu_printf, fmt_at, args_at)))
#else
#define ZV_PRINTF_FORMAT(fmt_at, args_at) __attribute__((format(printf, fmt_at, args_at)))
#endif

// One entry: "[%5s][%s]" with level name and local time, then the caller's format.
void log_print(int level, const char *fmt, ...) ZV_PRINTF_FORMAT(2, 3);

// An entry followed by a hex dump of `len` bytes at `data`. Null data writes nothing.
void log_dump(int level, const char *data, int len, const char *fmt, ...) ZV_PRINTF_FORMAT(4, 5);

// The dump text alone (header, rows, footer), as log_dump writes it.
std::string log_dump_text(const char *data, int len);

// Every message of the program starts with the writer's name, the source line and file.
#define ZV_LOG_WHERE " [%s:%d] [%s]\n\t"

// ZV_LOG(level, "function", "message %d", x): the level test, the location and the line end.
#define ZV_LOG(level, func, fmt, ...)                                                                   \
  do {                                                                                                  \
    if (log_enabled(level))                                                                             \
      log_print((level), ZV_LOG_WHERE fmt "\n", (func), __LINE__, __FILE__ __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

#define ZV_LOG_DUMP(level, func, data, len, fmt, ...)                           \
  do {                                                                          \
    if (log_enabled(level))                                                     \
      log_dump((level), (data), (len), ZV_LOG_WHERE fmt "\n", (func), __LINE__, \
               __FILE__ __VA_OPT__(, ) __VA_ARGS__);                            \
  } while (0)
