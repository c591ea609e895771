#include "core/TextFile.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include "core/FileSystem.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"

QString AnsiToString(const QByteArray& bytes) {
    return platform::FromU16(platform::AnsiDecode(bytes.toStdString()));
}

QByteArray StringToAnsi(const QString& text) {
    return QByteArray::fromStdString(platform::AnsiEncode(platform::ToU16(text)));
}

QStringList SplitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines << text.mid(start, i - start);
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    if (start < n) lines << text.mid(start);
    return lines;
}

TextLines DecodeText(const QByteArray& bytes) {
    // Only the first mark names the encoding; a second one right after it is text (U+FEFF)
    // and stays, so reading and writing a file back gives the same bytes.
    const auto decode = [](QStringConverter::Encoding enc, const QByteArray& body) {
        QStringDecoder dec(
            enc, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        return QString(dec.decode(body));
    };
    TextLines out;
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        out.encoding = TextEncoding::Utf8;
        text = decode(QStringConverter::Utf8, bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE")) {
        out.encoding = TextEncoding::Utf16LE;
        text = decode(QStringConverter::Utf16LE, bytes.mid(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        out.encoding = TextEncoding::Utf16BE;
        text = decode(QStringConverter::Utf16BE, bytes.mid(2));
    } else {
        out.encoding = TextEncoding::Ansi;
        text = AnsiToString(bytes);
    }
    out.lines = SplitLines(text);
    return out;
}

QByteArray EncodeText(const TextLines& text) {
    QString body;
    qsizetype size = 0;
    for (const QString& line : text.lines) size += line.size() + 2;
    body.reserve(size);
    for (const QString& line : text.lines) {
        body += line;
        body += QStringLiteral("\r\n");
    }
    switch (text.encoding) {
        case TextEncoding::Utf8: {
            QStringEncoder enc(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            return QByteArray("\xEF\xBB\xBF") + QByteArray(enc.encode(body));
        }
        case TextEncoding::Utf16LE: {
            QStringEncoder enc(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
            return QByteArray("\xFF\xFE") + QByteArray(enc.encode(body));
        }
        case TextEncoding::Utf16BE: {
            QStringEncoder enc(QStringConverter::Utf16BE, QStringConverter::Flag::Stateless);
            return QByteArray("\xFE\xFF") + QByteArray(enc.encode(body));
        }
        case TextEncoding::Ansi:
            break;
    }
    return StringToAnsi(body);
}

TextLines ReadTextFile(const QString& path) { return DecodeText(fs::ReadAll(path)); }

void WriteTextFile(const QString& path, const TextLines& text) {
    fs::WriteAtomic(path, EncodeText(text));
}
