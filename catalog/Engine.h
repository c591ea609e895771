#pragma once

// What the tool asks of its database engine: connections opened from ADO connection strings,
// statements in the Jet dialect with named text parameters, the first row of a query read
// as text, the listing of user tables and views, and the compaction of a database file into
// a copy. Every failure is an AppError carrying the engine's message.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace catalog {

using Params = QList<QPair<QString, QString>>;  // named text parameters, e.g. {"kz", "ЗЕЛК"}

// One statement with the values of the parameters it names (":kz" in the text, "kz" here).
// A parameter named in the text without a value here is bound as null.
struct Statement {
    QString sql;
    Params params;
};

// The first row of an opened query: every field of the result by name, null fields (and
// every field of an empty result) as the empty text.
struct FirstRow {
    QStringList names;
    QStringList values;  // empty when the query returned no row
    bool empty() const { return values.isEmpty(); }
    // The named field, compared without regard to letter case; nullopt when the result has no
    // such field.
    std::optional<QString> Field(const QString& name) const;
};

class DbConnection {
  public:
    virtual ~DbConnection() = default;

    virtual void SetConnectionString(const QString& connStr) = 0;
    virtual QString ConnectionString() const = 0;

    // Opening an open connection, or closing a closed one, does nothing. Opening never asks
    // for a login and never creates a database file.
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual bool Connected() const = 0;

    // A statement, query or table listing on a closed connection opens it first.

    // Empties `names`, then fills it with every user table and view (no system tables).
    virtual void GetTableNames(QStringList& names) = 0;

    // Runs a statement that returns no rows (create, insert, delete, drop) once.
    virtual void Execute(const QString& sql, const Params& params) = 0;
    // Runs the statements in order as one unit: either all of them take effect or, when one
    // fails, none does and the failure is raised. Inside an open transaction they become part
    // of it.
    virtual void ExecuteAtomically(const QList<Statement>& statements) = 0;
    // Runs a select and returns its first row.
    virtual FirstRow OpenQuery(const QString& sql, const Params& params) = 0;

    // One transaction around the statements that follow, until it is committed or rolled
    // back: nothing of them is in the database file before the commit, and a rollback (or the
    // end of the process) leaves the file as it was at the beginning. Statements, queries and
    // ExecuteAtomically run inside it; the connection is not closed while it lasts. Beginning
    // opens a closed connection; beginning twice is an error.
    virtual void BeginTransaction() = 0;
    // Raises when the changes cannot be written; the transaction is then still open and the
    // caller rolls it back.
    virtual void CommitTransaction() = 0;
    // Never raises: false when the engine could not undo the changes.
    virtual bool RollbackTransaction() = 0;
    virtual bool InTransaction() const = 0;
    // Whether a rollback also takes back the creation and removal of tables.
    virtual bool RollsBackTableChanges() const { return false; }
    // The rows that the last statement run by Execute inserted or deleted (none for a table's
    // creation or removal); nullopt where the engine does not tell (the callers then count the
    // rows themselves). ADO on Jet and the SQLite stand-in tell it for inserts and deletes.
    virtual std::optional<qint64> RowsAffected() const { return std::nullopt; }

    // Grows by one with every successful opening; a query opened in an earlier session of
    // the connection is closed with it.
    virtual quint64 Session() const { return session_; }

  protected:
    void NewSession() { ++session_; }

  private:
    quint64 session_ = 0;
};

// Threads: a connection is used by the thread that made it. CompactDatabase may run on any
// thread (the tool runs it on a worker while the window waits, with the catalog connection
// closed on the window's thread before and opened after); it shares nothing with the
// connections of other threads but what the engine guards itself.
class Engine {
  public:
    virtual ~Engine() = default;
    virtual std::unique_ptr<DbConnection> NewConnection() = 0;
    // Writes a compacted copy of the source database to the destination; the source file is
    // left unchanged. Fails when the destination file exists, and when a connection holds the
    // source open. Both are connection strings of the form
    // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file path.
    virtual void CompactDatabase(const QString& srcConnStr, const QString& destConnStr) = 0;
    // Creates an empty database file of this engine (for Jet: an Access file of Jet 4.0);
    // fails with the engine's message, and leaves the file as it was, when it exists.
    virtual void CreateDatabase(const QString& file) = 0;
};

// The engine of this platform build: ADO with the Jet provider in Windows builds, the SQLite
// stand-in elsewhere.
Engine& DefaultEngine();
// The one point that changes what DefaultEngine() returns: `engine` from now on, or the
// platform's engine again for nullptr. Test programs use it to run the catalog code on the
// SQLite stand-in where the platform's engine cannot serve (Windows without Jet); the engine
// must outlive every connection made from it.
void SetDefaultEngine(Engine* engine);

// ADO connection strings: properties "name=value" separated by ";"; names compared without
// regard to letter case; a value may be enclosed in double or single quotes, inside which
// the same quote written twice stands for one; unquoted values are trimmed. The last
// occurrence of a property wins. nullopt when the property is absent.
std::optional<QString> ConnectionProperty(const QString& connStr, const QString& name);
// A value written so that ConnectionProperty reads it back unchanged: as it stands when that
// is safe, otherwise enclosed in double quotes.
QString QuoteConnectionValue(const QString& value);
bool ConnectionValueNeedsQuotes(const QString& value);
// The string handed to ADO when a connection opens: `connStr` with "OLE DB Services=-2" (every
// OLE DB service but resource pooling) added when it names no OLE DB Services of its own, so
// that closing a connection releases its database file at once. The string the tool keeps and
// shows stays as it was.
QString WithoutPooling(const QString& connStr);

}  // namespace catalog
