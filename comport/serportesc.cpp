#include "comport/serportesc.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace {

const char *const kCodeNames[] = {
    "ecUnknown",
    "ecNotCompleted",
    "ecCursorUp",
    "ecCursorDown",
    "ecCursorLeft",
    "ecCursorRight",
    "ecCursorHome",
    "ecCursorMove",
    "ecReverseLineFeed",
    "ecAppCursorLeft",
    "ecAppCursorRight",
    "ecAppCursorUp",
    "ecAppCursorDown",
    "ecEraseLineFrom",
    "ecEraseScreenFrom",
    "ecEraseLine",
    "ecEraseScreen",
    "ecSetTab",
    "ecClearTab",
    "ecClearAllTabs",
    "ecIdentify",
    "ecIdentResponse",
    "ecQueryDevice",
    "ecReportDeviceOK",
    "ecReportDeviceFailure",
    "ecQueryCursorPos",
    "ecReportCursorPos",
    "ecAttributes",
    "ecSetMode",
    "ecResetMode",
    "ecReset",
    "ecSaveCaretAndAttr",
    "ecRestoreCaretAndAttr",
    "ecSaveCaret",
    "ecRestoreCaret",
    "ecTest",
};
static_assert(sizeof(kCodeNames) / sizeof(kCodeNames[0]) == ecTest + 1);

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Esc(const char *rest) { return std::string(1, ESC) + rest; }

[[gnu::format(printf, 1, 2)]] std::string EscFormat(const char *fmt, ...) {
  char buf[64];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return std::string(1, ESC) + buf;
}

// "1;5" gives 1 and 5. A ";" that would close an empty parameter is kept as text instead,
// so ";5" is one parameter that GetParam reads as 1 (the default a missing number means).
// Fills `params` in place: its storage is reused from sequence to sequence.
void SplitParams(const char *first, const char *last, TEscapeParams &params) {
  params.clear();
  std::string current;
  for (const char *c = first; c != last; ++c) {
    if (*c == ';' && !current.empty()) {
      params.push_back(std::move(current));
      current.clear();
    } else {
      current += *c;
    }
  }
  if (!current.empty())
    params.push_back(std::move(current));
}

char FirstChar(const TEscapeParams &params) {
  return params.empty() || params[0].empty() ? '\0' : params[0][0];
}

}  // namespace

const char *EscapeCodeName(TEscapeCode Code) {
  if (Code < ecUnknown || Code > ecTest)
    return "?";
  return kCodeNames[Code];
}

int TEscapeCodes::GetParam(int Num, const TEscapeParams *Params) {
  if (Params == nullptr || Num < 1 || static_cast<size_t>(Num) > Params->size())
    return 1;
  const std::string &text = (*Params)[Num - 1];
  int value = 0;
  const char *first = text.data();
  const char *last = first + text.size();
  auto [end, ec] = std::from_chars(first, last, value);
  // A partly numeric text ("5x") or one too large for an int counts as no number.
  if (ec != std::errc() || end != last || first == last)
    return 1;
  return value;
}

TEscapeResult TEscapeCodes::OutsideSequence(char Ch) {
  if (Ch == ESC) {
    Data.clear();
    InSequence = true;
    return erNothing;
  }
  Character = Ch;
  return erChar;
}

TEscapeResult TEscapeCodes::EndSequence(TEscapeCode code) {
  Code = code;
  InSequence = false;
  return erCode;
}

// ---------------------------------------------------------------------------------- VT52

TEscapeResult TEscapeCodesVT52::ProcessChar(char Ch) {
  if (!InSequence)
    return OutsideSequence(Ch);
  Data += Ch;
  TEscapeCode code = DetectCode(Data);
  if (code == ecNotCompleted)
    return erNothing;
  return EndSequence(code);
}

TEscapeCode TEscapeCodesVT52::DetectCode(const std::string &Str) {
  switch (Str[0]) {
    case 'A':
      return ecCursorUp;
    case 'B':
      return ecCursorDown;
    case 'C':
      return ecCursorRight;
    case 'D':
      return ecCursorLeft;
    case 'H':
      return ecCursorHome;
    case 'I':
      return ecReverseLineFeed;
    case 'J':
      return ecEraseScreenFrom;
    case 'K':
      return ecEraseLineFrom;
    case 'Y':
      if (Str.size() < 3)
        return ecNotCompleted;
      // Row and column travel as one character each, offset by 31 so that 1 is a blank.
      Params.clear();
      Params.push_back(std::to_string(static_cast<unsigned char>(Str[1]) - 31));
      Params.push_back(std::to_string(static_cast<unsigned char>(Str[2]) - 31));
      return ecCursorMove;
    case 'Z':
      return ecIdentify;
    case '/':
      if (Str.size() == 1)
        return ecNotCompleted;
      return Str == "/Z" ? ecIdentResponse : ecUnknown;
    default:
      return ecUnknown;
  }
}

std::string TEscapeCodesVT52::EscCodeToStr(TEscapeCode code, const TEscapeParams *params) const {
  switch (code) {
    case ecCursorUp:
      return Esc("A");
    case ecCursorDown:
      return Esc("B");
    case ecCursorLeft:
      return Esc("D");
    case ecCursorRight:
      return Esc("C");
    case ecCursorHome:
      return Esc("H");
    case ecCursorMove: {
      std::string s = Esc("Y");
      s += static_cast<char>(GetParam(1, params) + 31);
      s += static_cast<char>(GetParam(2, params) + 31);
      return s;
    }
    case ecReverseLineFeed:
      return Esc("I");
    case ecEraseLineFrom:
      return Esc("K");
    case ecEraseScreenFrom:
      return Esc("J");
    case ecIdentify:
      return Esc("Z");
    case ecIdentResponse:
      return Esc("/Z");
    default:
      return {};
  }
}

// --------------------------------------------------------------------------------- VT100

TEscapeResult TEscapeCodesVT100::ProcessChar(char Ch) {
  if (!InSequence)
    return OutsideSequence(Ch);
  Data += Ch;
  if (!InExtSequence && Data.size() == 1 && Data[0] == '[') {
    InExtSequence = true;
    return erNothing;
  }
  TEscapeCode code = InExtSequence ? DetectExtCode(Data) : DetectCode(Data);
  if (code == ecNotCompleted)
    return erNothing;
  InExtSequence = false;
  return EndSequence(code);
}

TEscapeCode TEscapeCodesVT100::DetectCode(const std::string &Str) {
  if (Str.size() == 1) {
    switch (Str[0]) {
      case '7':
        return ecSaveCaretAndAttr;
      case '8':
        return ecRestoreCaretAndAttr;
      case 'H':
        return ecSetTab;
      case 'c':
        return ecReset;
      case '#':
      case 'O':
        return ecNotCompleted;
      default:
        return ecUnknown;
    }
  }
  if (Str == "#8")
    return ecTest;
  if (Str.size() == 2 && Str[0] == 'O') {
    switch (Str[1]) {
      case 'A':
        return ecAppCursorUp;
      case 'B':
        return ecAppCursorDown;
      case 'C':
        return ecAppCursorRight;
      case 'D':
        return ecAppCursorLeft;
      default:
        break;
    }
  }
  return ecUnknown;
}

TEscapeCode TEscapeCodesVT100::DetectExtCode(const std::string &Str) {
  // Only the final letter ends a sequence; everything before it, line ends included, is
  // parameter text. Checking the last byte alone keeps long sequences linear.
  const char final = Str.back();
  if (!IsLetter(final))
    return ecNotCompleted;
  SplitParams(Str.data() + 1, Str.data() + Str.size() - 1, Params);
  const char first = FirstChar(Params);
  TEscapeCode code = ecUnknown;
  bool keep = true;
  switch (final) {
    case 'A':
      code = ecCursorUp;
      break;
    case 'B':
      code = ecCursorDown;
      break;
    case 'C':
      code = ecCursorRight;
      break;
    case 'D':
      code = ecCursorLeft;
      break;
    case 'H':
      code = ecCursorHome;
      break;
    case 'f':
      code = ecCursorMove;
      break;
    case 'J':
      keep = false;
      code = Params.empty() || first == '0' ? ecEraseScreenFrom : first == '2' ? ecEraseScreen : ecUnknown;
      break;
    case 'K':
      keep = false;
      code = Params.empty() || first == '0' ? ecEraseLineFrom : first == '2' ? ecEraseLine : ecUnknown;
      break;
    case 'g':
      keep = false;
      code = Params.empty() || first == '0' ? ecClearTab : first == '3' ? ecClearAllTabs : ecUnknown;
      break;
    case 'n':
      keep = false;
      if (Params.empty())
        break;
      switch (first) {
        case '0':
          code = ecReportDeviceOK;
          break;
        case '3':
          code = ecReportDeviceFailure;
          break;
        case '5':
          code = ecQueryDevice;
          break;
        case '6':
          code = ecQueryCursorPos;
          break;
        default:
          break;
      }
      break;
    case 'c':
      if (Params.empty() || (Params.size() == 1 && Params[0] == "0"))
        code = ecIdentify;
      else if (Params.size() == 2 && Params[0] == "?1")
        code = ecIdentResponse;
      break;
    case 'R':
      code = ecReportCursorPos;
      break;
    case 'h':
      code = ecSetMode;
      break;
    case 'l':
      code = ecResetMode;
      break;
    case 'm':
      code = ecAttributes;
      break;
    case 's':
      code = ecSaveCaret;
      break;
    case 'u':
      code = ecRestoreCaret;
      break;
    default:
      break;
  }
  if (!keep)
    Params.clear();
  return code;
}

std::string TEscapeCodesVT100::EscCodeToStr(TEscapeCode code, const TEscapeParams *params) const {
  switch (code) {
    case ecCursorUp:
      return Esc("[A");
    case ecCursorDown:
      return Esc("[B");
    case ecCursorLeft:
      return Esc("[D");
    case ecCursorRight:
      return Esc("[C");
    case ecCursorHome:
      return Esc("[H");
    case ecCursorMove:
      return EscFormat("[%d;%df", GetParam(1, params), GetParam(2, params));
    case ecAppCursorLeft:
      return Esc("OD");
    case ecAppCursorRight:
      return Esc("OC");
    case ecAppCursorUp:
      return Esc("OA");
    case ecAppCursorDown:
      return Esc("OB");
    case ecEraseLineFrom:
      return Esc("[K");
    case ecEraseScreenFrom:
      return Esc("[J");
    case ecEraseLine:
      return Esc("[2K");
    case ecEraseScreen:
      return Esc("[2J");
    case ecSetTab:
      return Esc("H");
    case ecClearTab:
      return Esc("[g");
    case ecClearAllTabs:
      return Esc("[3g");
    case ecIdentify:
      return Esc("[c");
    case ecIdentResponse:
      return EscFormat("[?1;%dc", GetParam(1, params));
    case ecQueryDevice:
      return Esc("[5n");
    case ecReportDeviceOK:
      return Esc("[0n");
    case ecReportDeviceFailure:
      return Esc("[3n");
    case ecQueryCursorPos:
      return Esc("[6n");
    case ecReportCursorPos:
      return EscFormat("[%d;%dR", GetParam(1, params), GetParam(2, params));
    case ecAttributes:
      return Esc("[m");
    case ecSetMode:
      return Esc("[h");
    case ecResetMode:
      return Esc("[l");
    case ecReset:
      return Esc("c");
    case ecSaveCaretAndAttr:
      return Esc("7");
    case ecRestoreCaretAndAttr:
      return Esc("8");
    case ecSaveCaret:
      return Esc("[s");
    case ecRestoreCaret:
      return Esc("[u");
    case ecTest:
      return Esc("#8");
    default:
      return {};
  }
}
