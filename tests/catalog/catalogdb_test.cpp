// The two connections and three queries: catalog reconnection, activation, statement
// replacement, and the refusal of catalog statements before a catalog is chosen.

#include <QFileInfo>

#include "CatalogFixture.h"

using namespace catalog_test;
using catalog::kCatalogNotChosen;

namespace {

QString Ds(catalog::CatalogDb& db) {
    return *catalog::ConnectionProperty(db.ADOConnection2().ConnectionString(),
                                        QStringLiteral("Data Source"));
}

}  // namespace

using CatalogDbTest = CatalogFixture;

TEST_F(CatalogDbTest, ReconnectionReplacesThePlaceholder) {
    EXPECT_FALSE(db->CatalogReady());
    EXPECT_EQ(db->ADOConnection2().ConnectionString(),
              catalog::JetConnectionString(QStringLiteral("zelk_install.mdb")));
    EXPECT_EQ(db->ADOConnection1().ConnectionString(),
              catalog::JetConnectionString(QStringLiteral("ZELK_install.mdb")));

    // Capitals, mixed case and two occurrences; the path goes in verbatim (spaces, Cyrillic).
    const QString P = tmp.file(QStringLiteral("cat folder/default_cat.mdb"));
    st.fstr = QStringLiteral(
        "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=ZELK_INSTALL.MDB;"
        "Extended Properties=Zelk_Install.Mdb;");
    bool ran = false;
    db->Reconnect(P, [&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(db->ADOConnection2().ConnectionString(),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + P +
                  QStringLiteral(";Extended Properties=") + P + u';');
    EXPECT_TRUE(db->ADOConnection2().Connected());
    EXPECT_TRUE(db->CatalogReady());

    // A ";" in the path is quoted, so the connection still names the file.
    tmp.mkdir(QStringLiteral("a;b"));
    const QString semi = tmp.file(QStringLiteral("a;b/каталог 1.mdb"));
    MakeEmptyDb(semi);
    st.fstr = catalog::JetConnectionString(QStringLiteral("zelk_install.mdb"));
    db->Reconnect(semi);
    EXPECT_EQ(Ds(*db), semi);
    EXPECT_TRUE(db->ADOConnection2().ConnectionString().contains(u'"' + semi + u'"'));
    // So is a path starting with "=", which would otherwise join the property's name.
    const QString eq = QStringLiteral("=каталог.mdb");
    MakeEmptyDb(tmp.file(eq));
    db->Reconnect(eq);
    EXPECT_EQ(Ds(*db), eq);
    EXPECT_TRUE(db->CatalogReady());
    // ... but refused where the placeholder is only part of a value; `beforeOpen` still runs.
    st.fstr = QStringLiteral("Data Source=C:\\zelk_install.mdb.bak;");
    ran = false;
    EXPECT_TRUE(ErrorOf([&] {
                    db->Reconnect(semi, [&] { ran = true; });
                }).contains(QStringLiteral("нельзя подставить")));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(db->CatalogReady());  // the catalog connected before is not ready either

    // A path that names no database: the engine's error, connection closed with the new string.
    st.fstr = catalog::JetConnectionString(QStringLiteral("zelk_install.mdb"));
    const QString none = tmp.file(QStringLiteral("нет такой.mdb"));
    EXPECT_FALSE(ErrorOf([&] { db->Reconnect(none); }).isEmpty());
    EXPECT_FALSE(db->ADOConnection2().Connected());
    EXPECT_EQ(Ds(*db), none);
    EXPECT_FALSE(QFileInfo::exists(none));
    EXPECT_FALSE(db->CatalogReady());

    // No template: the message names the file that is missing.
    st.fstr.clear();
    st.exeDir = tmp.mkdir(QStringLiteral("empty tool folder")) + u'/';
    EXPECT_TRUE(ErrorOf([&] { db->Reconnect(P); }).contains(QStringLiteral("ZELK_install.mdb\"")));
    st.exeDir = tmp.path();
    EXPECT_TRUE(ErrorOf([&] { db->Reconnect(P); }).contains(QStringLiteral("bd_info.txt\"")));
}

TEST_F(CatalogDbTest, NoCatalogStatementBeforeACatalogIsChosen) {
    const QByteArray installBytes = tmp.read(install);
    st.socr = QStringList{QStringLiteral("ВА-47")};
    const QStringList groups{QStringLiteral("Автоматические выключатели")};
    QStringList names;
    const std::vector<std::function<void()>> steps = {
        [&] { catalog::CreateCatalogTables(*db); },
        [&] { catalog::RowTransfer(*db, st); },
        [&] { catalog::RemoveMakerRows(*db, st, groups); },
        [&] { catalog::RemovePinListTable(*db); },
        [&] { catalog::CompactCatalog(*db); },
        [&] { db->ADOConnection2().GetTableNames(names); },
        [&] { db->ADOConnection2().Open(); },
        [&] { db->Activate({&db->ADOQuery2()}); },
        [&] { db->ADOQuery2().SetSQL(QStringLiteral("drop table DS")); },
    };
    for (const auto& step : steps) EXPECT_EQ(ErrorOf(step), kCatalogNotChosen);
    EXPECT_FALSE(db->ADOConnection1().Connected());
    EXPECT_FALSE(db->ADOConnection2().Connected());
    EXPECT_EQ(tmp.read(install), installBytes);
    EXPECT_EQ(st.socr, QStringList{QStringLiteral("ВА-47")});
    EXPECT_FALSE(QFileInfo::exists(tmp.file(QStringLiteral("zelk_install~$.mdb"))));

    // A failed first reconnection does not make the catalog ready either.
    st.fstr = catalog::JetConnectionString(QStringLiteral("zelk_install.mdb"));
    EXPECT_FALSE(ErrorOf([&] { db->Reconnect(tmp.file(QStringLiteral("x.mdb"))); }).isEmpty());
    EXPECT_FALSE(db->CatalogReady());
    db->Reconnect(cat);
    EXPECT_TRUE(db->CatalogReady());
    catalog::RemovePinListTable(*db);  // no pin-list table in the catalog: nothing happens
}

TEST_F(CatalogDbTest, ActivationOpensSelectsOnceAndNeverRerunsOtherStatements) {
    // The install database opens with the first activation, resolved against the current
    // directory of that moment, and stays open when the directory changes.
    db->Reconnect(cat);
    db->Activate({&db->ADOQuery1(), &db->ADOQuery3()});
    EXPECT_TRUE(db->ADOConnection1().Connected());
    EXPECT_TRUE(db->ADOQuery1().Active());
    EXPECT_EQ(db->ADOQuery3().FieldAsText(QStringLiteral("FAMILY")), QString());  // fd null

    // The catalog has no _FAMILY_DESCRIPTION: the activation fails with the engine's error.
    EXPECT_TRUE(ErrorOf([&] {
                    db->Activate({&db->ADOQuery2()});
                }).contains(QStringLiteral("_FAMILY_DESCRIPTION")));

    // An open query is not rerun: it keeps the row it read.
    auto& q1 = db->ADOQuery1();
    q1.SetSQL(QStringLiteral("select FAMILY from _FAMILY_DESCRIPTION where DESC=:fd"),
              {{QStringLiteral("fd"), QStringLiteral("Предохранители")}});
    EXPECT_EQ(q1.Parameters().size(), 1);
    EXPECT_EQ(q1.FieldAsText(QStringLiteral("family")), QStringLiteral("FU"));
    Exec(*Connect(install), QStringLiteral("update _FAMILY_DESCRIPTION set FAMILY='X'"));
    db->Activate({&q1});
    EXPECT_EQ(q1.FieldAsText(QStringLiteral("FAMILY")), QStringLiteral("FU"));
    EXPECT_TRUE(ErrorOf([&] { q1.FieldAsText(QStringLiteral("DESC")); }).contains("DESC"));

    // Statements that return no rows left in ADOQuery2 are not run again.
    auto& q2 = db->ADOQuery2();
    const QString cnt = QStringLiteral("select count(*) from [ВА-47]");
    q2.SetSQL(QStringLiteral("create table [Тест] ([a]varchar(5))"));
    db->Activate({&q2});  // would fail: the table exists
    q2.SetSQL(QStringLiteral("insert into [ВА-47] ([CATALOG]) values ('N')"));
    db->Activate({&db->ADOQuery1(), &q2, &db->ADOQuery3()});
    EXPECT_EQ(CatCount(cnt), 2);
    q2.SetSQL(QStringLiteral("delete * from [ВА-47] where CATALOG=:c"),
              {{QStringLiteral("c"), QStringLiteral("N")}});
    Exec(*Connect(cat), QStringLiteral("insert into [ВА-47] ([CATALOG]) values ('N')"));
    db->Activate({&q2});
    EXPECT_EQ(CatCount(cnt), 2);
    q2.SetSQL(QStringLiteral("drop table [Тест]"));
    Exec(*Connect(cat), QStringLiteral("create table [Тест] ([a]varchar(5))"));
    db->Activate({&q2});
    QStringList tables;
    Connect(cat)->GetTableNames(tables);
    EXPECT_TRUE(tables.contains(QStringLiteral("Тест")));
    EXPECT_FALSE(q2.Active());

    // A closed connection closes its queries; the next activation reopens them.
    db->ADOConnection2().Close();
    q2.SetSQL(QStringLiteral("select count(*) as n from [ВА-47]"));
    EXPECT_TRUE(q2.Active());
    db->ADOConnection2().Close();
    EXPECT_FALSE(q2.Active());
    db->Activate({&q2});
    EXPECT_EQ(q2.FieldAsText(QStringLiteral("n")), QStringLiteral("2"));
}

TEST_F(CatalogDbTest, InstallDatabaseMissingFailsAndIsTriedAgain) {
    db->Reconnect(cat);
    const QString away = tmp.mkdir(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir::setCurrent(away));
    EXPECT_FALSE(ErrorOf([&] { db->Activate({&db->ADOQuery1(), &db->ADOQuery3()}); }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(away + QStringLiteral("/ZELK_install.mdb")));
    ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    db->Activate({&db->ADOQuery1(), &db->ADOQuery3()});
    EXPECT_TRUE(db->ADOQuery1().Active());
    // Once open, it stays on the file it opened.
    ASSERT_TRUE(QDir::setCurrent(away));
    db->ADOQuery3().SetSQL(db->ADOQuery3().SQL(),
                           {{QStringLiteral("fd"), QStringLiteral("Предохранители")}});
    EXPECT_EQ(db->ADOQuery3().FieldAsText(QStringLiteral("FAMILY")), QStringLiteral("FU"));
}

TEST_F(CatalogDbTest, ReconnectionToTheSameCatalogSeesItAsItIsNow) {
    // Connected anew on the same path: its queries are closed, and what another connection
    // changed meanwhile, the schema included, is seen.
    db->Reconnect(cat);
    auto& q2 = db->ADOQuery2();
    q2.SetSQL(QStringLiteral("select count(*) as n from [ВА-47]"));
    EXPECT_EQ(q2.FieldAsText(QStringLiteral("n")), QStringLiteral("1"));
    Exec(*Connect(cat), QStringLiteral("create table [Новая] ([a]varchar(5))"));
    Exec(*Connect(cat), QStringLiteral("insert into [ВА-47] ([CATALOG]) values ('N')"));
    db->Reconnect(cat);
    EXPECT_FALSE(q2.Active());
    db->Activate({&q2});
    EXPECT_EQ(q2.FieldAsText(QStringLiteral("n")), QStringLiteral("2"));
    q2.SetSQL(QStringLiteral("insert into [Новая] ([a]) values ('x')"));
    EXPECT_EQ(CatCount(QStringLiteral("select count(*) from [Новая]")), 1);
#ifndef _WIN32  // (Windows lets no file take the name of one that is open)
    // Another file that has taken the catalog's name is the one connected.
    const QString other = tmp.file(QStringLiteral("other.mdb"));
    ASSERT_TRUE(QFile::copy(cat, other));
    Exec(*Connect(other), QStringLiteral("delete from [ВА-47]"));
    ASSERT_TRUE(QFile::remove(cat));
    ASSERT_TRUE(QFile::rename(other, cat));
    db->Reconnect(cat);
    q2.SetSQL(QStringLiteral("select count(*) as n from [ВА-47]"));
    EXPECT_EQ(q2.FieldAsText(QStringLiteral("n")), QStringLiteral("0"));
#endif
}
