#pragma once

// The two database connections and three queries of the window, and the operations that
// every catalog command shares: the catalog reconnection, query activation and statement
// replacement.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>

#include "catalog/Engine.h"
#include "core/AppError.h"

struct AppState;

namespace catalog {

class DbConnection;  // catalog/Engine.h
class AdoQuery;

using Params = QList<QPair<QString, QString>>;  // named text parameters, e.g. {"kz", "ЗЕЛК"}

// The message with which the catalog connection refuses every statement until a catalog
// reconnection has succeeded.
inline const QString kCatalogNotChosen =
    QStringLiteral("База изделий не выбрана: укажите путь к базе изделий");

// The tool's install database, beside the executable (named relative to the current
// directory, which is the tool's folder).
inline const QString kInstallDb = QStringLiteral("ZELK_install.mdb");

// The built-in connection string of both connections, with the given Data Source value
// (inserted as it stands).
QString JetConnectionString(const QString& dataSource);

// The catalog file that a catalog connection string names (its Data Source value).
QString CatalogFileOf(const QString& connStr);
// The backup of a catalog file: the same name with ".bak" added.
QString BackupFileOf(const QString& catalogFile);
// A backup that could not be made: the command stops before it changed anything, as the
// message says.
class BackupFailure : public AppError {
  public:
    using AppError::AppError;
};

// Copies the catalog file of the connection string to its backup, replacing an older backup
// in one step; raises BackupFailure, naming the backup, when the copy cannot be made. `progress` is
// told the bytes copied so far and the catalog's size.
void BackupCatalogFile(const QString& connStr,
                       const std::function<void(qint64 done, qint64 total)>& progress = {});

class CatalogDb {
  public:
    explicit CatalogDb(AppState& st);
    CatalogDb(AppState& st, Engine& engine);
    ~CatalogDb();
    CatalogDb(const CatalogDb&) = delete;
    CatalogDb& operator=(const CatalogDb&) = delete;

    DbConnection& ADOConnection1();  // the install database "ZELK_install.mdb"
    DbConnection& ADOConnection2();  // the catalog database
    AdoQuery& ADOQuery1();           // install database
    AdoQuery& ADOQuery2();           // catalog
    AdoQuery& ADOQuery3();           // install database

    // Catalog reconnection with the catalog path P: close ADOConnection2, set its connection
    // string to fstr with every "zelk_install.mdb" (any letter case) replaced by P, run
    // `beforeOpen` (the catalog choice restores the current directory there), open it.
    void Reconnect(const QString& P, const std::function<void()>& beforeOpen = {});

    // Query activation: each named query that is closed and holds a select is opened; an
    // open one is not rerun; one holding a statement that returns no rows is left closed.
    void Activate(std::initializer_list<AdoQuery*> queries);

    // Whether a catalog reconnection has succeeded since start-up. Until then the catalog
    // connection names the install database and must serve no catalog statement.
    bool CatalogReady() const;

    // A command that may change the catalog arms the backup first: the first change it then
    // makes (a transaction, or any statement that returns no rows outside one) is preceded by
    // a copy of the catalog file to its backup, and a failed copy stops the command before
    // that change. A catalog already backed up in this run is not copied again.
    void ArmBackup();
    void DisarmBackup();
    // Told how far the backup copy is, while it is made (a command shows it).
    void SetBackupProgress(std::function<void(qint64 done, qint64 total)> progress);
    // The connected catalog's file (full path), its backup file, and whether the backup was
    // made in this run.
    QString CatalogFile() const;
    QString BackupFile() const;
    bool BackedUpThisRun() const;

    Engine& DbEngine();

  private:
    friend class CatalogTransaction;
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The one catalog transaction of a command: begun when made (after the backup, when it is
// armed), ended by Commit(); left without a commit, it is rolled back. Made while the catalog
// connection is in a transaction already, it joins that one and leaves both ends to it.
class CatalogTransaction {
  public:
    explicit CatalogTransaction(CatalogDb& db);
    ~CatalogTransaction();
    CatalogTransaction(const CatalogTransaction&) = delete;
    CatalogTransaction& operator=(const CatalogTransaction&) = delete;

    // Runs `action` right after the transaction that this one is or joins has committed (a
    // change the engine could not take back with it).
    void AfterCommit(std::function<void()> action);
    // Commits; then runs the actions kept for after the commit (their failures are raised
    // with Committed() already true).
    void Commit();
    // Rolls back; false when the engine could not undo the changes.
    bool Rollback();
    bool Joined() const { return joined_; }
    bool Committed() const { return committed_; }

  private:
    CatalogDb& db_;
    bool joined_;
    bool done_ = false;
    bool committed_ = false;
};

// A query object: one statement text with its parameters, bound to one connection; while it
// is open (a select), the first row of its result.
class AdoQuery {
  public:
    AdoQuery(QString name, DbConnection& connection, QString sql, Params params);

    const QString& Name() const { return name_; }
    DbConnection& Connection() { return conn_; }
    const QString& SQL() const { return sql_; }
    const Params& Parameters() const { return params_; }
    // Whether the statement returns rows (a select).
    bool ReturnsRows() const;
    // Open, and its connection still open in the session the query was opened in.
    bool Active() const;

    // Runs the select (opening the connection when it is closed) and keeps its first row.
    // A statement that returns no rows is executed instead and the query stays closed.
    void Open();
    void Close();
    // Runs the statement once; the query stays closed.
    void ExecSQL();

    // Statement replacement: closes the query, takes `sql` as its only statement, takes as
    // parameters the names the text holds (":kz" -> "kz"), gives each its value from
    // `values` by name (null when not given), then opens a select or executes anything else.
    void SetSQL(const QString& sql, const Params& values = {});
    // The same for several statements that return no rows, run as one unit: either all take
    // effect or none does. The query then holds the last of them, closed.
    void SetSQLAtomic(const QList<Statement>& statements);

    // The named field of the first row as text: empty for a null value or an empty result.
    // Fails when the query is closed or the result has no such field.
    QString FieldAsText(const QString& field) const;

  private:
    void Set(const QString& sql, const Params& values);

    QString name_;
    DbConnection& conn_;
    QString sql_;
    Params params_;
    bool active_ = false;
    quint64 session_ = 0;
    FirstRow row_;
};

}  // namespace catalog
