// zevavi-skin's work: a theme folder (named bitmaps plus a key=value text) packed into a
// theme file, a theme file listed or unpacked back into a folder, and a built-in look written
// out as a folder to start a theme from.
//
// Folder layout: every "NAME.bmp" becomes the file record NAME; "theme.txt" holds the other
// records, one "NAME=VALUE" a line ('#' starts a comment line). The name's ending gives the
// kind: "...Bool" a flag (0, 1, true, false), "...Int" and "...Color" an integer (decimal,
// or 0x hex for colours 0x00BBGGRR), anything else a string ("\\n", "\\r" and "\\\\" stand
// for a line break, a return and a backslash). A "string:", "integer:" or "boolean:" before
// the name overrides the ending.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace skintool {

constexpr const char *values_file = "theme.txt";

// Each is false with `error` saying what and which when it fails; nothing is left half-made
// (the theme file or the folder appears whole or not at all).
bool pack(const QString &folder, const QString &theme_file, QString &error);
bool list(const QString &theme_file, QTextStream &out, QString &error);
bool unpack(const QString &theme_file, const QString &folder, QString &error);
// `look`: MacOS, WinXP, DeepBlue, Protein or BlueGlass (any letter case).
bool export_look(const QString &look, const QString &folder, QString &error);

// The command line (without the program name): 0 done, 1 failed, 2 misused.
int run(const QStringList &args, QTextStream &out, QTextStream &err);

}  // namespace skintool
