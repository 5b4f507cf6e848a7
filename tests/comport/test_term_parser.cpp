// The escape parsers, script style: bytes in, the stream of characters and codes out.
//
// A trace shows every erChar as its character (control characters as <hh>) and every
// erCode as {name params}; swallowed bytes leave no trace. Input given as several blocks
// is fed block after block into one parser, as the terminal does with received data.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "comport/serportesc.h"

namespace {

std::string Trace(TEscapeCodes &p, const std::vector<std::string> &blocks) {
  std::string out;
  for (const std::string &block : blocks) {
    for (char c : block) {
      switch (p.ProcessChar(c)) {
        case erChar: {
          const unsigned char u = static_cast<unsigned char>(p.Character);
          if (u < 32 || u == 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02x>", u);
            out += hex;
          } else {
            out += p.Character;
          }
          break;
        }
        case erCode: {
          out += '{';
          out += EscapeCodeName(p.Code);
          for (size_t i = 0; i < p.Params.size(); ++i)
            out += (i ? "," : " ") + p.Params[i];
          out += '}';
          p.Params.clear();  // as the terminal does after acting on a code
          break;
        }
        case erNothing:
          break;
      }
    }
  }
  return out;
}

struct ScriptCase {
  const char *name;
  bool vt52;
  std::vector<std::string> in;
  const char *out;
};

const ScriptCase kScripts[] = {
    {"plain_chars", false, {"abc"}, "abc"},
    {"controls_pass_through", false, {"\r\n\b\t\a"}, "<0d><0a><08><09><07>"},
    {"nul_passes", false, {std::string("x\0y", 3)}, "x<00>y"},
    {"prompt", false, {"CFE> "}, "CFE> "},
    {"erase_screen", false, {"\x1b[2J"}, "{ecEraseScreen}"},
    {"erase_screen_from_default", false, {"\x1b[J\x1b[0J"}, "{ecEraseScreenFrom}{ecEraseScreenFrom}"},
    {"erase_screen_1_unsupported", false, {"\x1b[1J"}, "{ecUnknown}"},
    {"erase_line_variants",
     false,
     {"\x1b[K\x1b[0K\x1b[2K\x1b[1K"},
     "{ecEraseLineFrom}{ecEraseLineFrom}{ecEraseLine}{ecUnknown}"},
    {"home_with_params", false, {"\x1b[10;20H"}, "{ecCursorHome 10,20}"},
    {"home_bare", false, {"\x1b[H"}, "{ecCursorHome}"},
    {"move_f", false, {"\x1b[3;7f"}, "{ecCursorMove 3,7}"},
    {"cursor_moves",
     false,
     {"\x1b[A\x1b[2B\x1b[3C\x1b[4D"},
     "{ecCursorUp}{ecCursorDown 2}{ecCursorRight 3}{ecCursorLeft 4}"},
    {"attributes", false, {"\x1b[0;1;4m"}, "{ecAttributes 0,1,4}"},
    {"attributes_bare", false, {"\x1b[m"}, "{ecAttributes}"},
    {"set_mode_private", false, {"\x1b[?1h"}, "{ecSetMode ?1}"},
    {"reset_mode", false, {"\x1b[7l"}, "{ecResetMode 7}"},
    {"empty_first_param_kept_as_text", false, {"\x1b[;5H"}, "{ecCursorHome ;5}"},
    {"double_semicolon", false, {"\x1b[1;;5H"}, "{ecCursorHome 1,;5}"},
    {"trailing_semicolon", false, {"\x1b[4;m"}, "{ecAttributes 4}"},
    {"tabs", false, {"\x1b[g\x1b[0g\x1b[3g\x1b[2g"}, "{ecClearTab}{ecClearTab}{ecClearAllTabs}{ecUnknown}"},
    {"device_queries",
     false,
     {"\x1b[5n\x1b[6n\x1b[0n\x1b[3n\x1b[n\x1b[7n"},
     "{ecQueryDevice}{ecQueryCursorPos}{ecReportDeviceOK}{ecReportDeviceFailure}{ecUnknown}{ecUnknown}"},
    {"identify", false, {"\x1b[c\x1b[0c"}, "{ecIdentify}{ecIdentify 0}"},
    {"ident_response", false, {"\x1b[?1;2c"}, "{ecIdentResponse ?1,2}"},
    {"ident_other", false, {"\x1b[1c\x1b[?1;2;3c"}, "{ecUnknown 1}{ecUnknown ?1,2,3}"},
    {"report_pos", false, {"\x1b[3;5R"}, "{ecReportCursorPos 3,5}"},
    {"save_restore",
     false,
     {"\x1b[s\x1b[u\x1b"
      "7\x1b"
      "8"},
     "{ecSaveCaret}{ecRestoreCaret}{ecSaveCaretAndAttr}{ecRestoreCaretAndAttr}"},
    {"short_codes",
     false,
     {"\x1bH\x1b"
      "c\x1b#8"},
     "{ecSetTab}{ecReset}{ecTest}"},
    {"app_cursor",
     false,
     {"\x1bOA\x1bOB\x1bOC\x1bOD"},
     "{ecAppCursorUp}{ecAppCursorDown}{ecAppCursorRight}{ecAppCursorLeft}"},
    {"app_cursor_other",
     false,
     {"\x1bOx"
      "a"},
     "{ecUnknown}a"},
    {"hash_other", false, {"\x1b#3z"}, "{ecUnknown}z"},
    {"index_unsupported",
     false,
     {"\x1b"
      "Dx"},
     "{ecUnknown}x"},
    {"unknown_final_keeps_params", false, {"\x1b[1;2r"}, "{ecUnknown 1,2}"},
    // Received data arrives in blocks of any size: a sequence cut anywhere must complete.
    {"split_after_esc", false, {"ab\x1b", "[2J", "c"}, "ab{ecEraseScreen}c"},
    {"split_after_bracket", false, {"\x1b[", "10;20H"}, "{ecCursorHome 10,20}"},
    {"split_in_param", false, {"\x1b[1", "0;2", "0H"}, "{ecCursorHome 10,20}"},
    {"split_every_byte", false, {"\x1b", "[", "0", ";", "1", "m", "Z"}, "{ecAttributes 0,1}Z"},
    {"split_app_cursor", false, {"\x1bO", "A"}, "{ecAppCursorUp}"},
    {"split_hash", false, {"\x1b#", "8"}, "{ecTest}"},
    // An ESC inside a sequence is an ordinary sequence byte: no new sequence starts.
    {"esc_after_esc", false, {"\x1b\x1b[2J"}, "{ecUnknown}[2J"},
    {"esc_in_ext_sequence", false, {"\x1b[1\x1b[2J"}, "{ecUnknown}"},
    {"esc_in_ext_then_text", false, {"\x1b[\x1b[Hxy"}, "{ecCursorHome \x1b[}xy"},
    // An unterminated sequence swallows everything up to the next letter, line ends too.
    {"unterminated_swallows_crlf", false, {"\x1b[12\r\nx"}, "{ecUnknown 12\r\n}"},
    {"unterminated_across_blocks",
     false,
     {"\x1b[", "1234", "5678\r\n", "::>", "CFE> "},
     "{ecCursorRight 12345678\r\n::>}FE> "},
    {"high_bytes_pass", false, {"\xb0\xff"}, "\xb0\xff"},
    // VT52
    {"vt52_plain", true, {"abc"}, "abc"},
    {"vt52_moves",
     true,
     {"\x1b"
      "A\x1b"
      "B\x1b"
      "C\x1b"
      "D\x1bH\x1bI\x1bJ\x1bK"},
     "{ecCursorUp}{ecCursorDown}{ecCursorRight}{ecCursorLeft}{ecCursorHome}{ecReverseLineFeed}"
     "{ecEraseScreenFrom}{ecEraseLineFrom}"},
    {"vt52_cursor_move", true, {"\x1bY$)"}, "{ecCursorMove 5,10}"},
    {"vt52_cursor_move_split", true, {"\x1bY", "$", ")x"}, "{ecCursorMove 5,10}x"},
    {"vt52_identify", true, {"\x1bZ\x1b/Z"}, "{ecIdentify}{ecIdentResponse}"},
    {"vt52_slash_other", true, {"\x1b/Kx"}, "{ecUnknown}x"},
    {"vt52_no_ext_sequences", true, {"\x1b[2J"}, "{ecUnknown}2J"},
};

void PrintTo(const ScriptCase &c, std::ostream *os) { *os << c.name; }

class ParserScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ParserScript, BytesInCodesOut) {
  const ScriptCase &c = GetParam();
  std::unique_ptr<TEscapeCodes> p;
  if (c.vt52)
    p = std::make_unique<TEscapeCodesVT52>();
  else
    p = std::make_unique<TEscapeCodesVT100>();
  EXPECT_EQ(Trace(*p, c.in), c.out);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ParserScript, ::testing::ValuesIn(kScripts),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

TEST(ParserVT100, ResultsPerByte) {
  TEscapeCodesVT100 p;
  std::vector<TEscapeResult> got;
  for (char c : std::string("\x1b[2J"))
    got.push_back(p.ProcessChar(c));
  EXPECT_EQ(got, (std::vector<TEscapeResult>{erNothing, erNothing, erNothing, erCode}));
  EXPECT_EQ(p.Code, ecEraseScreen);
  EXPECT_TRUE(p.Params.empty());
  EXPECT_EQ(p.Data, "[2J");
}

TEST(ParserVT100, DataHoldsSwallowedLineEnds) {
  TEscapeCodesVT100 p;
  for (char c : std::string("\x1b[12\r\nx"))
    p.ProcessChar(c);
  EXPECT_EQ(p.Code, ecUnknown);
  EXPECT_EQ(p.Data, "[12\r\nx");
}

TEST(ParserVT100, IdleAfterCodeAndAfterUnknown) {
  // After any complete sequence, including an unknown one, the next byte is plain again.
  TEscapeCodesVT100 p;
  for (const char *seq : {"\x1b[1J",
                          "\x1b"
                          "D",
                          "\x1b[?1;2c", "\x1bOQ"}) {
    SCOPED_TRACE(seq + 1);
    for (const char *c = seq; *c; ++c)
      p.ProcessChar(*c);
    EXPECT_EQ(p.ProcessChar('q'), erChar);
    EXPECT_EQ(p.Character, 'q');
  }
}

struct ParamCase {
  int num;
  bool nil;
  TEscapeParams params;
  int want;
};

TEST(Parser, GetParam) {
  const ParamCase cases[] = {
      {1, true, {}, 1},
      {3, false, {"5", "x"}, 1},
      {2, false, {"5", "x"}, 1},
      {1, false, {"5", "x"}, 5},
      {1, false, {"0"}, 0},
      {1, false, {"?1"}, 1},
      {1, false, {";5"}, 1},
      {1, false, {"12"}, 12},
      {1, false, {"5x"}, 1},
      {1, false, {""}, 1},
      {1, false, {"99999999999999"}, 1},
      {0, false, {"7"}, 1},
  };
  for (const ParamCase &c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "num " << c.num << " first " << (c.params.empty() ? "-" : c.params[0]));
    EXPECT_EQ(TEscapeCodes::GetParam(c.num, c.nil ? nullptr : &c.params), c.want);
  }
}

struct EncodeCase {
  TEscapeCode code;
  TEscapeParams params;
  const char *vt52;
  const char *vt100;
};

TEST(Parser, EscCodeToStr) {
  const EncodeCase cases[] = {
      {ecCursorUp,
       {},
       "\x1b"
       "A",
       "\x1b[A"},
      {ecCursorDown,
       {},
       "\x1b"
       "B",
       "\x1b[B"},
      {ecCursorLeft,
       {},
       "\x1b"
       "D",
       "\x1b[D"},
      {ecCursorRight,
       {},
       "\x1b"
       "C",
       "\x1b[C"},
      {ecCursorHome, {}, "\x1bH", "\x1b[H"},
      {ecCursorMove, {"5", "10"}, "\x1bY$)", "\x1b[5;10f"},
      {ecCursorMove, {}, "\x1bY  ", "\x1b[1;1f"},
      {ecReverseLineFeed, {}, "\x1bI", ""},
      {ecAppCursorLeft, {}, "", "\x1bOD"},
      {ecAppCursorRight, {}, "", "\x1bOC"},
      {ecAppCursorUp, {}, "", "\x1bOA"},
      {ecAppCursorDown, {}, "", "\x1bOB"},
      {ecEraseLineFrom, {}, "\x1bK", "\x1b[K"},
      {ecEraseScreenFrom, {}, "\x1bJ", "\x1b[J"},
      {ecEraseLine, {}, "", "\x1b[2K"},
      {ecEraseScreen, {}, "", "\x1b[2J"},
      {ecSetTab, {}, "", "\x1bH"},
      {ecClearTab, {}, "", "\x1b[g"},
      {ecClearAllTabs, {}, "", "\x1b[3g"},
      {ecIdentify, {}, "\x1bZ", "\x1b[c"},
      {ecIdentResponse, {"2"}, "\x1b/Z", "\x1b[?1;2c"},
      {ecQueryDevice, {}, "", "\x1b[5n"},
      {ecReportDeviceOK, {}, "", "\x1b[0n"},
      {ecReportDeviceFailure, {}, "", "\x1b[3n"},
      {ecQueryCursorPos, {}, "", "\x1b[6n"},
      {ecReportCursorPos, {"3", "5"}, "", "\x1b[3;5R"},
      {ecAttributes, {"1", "4"}, "", "\x1b[m"},
      {ecSetMode, {"?1"}, "", "\x1b[h"},
      {ecResetMode, {"?1"}, "", "\x1b[l"},
      {ecReset,
       {},
       "",
       "\x1b"
       "c"},
      {ecSaveCaretAndAttr,
       {},
       "",
       "\x1b"
       "7"},
      {ecRestoreCaretAndAttr,
       {},
       "",
       "\x1b"
       "8"},
      {ecSaveCaret, {}, "", "\x1b[s"},
      {ecRestoreCaret, {}, "", "\x1b[u"},
      {ecTest, {}, "", "\x1b#8"},
      {ecUnknown, {}, "", ""},
      {ecNotCompleted, {}, "", ""},
  };
  TEscapeCodesVT52 vt52;
  TEscapeCodesVT100 vt100;
  for (const EncodeCase &c : cases) {
    SCOPED_TRACE(EscapeCodeName(c.code));
    EXPECT_EQ(vt52.EscCodeToStr(c.code, &c.params), c.vt52);
    EXPECT_EQ(vt100.EscCodeToStr(c.code, &c.params), c.vt100);
  }
}

// What a parser encodes, the same kind of parser must read back as the same code: the
// terminal's answers and cursor keys are read by terminals like itself.
TEST(Parser, EncodedCodesParseBack) {
  const TEscapeParams params{"4", "9"};
  for (int i = ecCursorUp; i <= ecTest; ++i) {
    const TEscapeCode code = static_cast<TEscapeCode>(i);
    SCOPED_TRACE(EscapeCodeName(code));
    for (bool vt52 : {false, true}) {
      std::unique_ptr<TEscapeCodes> enc, dec;
      if (vt52) {
        enc = std::make_unique<TEscapeCodesVT52>();
        dec = std::make_unique<TEscapeCodesVT52>();
      } else {
        enc = std::make_unique<TEscapeCodesVT100>();
        dec = std::make_unique<TEscapeCodesVT100>();
      }
      const std::string bytes = enc->EscCodeToStr(code, &params);
      if (bytes.empty())
        continue;
      TEscapeResult last = erNothing;
      for (char c : bytes)
        last = dec->ProcessChar(c);
      ASSERT_EQ(last, erCode) << (vt52 ? "vt52" : "vt100");
      EXPECT_EQ(dec->Code, code) << (vt52 ? "vt52" : "vt100");
    }
  }
}

}  // namespace
