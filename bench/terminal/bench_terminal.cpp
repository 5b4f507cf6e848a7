// Receive-path throughput of the console terminal against libvterm, on the same bytes.
//
// The log is a recorded boot-loader session (tests/comport/data/cfe_session.log, CR LF line
// ends as the box sends them) repeated to 50 MiB; the "ansi" variants add the colour,
// erase and cursor sequences a fancier console would send, with the cursor saved and restored
// by CSI s / CSI u (argument 1) or by ESC 7 / ESC 8 (argument 2). libvterm 0.1.4 does not
// restore the cursor on CSI u, so only argument 2 has both terminals do the same work. Both
// terminals are 80 x 17 and get the bytes in 1024-byte blocks, the largest block the port
// hands over.
//   BM_WriteStr_ZeVavi    TComTerminal::WriteStr, control not shown (no painting)
//   BM_Input_Libvterm     vterm_input_write into a libvterm screen (no damage callbacks)
//   BM_Shown_ZeVavi       a shown terminal painting after every block; compare with the
//                         11520 bytes/s of 115200 baud
#include <benchmark/benchmark.h>
#include <vterm.h>

#include <QApplication>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "comport/serportctl.h"

namespace {

constexpr size_t kLogBytes = 50u << 20;
constexpr size_t kBlock = 1024;

std::string Session() {
  std::ifstream in(ZEVAVI_TERM_SESSION, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " ZEVAVI_TERM_SESSION);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string crlf;
  for (char c : ss.str()) {
    if (c == '\n')
      crlf += '\r';
    crlf += c;
  }
  return crlf;
}

// The session with sequences added: status lines in bold green, prompts after an
// erase-line, now and then a cursor move between a save and a restore.
std::string AnsiSession(bool decsc) {
  const std::string save = decsc ? "\x1b"
                                   "7"
                                 : "\x1b[s";
  const std::string restore = decsc ? "\x1b"
                                      "8"
                                    : "\x1b[u";
  const std::string plain = Session();
  std::string out;
  size_t start = 0;
  int n = 0;
  while (start < plain.size()) {
    size_t end = plain.find('\n', start);
    end = end == std::string::npos ? plain.size() : end + 1;
    std::string line = plain.substr(start, end - start);
    if (line.rfind("***", 0) == 0)
      line = "\x1b[1;32m" + line.substr(0, line.size() - 2) + "\x1b[0m\r\n";
    if (line.rfind("CFE>", 0) == 0)
      line = "\x1b[2K\r" + line;
    if (++n % 7 == 0)
      line = save + "\x1b[1;70H\x1b[7m" + std::to_string(n) + "\x1b[m" + restore + line;
    out += line;
    start = end;
  }
  return out;
}

const std::vector<std::string> &Blocks(int kind) {
  static std::vector<std::string> logs[3];
  std::vector<std::string> &blocks = logs[kind];
  if (blocks.empty()) {
    const std::string session = kind == 0 ? Session() : AnsiSession(kind == 2);
    std::string log;
    log.reserve(kLogBytes + session.size());
    while (log.size() < kLogBytes)
      log += session;
    log.resize(kLogBytes);
    for (size_t i = 0; i < log.size(); i += kBlock)
      blocks.push_back(log.substr(i, kBlock));
  }
  return blocks;
}

const char *Label(int64_t kind) { return kind == 0 ? "plain" : kind == 1 ? "ansi CSI s/u" : "ansi ESC 7/8"; }

void BM_WriteStr_ZeVavi(benchmark::State &state) {
  const auto &blocks = Blocks(static_cast<int>(state.range(0)));
  TComTerminal term;
  term.SetRows(17);
  uint64_t chars = 0;
  term.OnChar = [&](TCustomComTerminal *, char) { ++chars; };  // the console watcher's hook
  for (auto _ : state)
    for (const std::string &b : blocks)
      term.WriteStr(b);
  benchmark::DoNotOptimize(chars);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kLogBytes));
  state.SetLabel(Label(state.range(0)));
}

void BM_Input_Libvterm(benchmark::State &state) {
  const auto &blocks = Blocks(static_cast<int>(state.range(0)));
  VTerm *vt = vterm_new(17, 80);
  vterm_set_utf8(vt, 0);
  VTermScreen *screen = vterm_obtain_screen(vt);
  vterm_screen_reset(screen, 1);
  for (auto _ : state)
    for (const std::string &b : blocks)
      vterm_input_write(vt, b.data(), b.size());
  vterm_free(vt);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kLogBytes));
  state.SetLabel(Label(state.range(0)));
}

void BM_Shown_ZeVavi(benchmark::State &state) {
  const auto &all = Blocks(0);
  const size_t count = 1024;  // 1 MiB per iteration
  TComTerminal term;
  term.SetRows(17);
  term.resize(43 * term.CellWidth() + 2 * term.frameWidth(), 17 * term.CellHeight() + 40);
  term.show();
  term.setFocus();
  QApplication::processEvents();
  for (auto _ : state)
    for (size_t i = 0; i < count; ++i) {
      term.WriteStr(all[i]);
      QApplication::processEvents();  // paints what changed, as the event loop would
    }
  const double bytes = static_cast<double>(state.iterations()) * count * kBlock;
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["x115200baud"] = benchmark::Counter(bytes / 11520.0, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_WriteStr_ZeVavi)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Input_Libvterm)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Shown_ZeVavi)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
