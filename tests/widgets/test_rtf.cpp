// The RTF reader and writer: documents made by real tools (pandoc, GNU enscript), every
// control word the reader knows, damaged input, and the round trip through the writer.
#include "widgets/lists/rtfreader.h"
#include "widgets/lists/rtfwriter.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <gtest/gtest.h>

#include <string>

namespace {

// The document as text with its formats: paragraphs joined by " / ", each opened by its
// alignment when not left ("<c>", "<r>", "<j>"), runs as text followed by their non-default
// attributes in brackets: b i u s, fg/bg colours, font family unless it is the document's
// default one (which looks the same), point size when not 12.
std::string runs(const QTextDocument &document) {
  std::string out;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    if (block != document.begin())
      out += " / ";
    Qt::Alignment align = block.blockFormat().alignment();
    if (align & Qt::AlignHCenter)
      out += "<c>";
    else if (align & Qt::AlignJustify)
      out += "<j>";
    else if (align & Qt::AlignRight)
      out += "<r>";
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      QTextFragment fragment = it.fragment();
      QTextCharFormat f = fragment.charFormat();
      QString text = fragment.text();
      text.replace(QChar::LineSeparator, QLatin1String("<br>"));
      out += text.toStdString();
      std::string attrs;
      auto add = [&](const std::string &a) { attrs += (attrs.empty() ? "" : " ") + a; };
      if (f.fontWeight() >= QFont::DemiBold)
        add("b");
      if (f.fontItalic())
        add("i");
      if (f.fontUnderline())
        add("u");
      if (f.fontStrikeOut())
        add("s");
      if (f.hasProperty(QTextFormat::ForegroundBrush))
        add("fg=" + f.foreground().color().name().toStdString());
      if (f.hasProperty(QTextFormat::BackgroundBrush))
        add("bg=" + f.background().color().name().toStdString());
      QStringList families = f.fontFamilies().toStringList();
      if (!families.isEmpty() && families.first() != document.defaultFont().family())
        add("f=" + families.first().toStdString());
      if (f.fontPointSize() > 0 && f.fontPointSize() != 12)
        add("pt=" + QString::number(f.fontPointSize()).toStdString());
      if (!attrs.empty())
        out += "[" + attrs + "]";
      out += "|";
    }
  }
  return out;
}

// The paragraphs' text as stored (line breaks inside a paragraph stay U+2028).
QStringList paragraphs(const QTextDocument &document) {
  QStringList out;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
    out << block.text();
  return out;
}

std::string read(const QByteArray &rtf) {
  QTextDocument document;
  read_rtf(rtf, document);
  return runs(document);
}

struct RtfRow {
  const char *name;
  const char *rtf;
  const char *runs;
  friend void PrintTo(const RtfRow &r, std::ostream *os) { *os << r.name; }
};

class RtfControlWords : public ::testing::TestWithParam<RtfRow> {};

TEST_P(RtfControlWords, ReadAsTextAndFormats) { EXPECT_EQ(read(GetParam().rtf), GetParam().runs); }

// The writer must carry everything the reader understood: reading what it wrote gives the
// same text and formats.
TEST_P(RtfControlWords, SurviveTheWriter) {
  QTextDocument first;
  read_rtf(GetParam().rtf, first);
  QByteArray written = write_rtf(first);
  EXPECT_EQ(read(written), runs(first)) << written.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RtfControlWords,
    ::testing::Values(
        RtfRow{"bold_italic_underline_strike",
               R"({\rtf1 a\b b\b0 c\i d\i0\ul e\ulnone\strike f\strike0 g\ul0 h})",
               "a|b[b]|c|d[i]|e[u]|f[s]|gh|"},
        RtfRow{"group_restores_format", R"({\rtf1 x{\b\i y}z})", "x|y[b i]|z|"},
        RtfRow{"plain_resets", R"({\rtf1\b\i\ul a\plain b})", "a[b i u]|b|"},
        RtfRow{
            "colours_from_the_table",
            R"({\rtf1{\colortbl;\red255\green0\blue0;\red0\green0\blue255;}\cf1 r\cf2 b\cf0 a\highlight2 h\cb1 c})",
            "r[fg=#ff0000]|b[fg=#0000ff]|a|h[bg=#0000ff]|c[bg=#ff0000]|"},
        RtfRow{"colour_index_outside_the_table", R"({\rtf1{\colortbl;\red1\green2\blue3;}\cf7 x\cf-1 y})",
               "xy|"},
        RtfRow{
            "fonts_and_sizes",
            R"({\rtf1\deff1{\fonttbl{\f0\froman Times New Roman;}{\f1\fswiss\fcharset0 Arial;}}a\f0\fs16 b\fs0 c})",
            "a[f=Arial]|b[f=Times New Roman pt=8]|c[f=Times New Roman]|"},
        RtfRow{"font_table_without_groups", R"({\rtf1{\fonttbl\f0\fnil Mono;\f1\fnil Sans;}\f1 s})",
               "s[f=Sans]|"},
        RtfRow{"font_name_with_unicode", R"({\rtf1{\fonttbl{\f0\fnil Caf\u233?\'e9;}}\f0 x})",
               "x[f=Caf\u00e9\u00e9]|"},
        RtfRow{"font_name_without_control_characters_or_tabs", "{\\rtf1{\\fonttbl{\\f0 A\\u2?B\tC;}}\\f0 x}",
               "x[f=ABC]|"},
        RtfRow{"font_table_skips_panose_and_alternates",
               R"({\rtf1{\fonttbl{\f0\froman{\*\panose 02020603050405020304}Times{\*\falt Tms};}}\f0 t})",
               "t[f=Times]|"},
        RtfRow{"alignments_apply_to_their_paragraph",
               R"({\rtf1\ql l\par\qc c\par\qr r\par\qj j\par\pard p\par})",
               "l| / <c>c| / <r>r| / <j>j| / p|"},
        RtfRow{"paragraph_properties_in_a_group", R"({\rtf1{\pard\qc a\par}b\par})", "<c>a| / b|"},
        RtfRow{"final_par_keeps_its_paragraphs_alignment", R"({\rtf1\qc a\par})", "<c>a|"},
        RtfRow{"unclosed_empty_paragraph_keeps_its_alignment", R"({\rtf1\qr)", "<r>"},
        RtfRow{"line_and_tab", R"({\rtf1 a\line b\tab c})", "a<br>b\tc|"},
        RtfRow{"empty_paragraph_kept_trailing_par_dropped", R"({\rtf1 a\par\par b\par})", "a| /  / b|"},
        RtfRow{"escaped_braces_and_backslash", R"({\rtf1 \{x\}\\})", "{x}\\|"},
        RtfRow{"symbols", R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote\~.})",
               "\u2014\u2013\u2022\u2018\u2019\u201c\u201d\u00a0.|"},
        RtfRow{"hex_escapes_in_cp1252", R"({\rtf1\ansi caf\'e9 \'80\'96\'93})",
               "caf\u00e9 \u20ac\u2013\u201c|"},
        RtfRow{"hex_escapes_in_the_declared_code_page", R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})",
               "\u041f\u0440\u0438|"},
        RtfRow{
            "font_charset_wins_over_document_code_page",
            R"({\rtf1\ansi\ansicpg1252{\fonttbl{\f0 Arial;}{\f1\fcharset204 Arial Cyr;}}\f1 \'cf\f0 \'cf})",
            "\u041f[f=Arial Cyr]|\u00cf[f=Arial]|"},
        RtfRow{"double_byte_code_page", R"({\rtf1\ansi\ansicpg932 \'82\'a0})", "\u3042|"},
        RtfRow{"raw_8bit_text", "{\\rtf1\\ansi caf\xe9}", "caf\u00e9|"},
        RtfRow{"unicode_with_fallback", R"({\rtf1\uc1\u233?\u8364 ?x})", "\u00e9\u20acx|"},
        RtfRow{"unicode_fallback_counts_escapes", R"({\rtf1\uc2\u26085\'93\'fa!\uc0\u26412 .})",
               "\u65e5!\u672c.|"},
        RtfRow{"unicode_negative_and_surrogates", R"({\rtf1\u-4064?\u-10179?\u-8694?})", "\uf020\U0001f60a|"},
        RtfRow{"lone_surrogate_replaced", R"({\rtf1 a\u-10179?b})", "a\ufffdb|"},
        RtfRow{"uc_is_scoped_to_its_group", R"({\rtf1{\uc3\u233 abc}\u233 de})", "\u00e9\u00e9e|"},
        RtfRow{"fallback_ends_at_a_group", R"({\rtf1\uc3\u233{x}y})", "\u00e9xy|"},
        RtfRow{
            "skipped_destinations",
            R"({\rtf1{\info{\title T}{\author A}}{\stylesheet{\s0 Normal;}}{\*\generator Gen;}{\pict\wmetafile8 0102}{\header H}a{\*\bkmkstart m}b{\footnote F}})",
            "ab|"},
        RtfRow{"field_shows_its_result",
               R"({\rtf1{\field{\*\fldinst{HYPERLINK "http://x"}}{\fldrslt{\ul link}}}})", "link[u]|"},
        RtfRow{"unknown_control_words_ignored",
               R"({\rtf1\viewkind4\sa180\li360\fi-360\tx360\zork12 a\outlinelevel0 b})", "ab|"},
        RtfRow{"binary_data_is_never_text", "{\\rtf1 a{\\*\\blipuid x}\\bin4 }{\\x b}", "a b|"},
        RtfRow{"source_line_ends_are_not_text", "{\\rtf1 a\r\nb\\\r\nc}", "ab| / c|"},
        RtfRow{"no_header_reads_as_text", "just text", "just text|"}),
    [](const auto &row) { return std::string(row.param.name); });

struct DamagedRow {
  const char *name;
  std::string rtf;
  const char *text;
  friend void PrintTo(const DamagedRow &r, std::ostream *os) { *os << r.name; }
};

class RtfDamaged : public ::testing::TestWithParam<DamagedRow> {};

// Damaged documents give the text that could be read, in bounded time, without a crash.
TEST_P(RtfDamaged, GivesWhatCanBeRead) {
  QTextDocument document;
  read_rtf(QByteArray::fromStdString(GetParam().rtf), document);
  EXPECT_EQ(document.toPlainText().toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RtfDamaged,
    ::testing::Values(
        DamagedRow{"missing_closing_braces", R"({\rtf1 a{\b b{\i c)", "abc"},
        DamagedRow{"extra_closing_braces", R"({\rtf1 a}}}b})", "ab"},
        DamagedRow{"truncated_hex_escape", R"({\rtf1 a\'4)", "a"},
        DamagedRow{"hex_escape_with_bad_digits", R"({\rtf1 a\'zzb})", "azzb"},
        DamagedRow{"backslash_at_the_end", "{\\rtf1 a\\", "a"},
        DamagedRow{"huge_parameters", R"({\rtf1\fs99999999999999999999 a\u99999999999999 b\uc99999 c})",
                   "a\xef\xbf\xbd"
                   "c"},
        DamagedRow{"huge_bin_length", R"({\rtf1 a\bin9999999999 bbbb})", "a"},
        DamagedRow{"negative_bin_length", R"({\rtf1 a\bin-5 b})", "ab"},
        DamagedRow{"endless_control_word", "{\\rtf1 a\\" + std::string(100000, 'x') + " b}", "ab"},
        DamagedRow{"deep_nesting", "{\\rtf1 " + std::string(200000, '{') + "x" + std::string(10, '}'), "x"},
        DamagedRow{"nul_bytes", std::string("{\\rtf1 a\0b}", 11), "ab"},
        DamagedRow{"colour_table_never_closed", R"({\rtf1{\colortbl;\red300\green-4)", ""},
        DamagedRow{"font_table_entry_never_ended", R"({\rtf1{\fonttbl{\f0 Arial}}\f0 x})", "x"}),
    [](const auto &row) { return std::string(row.param.name); });

// ---- documents written by real tools ----

QByteArray run_tool(const QString &program, const QStringList &args, const QByteArray &input) {
  QString path = QStandardPaths::findExecutable(program);
  if (path.isEmpty())
    return {};
  QProcess process;
  process.start(path, args);
  process.write(input);
  process.closeWriteChannel();
  if (!process.waitForFinished(60000) || process.exitCode() != 0)
    return {};
  return process.readAllStandardOutput();
}

TEST(RtfFromRealTools, PandocDocument) {
  const QByteArray markdown =
      "Plain **bold** *italic* ~~gone~~ caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80 {braces} "
      "\\\\back\n\n"
      "Second\\\nline\n\n- one\n- two\n";
  QByteArray rtf = run_tool("pandoc", {"-s", "-f", "markdown", "-t", "rtf"}, markdown);
  ASSERT_FALSE(rtf.isEmpty()) << "pandoc is missing or failed (scripts/setup.sh installs it)";
  QTextDocument document;
  EXPECT_TRUE(read_rtf(rtf, document));
  EXPECT_EQ(paragraphs(document),
            QStringList({QString::fromUtf8("Plain bold italic gone caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac "
                                           "\xf0\x9f\x98\x80 {braces} \\back"),
                         QString("Second") + QChar::LineSeparator + "line", "\u2022\tone", "\u2022\ttwo"}))
      << rtf.toStdString();
  std::string formats = runs(document);
  EXPECT_NE(formats.find("bold[b f=Helvetica]|"), std::string::npos) << formats;
  EXPECT_NE(formats.find("italic[i f=Helvetica]|"), std::string::npos) << formats;
  EXPECT_NE(formats.find("gone[s f=Helvetica]|"), std::string::npos) << formats;
}

TEST(RtfFromRealTools, EnscriptHighlightedSource) {
  const QByteArray source = "/* note */\nint main(void) {\n\treturn 0; /* caf\xe9 */\n}\n";
  QByteArray rtf =
      run_tool("enscript", {"-q", "--language=rtf", "--highlight=c", "--color", "-o", "-"}, source);
  ASSERT_FALSE(rtf.isEmpty()) << "enscript is missing or failed (scripts/setup.sh installs it)";
  QTextDocument document;
  read_rtf(rtf, document);
  EXPECT_EQ(paragraphs(document).join('\n'),
            QString::fromUtf8("/* note */\u2028int main(void) {\u2028\treturn 0; "
                              "/* caf\xc3\xa9 */\u2028}\u2028"));
  // Emacs' colours, which enscript's highlighting uses: comments firebrick and italic,
  // types forest green and bold, keywords purple and bold.
  std::string formats = runs(document);
  EXPECT_NE(formats.find("/* note */[i fg=#b22222 f=Courier New]|"), std::string::npos) << formats;
  EXPECT_NE(formats.find("int[b fg=#228b22 f=Courier New]|"), std::string::npos) << formats;
  EXPECT_NE(formats.find("return[b fg=#a020f0 f=Courier New]|"), std::string::npos) << formats;
}

TEST(RtfFromRealTools, PandocReadsWhatWeWrite) {
  QTextDocument document;
  read_rtf(R"({\rtf1{\fonttbl{\f0 Arial;}}\f0 Plain {\b bold} {\i italic} caf\u233? \{x\}\par Next\par})",
           document);
  QByteArray written = write_rtf(document);
  QByteArray markdown = run_tool("pandoc", {"-f", "rtf", "-t", "markdown", "--wrap=none"}, written);
  ASSERT_FALSE(markdown.isEmpty()) << "pandoc is missing or failed to read " << written.toStdString();
  EXPECT_EQ(markdown.trimmed().toStdString(), "Plain **bold** *italic* caf\xc3\xa9 {x}\n\nNext");
}

}  // namespace
