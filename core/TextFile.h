#pragma once

// Text files read as lists of lines and written back: the menu files, "data\menu.txt" and the
// project files.
//  - Encoding by byte-order mark: EF BB BF UTF-8, FF FE UTF-16LE, FE FF UTF-16BE; without one,
//    the system's ANSI code page. The mark is not part of the first line.
//  - Lines end at CR LF, lone CR or lone LF; a final terminator makes no empty last line.
//  - Writing puts the encoding's mark first (none for ANSI), then every line followed by CR LF.
//    Characters the ANSI code page lacks become its default character.

#include <QByteArray>
#include <QString>
#include <QStringList>

enum class TextEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct TextLines {
    QStringList lines;
    TextEncoding encoding = TextEncoding::Ansi;  // found by the latest read; used by writes
};

TextLines DecodeText(const QByteArray& bytes);
QByteArray EncodeText(const TextLines& text);

// Whole-file forms. Read failures raise "Cannot open file \"%s\". %s"; a write goes through a
// temporary file that replaces the old one in one step and raises
// "Cannot create file \"%s\". %s" on failure.
TextLines ReadTextFile(const QString& path);
void WriteTextFile(const QString& path, const TextLines& text);

// Splits text at CR LF, lone CR and lone LF; a final terminator makes no empty last line.
QStringList SplitLines(const QString& text);

// The ANSI code page as QString <-> bytes.
QString AnsiToString(const QByteArray& bytes);
QByteArray StringToAnsi(const QString& text);
