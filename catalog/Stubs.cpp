// Placeholders until the catalog module is written; replaced file by file.
#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "state/AppError.h"
#include "state/AppState.h"

namespace catalog {
class DbConnection {};
class AdoQuery {};
struct CatalogDb::Impl {};
CatalogDb::CatalogDb(AppState&) : d(std::make_unique<Impl>()) {}
CatalogDb::~CatalogDb() = default;
static void NotYet() { throw AppError(QStringLiteral("not implemented")); }
DbConnection& CatalogDb::ADOConnection1() { NotYet(); std::abort(); }
DbConnection& CatalogDb::ADOConnection2() { NotYet(); std::abort(); }
AdoQuery& CatalogDb::ADOQuery1() { NotYet(); std::abort(); }
AdoQuery& CatalogDb::ADOQuery2() { NotYet(); std::abort(); }
AdoQuery& CatalogDb::ADOQuery3() { NotYet(); std::abort(); }
void CatalogDb::Reconnect(const QString&, const std::function<void()>&) { NotYet(); }
void CatalogDb::Activate(std::initializer_list<AdoQuery*>) { NotYet(); }
bool CatalogDb::CatalogReady() const { return false; }
void CreateCatalogTables(CatalogDb&) { NotYet(); }
void FamilyLookup(CatalogDb&, AppState&, const QStringList&) { NotYet(); }
void SourceCheck(CatalogDb&, const AppState&) { NotYet(); }
void RowTransfer(CatalogDb&, const AppState&) { NotYet(); }
void RemoveMakerRows(CatalogDb&, AppState&, const QStringList&) { NotYet(); }
void RemovePinListTable(CatalogDb&) { NotYet(); }
void CompactCatalog(CatalogDb&) { NotYet(); }
}  // namespace catalog
