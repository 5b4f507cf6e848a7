// Escape-sequence parsers of the console terminal: VT52 and VT100/ANSI.
//
// A parser is fed one received byte at a time. It passes plain characters through,
// swallows the bytes of a control sequence and, once the sequence is complete, reports it
// as an abstract code with its parameters. The same parser encodes codes back into bytes,
// which the terminal sends for cursor keys and for answers to queries.
//
// Not thread-safe: one parser belongs to one terminal and is used on that terminal's thread.
#pragma once

#include <string>
#include <vector>

enum TEscapeCode {
  ecUnknown,
  ecNotCompleted,
  ecCursorUp,
  ecCursorDown,
  ecCursorLeft,
  ecCursorRight,
  ecCursorHome,
  ecCursorMove,
  ecReverseLineFeed,
  ecAppCursorLeft,
  ecAppCursorRight,
  ecAppCursorUp,
  ecAppCursorDown,
  ecEraseLineFrom,
  ecEraseScreenFrom,
  ecEraseLine,
  ecEraseScreen,
  ecSetTab,
  ecClearTab,
  ecClearAllTabs,
  ecIdentify,
  ecIdentResponse,
  ecQueryDevice,
  ecReportDeviceOK,
  ecReportDeviceFailure,
  ecQueryCursorPos,
  ecReportCursorPos,
  ecAttributes,
  ecSetMode,
  ecResetMode,
  ecReset,
  ecSaveCaretAndAttr,
  ecRestoreCaretAndAttr,
  ecSaveCaret,
  ecRestoreCaret,
  ecTest,
};

// The name of a code ("ecCursorUp"), for logs and test messages.
const char *EscapeCodeName(TEscapeCode Code);

enum TEscapeResult {
  erChar,     // a plain character passed through: see Character
  erCode,     // a sequence is complete: see Code, Params, Data
  erNothing,  // the byte was swallowed (ESC, or a sequence still incomplete)
};

// Parameters of a sequence, as the text that was received ("10", "?1", ";5").
using TEscapeParams = std::vector<std::string>;

constexpr char ESC = '\x1b';

// Common state of both parsers; the fields are read by the terminal after each call.
class TEscapeCodes {
 public:
  virtual ~TEscapeCodes() = default;

  // Feeds one received byte.
  virtual TEscapeResult ProcessChar(char Ch) = 0;

  // The bytes that encode Code with the given parameters (null: none); empty when this
  // terminal type has no encoding for Code.
  virtual std::string EscCodeToStr(TEscapeCode Code, const TEscapeParams *Params) const = 0;

  // Parameter Num (1-based) as a number: 1 when the list is null, too short, or the text
  // is not a decimal number that fits an int; "0" gives 0.
  static int GetParam(int Num, const TEscapeParams *Params);

  char Character = 0;            // the character of the last erChar
  TEscapeCode Code = ecUnknown;  // the code of the last erCode
  std::string Data;              // the current or last sequence, without its ESC
  TEscapeParams Params;          // parameters of the last erCode; the terminal clears them

 protected:
  // A byte outside a sequence: ESC opens one, anything else is a character.
  TEscapeResult OutsideSequence(char Ch);
  // The sequence is over, as `code`.
  TEscapeResult EndSequence(TEscapeCode code);

  bool InSequence = false;
};

class TEscapeCodesVT52 : public TEscapeCodes {
 public:
  TEscapeResult ProcessChar(char Ch) override;
  std::string EscCodeToStr(TEscapeCode Code, const TEscapeParams *Params) const override;

 private:
  TEscapeCode DetectCode(const std::string &Str);
};

class TEscapeCodesVT100 : public TEscapeCodes {
 public:
  TEscapeResult ProcessChar(char Ch) override;
  std::string EscCodeToStr(TEscapeCode Code, const TEscapeParams *Params) const override;

 private:
  TEscapeCode DetectCode(const std::string &Str);
  TEscapeCode DetectExtCode(const std::string &Str);

  bool InExtSequence = false;  // the sequence began with ESC "["
};
