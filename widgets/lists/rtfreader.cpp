#include "widgets/lists/rtfreader.h"

#include <QColor>
#include <QFont>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

namespace {

// Nesting beyond this depth is counted but keeps the state of the deepest group: real
// documents stay far below it, and a file of a million "{" must not cost a million states.
constexpr size_t max_depth = 512;
// A control word is at most 32 letters and its parameter a signed 16- or 32-bit number;
// longer runs are consumed but not stored.
constexpr size_t max_word = 32;
constexpr int max_digits = 10;
constexpr int default_half_points = 24;  // 12 pt, RTF's default size

// Bytes 0x80..0x9F of Windows-1252, the code page of nearly every RTF file; the rest of it
// is Latin-1.
constexpr char16_t cp1252_high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

QString decode_cp1252(const QByteArray &bytes) {
  QString text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    text.append(byte >= 0x80 && byte < 0xA0 ? QChar(cp1252_high[byte - 0x80]) : QChar(byte));
  }
  return text;
}

const char *codec_name(int code_page) {
  switch (code_page) {
    case 437:
      return "IBM437";
    case 850:
      return "IBM850";
    case 866:
      return "IBM866";
    case 874:
      return "windows-874";
    case 932:
      return "Shift_JIS";
    case 936:
      return "GBK";
    case 949:
      return "windows-949";
    case 950:
      return "Big5";
    case 1250:
      return "windows-1250";
    case 1251:
      return "windows-1251";
    case 1253:
      return "windows-1253";
    case 1254:
      return "windows-1254";
    case 1255:
      return "windows-1255";
    case 1256:
      return "windows-1256";
    case 1257:
      return "windows-1257";
    case 1258:
      return "windows-1258";
    case 10000:
      return "macintosh";
    case 20866:
      return "KOI8-R";
    default:
      return nullptr;
  }
}

// The text of `bytes` in Windows code page `code_page`. Code pages this Qt cannot decode
// fall back to 1252, which keeps ASCII right and every other byte visible.
QString decode(const QByteArray &bytes, int code_page) {
  if (code_page == 65001)
    return QString::fromUtf8(bytes);
  if (code_page == 28591)
    return QString::fromLatin1(bytes);
  if (const char *name = codec_name(code_page)) {
    QStringDecoder decoder(name);
    if (decoder.isValid())
      return decoder.decode(bytes);
  }
  return decode_cp1252(bytes);
}

// The code page a font's \fcharset names; 0 for "the document's".
int charset_code_page(int charset) {
  switch (charset) {
    case 2:
      return 28591;  // symbol fonts: bytes are glyph numbers
    case 77:
      return 10000;
    case 128:
      return 932;
    case 129:
      return 949;
    case 134:
      return 936;
    case 136:
      return 950;
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 163:
      return 1258;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 204:
      return 1251;
    case 222:
      return 874;
    case 238:
      return 1250;
    case 255:
      return 437;
    default:
      return 0;
  }
}

// Destinations whose content is not text of the document.
bool skipped_destination(std::string_view word) {
  static constexpr std::string_view words[] = {"annotation",
                                               "atnauthor",
                                               "atndate",
                                               "author",
                                               "buptim",
                                               "comment",
                                               "company",
                                               "creatim",
                                               "datafield",
                                               "do",
                                               "doccomm",
                                               "docvar",
                                               "fldinst",
                                               "filetbl",
                                               "footer",
                                               "footerf",
                                               "footerl",
                                               "footerr",
                                               "footnote",
                                               "ftncn",
                                               "ftnsep",
                                               "ftnsepc",
                                               "header",
                                               "headerf",
                                               "headerl",
                                               "headerr",
                                               "info",
                                               "keywords",
                                               "listtable",
                                               "listoverridetable",
                                               "nonshppict",
                                               "object",
                                               "operator",
                                               "pict",
                                               "printim",
                                               "private",
                                               "revtbl",
                                               "revtim",
                                               "rsidtbl",
                                               "stylesheet",
                                               "subject",
                                               "tc",
                                               "title",
                                               "txe",
                                               "xe",
                                               "xmlnstbl",
                                               "generator",
                                               "themedata",
                                               "colorschememapping",
                                               "datastore",
                                               "latentstyles",
                                               "pgdsctbl",
                                               "mmathPr",
                                               "userprops",
                                               "bkmkstart",
                                               "bkmkend",
                                               "shpinst",
                                               "sp",
                                               "sn",
                                               "sv",
                                               "objdata"};
  return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

struct CharProps {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  int font = -1;  // -1: the document's default font
  int half_points = default_half_points;
  int foreground = 0;  // colour table index; 0 or a missing entry: automatic
  int background = 0;
  bool operator==(const CharProps &) const = default;
};

enum class Dest { Text, Skip, FontTable, ColorTable };

struct State {
  CharProps chars;
  Qt::Alignment align = Qt::AlignLeft;
  int uc = 1;  // bytes of fallback text after each \u
  Dest dest = Dest::Text;
};

struct FontEntry {
  QByteArray name;  // bytes of the name read so far, until its ";"
  QString decoded;  // the part of the name before a \u in it
  QString family;
  int code_page = 0;
};

class Reader {
 public:
  Reader(const QByteArray &rtf, QTextDocument &document)
      : at_(rtf.constData()), end_(rtf.constData() + rtf.size()), cursor_(&document) {}

  void run() {
    while (at_ < end_) {
      char c = *at_++;
      switch (c) {
        case '{':
          open_group();
          break;
        case '}':
          close_group();
          break;
        case '\\':
          control();
          break;
        case '\r':
        case '\n':
          break;  // line ends in RTF source are not text
        default:
          // Other control characters are noise; a literal tab is a tab.
          if (static_cast<unsigned char>(c) >= 0x20 || c == '\t')
            text_byte(c);
          break;
      }
    }
    // Input that ends inside a skipped group or a table ends its last paragraph with the
    // text's own state.
    while (state_.dest != Dest::Text && !stack_.empty()) {
      state_ = stack_.back();
      stack_.pop_back();
    }
    end_paragraph(false);
  }

 private:
  void open_group() {
    flush();
    skip_fallback_ = 0;
    if (stack_.size() >= max_depth) {
      ++overflow_;
      return;
    }
    stack_.push_back(state_);
  }

  void close_group() {
    flush();
    skip_fallback_ = 0;
    if (overflow_ > 0) {
      --overflow_;
      return;
    }
    if (stack_.empty())
      return;  // an extra "}": nothing to close
    finish_table_entry();
    state_ = stack_.back();
    stack_.pop_back();
  }

  void control() {
    if (at_ >= end_)
      return;
    char c = *at_;
    if (is_letter(c)) {
      control_word();
      return;
    }
    ++at_;
    if (c == '\'') {
      int value = 0;
      for (int i = 0; i < 2; ++i) {
        int digit = at_ < end_ ? hex_value(*at_) : -1;
        if (digit < 0)
          return;  // a truncated escape stands for nothing
        value = value * 16 + digit;
        ++at_;
      }
      if (consume_fallback())
        return;
      text_byte(static_cast<char>(value), true);
      return;
    }
    if (consume_fallback())
      return;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        text_byte(c);
        break;
      case '~':
        text_char(QChar(0x00A0));
        break;
      case '_':
        text_char(QChar(0x2011));
        break;
      case '*':
        state_.dest = Dest::Skip;
        break;
      case '\r':
      case '\n':
        end_paragraph(true);
        break;
      default:
        break;  // optional hyphen, formula and index marks: nothing to show
    }
  }

  void control_word() {
    std::string word;
    while (at_ < end_ && is_letter(*at_)) {
      if (word.size() < max_word)
        word.push_back(*at_);
      ++at_;
    }
    bool has_param = false;
    bool negative = false;
    int64_t param = 0;
    if (at_ < end_ && *at_ == '-' && at_ + 1 < end_ && is_digit(at_[1])) {
      negative = true;
      ++at_;
    }
    int digits = 0;
    while (at_ < end_ && is_digit(*at_)) {
      if (digits++ < max_digits)
        param = param * 10 + (*at_ - '0');
      ++at_;
      has_param = true;
    }
    param = std::min<int64_t>(param, INT32_MAX);
    if (negative)
      param = -param;
    if (at_ < end_ && *at_ == ' ')
      ++at_;
    if (word == "bin") {
      // Binary data follows; it is never text, whatever bytes it holds.
      int64_t skip = std::clamp<int64_t>(param, 0, end_ - at_);
      at_ += skip;
      return;
    }
    if (consume_fallback())
      return;
    apply(word, has_param, static_cast<int>(param));
  }

  void apply(const std::string &word, bool has_param, int param) {
    const std::string_view w = word;
    if (state_.dest == Dest::Skip)
      return;
    if (w == "fonttbl") {
      flush();
      state_.dest = Dest::FontTable;
      return;
    }
    if (w == "colortbl") {
      flush();
      state_.dest = Dest::ColorTable;
      colors_.clear();
      color_ = {};
      return;
    }
    if (skipped_destination(w)) {
      flush();
      state_.dest = Dest::Skip;
      return;
    }
    // Unicode characters and their fallback count hold in the font table too.
    if (w == "uc") {
      state_.uc = std::clamp(param, 0, 16);
      return;
    }
    if (w == "u") {
      if (has_param)
        unicode(param);
      return;
    }
    if (state_.dest == Dest::FontTable) {
      if (w == "f") {
        finish_table_entry();
        font_number_ = param;
        fonts_[font_number_];
      } else if (w == "fcharset") {
        fonts_[font_number_].code_page = charset_code_page(param);
      } else if (w == "cpg") {
        fonts_[font_number_].code_page = param;
      }
      return;
    }
    if (state_.dest == Dest::ColorTable) {
      int component = std::clamp(param, 0, 255);
      if (w == "red")
        color_.red = component, color_.set = true;
      else if (w == "green")
        color_.green = component, color_.set = true;
      else if (w == "blue")
        color_.blue = component, color_.set = true;
      return;
    }

    // Document properties.
    if (w == "ansi")
      code_page_ = 1252;
    else if (w == "mac")
      code_page_ = 10000;
    else if (w == "pc")
      code_page_ = 437;
    else if (w == "pca")
      code_page_ = 850;
    else if (w == "ansicpg" && has_param && param > 0)
      code_page_ = param;
    else if (w == "deff")
      default_font_ = param;
    // Paragraphs.
    else if (w == "par" || w == "sect" || w == "page" || w == "row")
      end_paragraph(true);
    else if (w == "pard")
      set_align(Qt::AlignLeft);
    else if (w == "ql")
      set_align(Qt::AlignLeft);
    else if (w == "qc")
      set_align(Qt::AlignHCenter);
    else if (w == "qr")
      set_align(Qt::AlignRight);
    else if (w == "qj")
      set_align(Qt::AlignJustify);
    else if (w == "line")
      text_char(QChar::LineSeparator);
    else if (w == "tab" || w == "cell")
      text_char(u'\t');
    // Characters.
    else if (w == "plain") {
      CharProps plain;
      plain.font = default_font_;
      set_chars(plain);
    } else if (w == "b")
      update_chars([&](CharProps &p) { p.bold = !has_param || param != 0; });
    else if (w == "i")
      update_chars([&](CharProps &p) { p.italic = !has_param || param != 0; });
    else if (w == "strike" || w == "striked")
      update_chars([&](CharProps &p) { p.strike = !has_param || param != 0; });
    else if (w == "ulnone")
      update_chars([&](CharProps &p) { p.underline = false; });
    else if (w.starts_with("ul") && w != "ulc")
      update_chars([&](CharProps &p) { p.underline = !has_param || param != 0; });
    else if (w == "cf")
      update_chars([&](CharProps &p) { p.foreground = param; });
    else if (w == "highlight" || w == "cb" || w == "chcbpat")
      update_chars([&](CharProps &p) { p.background = param; });
    else if (w == "fs")
      update_chars(
          [&](CharProps &p) { p.half_points = param > 0 ? std::min(param, 3276) : default_half_points; });
    else if (w == "f")
      update_chars([&](CharProps &p) { p.font = param; });
    else if (w == "emdash")
      text_char(QChar(0x2014));
    else if (w == "endash")
      text_char(QChar(0x2013));
    else if (w == "emspace")
      text_char(QChar(0x2003));
    else if (w == "enspace")
      text_char(QChar(0x2002));
    else if (w == "bullet")
      text_char(QChar(0x2022));
    else if (w == "lquote")
      text_char(QChar(0x2018));
    else if (w == "rquote")
      text_char(QChar(0x2019));
    else if (w == "ldblquote")
      text_char(QChar(0x201C));
    else if (w == "rdblquote")
      text_char(QChar(0x201D));
  }

  template <class F>
  void update_chars(F change) {
    CharProps props = state_.chars;
    change(props);
    set_chars(props);
  }

  void set_chars(const CharProps &props) {
    if (props == state_.chars)
      return;
    flush();
    state_.chars = props;
  }

  void set_align(Qt::Alignment align) { state_.align = align; }

  void unicode(int value) {
    // Values above 32767 are written negative; the number is one UTF-16 code unit. A number
    // that is neither stands for a character nobody can know.
    auto unit = value < -32768 || value > 65535
                    ? char16_t(QChar::ReplacementCharacter)
                    : static_cast<char16_t>(static_cast<uint32_t>(value) & 0xFFFF);
    if (unit != 0)
      text_char(QChar(unit));
    skip_fallback_ = state_.uc;
  }

  // True while the fallback of a \u is being passed over (one byte, escape or control per
  // count); a group boundary ends the fallback early.
  bool consume_fallback() {
    if (skip_fallback_ == 0)
      return false;
    --skip_fallback_;
    return true;
  }

  void text_byte(char c, bool escaped = false) {
    if (!escaped && consume_fallback())
      return;
    switch (state_.dest) {
      case Dest::Skip:
        return;
      case Dest::FontTable:
        if (c == ';')
          finish_table_entry();
        else
          fonts_[font_number_].name.append(c);
        return;
      case Dest::ColorTable:
        if (c == ';') {
          colors_.push_back(color_.set ? QColor(color_.red, color_.green, color_.blue) : QColor());
          color_ = {};
        }
        return;
      case Dest::Text:
        pending_bytes_.append(c);
        return;
    }
  }

  void text_char(QChar c) {
    if (state_.dest == Dest::FontTable) {
      FontEntry &font = fonts_[font_number_];
      font.decoded += decode(font.name, font.code_page > 0 ? font.code_page : 1252) + c;
      font.name.clear();
      return;
    }
    if (state_.dest != Dest::Text)
      return;
    decode_pending_bytes();
    pending_text_.append(c);
  }

  void decode_pending_bytes() {
    if (pending_bytes_.isEmpty())
      return;
    pending_text_ += decode(pending_bytes_, font_code_page(state_.chars.font));
    pending_bytes_.clear();
  }

  int font_code_page(int font) const {
    auto found = fonts_.find(font < 0 ? default_font_ : font);
    if (found != fonts_.end() && found->second.code_page > 0)
      return found->second.code_page;
    return code_page_;
  }

  void finish_table_entry() {
    if (state_.dest != Dest::FontTable)
      return;
    auto found = fonts_.find(font_number_);
    if (found == fonts_.end() || (found->second.name.isEmpty() && found->second.decoded.isEmpty()))
      return;
    FontEntry &font = found->second;
    // A name is one line of text: tabs and line breaks in it are noise.
    font.family = shown_text(font.decoded + decode(font.name, font.code_page > 0 ? font.code_page : 1252))
                      .remove(QChar('\t'))
                      .remove(QChar(QChar::LineSeparator))
                      .trimmed();
    font.name.clear();
    font.decoded.clear();
  }

  // Inserts the collected text with the format it was collected under.
  void flush() {
    decode_pending_bytes();
    if (pending_text_.isEmpty())
      return;
    QString text = shown_text(pending_text_);
    if (!text.isEmpty())
      cursor_.insertText(text, char_format(state_.chars));
    pending_text_.clear();
    paragraph_has_text_ = true;
  }

  // What of `text` is shown: control characters (reachable through escapes) are dropped,
  // as are the characters the text document reserves for its own structure, since inserting
  // them would split paragraphs or open frames; a lone half of a surrogate pair (a cut \u
  // pair) becomes the replacement character.
  static QString shown_text(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
      QChar c = text[i];
      char16_t u = c.unicode();
      if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        out += c;
        out += text[++i];
      } else if (c.isSurrogate()) {
        out += QChar(QChar::ReplacementCharacter);
      } else if (u == QChar::ParagraphSeparator) {
        out += QChar(QChar::LineSeparator);
      } else if ((u >= 0x20 && u != 0x7F && u != QChar::ObjectReplacementCharacter && u != 0xFDD0 &&
                  u != 0xFDD1) ||
                 u == '\t') {
        out += c;
      }
    }
    return out;
  }

  QTextCharFormat char_format(const CharProps &props) const {
    QTextCharFormat format;
    auto font = fonts_.find(props.font < 0 ? default_font_ : props.font);
    if (font != fonts_.end() && !font->second.family.isEmpty())
      format.setFontFamilies({font->second.family});
    format.setFontPointSize(props.half_points / 2.0);
    format.setFontWeight(props.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(props.italic);
    format.setFontUnderline(props.underline);
    format.setFontStrikeOut(props.strike);
    if (QColor c = table_color(props.foreground); c.isValid())
      format.setForeground(c);
    if (QColor c = table_color(props.background); c.isValid())
      format.setBackground(c);
    return format;
  }

  QColor table_color(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= colors_.size())
      return {};
    return colors_[static_cast<size_t>(index)];
  }

  // Ends the current paragraph with the alignment in force. At the end of the input an
  // unterminated paragraph counts only when it has text, so that a final \par does not
  // leave an empty line behind.
  void end_paragraph(bool new_paragraph) {
    if (state_.dest != Dest::Text)
      return;
    flush();
    QTextBlockFormat block = cursor_.blockFormat();
    block.setAlignment(state_.align);
    if (!new_paragraph) {
      if (!paragraph_has_text_ && paragraphs_ > 0) {
        // Dropping the separator of the empty last block merges it into the paragraph the
        // final \par ended, and the merged block must keep that paragraph's look.
        const QTextBlockFormat ended = cursor_.block().previous().blockFormat();
        cursor_.deletePreviousChar();
        cursor_.setBlockFormat(ended);
        return;
      }
      cursor_.setBlockFormat(block);
      return;
    }
    cursor_.setBlockFormat(block);
    cursor_.insertBlock(QTextBlockFormat(), char_format(state_.chars));
    ++paragraphs_;
    paragraph_has_text_ = false;
  }

  static bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static int hex_value(char c) {
    if (c >= '0' && c <= '9')
      return c - '0';
    if (c >= 'a' && c <= 'f')
      return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
      return c - 'A' + 10;
    return -1;
  }

  struct PendingColor {
    int red = 0, green = 0, blue = 0;
    bool set = false;
  };

  const char *at_;
  const char *end_;
  QTextCursor cursor_;
  State state_;
  std::vector<State> stack_;
  size_t overflow_ = 0;
  int skip_fallback_ = 0;
  int code_page_ = 1252;
  int default_font_ = 0;
  std::map<int, FontEntry> fonts_;
  int font_number_ = 0;
  std::vector<QColor> colors_;
  PendingColor color_;
  QByteArray pending_bytes_;
  QString pending_text_;
  bool paragraph_has_text_ = false;
  int paragraphs_ = 0;
};

}  // namespace

bool read_rtf(const QByteArray &rtf, QTextDocument &document) {
  document.clear();
  Reader(rtf, document).run();
  return rtf.startsWith("{\\rtf");
}
