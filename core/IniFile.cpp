#include "core/IniFile.h"

#include <QFileInfo>
#include <QStringList>
#include <optional>

#include "core/AppError.h"
#include "core/FileSystem.h"
#include "core/TextFile.h"

namespace {

struct IniText {
    QStringList lines;
    bool utf16 = false;
    bool unreadable = false;  // the file is there but could not be read
};

IniText Load(const QString& fileName) {
    IniText t;
    if (!fs::FileExists(fileName)) return t;
    QByteArray bytes;
    try {
        bytes = fs::ReadAll(fileName);
    } catch (const AppError&) {
        t.unreadable = true;
        return t;
    }
    // Only a UTF-16 little-endian mark switches an INI file away from the ANSI code page.
    if (bytes.startsWith("\xFF\xFE")) {
        t.utf16 = true;
        t.lines = DecodeText(bytes).lines;
    } else {
        t.lines = SplitLines(AnsiToString(bytes));
    }
    return t;
}

bool IsSectionLine(const QString& line, QString* name) {
    const QString s = line.trimmed();
    if (!s.startsWith(u'[')) return false;
    const qsizetype close = s.indexOf(u']');
    if (close < 0) return false;
    if (name) *name = s.mid(1, close - 1).trimmed();
    return true;
}

bool KeyOf(const QString& line, QString* key, QString* value) {
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0) return false;
    *key = line.left(eq).trimmed();
    if (value) *value = line.mid(eq + 1).trimmed();
    return true;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0 || a.toCaseFolded() == b.toCaseFolded();
}

// The value of the key in the file, or nothing when the file has no such key.
std::optional<QString> Find(const QString& fileName, const QString& section, const QString& key) {
    const IniText t = Load(fileName);
    bool inSection = false;
    for (const QString& line : t.lines) {
        QString name;
        if (IsSectionLine(line, &name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection) continue;
        QString k, v;
        if (KeyOf(line, &k, &v) && SameName(k, key)) {
            if (v.size() >= 2 && ((v.front() == u'"' && v.back() == u'"') ||
                                  (v.front() == u'\'' && v.back() == u'\'')))
                v = v.mid(1, v.size() - 2);
            return v.left(IniFile::kMaxValueLength);
        }
    }
    return std::nullopt;
}

}  // namespace

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    if (const auto v = Find(fileName_, section, key)) return *v;
    if (!defaults_.isEmpty())
        if (const auto v = Find(defaults_, section, key)) return *v;
    return defaultValue;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    IniText t = Load(fileName_);
    // Writing a file that could not be read would replace its other lines by nothing.
    if (t.unreadable)
        throw AppError(QStringLiteral("Unable to write to %1").arg(fs::FullPath(fileName_)));
    const QString entry = key + u'=' + value;
    qsizetype sectionAt = -1, lastInSection = -1, keyAt = -1;
    for (qsizetype i = 0; i < t.lines.size(); ++i) {
        QString name;
        if (IsSectionLine(t.lines[i], &name)) {
            if (sectionAt >= 0) break;
            if (SameName(name, section)) sectionAt = lastInSection = i;
            continue;
        }
        if (sectionAt < 0) continue;
        QString k;
        if (!t.lines[i].trimmed().isEmpty()) lastInSection = i;
        if (KeyOf(t.lines[i], &k, nullptr) && SameName(k, key)) {
            keyAt = i;
            break;
        }
    }
    if (keyAt >= 0) {
        t.lines[keyAt] = entry;
    } else if (sectionAt >= 0) {
        t.lines.insert(lastInSection + 1, entry);
    } else {
        t.lines << u'[' + section + u']' << entry;
    }
    TextLines out;
    out.lines = t.lines;
    out.encoding = t.utf16 ? TextEncoding::Utf16LE : TextEncoding::Ansi;
    try {
        fs::WriteAtomic(fileName_, EncodeText(out), QStringLiteral("Unable to write to %1"));
    } catch (const AppError&) {
        throw AppError(QStringLiteral("Unable to write to %1").arg(fs::FullPath(fileName_)));
    }
}
