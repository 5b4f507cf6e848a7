// The RTF reader on arbitrary bytes (the rich-text label's input): no crash, no hang, and
// whatever it reads survives the writer: reading back what the writer made of a document
// gives the same characters with the same look.
#include "fuzz/fuzzutil.h"
#include "widgets/lists/rtfreader.h"
#include "widgets/lists/rtfwriter.h"

#include <QTextBlock>
#include <QTextDocument>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using namespace fuzzutil;

namespace {

// Per character: the character and how it looks. A family equal to the document's default
// looks like no family at all, so both read as none.
std::vector<std::string> looks(const QTextDocument &document) {
  std::vector<std::string> out;
  const QString base = document.defaultFont().family();
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    std::string align = std::to_string(int(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask));
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      QTextCharFormat f = it.fragment().charFormat();
      QStringList families = f.fontFamilies().toStringList();
      QString family = families.isEmpty() || families.first() == base ? QString() : families.first();
      std::string look =
          align + (f.fontWeight() >= QFont::DemiBold ? "b" : "") + (f.fontItalic() ? "i" : "") +
          (f.fontUnderline() ? "u" : "") + (f.fontStrikeOut() ? "s" : "") + " " +
          std::to_string(f.fontPointSize()) + " " + family.toStdString() + " " +
          (f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color().name().toStdString() : "-") +
          " " +
          (f.hasProperty(QTextFormat::BackgroundBrush) ? f.background().color().name().toStdString() : "-");
      for (QChar c : it.fragment().text())
        out.push_back(QString(c).toStdString() + "|" + look);
    }
    out.push_back("\n" + align);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  start_qt();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  QByteArray rtf(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
  QTextDocument first;
  read_rtf(rtf, first);
  QByteArray written = write_rtf(first);
  QTextDocument second;
  check(read_rtf(written, second), "the writer wrote no RTF header");
  const std::vector<std::string> before = looks(first), after = looks(second);
  if (before != after) {
    // Say where: the first character whose look differs, so a crash report explains itself.
    size_t i = 0;
    while (i < before.size() && i < after.size() && before[i] == after[i])
      ++i;
    std::fprintf(stderr, "at character %zu of %zu/%zu: [%s] became [%s]\n", i, before.size(), after.size(),
                 i < before.size() ? before[i].c_str() : "(end)",
                 i < after.size() ? after[i].c_str() : "(end)");
    std::fprintf(stderr, "written: %s\n", written.constData());
  }
  check(before == after, "a document changed on its way through the writer");
  return 0;
}
