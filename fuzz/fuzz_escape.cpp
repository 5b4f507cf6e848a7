// The terminal's escape parsers (VT100/ANSI and VT52) through WriteStr, as received console
// bytes reach them: no crash, and the caret stays on the screen whatever arrives.
// The first byte picks the terminal's set-up, the second where the bytes are cut in two
// blocks (a sequence may span blocks); the rest is the console output.
#include "comport/serportctl.h"
#include "fuzz/fuzzutil.h"

#include <cstdint>
#include <string>

using namespace fuzzutil;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  start_qt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2)
    return 0;
  const uint8_t setup = data[0];
  std::string text(reinterpret_cast<const char *>(data + 2), size - 2);
  size_t cut = text.empty() ? 0 : data[1] % (text.size() + 1);

  TComTerminal term;
  term.SetEmulation(setup & 1 ? teVT52 : teVT100orANSI);
  term.SetWrapLines(setup & 2);
  term.SetColumns(setup & 4 ? 80 : 3);
  term.SetRows(setup & 8 ? 17 : 2);
  term.SetAppendLF(setup & 16);
  term.WriteStr(text.substr(0, cut));
  term.WriteStr(text.substr(cut));
  check(term.CaretY() >= 1 && term.CaretY() <= term.Rows(), "caret row off the screen");
  check(term.CaretX() >= 1 && term.CaretX() <= term.Columns() + 1, "caret column off the screen");
  return 0;
}
