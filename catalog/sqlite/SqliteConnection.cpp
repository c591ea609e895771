#include "catalog/sqlite/SqliteConnection.h"

#ifndef ZELK_NO_SQLITE

#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>
#include <QVariant>
#include <mutex>

#include "catalog/sqlite/JetStatements.h"
#include "core/AppError.h"

namespace catalog::sqlite {
namespace {

// ---- messages, files and statements ------------------------------------------------------

// SQLite's message without the schema names this engine puts before table names ("main"
// and the private names of files read by "in 'file'"), which mean nothing to the user.
QString EngineText(sqlite3* db) {
    // (one for each thread: the compaction may fail on a worker)
    static thread_local const QRegularExpression schema(
        QStringLiteral("\\b(main|zelk_in_[0-9]+)\\."));
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory")
        .trimmed()
        .replace(schema, QString());
}

QString UriFor(const QString& abs, const char* mode) {
    return QUrl::fromLocalFile(abs).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=") +
           QLatin1String(mode);
}

// One prepared statement, run with the values bound to its "?" markers in order.
class Stmt {
  public:
    // Raises the engine's message when SQLite does not take the text (one statement only).
    Stmt(sqlite3* db, const QString& sql, const QVariantList& binds = {}) : db_(db) {
        const QByteArray text = sql.toUtf8();
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &s_, &tail) != SQLITE_OK)
            throw AppError(EngineText(db));
        if (!s_) throw AppError(QStringLiteral("No statement in: %1").arg(sql));
        if (!QByteArrayView(tail, text.constData() + text.size() - tail).trimmed().isEmpty())
            throw AppError(QStringLiteral("Unable to execute multiple statements at a time"));
        for (int i = 0; i < binds.size(); ++i) {  // a null value as NULL, any other as text
            const QByteArray v = binds[i].toString().toUtf8();
            if ((binds[i].isNull() ? sqlite3_bind_null(s_, i + 1)
                                   : sqlite3_bind_text(s_, i + 1, v.constData(), int(v.size()),
                                                       SQLITE_TRANSIENT)) != SQLITE_OK)
                throw AppError(EngineText(db_));
        }
    }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    // The next row: true when there is one, false at the end; raises the engine's message.
    bool Step() {
        const int rc = sqlite3_step(s_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw AppError(EngineText(db_));
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

  private:
    sqlite3* db_;
    sqlite3_stmt* s_ = nullptr;
};

// A statement whose failure changes nothing that matters (a detachment, the undoing of a unit
// already undone).
void ExecQuietly(sqlite3* db, const QString& sql) {
    try {
        Exec(db, sql);
    } catch (const AppError&) {
    }
}

// The values of the parameters a statement names, in the order of its markers; a parameter
// without a value is null.
QVariantList Binds(const QStringList& names, const Params& params) {
    QVariantList out;
    for (const QString& name : names) {
        QVariant value(QMetaType::fromType<QString>());
        for (const auto& [n, v] : params) {
            if (n.compare(name, Qt::CaseInsensitive) != 0) continue;
            if (!v.isNull()) value = v;
            break;
        }
        out << value;
    }
    return out;
}

// ---- files held open -----------------------------------------------------------------------

// How many connections of the process hold each database file open. Like Jet, which compacts
// only a database no one has open, the compaction refuses a source that is open here. The
// compaction may run on another thread than the connections: the count is locked.
struct Held {
    std::mutex lock;
    QHash<QString, int> files;
};
Held& HeldFiles() {
    static Held held;
    return held;
}
QString FileKey(const QString& abs) {
#ifdef _WIN32
    return abs.toLower();
#else
    return abs;
#endif
}
void Hold(const QString& abs, int by) {
    Held& h = HeldFiles();
    const std::lock_guard guard(h.lock);
    if ((h.files[FileKey(abs)] += by) <= 0) h.files.remove(FileKey(abs));
}

// ---- the connection -------------------------------------------------------------------------

class Connection : public DbConnection {
  public:
    explicit Connection(bool jet) : jet_(jet) {}
    ~Connection() override { Close(); }

    void SetConnectionString(const QString& connStr) override { connStr_ = connStr; }
    QString ConnectionString() const override { return connStr_; }
    bool Connected() const override { return db_ != nullptr; }

    void Open() override {
        if (db_) return;
        const QString abs = DatabaseFileOf(connStr_);
        db_ = OpenFile(abs, "rw");
        file_ = abs;
        Hold(file_, 1);
        NewSession();
    }

    void Close() override {
        if (!db_) return;
        RollbackTransaction();  // closing ends an open transaction without its changes
        sqlite3_close_v2(db_);
        db_ = nullptr;
        Hold(file_, -1);
    }

    void GetTableNames(QStringList& names) override {
        names.clear();
        Open();
        names = Names(QStringLiteral("main"), true);
    }

    void Execute(const QString& sql, const Params& params) override {
        ExecuteAtomically({Statement{sql, params}});
    }

    // The statements run as a unit: a transaction of its own, or inside the open transaction
    // a savepoint, so that a failure undoes the unit alone and the transaction goes on. Files
    // read by "in 'file'" are attached before the unit and detached after it, or, inside a
    // transaction, when it ends (SQLite detaches nothing while one is open).
    void ExecuteAtomically(const QList<Statement>& statements) override {
        Open();
        rowsAffected_.reset();
        QList<Attached> attached = Attach(statements);
        const qsizetype mark = tableChanges_.size();
        try {
            Exec(db_, tx_ ? QStringLiteral("SAVEPOINT zelk_unit") : QStringLiteral("BEGIN"));
            try {
                for (const Statement& s : statements) {
                    const Translated t = Translate(s.sql, Names(QStringLiteral("main"), false),
                                                   Visible(attached), Columns());
                    const QVariantList binds = Binds(t.params, s.params);
                    const qint64 changed = Exec(db_, t.sql, binds);
                    for (const QString& x : t.extra) Exec(db_, x);
                    rowsAffected_ = t.changesSchema ? 0 : changed;
                    if (jet_ && t.changesSchema) tableChanges_.append({t, binds});
                }
                Exec(db_, tx_ ? QStringLiteral("RELEASE zelk_unit") : QStringLiteral("COMMIT"));
            } catch (...) {
                rowsAffected_.reset();
                if (tx_) {
                    ExecQuietly(db_, QStringLiteral("ROLLBACK TO zelk_unit"));
                    ExecQuietly(db_, QStringLiteral("RELEASE zelk_unit"));
                } else {
                    ExecQuietly(db_, QStringLiteral("ROLLBACK"));
                }
                PutBackTableChanges(mark);
                throw;
            }
        } catch (...) {
            Done(attached);
            throw;
        }
        if (!tx_) tableChanges_.clear();
        Done(attached);
    }

    FirstRow OpenQuery(const QString& sql, const Params& params) override {
        Open();
        QList<Attached> attached = Attach({Statement{sql, params}});
        FirstRow row;
        try {
            const Translated t =
                Translate(sql, Names(QStringLiteral("main"), false), Visible(attached), Columns());
            Stmt q(db_, t.sql, Binds(t.params, params));
            const bool any = q.Step();
            for (int i = 0; i < q.Columns(); ++i) {
                row.names << q.Name(i);
                if (any) row.values << q.Text(i);
            }
        } catch (...) {
            Done(attached);
            throw;
        }
        Done(attached);
        return row;
    }

    void BeginTransaction() override {
        if (tx_) throw AppError(QStringLiteral("A transaction is already open"));
        Open();
        Exec(db_, QStringLiteral("BEGIN"));
        tx_ = true;
    }

    void CommitTransaction() override {
        if (!tx_) throw AppError(QStringLiteral("No transaction is open"));
        Exec(db_, QStringLiteral("COMMIT"));
        tx_ = false;
        tableChanges_.clear();
        Detach(txAttached_);
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
        PutBackTableChanges(0);
        Detach(txAttached_);
        return ok;
    }

    bool InTransaction() const override { return tx_; }
    bool RollsBackTableChanges() const override { return !jet_; }
    std::optional<qint64> RowsAffected() const override { return rowsAffected_; }

  private:
    // Jet keeps the tables a transaction or unit created or dropped when it is rolled back:
    // the table changes made since the `from`-th are made again after SQLite has undone them.
    void PutBackTableChanges(qsizetype from) {
        for (qsizetype i = from; i < tableChanges_.size(); ++i) {
            try {
                Exec(db_, tableChanges_[i].first.sql, tableChanges_[i].second);
                for (const QString& x : tableChanges_[i].first.extra) Exec(db_, x);
            } catch (const AppError&) {
                // (a table change that cannot be made again stays undone)
            }
        }
        if (!tx_) tableChanges_.clear();
    }

    // The tables and views of a schema ("main" or an attached file's private name); `user`:
    // without SQLite's own tables.
    QStringList Names(const QString& schema, bool user) {
        QString sql =
            QStringLiteral("SELECT name FROM %1.sqlite_master WHERE type IN ('table', 'view')")
                .arg(QuoteName(schema));
        if (user)
            sql += QStringLiteral(" AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name");
        Stmt q(db_, sql);
        QStringList names;
        while (q.Step()) names << q.Text(0);
        return names;
    }

    ColumnsOf Columns() {
        return [this](const QString& schema, const QString& table) {
            QStringList names;
            try {
                Stmt q(db_, QStringLiteral("SELECT name FROM pragma_table_info(?, ?)"),
                       {QVariant(table), QVariant(schema)});
                while (q.Step()) names << q.Text(0);
            } catch (const AppError&) {
            }
            return names;
        };
    }

    QList<Attached> Attach(const QList<Statement>& statements) {
        QList<Attached> out;
        const auto have = [&](const QString& abs) {
            for (const Attached& a : out + txAttached_)
                if (a.path == abs) return true;
            return false;
        };
        try {
            for (const Statement& s : statements) {
                for (const QString& abs : FilesReadBy(s.sql)) {
                    if (have(abs)) continue;
                    Attached a{abs, QStringLiteral("zelk_in_%1").arg(++attachments_), {}};
                    const QFileInfo fi(abs);
                    if (!fi.isFile() || fi.size() == 0)
                        FailOnFile(fi.isFile() ? QStringLiteral("file is not a database")
                                               : QStringLiteral("unable to open database file"),
                                   abs);
                    try {
                        Exec(db_, QStringLiteral("ATTACH DATABASE ? AS ") + QuoteName(a.alias),
                             {QVariant(UriFor(abs, "ro"))});
                        out.append(a);  // detached on failure below
                        out.last().names = Names(a.alias, false);
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

    const bool jet_;         // the Jet-shaped profile
    sqlite3* db_ = nullptr;  // while open
    QString connStr_;
    QString file_;  // while open: the file held
    bool tx_ = false;
    QList<Attached> txAttached_;          // files attached during the open transaction
    int attachments_ = 0;                 // numbers the private names of attached files
    std::optional<qint64> rowsAffected_;  // by the last statement
    // Jet-shaped: the table changes of the open transaction, or of the unit outside one
    QList<QPair<Translated, QVariantList>> tableChanges_;
};

}  // namespace

std::unique_ptr<DbConnection> NewConnection(bool jet) { return std::make_unique<Connection>(jet); }

QString DatabaseFileOf(const QString& connStr) {
    const std::optional<QString> ds = ConnectionProperty(connStr, QStringLiteral("Data Source"));
    if (!ds || ds->trimmed().isEmpty())
        throw AppError(QStringLiteral(
            "Не указан файл базы данных: в строке подключения нет значения Data Source"));
    return AbsoluteFile(*ds);
}

void FailOnFile(const QString& engineMessage, const QString& abs) {
    throw AppError(QStringLiteral("%1: \"%2\"").arg(engineMessage, QDir::toNativeSeparators(abs)));
}

sqlite3* OpenFile(const QString& abs, const char* mode, bool empty) {
    const QFileInfo fi(abs);
    if (!fi.isFile()) FailOnFile(QStringLiteral("unable to open database file"), abs);
    if (fi.size() == 0 && !empty) FailOnFile(QStringLiteral("file is not a database"), abs);
    sqlite3* db = nullptr;
    // The URI's mode keeps SQLite from creating the file; a file another holds locked is
    // waited for up to 5 s.
    QString failure;
    if (sqlite3_open_v2(UriFor(abs, mode).toUtf8().constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI |
                            SQLITE_OPEN_PRIVATECACHE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        failure = EngineText(db);
    } else {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_extended_result_codes(db, 1);
        try {
            Exec(db, QStringLiteral("SELECT count(*) FROM sqlite_master"));  // a database?
        } catch (const AppError& e) {
            failure = e.message();
        }
    }
    if (!failure.isNull()) {
        sqlite3_close_v2(db);
        FailOnFile(failure, abs);
    }
    return db;
}

qint64 Exec(sqlite3* db, const QString& sql, const QVariantList& binds) {
    Stmt(db, sql, binds).Step();
    return sqlite3_changes(db);
}

bool HeldOpen(const QString& abs) {
    Held& h = HeldFiles();
    const std::lock_guard guard(h.lock);
    return h.files.contains(FileKey(abs));
}

}  // namespace catalog::sqlite

#endif
