#pragma once

#include "support/ErrorOf.h"

// Scratch databases for the catalog tests, made through the engine the tool runs on
// (DefaultEngine: its empty database files, then tables and rows in the Jet dialect), and a
// fixture that works in a scratch current directory holding "ZELK_install.mdb".

#include <gtest/gtest.h>

#include <QDir>

#include "catalog/CatalogDb.h"
#include "catalog/Engine.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "support/TempDir.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace catalog_test {

using catalog::Params;

// An empty database file of the engine the tool runs on.
inline void MakeEmptyDb(const QString& path) {
    catalog::DefaultEngine().CreateDatabase(QDir::toNativeSeparators(path));
}

inline QString DataSource(const QString& path) {
    return catalog::JetConnectionString(catalog::QuoteConnectionValue(path));
}

// A connection of the tool's engine to an existing file.
inline std::unique_ptr<catalog::DbConnection> Connect(const QString& path) {
    auto c = catalog::DefaultEngine().NewConnection();
    c->SetConnectionString(DataSource(path));
    c->Open();
    return c;
}

inline void Exec(catalog::DbConnection& c, const QString& sql, const Params& p = {}) {
    c.Execute(sql, p);
}

inline QString Scalar(catalog::DbConnection& c, const QString& sql, const Params& p = {}) {
    const catalog::FirstRow r = c.OpenQuery(sql, p);
    return r.values.isEmpty() ? QString() : r.values.first();
}

inline int Count(catalog::DbConnection& c, const QString& sql, const Params& p = {}) {
    return Scalar(c, sql, p).toInt();
}

const QString kPinListCreate = QStringLiteral(
    "CREATE TABLE [_PINLIST_ЗЕЛК] ([RECNUM]counter, [manufacturer]varchar(24),[CATALOG]varchar(60) "
    "not null, [ASSEMBLYCODE]varchar(24),[COILPINS]varchar(255),[PINLIST]longchar,[PEER_COILPINS]"
    "longchar,[PEER_PINLIST]longchar)");
const QString kFamilyCreate = QStringLiteral(
    "CREATE TABLE [%1] ([CATALOG]varchar(60) not null, [MANUFACTURER]varchar(24), "
    "[DESCRIPTION]varchar(150), [RECNUM]counter)");

// Works in a scratch folder that is the current directory during the test: "ZELK_install.mdb"
// with DS, _FAMILY_DESCRIPTION, the families "ВА-47" (two groups map to it) and "FU", and
// the maker's pin lists; and a catalog "cat folder\default_cat.mdb" with the family tables
// holding another maker's rows.
class CatalogFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(tmp.path()));
        install = tmp.file(QStringLiteral("ZELK_install.mdb"));
        MakeEmptyDb(install);
        {
            auto c = Connect(install);
            Exec(*c, QStringLiteral("create table DS ([ID]counter, [NOTE]varchar(10))"));
            Exec(*c, QStringLiteral("create table _FAMILY_DESCRIPTION ([DESC]varchar(100), "
                                    "[FAMILY]varchar(50))"));
            const QList<QPair<QString, QString>> fams = {
                {QStringLiteral("Автоматические выключатели"), QStringLiteral("ВА-47")},
                {QStringLiteral("Выключатели нагрузки"), QStringLiteral("ВА-47")},
                {QStringLiteral("Предохранители"), QStringLiteral("FU")},
                {QStringLiteral("Без семейства"), QString()}};
            for (const auto& [d, f] : fams)
                Exec(*c, QStringLiteral("insert into _FAMILY_DESCRIPTION values (:d, :f)"),
                     {{QStringLiteral("d"), d}, {QStringLiteral("f"), f}});
            for (const QString& fam : {QStringLiteral("ВА-47"), QStringLiteral("FU")}) {
                Exec(*c, kFamilyCreate.arg(fam));
                for (int i = 1; i <= 3; ++i)
                    Exec(*c,
                         QStringLiteral("insert into [%1] ([CATALOG], [MANUFACTURER]) values "
                                        "(:c, 'ЗЕЛК')")
                             .arg(fam),
                         {{QStringLiteral("c"), fam + QString::number(i)}});
            }
            Exec(*c, kPinListCreate);
            for (int i = 1; i <= 2; ++i)
                Exec(*c,
                     QStringLiteral("insert into [_PINLIST_ЗЕЛК] ([manufacturer], [CATALOG]) "
                                    "values (:kz, :c)"),
                     {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")},
                      {QStringLiteral("c"), QStringLiteral("PIN%1").arg(i)}});
        }
        tmp.mkdir(QStringLiteral("cat folder"));
        cat = tmp.file(QStringLiteral("cat folder/default_cat.mdb"));
        MakeEmptyDb(cat);
        {
            auto c = Connect(cat);
            for (const QString& fam : {QStringLiteral("ВА-47"), QStringLiteral("FU")}) {
                Exec(*c, kFamilyCreate.arg(fam));
                Exec(*c, QStringLiteral("insert into [%1] ([CATALOG], [MANUFACTURER]) values "
                                        "('OTHER', 'ABB')")
                             .arg(fam));
            }
        }
        st.fstr = DataSource(QStringLiteral("zelk_install.mdb"));
        db = std::make_unique<catalog::CatalogDb>(st);
    }
    void TearDown() override {
        db.reset();
        QDir::setCurrent(oldCwd_);
    }

    // A connection of its own to the catalog, to look at it from outside.
    int CatCount(const QString& sql, const Params& p = {}) { return Count(*Connect(cat), sql, p); }

    TempDir tmp;
    QString install, cat;
    AppState st;
    std::unique_ptr<catalog::CatalogDb> db;

  private:
    QString oldCwd_;
};

}  // namespace catalog_test
