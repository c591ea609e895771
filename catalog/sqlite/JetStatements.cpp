#include "catalog/sqlite/JetStatements.h"

#include <QFileInfo>
#include <algorithm>

#include "core/AppError.h"
#include "core/FileSystem.h"

namespace catalog::sqlite {
namespace {

struct Tok {
    enum Kind { Space, Word, Name, Str, Param, Other } kind;
    QString text;   // as written
    QString value;  // Word: the word; Name: inside the brackets; Str: the text; Param: the name
};

bool IsWordStart(QChar c) { return c.isLetter() || c == u'_' || c.unicode() >= 0x80; }
bool IsWordChar(QChar c) { return IsWordStart(c) || c.isDigit() || c == u'$'; }

QString QuoteText(QString text) {
    text.replace(u'\'', QStringLiteral("''"));
    return u'\'' + text + u'\'';
}

[[noreturn]] void Syntax(const QString& what, const QString& sql) {
    throw AppError(QStringLiteral("Syntax error (%1) in statement: %2").arg(what, sql));
}

QList<Tok> Lex(const QString& s) {
    QList<Tok> out;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = s[i];
        qsizetype j = i + 1;
        if (c.isSpace()) {
            while (j < n && s[j].isSpace()) ++j;
            out.append({Tok::Space, s.mid(i, j - i), {}});
        } else if (c == u'[' || c == u'#') {  // a name, or a date literal kept as its text
            const QChar close = c == u'[' ? QChar(u']') : c;
            j = s.indexOf(close, i + 1);
            if (j < 0) Syntax(QStringLiteral("missing \"%1\"").arg(close), s);
            out.append(
                {c == u'[' ? Tok::Name : Tok::Str, s.mid(i, j + 1 - i), s.mid(i + 1, j - i - 1)});
            ++j;
        } else if (c == u'\'' || c == u'"') {  // Jet takes both quotes for text literals
            QString v;
            bool closed = false;
            while (j < n && !closed) {
                if (s[j] != c) {
                    v += s[j++];
                } else if (j + 1 < n && s[j + 1] == c) {  // a doubled quote stands for one
                    v += c;
                    j += 2;
                } else {
                    ++j;
                    closed = true;
                }
            }
            if (!closed) Syntax(QStringLiteral("unterminated text"), s);
            out.append({Tok::Str, s.mid(i, j - i), v});
        } else if (c == u':' && j < n && IsWordStart(s[j])) {
            while (j < n && IsWordChar(s[j])) ++j;
            out.append({Tok::Param, s.mid(i, j - i), s.mid(i + 1, j - i - 1)});
        } else if (IsWordStart(c)) {
            while (j < n && IsWordChar(s[j])) ++j;
            out.append({Tok::Word, s.mid(i, j - i), s.mid(i, j - i)});
        } else if (c.isDigit()) {
            while (j < n && (s[j].isLetterOrNumber() || s[j] == u'.')) ++j;
            out.append({Tok::Other, s.mid(i, j - i), {}});
        } else {
            out.append({Tok::Other, QString(c), {}});
        }
        i = j;
    }
    return out;
}

bool IsWord(const Tok& t, const char* w) {
    return t.kind == Tok::Word && t.value.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
}
bool IsOther(const Tok& t, char c) { return t.kind == Tok::Other && t.text == QLatin1Char(c); }
bool IsTable(const Tok& t) { return t.kind == Tok::Word || t.kind == Tok::Name; }

// Index of the next token after i that is not white space, or -1.
int NextSig(const QList<Tok>& t, int i, int end) {
    for (int k = i + 1; k < end; ++k)
        if (t[k].kind != Tok::Space) return k;
    return -1;
}

// "T in 'file'": the table T read from another database file; the index of the file's text.
int InFile(const QList<Tok>& t, int k, int end) {
    if (!IsTable(t[k])) return -1;
    const int a = NextSig(t, k, end);
    if (a < 0 || !IsWord(t[a], "in")) return -1;
    const int b = NextSig(t, a, end);
    return b >= 0 && t[b].kind == Tok::Str ? b : -1;
}

// The name of the existing table or view that `name` designates: Jet compares table names
// without regard to letter case in every alphabet, SQLite only in the Latin one.
QString Resolve(const QString& name, const QStringList& existing) {
    if (existing.contains(name)) return name;
    for (const QString& e : existing)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return e;
    return name;
}

class Translator {
  public:
    Translator(const QStringList& mainNames, const QList<Attached>& attached,
               const ColumnsOf& columns)
        : main_(mainNames), attached_(attached), columns_(columns) {}

    Translated Translate(const QString& sql) {
        const QList<Tok> t = Lex(sql);
        Translated r;
        QList<int> sig;
        for (int i = 0; i < t.size(); ++i)
            if (t[i].kind != Tok::Space) sig.append(i);
        if (sig.size() >= 4 && IsWord(t[sig[0]], "create") && IsWord(t[sig[1]], "table") &&
            IsTable(t[sig[2]]) && IsOther(t[sig[3]], '('))
            CreateTable(t, sig, sql, r);
        else if (!InsertSelectAll(t, sig, r))
            r.sql = Range(t, 0, int(t.size()), r.params);
        r.changesSchema =
            !sig.isEmpty() && (IsWord(t[sig[0]], "create") || IsWord(t[sig[0]], "drop") ||
                               IsWord(t[sig[0]], "alter"));
        return r;
    }

  private:
    // "insert into T select * from S ..." copies by column name, as Jet does. False when the
    // statement has another form or a table is missing (it then runs as written and fails
    // with the engine's message).
    bool InsertSelectAll(const QList<Tok>& t, const QList<int>& sig, Translated& r) {
        if (sig.size() < 7 || !IsWord(t[sig[0]], "insert") || !IsWord(t[sig[1]], "into") ||
            !IsTable(t[sig[2]]) || !IsWord(t[sig[3]], "select") || !IsOther(t[sig[4]], '*') ||
            !IsWord(t[sig[5]], "from") || !IsTable(t[sig[6]]))
            return false;
        const QString target = Resolve(t[sig[2]].value, main_);
        QString schema = QStringLiteral("main"), source;
        int restFrom = sig[6] + 1;
        if (const int file = InFile(t, sig[6], int(t.size())); file >= 0) {
            const Attached& a = AttachedFor(t[file].value);
            schema = a.alias;
            source = Resolve(t[sig[6]].value, a.names);
            restFrom = file + 1;
        } else {
            source = Resolve(t[sig[6]].value, main_);
        }
        const QStringList to = columns_(QStringLiteral("main"), target);
        const QStringList from = columns_(schema, source);
        if (to.isEmpty() || from.isEmpty()) return false;
        QStringList into, pick;
        for (const QString& c : from) {
            const auto it = std::find_if(to.begin(), to.end(), [&](const QString& x) {
                return x.compare(c, Qt::CaseInsensitive) == 0;
            });
            if (it == to.end())
                throw AppError(
                    QStringLiteral("The INSERT INTO statement contains the following unknown "
                                   "field name: '%1'. Make sure you have typed the name "
                                   "correctly, and try the operation again.")
                        .arg(c));
            into << QuoteName(*it);
            pick << QuoteName(c);
        }
        r.sql = QStringLiteral("INSERT INTO %1%2 (%3) SELECT %4 FROM %5.%6")
                    .arg(attached_.isEmpty() ? QString() : QStringLiteral("\"main\"."),
                         QuoteName(target), into.join(QStringLiteral(", ")),
                         pick.join(QStringLiteral(", ")), QuoteName(schema), QuoteName(source)) +
                Range(t, restFrom, int(t.size()), r.params);
        return true;
    }

    const Attached& AttachedFor(const QString& file) const {
        const QString abs = AbsoluteFile(file);
        for (const Attached& a : attached_)
            if (a.path == abs) return a;
        throw AppError(QStringLiteral("Database file not attached: %1").arg(file));
    }

    // The statement text of tokens [from, to): names quoted, table names resolved, parameters
    // replaced by positional markers, "delete *" and "in 'file'" rewritten.
    QString Range(const QList<Tok>& t, int from, int to, QStringList& params) {
        QString out;
        const Tok* prev = nullptr;  // the last token that is not white space
        for (int i = from; i < to; ++i) {
            const Tok& k = t[i];
            const bool tablePos =
                prev && (IsWord(*prev, "from") || IsWord(*prev, "into") || IsWord(*prev, "join") ||
                         IsWord(*prev, "table") || IsWord(*prev, "update"));
            int file = -1;
            if (k.kind == Tok::Space) {
                out += k.text;
                continue;
            }
            if (k.kind == Tok::Param) {
                out += u'?';
                params << k.value;
            } else if (k.kind == Tok::Str) {
                out += QuoteText(k.value);
            } else if (tablePos && (file = InFile(t, i, to)) >= 0) {
                const Attached& a = AttachedFor(t[file].value);
                out += QuoteName(a.alias) + u'.' + QuoteName(Resolve(k.value, a.names));
                i = file;
            } else if (tablePos && IsTable(k)) {
                // With another file attached, a table missing here must not be looked for
                // there: the name is qualified. Without, it stays as written, so that names of
                // the statement's own (common table expressions) work.
                const QString name = Resolve(k.value, main_);
                if (!attached_.isEmpty())
                    out += QStringLiteral("\"main\".") + QuoteName(name);
                else if (k.kind == Tok::Name || name != k.value)
                    out += QuoteName(name);
                else
                    out += k.text;
            } else if (k.kind == Tok::Name) {
                out += QuoteName(k.value);
            } else if (prev && IsWord(*prev, "delete") && k.text == u"*") {
                continue;  // "delete * from" is "delete from" (and `prev` stays "delete")
            } else {
                out += k.text;
            }
            prev = &k;
        }
        return out;
    }

    void CreateTable(const QList<Tok>& t, const QList<int>& sig, const QString& sql,
                     Translated& r) {
        const QString table = Resolve(t[sig[2]].value, main_);
        // Column definitions: split at the commas outside parentheses.
        QList<QPair<int, int>> defs;
        int depth = 0, start = sig[3] + 1, close = -1;
        for (int i = start; i < t.size() && close < 0; ++i) {
            if (IsOther(t[i], '(')) ++depth;
            if (IsOther(t[i], ')') && depth-- == 0) {
                defs.append({start, i});
                close = i;
            }
            if (depth == 0 && IsOther(t[i], ',')) {
                defs.append({start, i});
                start = i + 1;
            }
        }
        if (close < 0) Syntax(QStringLiteral("missing \")\""), sql);
        QStringList columns, counters;
        for (const auto& [b, e] : defs) columns << Column(t, b, e, sql, r.params, counters);
        r.sql = QStringLiteral("CREATE TABLE ") + QuoteName(table) + QStringLiteral(" (") +
                columns.join(QStringLiteral(", ")) + u')' +
                Range(t, close + 1, int(t.size()), r.params);
        for (const QString& c : counters) {
            const QString tq = QuoteName(table), cq = QuoteName(c);
            // (the index keeps the numbering of each inserted row from reading the whole table)
            r.extra << QStringLiteral("CREATE INDEX %1 ON %2(%3)")
                           .arg(QuoteName(QStringLiteral("zelk_counter_idx$") + table + u'$' + c),
                                tq, cq);
            r.extra << QStringLiteral(
                           "CREATE TRIGGER %1 AFTER INSERT ON %2 FOR EACH ROW WHEN NEW.%3 IS NULL "
                           "BEGIN UPDATE %2 SET %3 = (SELECT IFNULL(MAX(%3), 0) + 1 FROM %2) "
                           "WHERE rowid = NEW.rowid; END")
                           .arg(QuoteName(QStringLiteral("zelk_counter_trg$") + table + u'$' + c),
                                tq, cq);
        }
    }

    QString Column(const QList<Tok>& t, int b, int e, const QString& sql, QStringList& params,
                   QStringList& counters) {
        const int n0 = NextSig(t, b - 1, e);
        if (n0 < 0) Syntax(QStringLiteral("empty column definition"), sql);
        const Tok& name = t[n0];
        for (const char* w : {"constraint", "primary", "unique", "foreign", "check"})
            if (IsWord(name, w)) return Range(t, b, e, params).trimmed();
        if (!IsTable(name)) Syntax(QStringLiteral("column name expected"), sql);
        const int ty = NextSig(t, n0, e);
        QString type, check;
        int restFrom = n0 + 1;
        if (ty >= 0 && t[ty].kind == Tok::Word) {
            const QString w = t[ty].value.toLower();
            int size = -1;
            restFrom = ty + 1;
            const int p = NextSig(t, ty, e);
            if (p >= 0 && IsOther(t[p], '(')) {
                const int num = NextSig(t, p, e);
                const int cl = num >= 0 ? NextSig(t, num, e) : -1;
                bool ok = false;
                if (num >= 0) size = t[num].text.toInt(&ok);
                if (!ok || cl < 0 || !IsOther(t[cl], ')'))
                    Syntax(QStringLiteral("column size"), sql);
                restFrom = cl + 1;
            }
            static const QStringList textTypes = {"varchar", "char",      "text",   "nvarchar",
                                                  "nchar",   "character", "string", "alphanumeric"};
            static const QStringList longTypes = {"longchar", "memo", "longtext", "note", "ntext"};
            static const QStringList intTypes = {
                "integer", "int", "long",  "int4",    "short",    "smallint", "byte",
                "tinyint", "bit", "yesno", "logical", "integer1", "integer2", "integer4"};
            static const QStringList realTypes = {"double", "float",  "real",       "single",
                                                  "float8", "float4", "ieeedouble", "ieeesingle"};
            static const QStringList blobTypes = {"binary", "varbinary", "longbinary", "image",
                                                  "oleobject"};
            static const QStringList noType = {"not",    "null",    "primary",
                                               "unique", "default", "references"};
            if (w == QLatin1String("counter") || w == QLatin1String("autoincrement") ||
                w == QLatin1String("identity")) {
                type = QStringLiteral("INTEGER");
                counters << name.value;
            } else if (textTypes.contains(w)) {
                type = QStringLiteral("TEXT");
                check = QStringLiteral(" CHECK(length(%1) <= %2)")
                            .arg(QuoteName(name.value))
                            .arg(size > 0 ? size : 255);
            } else if (longTypes.contains(w)) {
                type = QStringLiteral("TEXT");
            } else if (intTypes.contains(w)) {
                type = QStringLiteral("INTEGER");
            } else if (realTypes.contains(w)) {
                type = QStringLiteral("REAL");
            } else if (blobTypes.contains(w)) {
                type = QStringLiteral("BLOB");
            } else if (noType.contains(w)) {
                restFrom = n0 + 1;
            } else {
                type = t[ty].text;  // currency, datetime, ...: taken as written
                if (size > 0) type += QStringLiteral("(%1)").arg(size);
            }
        }
        QString out = QuoteName(name.value);
        if (!type.isEmpty()) out += u' ' + type;
        const QString rest = Range(t, restFrom, e, params).trimmed();
        if (!rest.isEmpty()) out += u' ' + rest;
        return out + check;
    }

    const QStringList& main_;
    const QList<Attached>& attached_;
    const ColumnsOf& columns_;
};

}  // namespace

QString AbsoluteFile(const QString& path) { return QFileInfo(fs::Native(path)).absoluteFilePath(); }

QString QuoteName(const QString& name) {
    QString q = name;
    return u'"' + q.replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QStringList FilesReadBy(const QString& sql) {
    QStringList files;
    if (!sql.contains(u'\'') && !sql.contains(u'"')) return files;  // ("in 'file'" needs one)
    const QList<Tok> t = Lex(sql);
    for (int i = 0; i < t.size(); ++i)
        if (const int file = InFile(t, i, int(t.size())); file >= 0) {
            const QString abs = AbsoluteFile(t[file].value);
            if (!files.contains(abs)) files << abs;
        }
    return files;
}

Translated Translate(const QString& sql, const QStringList& mainNames,
                     const QList<Attached>& attached, const ColumnsOf& columns) {
    return Translator(mainNames, attached, columns).Translate(sql);
}

}  // namespace catalog::sqlite
