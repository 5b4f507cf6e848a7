// Writes a QTextDocument as RTF that read_rtf (and word processors) read back with the same
// text, fonts, sizes, colours, bold/italic/underline/strike and paragraph alignment.
#pragma once

#include <QByteArray>

class QTextDocument;

// The whole document as one RTF group. Text outside ASCII is written as \u escapes with a
// "?" fallback, so the result is plain 7-bit text whatever the document holds.
QByteArray write_rtf(const QTextDocument &document);
