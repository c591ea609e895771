// The database steps of Install (table creation, family lookup, source check, row transfer)
// and of Clean (removal of the maker's rows and pin lists, compaction of the catalog).

#include <QFileInfo>

#include "CatalogFixture.h"
#include "support/ScratchMounts.h"

using namespace catalog_test;

namespace {

const QStringList kGroups = {QStringLiteral("Автоматические выключатели"),
                             QStringLiteral("Выключатели нагрузки"),
                             QStringLiteral("Предохранители")};
const Params kMaker = {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")}};

}  // namespace

class TransferTest : public CatalogFixture {
  protected:
    void Install(const QStringList& groups) {
        catalog::CreateCatalogTables(*db);
        catalog::FamilyLookup(*db, st, groups);
        catalog::SourceCheck(*db, st);
        catalog::RowTransfer(*db, st);
    }
    int Rows(const QString& table, const QString& maker) {
        return CatCount(
            QStringLiteral("select count(*) from [%1] where manufacturer=:m").arg(table),
            {{QStringLiteral("m"), maker}});
    }
};

TEST_F(TransferTest, InstallTwiceLeavesEachMakerRowOnce) {
    db->Reconnect(cat);
    for (int run = 0; run < 2; ++run) {
        Install(kGroups);
        EXPECT_EQ(st.socr, (QStringList{"ВА-47", "ВА-47", "FU"}));
        EXPECT_EQ(Rows(QStringLiteral("ВА-47"), QStringLiteral("ЗЕЛК")), 3) << run;
        EXPECT_EQ(Rows(QStringLiteral("FU"), QStringLiteral("ЗЕЛК")), 3) << run;
        EXPECT_EQ(Rows(QStringLiteral("ВА-47"), QStringLiteral("ABB")), 1) << run;
        EXPECT_EQ(Rows(QStringLiteral("FU"), QStringLiteral("ABB")), 1) << run;
        EXPECT_EQ(Rows(QStringLiteral("_PINLIST_ЗЕЛК"), QStringLiteral("ЗЕЛК")), 2) << run;
    }
    QStringList names;
    db->ADOConnection2().GetTableNames(names);
    EXPECT_EQ(names, (QStringList{"FU", "PNEU-GAU", "_PINLIST_ЗЕЛК", "ВА-47"}));
    // The copied rows keep their numbers.
    EXPECT_EQ(CatCount(QStringLiteral("select max(RECNUM) from [FU] where manufacturer='ЗЕЛК'")),
              3);

    // What the queries hold afterwards.
    EXPECT_EQ(db->ADOQuery1().SQL(), QStringLiteral("select * from [FU] where manufacturer=:kz"));
    EXPECT_TRUE(db->ADOQuery1().Active());
    EXPECT_EQ(db->ADOQuery2().SQL(),
              QStringLiteral("insert into _PINLIST_ЗЕЛК select * from _PINLIST_ЗЕЛК in "
                             "'ZELK_install.mdb'"));
    EXPECT_FALSE(db->ADOQuery2().Active());
    db->Activate({&db->ADOQuery1(), &db->ADOQuery2(), &db->ADOQuery3()});
    EXPECT_EQ(Rows(QStringLiteral("_PINLIST_ЗЕЛК"), QStringLiteral("ЗЕЛК")), 2);

    // Clean with an empty selection: no family table touched, the pin lists go.
    catalog::RemoveMakerRows(*db, st, {});
    EXPECT_TRUE(st.socr.isEmpty());
    EXPECT_EQ(Rows(QStringLiteral("ВА-47"), QStringLiteral("ЗЕЛК")), 3);
    catalog::RemovePinListTable(*db);
    db->ADOConnection2().GetTableNames(names);
    EXPECT_EQ(names, (QStringList{"FU", "PNEU-GAU", "ВА-47"}));
    catalog::RemovePinListTable(*db);  // a second time: nothing to do
    catalog::CompactCatalog(*db);
    EXPECT_TRUE(db->ADOConnection2().Connected());

    // Clean of two groups of one family: the maker's rows go, the others' stay.
    catalog::RemoveMakerRows(*db, st, kGroups.mid(0, 2));
    EXPECT_EQ(st.socr, (QStringList{"ВА-47", "ВА-47"}));
    EXPECT_EQ(Rows(QStringLiteral("ВА-47"), QStringLiteral("ЗЕЛК")), 0);
    EXPECT_EQ(Rows(QStringLiteral("ВА-47"), QStringLiteral("ABB")), 1);
    EXPECT_EQ(Rows(QStringLiteral("FU"), QStringLiteral("ЗЕЛК")), 3);
}

TEST_F(TransferTest, TablesUnderAnotherLetterCase) {
    db->Reconnect(cat);
    Exec(*Connect(cat), QStringLiteral("create table [_pinlist_зелк] ([RECNUM]counter, "
                                       "[manufacturer]varchar(24),[CATALOG]varchar(60) not null, "
                                       "[ASSEMBLYCODE]varchar(24),[COILPINS]varchar(255),"
                                       "[PINLIST]longchar,[PEER_COILPINS]longchar,"
                                       "[PEER_PINLIST]longchar)"));
    Install({kGroups[2]});
    QStringList names;
    db->ADOConnection2().GetTableNames(names);
    EXPECT_EQ(names, (QStringList{"FU", "PNEU-GAU", "_pinlist_зелк", "ВА-47"}));
    EXPECT_EQ(Rows(QStringLiteral("_pinlist_зелк"), QStringLiteral("ЗЕЛК")), 2);
    catalog::RemovePinListTable(*db);
    db->ADOConnection2().GetTableNames(names);
    EXPECT_EQ(names, (QStringList{"FU", "PNEU-GAU", "ВА-47"}));
}

TEST_F(TransferTest, BadSourcesStopBeforeAnyRowIsCopied) {
    db->Reconnect(cat);
    Install({kGroups[2]});
    const int before = Rows(QStringLiteral("FU"), QStringLiteral("ЗЕЛК"));

    // A group without a family code, or one without any row: empty codes, clear refusal.
    catalog::FamilyLookup(*db, st, {QStringLiteral("Без семейства"), QStringLiteral("Нет такой")});
    EXPECT_EQ(st.socr, (QStringList{"", ""}));
    EXPECT_TRUE(ErrorOf([&] { catalog::SourceCheck(*db, st); }).contains("кода семейства"));
    EXPECT_TRUE(ErrorOf([&] { catalog::RowTransfer(*db, st); }).contains("кода семейства"));

    // A family table missing from the install database.
    st.socr = QStringList{QStringLiteral("NOPE")};
    EXPECT_TRUE(ErrorOf([&] { catalog::SourceCheck(*db, st); }).contains("NOPE"));

    // A code that would end the bracketed name early is refused; nothing runs.
    Exec(*Connect(install),
         QStringLiteral("insert into _FAMILY_DESCRIPTION values ('Злая', 'FU] where 1=1 or [a')"));
    catalog::FamilyLookup(*db, st, {QStringLiteral("Злая")});
    EXPECT_TRUE(ErrorOf([&] { catalog::SourceCheck(*db, st); }).contains(u']'));
    EXPECT_TRUE(ErrorOf([&] { catalog::RowTransfer(*db, st); }).contains(u']'));
    EXPECT_TRUE(ErrorOf([&] {
                    catalog::RemoveMakerRows(*db, st, {QStringLiteral("Злая")});
                }).contains(u']'));
    EXPECT_EQ(Rows(QStringLiteral("FU"), QStringLiteral("ЗЕЛК")), before);

    // The install database not in the current directory: the transfer fails, and the maker's
    // rows already in the catalog are still there.
    st.socr = QStringList{QStringLiteral("FU")};
    ASSERT_TRUE(QDir::setCurrent(tmp.mkdir(QStringLiteral("elsewhere"))));
    EXPECT_FALSE(ErrorOf([&] { catalog::RowTransfer(*db, st); }).isEmpty());
    ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    EXPECT_EQ(Rows(QStringLiteral("FU"), QStringLiteral("ЗЕЛК")), before);

    // A family table missing from the catalog: the families before it are taken back with it.
    Exec(*Connect(cat), QStringLiteral("drop table FU"));
    st.socr = QStringList{QStringLiteral("ВА-47"), QStringLiteral("FU")};
    const QString err = ErrorOf([&] { catalog::RowTransfer(*db, st); });
    EXPECT_TRUE(err.contains("FU")) << err.toStdString();
    EXPECT_EQ(Rows(QStringLiteral("ВА-47"), QStringLiteral("ЗЕЛК")), 0);
    EXPECT_FALSE(db->ADOConnection2().InTransaction());
}

TEST_F(TransferTest, CompactionShrinksKeepsRowsAndSurvivesLeftovers) {
    // The catalog lies in a folder whose name holds ".mdb"; a compacted copy of an earlier run,
    // a stray file of the catalog's base name and an unrelated "db1.mdb" lie beside it.
    const QString dir = tmp.mkdir(QStringLiteral("old.mdb backup;1"));
    const QString path = dir + QStringLiteral("/default_cat.mdb");
    QFile::copy(cat, path);
    tmp.write(QStringLiteral("old.mdb backup;1/default_cat~$.mdb"), "stale copy");
    tmp.write(QStringLiteral("old.mdb backup;1/default_catdb1.mdb"), "stray");
    tmp.write(QStringLiteral("old.mdb backup;1/db1.mdb"), "not ours");
    db->Reconnect(path);
    {
        auto c = Connect(path);
        Exec(*c, QStringLiteral("create table [big] ([n]long, [v]longchar)"));
        for (int i = 0; i < 30; ++i)
            Exec(*c, QStringLiteral("insert into big values (:n, :v)"),
                 {{QStringLiteral("n"), QString::number(i)},
                  {QStringLiteral("v"), QString(3000, u'я') + QString::number(i)}});
        Exec(*c, QStringLiteral("delete * from big where n >= 3"));
    }
    const qint64 sizeBefore = QFileInfo(path).size();
    catalog::CompactCatalog(*db);
    EXPECT_LT(QFileInfo(path).size(), sizeBefore);
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/default_cat~$.mdb")));
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/default_catdb1.mdb")));
    EXPECT_TRUE(QFileInfo::exists(dir + QStringLiteral("/db1.mdb")));
    EXPECT_TRUE(db->ADOConnection2().Connected());
    {
        auto c = Connect(path);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Scalar(*c, QStringLiteral("select v from big where n=:n"),
                             {{QStringLiteral("n"), QString::number(i)}}),
                      QString(3000, u'я') + QString::number(i));
        EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from big")), 3);
        EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [ВА-47]")), 1);
    }

    // A catalog the engine cannot read: the failure is reported, the file stays as it was and
    // no copy is left.
    db->ADOConnection2().Close();
    QFile::remove(path);
    tmp.write(QStringLiteral("old.mdb backup;1/default_cat.mdb"), QByteArray(2048, 'z'));
    EXPECT_FALSE(ErrorOf([&] { catalog::CompactCatalog(*db); }).isEmpty());
    EXPECT_EQ(tmp.read(path), QByteArray(2048, 'z'));
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/default_cat~$.mdb")));

    // On a full disk the compacted copy cannot be made: the catalog keeps its bytes.
    if (!ScratchMounts::Unavailable().isEmpty())
        GTEST_SKIP() << ScratchMounts::Unavailable().toStdString();
    QFile::remove(path);
    QFile::copy(cat, path);
    db->Reconnect(path);
    ScratchMounts mounts;
    ASSERT_TRUE(mounts.Tmpfs(dir) && ScratchMounts::Fill(dir));
    const QByteArray before = tmp.read(path);
    EXPECT_FALSE(ErrorOf([&] { catalog::CompactCatalog(*db); }).isEmpty());
    EXPECT_EQ(tmp.read(path), before);
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/default_cat~$.mdb")));
    db->ADOConnection2().Close();
}
