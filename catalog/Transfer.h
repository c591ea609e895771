#pragma once

// Catalog table creation, family lookup, source check and row transfer (used by Install),
// and the removal and compaction used by Clean.

#include <QStringList>

struct AppState;

namespace catalog {

class CatalogDb;

inline const QString kMaker = QStringLiteral("ЗЕЛК");

void CreateCatalogTables(CatalogDb& db);
// Fills st.socr anew with the family code of each entry of `groups` (ListBox2's entries).
void FamilyLookup(CatalogDb& db, AppState& st, const QStringList& groups);
void SourceCheck(CatalogDb& db, const AppState& st);
void RowTransfer(CatalogDb& db, const AppState& st);

void RemoveMakerRows(CatalogDb& db, AppState& st, const QStringList& groups);
void RemovePinListTable(CatalogDb& db);
void CompactCatalog(CatalogDb& db);

}  // namespace catalog
