#pragma once

// Texts as the tests write and read them: readable failure output for texts and lists of
// texts, and a text's bytes in a chosen encoding and with its own line ends.

#include <QStringEncoder>
#include <QStringList>
#include <ostream>

#include "core/TextFile.h"

// Readable failure output for texts and lists of texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (const QString& s : l) *os << "\n  \"" << s.toStdString() << '"';
    *os << " }";
}

// `text` as it stands (its line ends included) in an encoding, led by the encoding's
// byte-order mark when `bom` is set. Windows-1251 is spelled out here for the letters the
// tests use, so the fixtures do not depend on the conversion under test.
inline QByteArray Bytes(const QString& text, TextEncoding enc, bool bom = true) {
    switch (enc) {
        case TextEncoding::Utf8:
            return (bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + text.toUtf8();
        case TextEncoding::Utf16LE: {
            QStringEncoder e(QStringConverter::Utf16LE);
            return (bom ? QByteArray("\xFF\xFE") : QByteArray()) + QByteArray(e.encode(text));
        }
        case TextEncoding::Utf16BE: {
            QStringEncoder e(QStringConverter::Utf16BE);
            return (bom ? QByteArray("\xFE\xFF") : QByteArray()) + QByteArray(e.encode(text));
        }
        case TextEncoding::Ansi:
            break;
    }
    QByteArray out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            out += char(u);
        else if (u >= 0x410 && u <= 0x44F)  // А..я
            out += char(0xC0 + (u - 0x410));
        else if (u == 0x401)  // Ё
            out += char(0xA8);
        else if (u == 0x451)  // ё
            out += char(0xB8);
        else
            out += '?';
    }
    return out;
}

// Lines joined with CR LF after every line, as the tool writes them.
inline QString CrLf(const QStringList& lines) {
    QString s;
    for (const QString& l : lines) s += l + QStringLiteral("\r\n");
    return s;
}
