// Reading and writing property values of ADO connection strings.

#include "catalog/Engine.h"

namespace catalog {

std::optional<QString> FirstRow::Field(const QString& name) const {
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i < values.size() ? values[i] : QString();
    return std::nullopt;
}

std::optional<QString> ConnectionProperty(const QString& connStr, const QString& name) {
    std::optional<QString> found;
    const qsizetype n = connStr.size();
    qsizetype i = 0;
    while (i < n) {
        // The name runs to the first single "="; "==" stands for a "=" inside the name.
        QString key;
        bool haveEquals = false;
        while (i < n && connStr[i] != u';') {
            if (connStr[i] == u'=') {
                if (i + 1 < n && connStr[i + 1] == u'=') {
                    key += u'=';
                    i += 2;
                    continue;
                }
                haveEquals = true;
                ++i;
                break;
            }
            key += connStr[i++];
        }
        QString value;
        if (haveEquals) {
            while (i < n && connStr[i].isSpace()) ++i;
            if (i < n && (connStr[i] == u'"' || connStr[i] == u'\'')) {
                const QChar q = connStr[i++];
                while (i < n) {
                    if (connStr[i] == q) {
                        if (i + 1 < n && connStr[i + 1] == q) {
                            value += q;
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    value += connStr[i++];
                }
                while (i < n && connStr[i] != u';') ++i;  // anything after the closing quote
            } else {
                const qsizetype start = i;
                while (i < n && connStr[i] != u';') ++i;
                value = connStr.mid(start, i - start).trimmed();
            }
        }
        if (i < n && connStr[i] == u';') ++i;
        if (haveEquals && key.trimmed().compare(name, Qt::CaseInsensitive) == 0) found = value;
    }
    return found;
}

bool ConnectionValueNeedsQuotes(const QString& value) {
    // A leading "=" would be read as the doubled "=" of a name.
    return value.contains(u';') || value.contains(u'"') || value.startsWith(u'\'') ||
           value.startsWith(u'=') || value != value.trimmed();
}

QString QuoteConnectionValue(const QString& value) {
    if (!ConnectionValueNeedsQuotes(value)) return value;
    QString v = value;
    v.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + v + u'"';
}

QString WithoutPooling(const QString& connStr) {
    const QString key = QStringLiteral("OLE DB Services");
    if (ConnectionProperty(connStr, key)) return connStr;
    QString out = connStr;
    while (!out.isEmpty() && out.back().isSpace()) out.chop(1);
    if (!out.isEmpty() && !out.endsWith(u';')) out += u';';
    return out + key + QStringLiteral("=-2;");
}

}  // namespace catalog
