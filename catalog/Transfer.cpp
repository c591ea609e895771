#include "catalog/Transfer.h"

#include <algorithm>
#include <optional>

#include "catalog/CatalogDb.h"
#include "catalog/Engine.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/FileSystem.h"

namespace catalog {
namespace {

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

bool HasTable(const QStringList& names, const QString& table) {
    for (const QString& n : names)
        if (n.compare(table, Qt::CaseInsensitive) == 0) return true;
    return false;
}

}  // namespace

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

QStringList MissingCatalogTables(CatalogDb& db) {
    RequireCatalog(db);
    QStringList names, missing;
    db.ADOConnection2().GetTableNames(names);
    for (const QString& t : {kPinList, QStringLiteral("PNEU-GAU")})
        if (!HasTable(names, t)) missing << t;
    return missing;
}

void CreateCatalogTables(CatalogDb& db, QStringList* created) {
    const QStringList tables = MissingCatalogTables(db);
    QList<Statement> creations;
    for (const QString& t : tables)
        creations.append({t == kPinList ? kCreatePinList : kCreatePneuGau, {}});
    if (creations.isEmpty()) return;
    // Outside the command's transaction: Jet does not take a table's creation back, so each is
    // made on its own; an engine that does take it back makes both as one unit.
    if (db.ADOConnection2().RollsBackTableChanges()) {
        db.ADOQuery2().SetSQLAtomic(creations);
        if (created) *created << tables;
        return;
    }
    for (qsizetype i = 0; i < creations.size(); ++i) {
        db.ADOQuery2().SetSQL(creations[i].sql);
        if (created) *created << tables[i];
    }
}

QStringList DropTables(CatalogDb& db, const QStringList& tables) {
    QStringList left;
    for (const QString& t : tables) {
        try {
            db.ADOQuery2().SetSQL(QStringLiteral("drop table [") + t + QStringLiteral("]"));
        } catch (const AppError&) {
            left << t;
        }
    }
    return left;
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

void RowTransfer(CatalogDb& db, const AppState& st, StepLog* log) {
    RequireCatalog(db);
    CheckFamilyCodes(st.socr);
    // The maker's rows already in the catalog are replaced, not added to: each family is
    // copied once per run, its earlier maker rows removed first. Other manufacturers' rows stay
    // untouched. Every family and the pin lists change in one transaction: a failure anywhere
    // leaves the catalog as it was.
    CatalogTransaction tx(db);
    QStringList done;
    // The rows each statement changed, as the engine tells them (both engines do).
    const auto replace = [&](const QString& table, const QString& del, const QString& ins) {
        TableChange change{table};
        if (log) log->Start(table);
        db.ADOQuery2().SetSQL(del, Maker());
        change.removed = db.ADOConnection2().RowsAffected().value_or(0);
        db.ADOQuery2().SetSQL(ins);
        change.added = db.ADOConnection2().RowsAffected().value_or(0);
        if (log) log->changes << change;
    };
    for (const QString& f : st.socr) {
        if (HasTable(done, f)) continue;
        done << f;
        replace(f,
                QStringLiteral("delete * from [") + f + QStringLiteral("] where manufacturer=:kz"),
                QStringLiteral("insert into [") + f + QStringLiteral("] select * from [") + f +
                    QStringLiteral("] in 'ZELK_install.mdb'"));
    }
    replace(kPinList, QStringLiteral("delete * from _PINLIST_ЗЕЛК where manufacturer=:kz"),
            QStringLiteral("insert into _PINLIST_ЗЕЛК select * from _PINLIST_ЗЕЛК in "
                           "'ZELK_install.mdb'"));
    tx.Commit();
    if (log) log->current.clear();
}

void RemoveMakerRows(CatalogDb& db, AppState& st, const QStringList& groups, StepLog* log) {
    RequireCatalog(db);
    FamilyLookup(db, st, groups);
    CheckFamilyCodes(st.socr);
    CatalogTransaction tx(db);
    for (const QString& c : st.socr) {
        if (log) log->Start(c);
        db.ADOQuery2().SetSQL(
            QStringLiteral("delete * from [") + c + QStringLiteral("] where manufacturer=:kz"),
            Maker());
        if (!log) continue;
        // What the engine tells of the deletion (none where it does not tell).
        const qint64 removed = db.ADOConnection2().RowsAffected().value_or(0);
        auto it = std::find_if(log->changes.begin(), log->changes.end(),
                               [&](const TableChange& t) { return t.table == c; });
        if (it == log->changes.end())
            log->changes << TableChange{c, removed};
        else
            it->removed += removed;
    }
    tx.Commit();
    if (log) log->current.clear();
}

void RemovePinListTable(CatalogDb& db, StepLog* log) {
    RequireCatalog(db);
    QStringList fieldt;
    db.ADOConnection2().GetTableNames(fieldt);
    if (!HasTable(fieldt, kPinList)) return;
    if (log) log->Start(kPinList);
    {
        CatalogTransaction tx(db);
        db.ADOQuery2().SetSQL(QStringLiteral("delete * from _PINLIST_ЗЕЛК where manufacturer=:kz"),
                              Maker());
        if (log)
            log->changes << TableChange{kPinList, db.ADOConnection2().RowsAffected().value_or(0), 0,
                                        true};
        // Jet cannot take a table's removal back: the table is dropped only once the deletions
        // are committed (a failure then leaves it empty of the maker's rows, and the next Clean
        // removes it).
        tx.AfterCommit(
            [&db] { db.ADOQuery2().SetSQL(QStringLiteral("drop table _PINLIST_ЗЕЛК")); });
        tx.Commit();
    }
    if (log) log->current.clear();
}

qint64 MakerRowCount(CatalogDb& db, const QString& table) {
    RequireCatalog(db);
    const FirstRow r =
        db.ADOConnection2().OpenQuery(QStringLiteral("select count(*) from [") + table +
                                          QStringLiteral("] where manufacturer=:kz"),
                                      Maker());
    return r.values.isEmpty() ? 0 : r.values.first().toLongLong();
}

bool HasPinListTable(CatalogDb& db) {
    RequireCatalog(db);
    QStringList names;
    db.ADOConnection2().GetTableNames(names);
    return HasTable(names, kPinList);
}

void CompactCatalog(CatalogDb& db, const Aside& aside) {
    RequireCatalog(db);
    DbConnection& conn = db.ADOConnection2();
    // The catalog file is the Data Source value itself; its base name (for the copy and the
    // stray file) is that path without a final ".mdb". Absolute, for the second thread.
    const QString catalogFile = fs::FullPath(CatalogFileOf(conn.ConnectionString()));
    QString dbpath = catalogFile;
    if (dbpath.endsWith(QStringLiteral(".mdb"), Qt::CaseInsensitive)) dbpath.chop(4);
    const QString copy = dbpath + QStringLiteral("~$.mdb");
    // The compaction changes none of the catalog's content and replaces the file only with a
    // whole copy, so it needs no backup of its own.

    conn.Close();
    // A compacted copy left behind by an earlier run would block the compaction.
    if (fs::FileExists(copy) && !fs::DeleteFile(copy))
        throw AppError(
            QStringLiteral("Не удаётся удалить оставшуюся от прошлого сжатия копию базы изделий "
                           "\"%1\"")
                .arg(fs::FullPath(copy)));
    const QString prefix = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");
    Engine& engine = db.DbEngine();
    // The engine's call and the file swap touch neither the connection nor the window: they
    // may run on a second thread while the window shows the step.
    bool replaced = false;
    const auto compact = [&] {
        try {
            engine.CompactDatabase(prefix + QuoteConnectionValue(catalogFile),
                                   prefix + QuoteConnectionValue(copy));
        } catch (const AppError&) {
            // A copy begun and not finished (and the lock file Jet keeps beside an open one)
            // goes.
            fs::DeleteFile(copy);
            fs::DeleteFile(dbpath + QStringLiteral("~$.ldb"));
            throw;
        }
        fs::DeleteFile(dbpath + QStringLiteral("db1.mdb"));
        // The copy takes the catalog's place in one step, and only once it is wholly on the
        // disk; if it cannot, the catalog stays as it was.
        replaced = fs::SyncFile(copy) && fs::ReplaceFile(copy, catalogFile);
        if (!replaced) fs::DeleteFile(copy);
    };
    if (aside)
        aside(compact);
    else
        compact();
    if (!replaced) {
        try {
            conn.Open();
        } catch (const AppError&) {
        }
        throw AppError(QStringLiteral("Не удаётся заменить базу изделий \"%1\" её сжатой копией; "
                                      "база изделий оставлена без изменений")
                           .arg(catalogFile));
    }
    conn.Open();
}

}  // namespace catalog
