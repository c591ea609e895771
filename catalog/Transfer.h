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

void CreateCatalogTables(CatalogDb& db);
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
void CompactCatalog(CatalogDb& db);

// The maker's rows that the catalog's table holds now (through the catalog connection, so
// inside an open transaction its changes count).
qint64 MakerRowCount(CatalogDb& db, const QString& table);
// Whether the catalog has the pin-list table (in any letter case).
bool HasPinListTable(CatalogDb& db);

}  // namespace catalog
