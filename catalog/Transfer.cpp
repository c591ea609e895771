#include "catalog/Transfer.h"

#include "catalog/CatalogDb.h"
#include "catalog/Engine.h"
#include "state/AppError.h"
#include "state/AppState.h"
#include "state/FileSystem.h"

namespace catalog {
namespace {

const QString kPinList = QStringLiteral("_PINLIST_ЗЕЛК");

const QString kCreatePinList = QStringLiteral(
    "CREATE TABLE [_PINLIST_ЗЕЛК] ([RECNUM]counter, [manufacturer]varchar(24),[CATALOG]varchar(60) "
    "not null, [ASSEMBLYCODE]varchar(24),[COILPINS]varchar(255),[PINLIST]longchar,[PEER_COILPINS]"
    "longchar,[PEER_PINLIST]longchar)");

const QString kCreatePneuGau = QStringLiteral(
    "CREATE TABLE [PNEU-GAU] ([CATALOG]VARCHAR(60) NOT NULL, [MANUFACTURER]varchar(24),"
    "[DESCRIPTION]varchar(150), [TYPE]varchar(100),[RATING]varchar(100),[MISCELLANEOUS1]"
    "varchar(100),[MISCELLANEOUS2]varchar(100),[ASSEMBLYCODE]varchar(60),[ASSEMBLYLIST]varchar(60),"
    "[ASSEMBLYQUANTITY]varchar(8), [USER1]varchar(100),[USER2]varchar(100),[USER3]varchar(100), "
    "[TEXTVALUE]varchar(255),[WEBLINK]varchar(255), [WDBLKNAM]varchar(255),[SYMBOL2D]longchar,"
    "[SYMBOL3D]longchar, [RECNUM]counter)");

const QString kFamilyLookup =
    QStringLiteral("select FAMILY from _FAMILY_DESCRIPTION where [DESC]=:fd");

Params Maker() { return {{QStringLiteral("kz"), kMaker}}; }

// The catalog connection names the install database until a catalog has been chosen; no
// catalog step may run before that, not even the family lookup that precedes the deletions.
void RequireCatalog(CatalogDb& db) {
    if (!db.CatalogReady()) throw AppError(kCatalogNotChosen);
}

// A family code is pasted between square brackets: an empty code names no table, and a "]"
// would end the name early and change the statement.
void CheckFamilyCodes(const QStringList& codes) {
    for (const QString& f : codes) {
        if (f.isEmpty())
            throw AppError(QStringLiteral(
                "Для выбранной группы компонентов в базе установки нет кода семейства "
                "(таблица _FAMILY_DESCRIPTION)"));
        if (f.contains(u']'))
            throw AppError(
                QStringLiteral("Недопустимый код семейства «%1»: символ «]» в нём не допускается")
                    .arg(f));
    }
}

bool HasTable(const QStringList& names, const QString& table) {
    for (const QString& n : names)
        if (n.compare(table, Qt::CaseInsensitive) == 0) return true;
    return false;
}

}  // namespace

void CreateCatalogTables(CatalogDb& db) {
    RequireCatalog(db);
    QStringList names;
    db.ADOConnection2().GetTableNames(names);
    if (!HasTable(names, kPinList)) db.ADOQuery2().SetSQL(kCreatePinList);
    if (!HasTable(names, QStringLiteral("PNEU-GAU"))) db.ADOQuery2().SetSQL(kCreatePneuGau);
}

void FamilyLookup(CatalogDb& db, AppState& st, const QStringList& groups) {
    st.socr = QStringList();
    for (const QString& g : groups) {
        db.ADOQuery1().SetSQL(kFamilyLookup, {{QStringLiteral("fd"), g}});
        st.socr << db.ADOQuery1().FieldAsText(QStringLiteral("FAMILY"));
    }
}

void SourceCheck(CatalogDb& db, const AppState& st) {
    CheckFamilyCodes(st.socr);
    for (const QString& f : st.socr)
        db.ADOQuery1().SetSQL(
            QStringLiteral("select * from [") + f + QStringLiteral("] where manufacturer=:kz"),
            Maker());
}

void RowTransfer(CatalogDb& db, const AppState& st) {
    RequireCatalog(db);
    CheckFamilyCodes(st.socr);
    // The maker's rows already in the catalog are replaced, not added to: each family is
    // copied once per run, its earlier maker rows removed in the same unit of work, so a
    // failed copy leaves the table as it was. Other manufacturers' rows stay untouched.
    QStringList done;
    for (const QString& f : st.socr) {
        if (HasTable(done, f)) continue;
        done << f;
        db.ADOQuery2().SetSQLAtomic(
            {{QStringLiteral("delete * from [") + f + QStringLiteral("] where manufacturer=:kz"),
              Maker()},
             {QStringLiteral("insert into [") + f + QStringLiteral("] select * from [") + f +
                  QStringLiteral("] in 'ZELK_install.mdb'"),
              {}}});
    }
    db.ADOQuery2().SetSQLAtomic(
        {{QStringLiteral("delete * from _PINLIST_ЗЕЛК where manufacturer=:kz"), Maker()},
         {QStringLiteral("insert into _PINLIST_ЗЕЛК select * from _PINLIST_ЗЕЛК in "
                         "'ZELK_install.mdb'"),
          {}}});
}

void RemoveMakerRows(CatalogDb& db, AppState& st, const QStringList& groups) {
    RequireCatalog(db);
    FamilyLookup(db, st, groups);
    CheckFamilyCodes(st.socr);
    for (const QString& c : st.socr)
        db.ADOQuery2().SetSQL(
            QStringLiteral("delete * from [") + c + QStringLiteral("] where manufacturer=:kz"),
            Maker());
}

void RemovePinListTable(CatalogDb& db) {
    RequireCatalog(db);
    QStringList fieldt;
    db.ADOConnection2().GetTableNames(fieldt);
    if (!HasTable(fieldt, kPinList)) return;
    db.ADOQuery2().SetSQL(QStringLiteral("delete * from _PINLIST_ЗЕЛК where manufacturer=:kz"),
                          Maker());
    db.ADOQuery2().SetSQL(QStringLiteral("drop table _PINLIST_ЗЕЛК"));
}

void CompactCatalog(CatalogDb& db) {
    RequireCatalog(db);
    DbConnection& conn = db.ADOConnection2();
    // The catalog file is the Data Source value itself; its base name (for the copy and the
    // stray file) is that path without a final ".mdb".
    const QString catalogFile = CatalogFileOf(conn.ConnectionString());
    QString dbpath = catalogFile;
    if (dbpath.endsWith(QStringLiteral(".mdb"), Qt::CaseInsensitive)) dbpath.chop(4);
    const QString copy = dbpath + QStringLiteral("~$.mdb");
    db.BeforeChange();

    conn.Close();
    // A compacted copy left behind by an earlier run would block the compaction.
    if (fs::FileExists(copy) && !fs::DeleteFile(copy))
        throw AppError(
            QStringLiteral("Не удаётся удалить оставшуюся от прошлого сжатия копию базы изделий "
                           "\"%1\"")
                .arg(fs::FullPath(copy)));
    const QString prefix = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");
    db.DbEngine().CompactDatabase(prefix + QuoteConnectionValue(catalogFile),
                                  prefix + QuoteConnectionValue(copy));
    fs::DeleteFile(dbpath + QStringLiteral("db1.mdb"));
    // The copy takes the catalog's place in one step, and only once it is wholly on the disk;
    // if it cannot, the catalog stays as it was and the failure is reported.
    if (!fs::SyncFile(copy) || !fs::ReplaceFile(copy, catalogFile)) {
        fs::DeleteFile(copy);
        try {
            conn.Open();
        } catch (const AppError&) {
        }
        throw AppError(QStringLiteral("Не удаётся заменить базу изделий \"%1\" её сжатой копией; "
                                      "база изделий оставлена без изменений")
                           .arg(fs::FullPath(catalogFile)));
    }
    conn.Open();
}

}  // namespace catalog
