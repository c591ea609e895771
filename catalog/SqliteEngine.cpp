#include "catalog/SqliteEngine.h"

#ifndef ZELK_NO_SQLITE

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "core/AppError.h"
#include "core/FileSystem.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace catalog {
namespace {

// ---- messages and files ------------------------------------------------------------------

// SQLite's message without the schema names this engine puts before table names ("main"
// and the private names of files read by "in 'file'"), which mean nothing to the user.
QString EngineText(QString text) {
    static const QRegularExpression schema(QStringLiteral("\\b(main|zelk_in_[0-9]+)\\."));
    return text.trimmed().replace(schema, QString());
}
// The message of the connection's last failure.
QString EngineText(sqlite3* db) {
    return EngineText(QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"));
}

QString AbsoluteFile(const QString& path) { return QFileInfo(fs::Native(path)).absoluteFilePath(); }
QString Shown(const QString& abs) { return QDir::toNativeSeparators(abs); }

[[noreturn]] void FailOnFile(const QString& engineMessage, const QString& abs) {
    throw AppError(QStringLiteral("%1: \"%2\"").arg(engineMessage, Shown(abs)));
}

// Only an existing, non-empty file can hold a database (SQLite would take an empty file for
// an empty database and write into it).
void CheckDatabaseFile(const QString& abs) {
    const QFileInfo fi(abs);
    if (!fi.exists() || fi.isDir()) FailOnFile(QStringLiteral("unable to open database file"), abs);
    if (fi.size() == 0) FailOnFile(QStringLiteral("file is not a database"), abs);
}

QString UriFor(const QString& abs, const char* mode) {
    return QUrl::fromLocalFile(abs).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=") +
           QLatin1String(mode);
}

QString DataSourceOf(const QString& connStr) {
    const std::optional<QString> ds = ConnectionProperty(connStr, QStringLiteral("Data Source"));
    if (!ds || ds->trimmed().isEmpty())
        throw AppError(QStringLiteral(
            "Не указан файл базы данных: в строке подключения нет значения Data Source"));
    return *ds;
}

// ---- Jet statements ----------------------------------------------------------------------

// A token of a Jet statement, viewing the statement's text (which must outlive it).
struct Tok {
    enum Kind { Space, Word, Name, Str, Param, Other } kind;
    QStringView text;   // as written
    QStringView value;  // Word: the word; Name: inside the brackets; Param: the name; Str: what
                        // is inside the quotes, doubled quotes still doubled (StrValue)
};

// What is inside a pair of quotes `quote`, where a doubled one stands for one.
QString Undoubled(QStringView inside, QChar quote) {
    QString v = inside.toString();
    if (v.contains(quote)) v.replace(QString(2, quote), QString(quote));
    return v;
}

// The text a Str token stands for.
QString StrValue(const Tok& t) {
    const QChar quote = t.text.front();
    return quote == u'#' ? t.value.toString() : Undoubled(t.value, quote);
}

bool IsWordStart(QChar c) { return c.isLetter() || c == u'_' || c.unicode() >= 0x80; }
bool IsWordChar(QChar c) { return IsWordStart(c) || c.isDigit() || c == u'$'; }

QString QuoteName(QStringView name) {
    QString out;
    out.reserve(name.size() + 2);
    out += u'"';
    if (!name.contains(u'"')) {
        out += name;
    } else {
        for (const QChar c : name) {
            out += c;
            if (c == u'"') out += c;
        }
    }
    out += u'"';
    return out;
}
QString QuoteText(QString text) {
    text.replace(u'\'', QStringLiteral("''"));
    return u'\'' + text + u'\'';
}

[[noreturn]] void Syntax(const QString& what, const QString& sql) {
    throw AppError(QStringLiteral("Syntax error (%1) in statement: %2").arg(what, sql));
}

QList<Tok> Lex(const QString& sql) {
    QList<Tok> out;
    const QStringView s(sql);
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = s[i];
        qsizetype j = i + 1;
        if (c.isSpace()) {
            while (j < n && s[j].isSpace()) ++j;
            out.append({Tok::Space, s.mid(i, j - i), {}});
        } else if (c == u'[') {
            j = s.indexOf(u']', i + 1);
            if (j < 0) Syntax(QStringLiteral("missing \"]\""), sql);
            out.append({Tok::Name, s.mid(i, j + 1 - i), s.mid(i + 1, j - i - 1)});
            ++j;
        } else if (c == u'#') {  // a Jet date literal, kept here as the text it holds
            j = s.indexOf(u'#', i + 1);
            if (j < 0) Syntax(QStringLiteral("missing \"#\""), sql);
            out.append({Tok::Str, s.mid(i, j + 1 - i), s.mid(i + 1, j - i - 1)});
            ++j;
        } else if (c == u'\'' || c == u'"') {  // Jet takes both quotes for text literals
            bool closed = false;
            while (j < n) {
                if (s[j] == c) {
                    if (j + 1 < n && s[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    ++j;
                    closed = true;
                    break;
                }
                ++j;
            }
            if (!closed) Syntax(QStringLiteral("unterminated text"), sql);
            out.append({Tok::Str, s.mid(i, j - i), s.mid(i + 1, j - i - 2)});
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
            out.append({Tok::Other, s.mid(i, 1), {}});
        }
        i = j;
    }
    return out;
}

bool IsWord(const Tok& t, const char* w) {
    return t.kind == Tok::Word && t.value.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
}
bool IsOther(const Tok& t, char c) {
    return t.kind == Tok::Other && t.text.size() == 1 && t.text.front() == QLatin1Char(c);
}

// Index of the next token after i that is not white space, or -1.
int NextSig(const QList<Tok>& t, int i, int end) {
    for (int k = i + 1; k < end; ++k)
        if (t[k].kind != Tok::Space) return k;
    return -1;
}

// "T in 'file'": the table T read from another database file.
bool IsInFile(const QList<Tok>& t, int k, int end, int* strAt) {
    if (t[k].kind != Tok::Word && t[k].kind != Tok::Name) return false;
    const int a = NextSig(t, k, end);
    if (a < 0 || !IsWord(t[a], "in")) return false;
    const int b = NextSig(t, a, end);
    if (b < 0 || t[b].kind != Tok::Str) return false;
    *strAt = b;
    return true;
}

// The name of the existing table or view that `name` designates: Jet compares table names
// without regard to letter case in every alphabet, SQLite only in the Latin one.
QString Resolve(QStringView name, const QStringList& existing) {
    for (const QString& e : existing)
        if (e == name) return e;
    for (const QString& e : existing)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return e;
    return name.toString();
}

struct Attached {
    QString path;  // absolute
    QString alias;
    QStringList names;
};

struct Translated {
    QString sql;
    QStringList params;  // in order of appearance
    QStringList extra;   // statements to run after it (counter numbering)
};

// The column names of a table in a schema ("main" or an attached file's private name); empty
// when there is no such table.
using ColumnsOf = std::function<QStringList(const QString& schema, const QString& table)>;

class Translator {
  public:
    Translator(const QStringList& mainNames, const QList<Attached>& attached, ColumnsOf columns)
        : main_(mainNames), attached_(attached), columns_(std::move(columns)) {}

    Translated Translate(const QString& sql) {
        const QList<Tok> t = Lex(sql);
        Translated r;
        QList<int> sig;
        for (int i = 0; i < t.size(); ++i)
            if (t[i].kind != Tok::Space) sig.append(i);
        if (sig.size() >= 4 && IsWord(t[sig[0]], "create") && IsWord(t[sig[1]], "table") &&
            (t[sig[2]].kind == Tok::Word || t[sig[2]].kind == Tok::Name) && IsOther(t[sig[3]], '('))
            CreateTable(t, sig, sql, r);
        else if (!InsertSelectAll(t, sig, r))
            r.sql = Range(t, 0, int(t.size()), r.params);
        return r;
    }

  private:
    // "insert into T select * from S ..." copies by column name, as Jet does: the columns
    // both tables have are copied (names compared without regard to letter case), a column of
    // T that S lacks stays null (a counter is numbered), a column of S that T lacks is an
    // error naming it. False when the statement has another form or a table is missing (the
    // statement then runs as written and fails with the engine's message).
    bool InsertSelectAll(const QList<Tok>& t, const QList<int>& sig, Translated& r) {
        auto isTable = [&](int k) {
            return k < sig.size() && (t[sig[k]].kind == Tok::Word || t[sig[k]].kind == Tok::Name);
        };
        if (sig.size() < 7 || !IsWord(t[sig[0]], "insert") || !IsWord(t[sig[1]], "into") ||
            !isTable(2) || !IsWord(t[sig[3]], "select") || !IsOther(t[sig[4]], '*') ||
            !IsWord(t[sig[5]], "from") || !isTable(6))
            return false;
        const QString target = Resolve(t[sig[2]].value, main_);
        QString schema = QStringLiteral("main"), source;
        int restFrom = sig[6] + 1, strAt = -1;
        if (IsInFile(t, sig[6], int(t.size()), &strAt)) {
            const Attached& a = AttachedFor(StrValue(t[strAt]));
            schema = a.alias;
            source = Resolve(t[sig[6]].value, a.names);
            restFrom = strAt + 1;
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
            int strAt = -1;
            switch (k.kind) {
                case Tok::Space:
                    out += k.text;
                    continue;
                case Tok::Param:
                    out += u'?';
                    params << k.value.toString();
                    break;
                case Tok::Str:
                    out += QuoteText(StrValue(k));
                    break;
                case Tok::Word:
                case Tok::Name:
                    if (tablePos && IsInFile(t, i, to, &strAt)) {
                        const Attached& a = AttachedFor(StrValue(t[strAt]));
                        out += QuoteName(a.alias) + u'.' + QuoteName(Resolve(k.value, a.names));
                        i = strAt;
                    } else if (tablePos) {
                        // With another file attached, a table missing here must not be looked
                        // for there: the name is qualified. Without, it stays as written, so
                        // that names of the statement's own (common table expressions) work.
                        const QString name = Resolve(k.value, main_);
                        if (!attached_.isEmpty())
                            out += QStringLiteral("\"main\".") + QuoteName(name);
                        else if (k.kind == Tok::Name || name != k.value)
                            out += QuoteName(name);
                        else
                            out += k.text;
                    } else if (k.kind == Tok::Name) {
                        out += QuoteName(k.value);
                    } else {
                        out += k.text;
                    }
                    break;
                case Tok::Other:
                    if (prev && IsWord(*prev, "delete") && k.text == u"*") {
                        prev = &k;
                        continue;  // "delete * from" is "delete from"
                    }
                    out += k.text;
                    break;
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
            if (IsOther(t[i], ')')) {
                if (depth == 0) {
                    defs.append({start, i});
                    close = i;
                }
                --depth;
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
        int n0 = NextSig(t, b - 1, e);
        if (n0 < 0) Syntax(QStringLiteral("empty column definition"), sql);
        const Tok& name = t[n0];
        static const char* const tableConstraints[] = {"constraint", "primary", "unique", "foreign",
                                                       "check"};
        for (const char* w : tableConstraints)
            if (IsWord(name, w)) return Range(t, b, e, params).trimmed();
        if (name.kind != Tok::Word && name.kind != Tok::Name)
            Syntax(QStringLiteral("column name expected"), sql);
        int ty = NextSig(t, n0, e);
        QString type, check;
        int restFrom = n0 + 1;
        if (ty >= 0 && t[ty].kind == Tok::Word) {
            const QString w = t[ty].value.toString().toLower();
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
            if (w == QLatin1String("counter") || w == QLatin1String("autoincrement") ||
                w == QLatin1String("identity")) {
                type = QStringLiteral("INTEGER");
                counters << name.value.toString();
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
            } else if (w == QLatin1String("binary") || w == QLatin1String("varbinary") ||
                       w == QLatin1String("longbinary") || w == QLatin1String("image") ||
                       w == QLatin1String("oleobject")) {
                type = QStringLiteral("BLOB");
            } else if (w == QLatin1String("not") || w == QLatin1String("null") ||
                       w == QLatin1String("primary") || w == QLatin1String("unique") ||
                       w == QLatin1String("default") || w == QLatin1String("references")) {
                restFrom = n0 + 1;  // no type given
            } else {
                type = t[ty].text.toString();  // currency, datetime, ...: taken as written
                if (size > 0) type += QStringLiteral("(%1)").arg(size);
            }
        }
        QString out = QuoteName(name.value);
        if (!type.isEmpty()) out += u' ' + type;
        const QString rest = Range(t, restFrom, e, params).trimmed();
        if (!rest.isEmpty()) out += u' ' + rest;
        return out + check;
    }

    QStringList main_;
    const QList<Attached>& attached_;
    ColumnsOf columns_;
};

// ---- running statements ------------------------------------------------------------------

QVariant ValueOf(const QString& name, const Params& params) {
    for (const auto& [n, v] : params)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return v.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(v);
    return QVariant(QMetaType::fromType<QString>());
}

// One prepared statement of a connection, run with the values bound to its "?" markers.
class Stmt {
  public:
    // Raises the engine's message when SQLite does not take the text (one statement only).
    Stmt(sqlite3* db, const QString& sql) : db_(db) {
        const QByteArray text = sql.toUtf8();
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &s_, &tail) != SQLITE_OK)
            throw AppError(EngineText(db));
        if (!s_) throw AppError(QStringLiteral("No statement in: %1").arg(sql));
        if (!QByteArrayView(tail, text.constData() + text.size() - tail).trimmed().isEmpty())
            throw AppError(QStringLiteral("Unable to execute multiple statements at a time"));
    }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    // Binds the values in order: a null one as NULL, any other as its text.
    void Bind(const QVariantList& values) {
        for (int i = 0; i < values.size(); ++i) {
            const QVariant& v = values[i];
            int rc;
            if (v.isNull()) {
                rc = sqlite3_bind_null(s_, i + 1);
            } else {
                const QByteArray text = v.toString().toUtf8();
                rc = sqlite3_bind_text(s_, i + 1, text.constData(), int(text.size()),
                                       SQLITE_TRANSIENT);
            }
            if (rc != SQLITE_OK) throw AppError(EngineText(db_));
        }
    }
    // The next row: true when there is one, false at the end; raises the engine's message.
    bool Step() {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        const QString message = EngineText(db_);
        sqlite3_reset(s_);
        throw AppError(message);
    }
    // Ready to run again, with nothing bound.
    void Reset() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    int Columns() const { return sqlite3_column_count(s_); }
    QString Name(int i) const { return QString::fromUtf8(sqlite3_column_name(s_, i)); }
    // A value of the current row as text (null for NULL; numbers as Qt writes them).
    QString Text(int i) const {
        switch (sqlite3_column_type(s_, i)) {
            case SQLITE_NULL:
                return {};
            case SQLITE_INTEGER:
                return QString::number(sqlite3_column_int64(s_, i));
            case SQLITE_FLOAT:
                return QVariant(sqlite3_column_double(s_, i)).toString();
            default:
                return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s_, i)),
                                         sqlite3_column_bytes(s_, i));
        }
    }
    qint64 Integer(int i) const { return sqlite3_column_int64(s_, i); }

  private:
    sqlite3* db_;
    sqlite3_stmt* s_ = nullptr;
};

// Runs a statement (its first step, as a query's execution does); the rows it changed.
qint64 Exec(sqlite3* db, const QString& sql, const QVariantList& binds = {}) {
    Stmt s(db, sql);
    s.Bind(binds);
    s.Step();
    return sqlite3_changes(db);
}
// The same for a statement whose failure changes nothing that matters (a detachment, the undoing
// of a unit already undone).
void ExecQuietly(sqlite3* db, const QString& sql) {
    try {
        Exec(db, sql);
    } catch (const AppError&) {
    }
}

QStringList ListNames(sqlite3* db, const QString& schema, bool userOnly) {
    QString sql =
        QStringLiteral("SELECT name FROM %1.sqlite_master WHERE type IN ('table', 'view')")
            .arg(QuoteName(schema));
    if (userOnly)
        sql += QStringLiteral(" AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name");
    Stmt q(db, sql);
    QStringList names;
    while (q.Step()) names << q.Text(0);
    return names;
}

// A token of SQLite's own SQL text: a word, a quoted name or string (`text` without its
// quotes, doubled quotes still doubled), or one other character.
struct SqlTok {
    enum Kind { Word, Quoted, Other } kind;
    QStringView text;
    QChar quote;  // of a quoted one

    // The name or text it stands for.
    QString Value() const {
        return kind == Quoted && quote != u']' ? Undoubled(text, quote) : text.toString();
    }
};

// The tokens of SQLite's SQL text one after another (comments skipped).
class SqlLexer {
  public:
    explicit SqlLexer(QStringView sql) : sql_(sql) {}
    // The next token; nothing at the end, or when a quote or comment is left open (Broken()).
    std::optional<SqlTok> Next() {
        const qsizetype n = sql_.size();
        while (i_ < n) {
            const QChar c = sql_[i_];
            if (c.isSpace()) {
                ++i_;
            } else if (c == u'-' && i_ + 1 < n && sql_[i_ + 1] == u'-') {
                while (i_ < n && sql_[i_] != u'\n') ++i_;
            } else if (c == u'/' && i_ + 1 < n && sql_[i_ + 1] == u'*') {
                const qsizetype end = sql_.indexOf(u"*/", i_ + 2);
                if (end < 0) return Broke();
                i_ = end + 2;
            } else if (c == u'"' || c == u'`' || c == u'\'' || c == u'[') {
                const qsizetype k = QuotedEnd(i_);
                if (k < 0) return Broke();
                const SqlTok t{SqlTok::Quoted, sql_.mid(i_ + 1, k - i_ - 1),
                               c == u'[' ? QChar(u']') : c};
                i_ = k + 1;
                return t;
            } else if (WordChar(c)) {
                qsizetype k = i_;
                while (k < n && WordChar(sql_[k])) ++k;
                const SqlTok t{SqlTok::Word, sql_.mid(i_, k - i_), {}};
                i_ = k;
                return t;
            } else {
                return SqlTok{SqlTok::Other, sql_.mid(i_++, 1), {}};
            }
        }
        return std::nullopt;
    }
    // Passes over the rest of a parenthesised group whose "(" was the last token, up to and
    // with its ")"; false when it is left open.
    bool SkipGroup() {
        const qsizetype n = sql_.size();
        int depth = 1;
        while (i_ < n) {
            const QChar c = sql_[i_];
            if (c == u'(') {
                ++depth;
            } else if (c == u')') {
                if (--depth == 0) {
                    ++i_;
                    return true;
                }
            } else if (c == u'-' && i_ + 1 < n && sql_[i_ + 1] == u'-') {
                while (i_ < n && sql_[i_] != u'\n') ++i_;
                continue;
            } else if (c == u'/' && i_ + 1 < n && sql_[i_ + 1] == u'*') {
                const qsizetype end = sql_.indexOf(u"*/", i_ + 2);
                if (end < 0) break;
                i_ = end + 2;
                continue;
            } else if (c == u'"' || c == u'`' || c == u'\'' || c == u'[') {
                const qsizetype end = QuotedEnd(i_);
                if (end < 0) break;
                i_ = end + 1;
                continue;
            }
            ++i_;
        }
        Broke();
        return false;
    }
    bool Broken() const { return broken_; }

  private:
    static bool WordChar(QChar c) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                   (u >= u'0' && u <= u'9') || u == u'_' || u == u'$';
        return true;
    }
    // Where the quoted name or string that opens at `at` closes; -1 when it does not.
    qsizetype QuotedEnd(qsizetype at) const {
        const QChar open = sql_[at], close = open == u'[' ? QChar(u']') : open;
        for (qsizetype k = at + 1;; ++k) {
            k = sql_.indexOf(close, k);
            if (k < 0) return -1;
            if (close != u']' && k + 1 < sql_.size() && sql_[k + 1] == close)
                ++k;  // a doubled quote stands for one
            else
                return k;
        }
    }
    std::optional<SqlTok> Broke() {
        broken_ = true;
        i_ = sql_.size();
        return std::nullopt;
    }
    QStringView sql_;
    qsizetype i_ = 0;
    bool broken_ = false;
};

// Numbers that keep the names of connections and attached files unique in the process.
int NextNumber() {
    static int n = 0;
    return ++n;
}

// How many connections of the process hold each database file open. Like Jet, which compacts
// only a database no one has open, the compaction refuses a source that is open here.
QHash<QString, int>& OpenFiles() {
    static QHash<QString, int> files;
    return files;
}

QString FileKey(const QString& abs) {
#ifdef _WIN32
    return abs.toLower();
#else
    return abs;
#endif
}

class SqliteConnection : public DbConnection {
  public:
    explicit SqliteConnection(SqliteEngine::Profile profile = SqliteEngine::Profile::Sqlite)
        : jet_(profile == SqliteEngine::Profile::Jet) {}
    ~SqliteConnection() override { Close(); }

    void SetConnectionString(const QString& connStr) override { connStr_ = connStr; }
    QString ConnectionString() const override { return connStr_; }
    bool Connected() const override { return db_ != nullptr; }

    void Open() override {
        if (db_) return;
        const QString abs = AbsoluteFile(DataSourceOf(connStr_));
        CheckDatabaseFile(abs);
        // (looked at before the opening: a file that takes the name meanwhile is told apart)
        identity_ = platform::FileIdentity(platform::ToU16(fs::Native(abs)));
        sqlite3* db = nullptr;
        // Never creates the file ("mode=rw"); waits up to 5 s for a file another holds locked.
        const int rc =
            sqlite3_open_v2(UriFor(abs, "rw").toUtf8().constData(), &db,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI |
                                SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_NOMUTEX,
                            nullptr);
        QString failure;
        if (rc != SQLITE_OK) {
            failure = EngineText(db);
        } else {
            sqlite3_busy_timeout(db, 5000);
            sqlite3_extended_result_codes(db, 1);
            try {
                Exec(db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
            } catch (const AppError& e) {
                failure = e.message();
            }
        }
        if (!failure.isNull()) {
            sqlite3_close_v2(db);
            FailOnFile(failure, abs);
        }
        db_ = db;
        file_ = FileKey(abs);
        ++OpenFiles()[file_];
        NewSession();
    }

    // The file stays open when the connection string still names it (the same file, not one
    // that has taken its name) and no transaction is open: its schema need not be read again.
    // The schema counter is looked at as an opening does, so that what others changed is seen.
    void Reopen() override {
        if (!jet_ && db_ && !tx_ && identity_ && OnFile(connStr_)) {
            try {
                Exec(db_, QStringLiteral("SELECT count(*) FROM sqlite_master"));
                Forget();
                NewSession();
                return;
            } catch (const AppError&) {
            }
        }
        Close();
        Open();
    }

    void Close() override {
        if (!db_) return;
        RollbackTransaction();  // closing ends an open transaction without its changes
        prepared_.clear();
        sqlite3_close_v2(db_);
        db_ = nullptr;
        Forget();  // the next file opened may be another
        if (--OpenFiles()[file_] <= 0) OpenFiles().remove(file_);
    }

    void GetTableNames(QStringList& names) override {
        names.clear();
        Open();
        names = ListNames(db_, QStringLiteral("main"), true);
    }

    void Execute(const QString& sql, const Params& params) override {
        ExecuteAtomically({Statement{sql, params}});
    }

    void ExecuteAtomically(const QList<Statement>& statements) override {
        Open();
        // Outside a transaction, files read by "in 'file'" are attached before the unit starts
        // and detached when it is done; inside one they stay attached until it ends (SQLite
        // detaches nothing while a transaction is open). Inside a transaction the unit is a
        // savepoint, so a failure undoes the unit alone and the transaction goes on. A unit of
        // one statement that SQLite runs as one needs neither: a failing statement takes back
        // its own changes.
        QList<Attached> attached = Attach(statements);
        const auto run = [&](const Statement& s, const Translated& t) {
            QVariantList binds;
            for (const QString& p : t.params) binds << ValueOf(p, s.params);
            const bool schema = ChangesSchema(t);
            if (schema) Forget();
            rowsAffected_ = Exec(db_, t.sql, binds);
            for (const QString& x : t.extra) Exec(db_, x);
            if (schema) {
                rowsAffected_ = 0;
                if (jet_ && (tx_ || statements.size() > 1)) tableChanges_.append({t, binds});
            }
        };
        const qsizetype mark = tableChanges_.size();
        try {
            const QList<Attached> visible = Visible(attached);
            std::optional<Translated> single;
            if (statements.size() == 1) {
                single = Translator(MainNames(), visible, Columns()).Translate(statements[0].sql);
                if (!single->extra.isEmpty()) single.reset();
            }
            if (single) {
                try {
                    run(statements[0], *single);
                } catch (...) {
                    Forget();
                    throw;
                }
            } else {
                Exec(db_, tx_ ? QStringLiteral("SAVEPOINT zelk_unit") : QStringLiteral("BEGIN"));
                try {
                    for (const Statement& s : statements)
                        run(s, Translator(MainNames(), visible, Columns()).Translate(s.sql));
                    Exec(db_, tx_ ? QStringLiteral("RELEASE zelk_unit") : QStringLiteral("COMMIT"));
                    if (!tx_) tableChanges_.clear();
                } catch (...) {
                    Forget();
                    if (tx_) {
                        ExecQuietly(db_, QStringLiteral("ROLLBACK TO zelk_unit"));
                        ExecQuietly(db_, QStringLiteral("RELEASE zelk_unit"));
                    } else {
                        ExecQuietly(db_, QStringLiteral("ROLLBACK"));
                    }
                    PutBackTableChanges(mark);
                    throw;
                }
            }
        } catch (...) {
            Done(attached);
            throw;
        }
        Done(attached);
    }

    void BeginTransaction() override {
        if (tx_) throw AppError(QStringLiteral("A transaction is already open"));
        Open();
        // The transaction's pages stay in memory until the commit (the file is copied alongside
        // meanwhile); they are bounded by what the command changes, not by the catalog's size.
        Exec(db_, QStringLiteral("PRAGMA cache_spill = OFF"));
        Exec(db_, QStringLiteral("BEGIN"));
        tx_ = true;
        Forget();
    }

    void CommitTransaction() override {
        if (!tx_) throw AppError(QStringLiteral("No transaction is open"));
        Exec(db_, QStringLiteral("COMMIT"));
        tx_ = false;
        tableChanges_.clear();
        Forget();
        Detach(txAttached_);
        ExecQuietly(db_, QStringLiteral("PRAGMA cache_spill = ON"));
    }

    bool RollbackTransaction() override {
        if (!tx_) return true;
        // A failed commit may have ended the transaction already (SQLite rolls back by itself
        // after some write errors); there is then nothing left to undo.
        bool ok = true;
        if (sqlite3_get_autocommit(db_) == 0) {
            try {
                Exec(db_, QStringLiteral("ROLLBACK"));
            } catch (const AppError& e) {
                ok = e.message().contains(QLatin1String("no transaction"));
            }
        }
        tx_ = false;
        Forget();
        PutBackTableChanges(0);
        Detach(txAttached_);
        ExecQuietly(db_, QStringLiteral("PRAGMA cache_spill = ON"));
        return ok;
    }

    bool InTransaction() const override { return tx_; }
    bool RollsBackTableChanges() const override { return !jet_; }
    bool FileStaysUntilCommit() const override { return !jet_; }
    std::optional<qint64> RowsAffected() const override { return rowsAffected_; }

    FirstRow OpenQuery(const QString& sql, const Params& params) override {
        Open();
        QList<Attached> attached = Attach({Statement{sql, params}});
        FirstRow row;
        try {
            const QList<Attached> visible = Visible(attached);
            Translator tr(MainNames(), visible, Columns());
            const Translated t = tr.Translate(sql);
            // A select run again (the same text, other values) is prepared once; one that
            // reads an attached file is prepared anew, for the file's name in it is the
            // attachment's.
            std::optional<Stmt> own;
            if (!attached.isEmpty()) own.emplace(db_, t.sql);
            Stmt& q = own ? *own : Prepared(t.sql);
            const struct Finish {
                Stmt& q;
                ~Finish() { q.Reset(); }
            } finish{q};
            QVariantList binds;
            for (const QString& p : t.params) binds << ValueOf(p, params);
            q.Bind(binds);
            const bool any = q.Step();
            for (int i = 0; i < q.Columns(); ++i) row.names << q.Name(i);
            if (any)
                for (int i = 0; i < q.Columns(); ++i) row.values << q.Text(i);
        } catch (...) {
            Done(attached);
            throw;
        }
        Done(attached);
        return row;
    }

    void VacuumInto(const QString& destAbs) {
        Open();
        Exec(db_, QStringLiteral("VACUUM INTO ?"), {QVariant(destAbs)});
    }

  private:
    // Jet keeps the tables a transaction created or dropped when it is rolled back: the table
    // changes made since the `from`-th are made again after SQLite has undone them.
    void PutBackTableChanges(qsizetype from) {
        for (qsizetype i = from; i < tableChanges_.size(); ++i) {
            const auto& [t, binds] = tableChanges_[i];
            try {
                Exec(db_, t.sql, binds);
                for (const QString& x : t.extra) Exec(db_, x);
            } catch (const AppError&) {
            }
        }
        if (!tx_) tableChanges_.clear();
        Forget();
    }

    // Whether the connection string `connStr` names the file this connection has open.
    bool OnFile(const QString& connStr) const {
        try {
            const QString abs = AbsoluteFile(DataSourceOf(connStr));
            return FileKey(abs) == file_ &&
                   platform::FileIdentity(platform::ToU16(fs::Native(abs))) == identity_;
        } catch (const AppError&) {
            return false;
        }
    }

    // The names of the catalog's tables and the columns of tables, as statements are
    // translated. Inside a transaction, once it has read the file, no other connection can
    // change the schema; they are then looked up once and kept until a statement of this
    // connection changes the schema, a unit is undone or the transaction ends. Outside one,
    // each statement looks anew.
    QStringList MainNames() {
        if (tx_ && mainNamesKept_) return mainNames_;
        // Outside a transaction the file's schema counter tells whether anyone changed the
        // schema since the names were listed (one number read instead of the list).
        qint64 version = -1;
        if (!tx_) {
            Stmt& q = Prepared(QStringLiteral("PRAGMA main.schema_version"));
            try {
                if (q.Step()) version = q.Integer(0);
            } catch (const AppError&) {
            }
            q.Reset();
            if (version >= 0 && mainNamesKept_ && version == namesVersion_) return mainNames_;
        }
        mainNames_ = ListNames(db_, QStringLiteral("main"), false);
        mainNamesKept_ = tx_ || version >= 0;
        namesVersion_ = version;
        return mainNames_;
    }
    ColumnsOf Columns() {
        if (!tx_)
            return [this](const QString& schema, const QString& table) {
                return ColumnNames(schema, table);
            };
        return [this](const QString& schema, const QString& table) {
            const QString key = schema + QChar(0) + table;
            auto it = columns_.constFind(key);
            if (it != columns_.constEnd()) return *it;
            // The definitions of a schema's tables are read once (one query instead of one
            // for each table); a definition not read here goes to the pragma.
            if (!definitions_.contains(schema)) {
                QHash<QString, QString>& defs = definitions_[schema];
                try {
                    Stmt q(db_, QStringLiteral("SELECT name, sql FROM %1.sqlite_master WHERE "
                                               "type = 'table'")
                                    .arg(QuoteName(schema)));
                    while (q.Step()) defs.insert(q.Text(0), q.Text(1));
                } catch (const AppError&) {
                }
            }
            const QString sql = definitions_[schema].value(table);
            const std::optional<QStringList> read =
                sql.isEmpty() ? std::nullopt : SqliteColumnsOfDefinition(sql);
            const QStringList names = read ? *read : ColumnNames(schema, table);
            if (!names.isEmpty()) columns_.insert(key, names);
            return names;
        };
    }
    // The columns of a table in their order; none when there is no such table.
    QStringList ColumnNames(const QString& schema, const QString& table) {
        Stmt& q = Prepared(QStringLiteral("SELECT name FROM pragma_table_info(?, ?)"));
        QStringList names;
        try {
            q.Bind({QVariant(table), QVariant(schema)});
            while (q.Step()) names << q.Text(0);
        } catch (const AppError&) {
        }
        q.Reset();
        return names;
    }
    // A statement the connection runs again and again, prepared once while it is open.
    Stmt& Prepared(const QString& sql) {
        auto it = prepared_.find(sql);
        if (it == prepared_.end()) {
            if (prepared_.size() >= 128) prepared_.clear();  // (texts seldom seen go too)
            auto q = std::make_shared<Stmt>(db_, sql);
            it = prepared_.insert(sql, q);
        }
        return **it;
    }
    void Forget() {
        mainNamesKept_ = false;
        columns_.clear();
        definitions_.clear();
    }
    static bool ChangesSchema(const Translated& t) {
        const QString head = t.sql.trimmed().left(6).toUpper();
        return !t.extra.isEmpty() || head.startsWith(QLatin1String("CREATE")) ||
               head.startsWith(QLatin1String("DROP")) || head.startsWith(QLatin1String("ALTER"));
    }

    QList<Attached> Attach(const QList<Statement>& statements) {
        QList<Attached> out;
        try {
            for (const Statement& s : statements) {
                // ("in 'file'" needs a quote)
                if (!s.sql.contains(u'\'') && !s.sql.contains(u'"')) continue;
                const QList<Tok> t = Lex(s.sql);
                for (int i = 0; i < t.size(); ++i) {
                    int strAt = -1;
                    if (!IsInFile(t, i, int(t.size()), &strAt)) continue;
                    const QString abs = AbsoluteFile(StrValue(t[strAt]));
                    bool have = false;
                    for (const Attached& a : out) have = have || a.path == abs;
                    for (const Attached& a : txAttached_) have = have || a.path == abs;
                    if (have) continue;
                    CheckDatabaseFile(abs);
                    Attached a{abs, QStringLiteral("zelk_in_%1").arg(NextNumber()), {}};
                    try {
                        Exec(db_, QStringLiteral("ATTACH DATABASE ? AS ") + QuoteName(a.alias),
                             {QVariant(UriFor(abs, "ro"))});
                    } catch (const AppError& e) {
                        FailOnFile(e.message(), abs);
                    }
                    out.append(a);  // detached on failure below
                    try {
                        out.last().names = ListNames(db_, a.alias, false);
                    } catch (const AppError& e) {
                        FailOnFile(e.message(), abs);
                    }
                }
            }
        } catch (...) {
            Detach(out);
            throw;
        }
        return out;
    }

    // The files a statement can read: those attached for it and, inside a transaction, those
    // attached earlier in the transaction.
    QList<Attached> Visible(const QList<Attached>& attached) const {
        return tx_ ? txAttached_ + attached : attached;
    }
    // After a statement: the files attached for it are detached, or kept until the end of the
    // open transaction.
    void Done(QList<Attached>& attached) {
        if (tx_) {
            txAttached_ += attached;
            attached.clear();
        } else {
            Detach(attached);
        }
    }

    void Detach(QList<Attached>& attached) {
        for (const Attached& a : attached)
            ExecQuietly(db_, QStringLiteral("DETACH DATABASE ") + QuoteName(a.alias));
        attached.clear();
    }

    sqlite3* db_ = nullptr;  // while open
    QString connStr_;
    QString file_;  // while open: the key of its file in OpenFiles()
    std::optional<std::pair<std::uint64_t, std::uint64_t>> identity_;  // of the file opened
    bool tx_ = false;
    QList<Attached> txAttached_;  // files attached during the open transaction
    qint64 rowsAffected_ = 0;     // by the last statement
    const bool jet_;              // the Jet-shaped profile
    // Jet-shaped: the table changes of the open transaction (or unit), put back after a rollback
    QList<QPair<Translated, QVariantList>> tableChanges_;
    QStringList mainNames_;
    bool mainNamesKept_ = false;
    qint64 namesVersion_ = -1;  // the schema counter the names were listed at (outside a tx)
    QHash<QString, QStringList> columns_;
    QHash<QString, QHash<QString, QString>> definitions_;  // by schema: each table's CREATE text
    QHash<QString, std::shared_ptr<Stmt>> prepared_;       // while open
};

}  // namespace

std::optional<QStringList> SqliteColumnsOfDefinition(const QString& sql) {
    SqlLexer lex(sql);
    const auto word = [](const SqlTok& k, QLatin1String w) {
        return k.kind == SqlTok::Word && k.text.size() == w.size() &&
               k.text.compare(w, Qt::CaseInsensitive) == 0;
    };
    const auto other = [](const SqlTok& k, char c) {
        return k.kind == SqlTok::Other && k.text[0] == QLatin1Char(c);
    };
    // "CREATE [TEMP] TABLE [IF NOT EXISTS] [schema.]name (" and nothing else before the list.
    std::optional<SqlTok> k = lex.Next();
    const auto next = [&] { k = lex.Next(); };
    if (!k || !word(*k, QLatin1String("create"))) return std::nullopt;
    next();
    if (k && (word(*k, QLatin1String("temp")) || word(*k, QLatin1String("temporary")))) next();
    if (!k || !word(*k, QLatin1String("table"))) return std::nullopt;
    next();
    if (k && word(*k, QLatin1String("if"))) {
        next();
        if (!k || !word(*k, QLatin1String("not"))) return std::nullopt;
        next();
        if (!k || !word(*k, QLatin1String("exists"))) return std::nullopt;
        next();
    }
    if (!k || k->kind == SqlTok::Other) return std::nullopt;  // the name
    next();
    if (k && other(*k, '.')) {
        next();
        if (!k || k->kind == SqlTok::Other) return std::nullopt;
        next();
    }
    if (!k || !other(*k, '(')) return std::nullopt;

    QStringList names;
    bool atStart = true, constraint = false;
    int depth = 1;
    for (next(); k && depth > 0; next()) {
        if (other(*k, '(')) {
            // (what is inside, a type's size or a constraint's expression, names no column)
            if (!lex.SkipGroup()) return std::nullopt;
        } else if (other(*k, ')')) {
            --depth;
        } else if (other(*k, ',')) {
            atStart = true;
            constraint = false;
            continue;
        } else if (atStart) {
            if (word(*k, QLatin1String("constraint")) || word(*k, QLatin1String("primary")) ||
                word(*k, QLatin1String("unique")) || word(*k, QLatin1String("check")) ||
                word(*k, QLatin1String("foreign"))) {
                constraint = true;
            } else if (k->kind == SqlTok::Other || k->text.isEmpty()) {
                return std::nullopt;
            } else {
                names << k->Value();
            }
        } else if (!constraint &&
                   (word(*k, QLatin1String("as")) || word(*k, QLatin1String("generated")))) {
            return std::nullopt;  // a generated column, which the pragma leaves out
        }
        atStart = false;
    }
    if (lex.Broken() || depth != 0 || names.isEmpty()) return std::nullopt;
    return names;
}

SqliteEngine::SqliteEngine(Profile profile) : profile_(profile) {}

std::unique_ptr<DbConnection> SqliteEngine::NewConnection() {
    return std::make_unique<SqliteConnection>(profile_);
}

namespace {

// Runs `writing`, which writes the new file `file` from its start to its end, while the disk
// takes what it has written so far and the file cache lets go of it: a copy as large as the
// catalog then passes through a few windows of memory, and its sync at the end is short.
void WithWriteBehind(const QString& file, const std::function<void()>& writing) {
    if (!platform::WritesBehind()) {
        writing();
        return;
    }
    std::atomic<bool> done{false};
    std::thread behind([&done, file] {
        QFile f(file);
        while (!done.load(std::memory_order_acquire)) {
            if (f.isOpen() || (QFileInfo::exists(file) && f.open(QIODevice::ReadOnly)))
                platform::WriteBehind(int(f.handle()), f.size(), qint64(8) << 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    struct Join {
        std::atomic<bool>& done;
        std::thread& behind;
        ~Join() {
            done.store(true, std::memory_order_release);
            behind.join();
        }
    } join{done, behind};
    writing();
}

}  // namespace

void SqliteEngine::CompactDatabase(const QString& srcConnStr, const QString& destConnStr) {
    const QString src = AbsoluteFile(DataSourceOf(srcConnStr));
    const QString dest = AbsoluteFile(DataSourceOf(destConnStr));
    if (QFileInfo::exists(dest)) FailOnFile(QStringLiteral("output file already exists"), dest);
    if (OpenFiles().contains(FileKey(src))) FailOnFile(QStringLiteral("database is locked"), src);
    SqliteConnection c;
    c.SetConnectionString(QStringLiteral("Data Source=") + QuoteConnectionValue(src));
    try {
        WithWriteBehind(dest, [&] { c.VacuumInto(dest); });
    } catch (...) {
        c.Close();
        // An incomplete copy, and the journal SQLite may leave beside it.
        for (const char* debris : {"", "-journal", "-wal", "-shm"})
            fs::DeleteFile(dest + QLatin1String(debris));
        throw;
    }
    c.Close();
}

void SqliteEngine::CreateDatabase(const QString& file) {
    const QString abs = AbsoluteFile(file);
    // Made new or not at all: an existing file is never opened for writing here.
    QFile f(abs);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        FailOnFile(QFileInfo::exists(abs) ? QStringLiteral("file already exists")
                                          : QStringLiteral("unable to open database file"),
                   abs);
    f.close();
    sqlite3* db = nullptr;
    QString failure;
    if (sqlite3_open_v2(UriFor(abs, "rw").toUtf8().constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
        failure = EngineText(db);
    } else {
        // SQLite writes its header with the first change; this one leaves nothing behind.
        try {
            Exec(db, QStringLiteral("CREATE TABLE zelk_new (x)"));
            Exec(db, QStringLiteral("DROP TABLE zelk_new"));
        } catch (const AppError& e) {
            failure = e.message();
        }
    }
    sqlite3_close_v2(db);
    if (!failure.isNull()) {
        fs::DeleteFile(abs);
        FailOnFile(failure, abs);
    }
}

QString SqliteEngine::Unavailable() { return QString(); }

}  // namespace catalog

#else  // a build without SQLite (the 32-bit Windows release, whose engine is ADO)

#include "core/AppError.h"

namespace catalog {
namespace {
[[noreturn]] void Absent() { throw AppError(SqliteEngine::Unavailable()); }
}  // namespace
std::optional<QStringList> SqliteColumnsOfDefinition(const QString&) { return std::nullopt; }
SqliteEngine::SqliteEngine(Profile profile) : profile_(profile) {}
std::unique_ptr<DbConnection> SqliteEngine::NewConnection() { Absent(); }
void SqliteEngine::CompactDatabase(const QString&, const QString&) { Absent(); }
void SqliteEngine::CreateDatabase(const QString&) { Absent(); }
QString SqliteEngine::Unavailable() { return QStringLiteral("SQLite is not part of this build"); }
}  // namespace catalog

#endif
