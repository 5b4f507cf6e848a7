// Reads an RTF document into a QTextDocument: the subset that word processors and rich-edit
// controls write for formatted text (fonts, colours, bold/italic/underline/strike, sizes,
// alignment, paragraphs, line breaks, tabs, 8-bit text in the declared code page, Unicode).
// Pictures, objects, style sheets, document information and every other destination are
// skipped; unknown control words are ignored.
#pragma once

#include <QByteArray>

class QTextDocument;

// Replaces the content of `document` with the text and formats of `rtf`. Damaged input
// (unbalanced braces, truncated escapes, absurd numbers, binary noise) gives whatever text
// could be read, never a crash or an endless loop; the time taken is linear in the input.
// Text with no RTF header is read the same way, which shows it as plain text.
// Returns false when `rtf` does not start with the RTF header "{\rtf".
bool read_rtf(const QByteArray &rtf, QTextDocument &document);
