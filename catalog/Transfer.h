#pragma once

// Catalog table creation, family lookup, source check and row transfer (used by Install),
// and the removal and compaction used by Clean.

#include <QList>
#include <QStringList>
#include <functional>

struct AppState;

namespace catalog {

class CatalogDb;

inline const QString kMaker = QStringLiteral("ЗЕЛК");
inline const QString kPinList = QStringLiteral("_PINLIST_ЗЕЛК");

// What a command's catalog steps did to one table: the maker's rows deleted and the rows
// copied in; `dropped` when the table itself was removed.
struct TableChange {
    QString table;
    qint64 removed = 0;
    qint64 added = 0;
    bool dropped = false;
};

// Follows the catalog steps of a command. `starting` is told each table before its statements
// run (the window shows where the command is); `current` names the table whose statements run
// now, so that a failure can name it; `changes` collects what each table got.
struct StepLog {
    std::function<void(const QString& table)> starting;
    QString current;
    QList<TableChange> changes;

    void Start(const QString& table) {
        current = table;
        if (starting) starting(table);
    }
};

// Creates the pin-list table and "PNEU-GAU" where the catalog lacks them (in any letter case),
// each on its own outside any transaction; `created` gets the name of each table made, also
// when a later one fails.
void CreateCatalogTables(CatalogDb& db, QStringList* created = nullptr);
// Drops the tables (outside any transaction); gives those that could not be dropped.
QStringList DropTables(CatalogDb& db, const QStringList& tables);
// Fills st.socr anew with the family code of each entry of `groups` (ListBox2's entries).
void FamilyLookup(CatalogDb& db, AppState& st, const QStringList& groups);
void SourceCheck(CatalogDb& db, const AppState& st);
// Refuses, naming it, a family code that names no table (empty) or would change a statement.
void CheckFamilyCodes(const QStringList& codes);

// The row changes below run inside the catalog transaction a command has begun; called with
// none open, each runs in one of its own, so that it takes effect whole or not at all.
void RowTransfer(CatalogDb& db, const AppState& st, StepLog* log = nullptr);
void RemoveMakerRows(CatalogDb& db, AppState& st, const QStringList& groups,
                     StepLog* log = nullptr);
void RemovePinListTable(CatalogDb& db, StepLog* log = nullptr);
// Runs a piece of work, perhaps on a second thread while the window shows it; returns once it
// has ended, raising what it raised.
using Aside = std::function<void(const std::function<void()>& work)>;
// Compacts the catalog file through a copy that then takes its place; the catalog connection is
// closed meanwhile and opened again. The engine's call and the swap run through `aside`.
void CompactCatalog(CatalogDb& db, const Aside& aside = {});

// The maker's rows that the catalog's table holds now (through the catalog connection, so
// inside an open transaction its changes count).
qint64 MakerRowCount(CatalogDb& db, const QString& table);
// The tables Install adds to a catalog, the pin-list table and "PNEU-GAU", that it lacks.
QStringList MissingCatalogTables(CatalogDb& db);
// Whether the catalog has the pin-list table (in any letter case).
bool HasPinListTable(CatalogDb& db);

}  // namespace catalog
