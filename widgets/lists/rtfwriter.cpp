#include "widgets/lists/rtfwriter.h"

#include <QColor>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <cmath>
#include <vector>

namespace {

// Each distinct value gets a table index in order of first use.
template <class T>
int index_of(std::vector<T> &table, const T &value) {
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i] == value)
      return static_cast<int>(i);
  table.push_back(value);
  return static_cast<int>(table.size() - 1);
}

void append_text(QByteArray &out, const QString &text) {
  for (QChar c : text) {
    char16_t unit = c.unicode();
    if (unit == '\\' || unit == '{' || unit == '}') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit == '\t') {
      out += "\\tab ";
    } else if (unit == QChar::LineSeparator) {
      out += "\\line ";
    } else if (unit == 0x00A0) {
      out += "\\~";
    } else if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else if (unit >= 0x7F && unit != QChar::ObjectReplacementCharacter) {
      // RTF's \u takes a signed 16-bit number. The "?" for readers without Unicode is
      // written as an escape: some readers take a space after a literal "?" for part of it.
      out += "\\u" + QByteArray::number(static_cast<int16_t>(unit)) + "\\'3f";
    }
  }
}

const char *alignment_word(Qt::Alignment align) {
  if (align & Qt::AlignHCenter)
    return "\\qc";
  if (align & Qt::AlignJustify)
    return "\\qj";
  if (align & (Qt::AlignRight | Qt::AlignTrailing))
    return "\\qr";
  return "\\ql";
}

}  // namespace

QByteArray write_rtf(const QTextDocument &document) {
  const QFont base = document.defaultFont();
  std::vector<QString> fonts{base.family()};
  std::vector<QRgb> colors;
  QByteArray body;

  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    body += "\\pard";
    body += alignment_word(block.blockFormat().alignment());
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      QTextFragment fragment = it.fragment();
      if (!fragment.isValid())
        continue;
      QTextCharFormat format = fragment.charFormat();
      QStringList families = format.fontFamilies().toStringList();
      QString family = families.isEmpty() ? base.family() : families.first();
      double points = format.fontPointSize() > 0 ? format.fontPointSize() : base.pointSizeF();
      body += "\\plain\\f" + QByteArray::number(index_of(fonts, family));
      if (points > 0)
        body += "\\fs" + QByteArray::number(static_cast<int>(std::lround(points * 2)));
      if (format.fontWeight() >= QFont::DemiBold)
        body += "\\b";
      if (format.fontItalic())
        body += "\\i";
      if (format.fontUnderline())
        body += "\\ul";
      if (format.fontStrikeOut())
        body += "\\strike";
      // Colour table index 0 is "automatic"; real colours start at 1.
      if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush)
        body += "\\cf" + QByteArray::number(index_of(colors, format.foreground().color().rgb()) + 1);
      if (format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush)
        body += "\\highlight" + QByteArray::number(index_of(colors, format.background().color().rgb()) + 1);
      body += ' ';
      append_text(body, fragment.text());
    }
    body += "\\par\n";
  }

  QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl";
  for (size_t i = 0; i < fonts.size(); ++i) {
    out += "{\\f" + QByteArray::number(static_cast<int>(i)) + "\\fnil\\fcharset0 ";
    append_text(out, fonts[i]);
    out += ";}";
  }
  out += "}\n{\\colortbl ;";
  for (QRgb rgb : colors)
    out += "\\red" + QByteArray::number(qRed(rgb)) + "\\green" + QByteArray::number(qGreen(rgb)) + "\\blue" +
           QByteArray::number(qBlue(rgb)) + ';';
  out += "}\n" + body + "}";
  return out;
}
