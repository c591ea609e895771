// What every database engine of the tool must do, written once and run against each engine of
// the build: the SQLite stand-in everywhere, ADO with Jet 4.0 in Windows builds (on database
// files created as real Jet files). Where the stand-in differs from Jet in a way a user could
// notice, the case states Jet's behaviour and names the stand-in's known deviation.

#include <QFileInfo>
#include <QProcess>
#include <functional>
#include <string>

#include "CatalogFixture.h"
#include "core/Worker.h"
#include "support/Engines.h"

using namespace catalog_test;
using catalog::DbConnection;

namespace {

using engines::EngineCase;

const Params kMaker = {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")}};
const QString kJet = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");

}  // namespace

class EngineContract : public ::testing::TestWithParam<EngineCase> {
  protected:
    void SetUp() override {
        const QString why = GetParam().unavailable();
        // A host that is to prove the engine on Jet (ZELK_REQUIRE_JET=1) fails where Jet is
        // missing: a skipped case would count as passed.
        if (!why.isEmpty() && GetParam().jet && qEnvironmentVariable("ZELK_REQUIRE_JET") == "1")
            FAIL() << "ZELK_REQUIRE_JET=1: " << why.toStdString();
        if (!why.isEmpty()) GTEST_SKIP() << why.toStdString();
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    }
    void TearDown() override {
        if (!oldCwd_.isEmpty()) QDir::setCurrent(oldCwd_);
    }

    catalog::Engine& engine() { return GetParam().engine(); }
    bool jet() const { return GetParam().jet; }
    // Paths as the system writes them (Jet is given Windows paths).
    QString NewDb(const QString& rel) {
        const QString path = QDir::toNativeSeparators(tmp.file(rel));
        engine().CreateDatabase(path);
        return path;
    }
    std::unique_ptr<DbConnection> Open(const QString& path) {
        auto c = engine().NewConnection();
        c->SetConnectionString(DataSource(path));
        c->Open();
        return c;
    }

    TempDir tmp;

  private:
    QString oldCwd_;
};

TEST_P(EngineContract, OpeningCreatesNothingAndRefusesNonDatabases) {
    auto c = engine().NewConnection();
    const QString missing = QDir::toNativeSeparators(tmp.file(QStringLiteral("нет.mdb")));
    c->SetConnectionString(DataSource(missing));
    EXPECT_FALSE(ErrorOf([&] { c->Open(); }).isEmpty());
    EXPECT_FALSE(c->Connected());
    // A statement on the closed connection opens it first, and fails the same way.
    EXPECT_FALSE(
        ErrorOf([&] { c->Execute(QStringLiteral("create table x (a long)"), {}); }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));

    for (const QByteArray& bytes : {QByteArray(4096, 'x'), QByteArray()}) {
        const QString bad = QDir::toNativeSeparators(tmp.write(QStringLiteral("bad.mdb"), bytes));
        c->SetConnectionString(DataSource(bad));
        EXPECT_FALSE(ErrorOf([&] { c->Open(); }).isEmpty()) << bytes.size();
        EXPECT_EQ(tmp.read(QStringLiteral("bad.mdb")), bytes);
    }
    c->SetConnectionString(QString());
    EXPECT_FALSE(ErrorOf([&] { c->Open(); }).isEmpty());

    c->SetConnectionString(DataSource(NewDb(QStringLiteral("good.mdb"))));
    c->Open();
    const quint64 session = c->Session();
    c->Open();  // already open: nothing happens
    EXPECT_EQ(c->Session(), session);
    c->Close();
    c->Close();
    EXPECT_FALSE(c->Connected());
}

TEST_P(EngineContract, JetDialect) {
    auto c = Open(NewDb(QStringLiteral("d.mdb")));

    // The pin-list table as Install creates it; counter first, varchar sizes enforced.
    Exec(*c, kPinListCreate);
    const QString ins =
        QStringLiteral("insert into [_PINLIST_ЗЕЛК] ([manufacturer], [CATALOG]) values (:kz, :fd)");
    Exec(*c, ins, {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")}, {QStringLiteral("fd"), "A"}});
    Exec(*c, ins, {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")}, {QStringLiteral("fd"), "B"}});
    Exec(*c, ins, {{QStringLiteral("kz"), QString(24, u'Ж')}, {QStringLiteral("fd"), "C"}});
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from _PINLIST_ЗЕЛК where CATALOG='C'")),
              QStringLiteral("3"));
    // A given counter value is stored as it is, even a repeated one; numbering goes on after
    // the highest value.
    Exec(*c, QStringLiteral("insert into _PINLIST_ЗЕЛК ([RECNUM], [CATALOG]) values (2, 'D')"));
    Exec(*c, QStringLiteral("insert into _PINLIST_ЗЕЛК ([CATALOG]) values ('E')"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from _PINLIST_ЗЕЛК where RECNUM=2")), 2);
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from _PINLIST_ЗЕЛК where CATALOG='E'")),
              QStringLiteral("4"));
    // Sizes and "not null" are enforced (a missing parameter value is null).
    EXPECT_FALSE(
        ErrorOf([&] {
            Exec(*c, ins, {{QStringLiteral("kz"), QString(25, u'Ж')}, {QStringLiteral("fd"), "F"}});
        }).isEmpty());
    EXPECT_FALSE(ErrorOf([&] { Exec(*c, ins, {{QStringLiteral("kz"), "x"}}); }).isEmpty());
    // One parameter named twice takes its value at both places.
    EXPECT_EQ(Count(*c,
                    QStringLiteral("select count(*) from _PINLIST_ЗЕЛК where CATALOG=:x or "
                                   "ASSEMBLYCODE=:x or manufacturer=:x"),
                    {{QStringLiteral("x"), QStringLiteral("B")}}),
              1);

    // The second table: counter last, bracketed name with "-", long text.
    Exec(*c, QStringLiteral("CREATE TABLE [PNEU-GAU] ([CATALOG]VARCHAR(60) NOT NULL, "
                            "[MANUFACTURER]varchar(24),[SYMBOL3D]longchar, [RECNUM]counter)"));
    Exec(*c, QStringLiteral("insert into [PNEU-GAU] ([CATALOG], [SYMBOL3D]) values ('P', :s)"),
         {{QStringLiteral("s"), QString(5000, u'ы')}});
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from [PNEU-GAU]")), QStringLiteral("1"));
    EXPECT_EQ(Scalar(*c, QStringLiteral("select SYMBOL3D from [PNEU-GAU]")), QString(5000, u'ы'));

    // Table names in another letter case, Cyrillic included; "delete *".
    Exec(*c, QStringLiteral("create table [_pinlist_xyz_зелк] ([a] varchar(5))"));
    Exec(*c, QStringLiteral("insert into _PINLIST_XYZ_ЗЕЛК values ('q')"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [_Pinlist_Xyz_Зелк]")), 1);
    EXPECT_FALSE(ErrorOf([&] {
                     Exec(*c, QStringLiteral("create table [_PINLIST_XYZ_ЗЕЛК] ([a] long)"));
                 }).isEmpty());
    Exec(*c, QStringLiteral("delete * from _pinlist_зелк where manufacturer=:kz"), kMaker);
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from _PINLIST_ЗЕЛК")), 3);
    EXPECT_TRUE(ErrorOf([&] {
                    Exec(*c, QStringLiteral("delete * from [нет] where a=1"));
                }).contains(QStringLiteral("нет")));

    // The listing: user tables and views, no system tables.
    Exec(*c, QStringLiteral("create view v as select [CATALOG] from [PNEU-GAU]"));
    QStringList names{QStringLiteral("stale")};
    c->GetTableNames(names);
    names.sort();
    EXPECT_EQ(names, (QStringList{"PNEU-GAU", "_PINLIST_ЗЕЛК", "_pinlist_xyz_зелк", "v"}));

    // First row as text: null and missing rows read as empty; unknown fields are absent.
    const catalog::FirstRow r = c->OpenQuery(
        QStringLiteral("select [MANUFACTURER], RECNUM from [PNEU-GAU] where CATALOG=:fd"),
        {{QStringLiteral("fd"), QStringLiteral("P")}});
    EXPECT_EQ(*r.Field(QStringLiteral("manufacturer")), QString());
    EXPECT_EQ(*r.Field(QStringLiteral("recnum")), QStringLiteral("1"));
    EXPECT_FALSE(r.Field(QStringLiteral("nope")).has_value());
    const catalog::FirstRow none =
        c->OpenQuery(QStringLiteral("select CATALOG from [PNEU-GAU] where 1=0"), {});
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.names, QStringList{QStringLiteral("CATALOG")});

    // Several statements as one unit: a failing one undoes the others.
    EXPECT_FALSE(
        ErrorOf([&] {
            c->ExecuteAtomically(
                {{QStringLiteral("delete * from [PNEU-GAU]"), {}},
                 {QStringLiteral("insert into [PNEU-GAU] ([CATALOG]) values (null)"), {}}});
        }).isEmpty());
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [PNEU-GAU]")), 1);
    c->ExecuteAtomically({{QStringLiteral("delete * from [PNEU-GAU]"), {}},
                          {QStringLiteral("insert into [PNEU-GAU] ([CATALOG]) values (:c)"),
                           {{QStringLiteral("c"), QStringLiteral("Q")}}}});
    EXPECT_EQ(Scalar(*c, QStringLiteral("select CATALOG from [PNEU-GAU]")), QStringLiteral("Q"));
}

// Where Jet and the stand-in differ in a way the user could notice. Each row states what Jet
// does; `standIn` is what the SQLite stand-in does instead (equal when it follows Jet).
TEST_P(EngineContract, TextComparisonAndCounterNumberingAsJet) {
    auto c = Open(NewDb(QStringLiteral("j.mdb")));
    Exec(*c, QStringLiteral("create table [T] ([N]counter, [M]varchar(24))"));
    for (const char* m : {"ЗЕЛК", "Zelk", "x"})
        Exec(*c, QStringLiteral("insert into T ([M]) values (:m)"),
             {{QStringLiteral("m"), QString::fromUtf8(m)}});
    Exec(*c, QStringLiteral("delete * from T where M='x'"));
    Exec(*c, QStringLiteral("insert into T ([M]) values ('y')"));
    struct Row {
        const char* what;
        const char* sql;
        const char* jet;
        const char* standIn;
    } rows[] = {
        {"equality ignores letter case, Cyrillic", "select count(*) from T where M='зелк'", "1",
         "0"},
        {"equality ignores letter case, Latin", "select count(*) from T where M='ZELK'", "1", "0"},
        {"a counter never reuses a deleted number", "select N from T where M='y'", "4", "3"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Scalar(*c, QString::fromUtf8(row.sql)),
                  QString::fromUtf8(jet() ? row.jet : row.standIn))
            << row.what;
}

TEST_P(EngineContract, InsertSelectAllMapsColumnsByNameFromAnotherFile) {
    const QString main = NewDb(QStringLiteral("main.mdb"));
    tmp.mkdir(QStringLiteral("a"));
    tmp.mkdir(QStringLiteral("b"));
    {
        auto o = Open(NewDb(QStringLiteral("a/src.mdb")));
        Exec(*o, QStringLiteral("create table [Т-1] ([RECNUM]counter, [v]varchar(5))"));
        Exec(*o, QStringLiteral("insert into [Т-1] ([RECNUM], [v]) values (7, 'x')"));
        Exec(*o, QStringLiteral("insert into [Т-1] ([v]) values ('y')"));
    }
    auto c = Open(main);
    // The same columns in another order and letter case, and one more.
    Exec(*c, QStringLiteral("create table [т-1] ([V]varchar(5), [extra]varchar(5), "
                            "[RECNUM]counter)"));

    // A name relative to the current directory; the file is attached for the one statement.
    ASSERT_TRUE(QDir::setCurrent(tmp.file(QStringLiteral("a"))));
    Exec(*c, QStringLiteral("insert into [Т-1] select * from [Т-1] in 'src.mdb'"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [т-1] where extra is null")), 2);
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from [т-1] where v='y'")),
              QStringLiteral("8"));  // copied, not renumbered

    // A target counter the source lacks is numbered; a source column the target lacks fails
    // with its name, and nothing is copied.
    Exec(*c, QStringLiteral("create table [S] ([v]varchar(5))"));
    Exec(*c, QStringLiteral("insert into S values ('s1')"));
    Exec(*c, QStringLiteral("insert into S values ('s2')"));
    Exec(*c, QStringLiteral("create table [C] ([N]counter, [v]varchar(5))"));
    Exec(*c, QStringLiteral("insert into [C] select * from [S] where v <> 'none'"));
    EXPECT_EQ(Scalar(*c, QStringLiteral("select N from C where v='s2'")), QStringLiteral("2"));
    const QString err = ErrorOf(
        [&] { Exec(*c, QStringLiteral("insert into [S] select * from [Т-1] in 'src.mdb'")); });
    EXPECT_TRUE(err.contains(QStringLiteral("RECNUM"))) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("main."))) << err.toStdString();
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from S")), 2);

    // From another current directory the same name names no file: it fails, creates nothing.
    ASSERT_TRUE(QDir::setCurrent(tmp.file(QStringLiteral("b"))));
    EXPECT_FALSE(ErrorOf([&] {
                     Exec(*c, QStringLiteral("insert into [Т-1] select * from [Т-1] in 'src.mdb'"));
                 }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(tmp.file(QStringLiteral("b/src.mdb"))));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [т-1]")), 2);
    // Nothing stays attached: the file can be read again, and the listing shows main only.
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [т-1] in '%1'")
                            .arg(QDir::toNativeSeparators(QStringLiteral("../a/src.mdb")))),
              2);
    QStringList names;
    c->GetTableNames(names);
    names.sort();
    EXPECT_EQ(names, (QStringList{"C", "S", "т-1"}));

    // What each engine tells of the rows a statement inserted or deleted.
    const struct {
        const char* sql;
        std::optional<qint64> rows;
    } told[] = {{"insert into [т-1] select * from [Т-1] in '%1'", 2},
                {"delete * from [т-1] where v=:v", 2},
                {"delete * from [т-1] where v=:v", 0}};
    for (const auto& t : told) {
        Exec(*c,
             QString::fromUtf8(t.sql).replace(QStringLiteral("%1"),
                                              QDir::toNativeSeparators("../a/src.mdb")),
             {{QStringLiteral("v"), QStringLiteral("x")}});
        EXPECT_EQ(c->RowsAffected(), t.rows) << t.sql;
    }
}

TEST_P(EngineContract, CompactionMakesACopyAndNeverOverwrites) {
    const QString src = NewDb(QStringLiteral("src.mdb"));
    {
        auto c = Open(src);
        Exec(*c, QStringLiteral("create table [t] ([v]longchar)"));
        for (int i = 0; i < 40; ++i)
            Exec(*c, QStringLiteral("insert into t values (:v)"),
                 {{QStringLiteral("v"), QString(5000, QChar(char16_t(u'a' + i % 20)))}});
        Exec(*c, QStringLiteral("delete * from t where v not like 'c%'"));
    }
    const QByteArray before = tmp.read(QStringLiteral("src.mdb"));
    const QString prefix = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");
    const QString dest = QDir::toNativeSeparators(tmp.file(QStringLiteral("d;st.mdb")));
    {  // on a worker, as the window runs it, while this thread works on a connection of its own
        auto other = Open(NewDb(QStringLiteral("other.mdb")));
        Worker<> compaction([&] {
            engine().CompactDatabase(prefix + src, prefix + catalog::QuoteConnectionValue(dest));
        });
        Exec(*other, QStringLiteral("create table [o] ([v]varchar(5))"));
        compaction.Get();
    }
    EXPECT_EQ(tmp.read(QStringLiteral("src.mdb")), before);
    EXPECT_LT(QFileInfo(dest).size(), before.size());
    EXPECT_EQ(Count(*Open(dest), QStringLiteral("select count(*) from t")), 2);
    // An existing destination is an error and stays as it was.
    const QByteArray copy = tmp.read(QStringLiteral("d;st.mdb"));
    EXPECT_FALSE(ErrorOf([&] {
                     engine().CompactDatabase(prefix + src,
                                              prefix + catalog::QuoteConnectionValue(dest));
                 }).isEmpty());
    EXPECT_EQ(tmp.read(QStringLiteral("d;st.mdb")), copy);
}

// Install and Clean on a catalog whose family tables differ from the install database's: one
// has the columns in another order, one has a column more.
TEST_P(EngineContract, InstallAndCleanOnCatalogTablesOfAnotherShape) {
    const QStringList groups = {QStringLiteral("Автоматические выключатели"),
                                QStringLiteral("Предохранители")};
    {
        auto c = Open(NewDb(QStringLiteral("ZELK_install.mdb")));
        Exec(*c, QStringLiteral("create table _FAMILY_DESCRIPTION ([DESC]varchar(100), "
                                "[FAMILY]varchar(50))"));
        const QStringList families = {QStringLiteral("ВА-47"), QStringLiteral("CB")};
        for (int g = 0; g < 2; ++g) {
            Exec(*c, QStringLiteral("insert into _FAMILY_DESCRIPTION values (:d, :f)"),
                 {{QStringLiteral("d"), groups[g]}, {QStringLiteral("f"), families[g]}});
            Exec(*c, kFamilyCreate.arg(families[g]));
            for (int i = 1; i <= 3; ++i)
                Exec(*c,
                     QStringLiteral("insert into [%1] ([CATALOG], [MANUFACTURER]) values (:c, :kz)")
                         .arg(families[g]),
                     {{QStringLiteral("c"), families[g] + QString::number(i)}, kMaker[0]});
        }
        Exec(*c, kPinListCreate);
        Exec(*c,
             QStringLiteral("insert into [_PINLIST_ЗЕЛК] ([manufacturer], [CATALOG]) values "
                            "(:kz, 'PIN1')"),
             kMaker);
    }
    const QString cat = NewDb(QStringLiteral("default_cat.mdb"));
    {
        auto c = Open(cat);
        Exec(*c,
             QStringLiteral("create table [ВА-47] ([MANUFACTURER]varchar(24), [CATALOG]"
                            "varchar(60) not null, [DESCRIPTION]varchar(150), [RECNUM]counter)"));
        Exec(*c, QStringLiteral("create table [CB] ([CATALOG]varchar(60) not null, [MANUFACTURER]"
                                "varchar(24), [DESCRIPTION]varchar(150), [RECNUM]counter, "
                                "[USER1]varchar(100))"));
        for (const char* t : {"ВА-47", "CB"})
            Exec(*c, QStringLiteral("insert into [%1] ([CATALOG], [MANUFACTURER]) values ('OTHER', "
                                    "'ABB')")
                         .arg(QString::fromUtf8(t)));
    }
    AppState st;
    st.fstr = DataSource(QStringLiteral("zelk_install.mdb"));
    catalog::CatalogDb db(st, engine());
    db.Reconnect(cat);
    auto rows = [&](const QString& table, const QString& extra = {}) {
        return Count(
            db.ADOConnection2(),
            QStringLiteral("select count(*) from [%1] where MANUFACTURER=:kz").arg(table) + extra,
            kMaker);
    };

    catalog::CreateCatalogTables(db);
    catalog::FamilyLookup(db, st, groups);
    catalog::SourceCheck(db, st);
    catalog::RowTransfer(db, st);
    EXPECT_EQ(rows(QStringLiteral("ВА-47"), QStringLiteral(" and CATALOG like 'ВА-47%'")), 3);
    EXPECT_EQ(rows(QStringLiteral("CB"), QStringLiteral(" and USER1 is null")), 3);
    EXPECT_EQ(rows(QStringLiteral("_PINLIST_ЗЕЛК")), 1);

    catalog::RemoveMakerRows(db, st, groups);
    catalog::RemovePinListTable(db);
    catalog::CompactCatalog(db);
    EXPECT_EQ(rows(QStringLiteral("ВА-47")), 0);
    EXPECT_EQ(rows(QStringLiteral("CB")), 0);
    QStringList names;
    db.ADOConnection2().GetTableNames(names);
    names.sort();
    EXPECT_EQ(names, (QStringList{"CB", "PNEU-GAU", "ВА-47"}));
    for (const char* t : {"ВА-47", "CB"})
        EXPECT_EQ(Count(db.ADOConnection2(), QStringLiteral("select count(*) from [%1] where "
                                                            "MANUFACTURER='ABB'")
                                                 .arg(QString::fromUtf8(t))),
                  1)
            << t;
}

// ---- Closing, parameters, literals, messages, paths and the generated install database ----

// A closed connection releases its file at once: a byte copy taken right then holds the write,
// and the file compacts while another connection stays open on another file. A source still
// open is not compacted and leaves no destination. One connection object opens again.
TEST_P(EngineContract, ClosingReleasesTheFile) {
    auto other = Open(NewDb(QStringLiteral("other.mdb")));
    Exec(*other, QStringLiteral("create table [o] ([v]varchar(5))"));
    const QString src = NewDb(QStringLiteral("src.mdb"));
    auto c = engine().NewConnection();
    c->SetConnectionString(DataSource(src));
    c->Open();
    Exec(*c, QStringLiteral("create table [t] ([v]varchar(5))"));
    c->Close();
    Exec(*c, QStringLiteral("insert into t values ('w')"));  // opens it again
    c->Close();
    const QString copy = tmp.write(QStringLiteral("copy.mdb"), tmp.read(QStringLiteral("src.mdb")));
    EXPECT_EQ(Scalar(*Open(QDir::toNativeSeparators(copy)), QStringLiteral("select v from t")),
              QStringLiteral("w"));

    const QString dest = QDir::toNativeSeparators(tmp.file(QStringLiteral("dest.mdb")));
    c->Open();
    EXPECT_FALSE(ErrorOf([&] { engine().CompactDatabase(kJet + src, kJet + dest); }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dest));
    c->Close();
    engine().CompactDatabase(kJet + src, kJet + dest);
    EXPECT_EQ(Count(*Open(dest), QStringLiteral("select count(*) from t")), 1);
    EXPECT_TRUE(other->Connected());
}

// The queries as start-up activates them (the family lookup's parameter still null); text
// parameters at the limits of their columns; empty text is not null; an atomic unit whose
// second row fails leaves nothing of itself.
TEST_P(EngineContract, StartUpQueriesTextParametersAndAtomicUnits) {
    QString cat;
    for (const QString& f : {QStringLiteral("ZELK_install.mdb"), QStringLiteral("cat.mdb")}) {
        cat = NewDb(f);
        auto c = Open(cat);
        Exec(*c, QStringLiteral("create table _FAMILY_DESCRIPTION ([DESC]varchar(100), "
                                "[FAMILY]varchar(50))"));
        Exec(*c, QStringLiteral("insert into _FAMILY_DESCRIPTION values ('Предохранители', 'FU')"));
        Exec(*c, QStringLiteral("create table DS ([ID]counter, [NOTE]varchar(10))"));
    }
    AppState st;
    st.fstr = DataSource(QStringLiteral("zelk_install.mdb"));
    catalog::CatalogDb db(st, engine());
    db.Reconnect(cat);
    db.Activate({&db.ADOQuery1(), &db.ADOQuery2(), &db.ADOQuery3()});
    EXPECT_TRUE(db.ADOQuery1().Active());
    EXPECT_EQ(db.ADOQuery2().FieldAsText(QStringLiteral("FAMILY")), QStringLiteral("FU"));
    EXPECT_EQ(db.ADOQuery3().FieldAsText(QStringLiteral("FAMILY")), QString());
    catalog::FamilyLookup(db, st, {QStringLiteral("Предохранители")});
    EXPECT_EQ(st.socr, QStringList{QStringLiteral("FU")});

    auto c = Open(NewDb(QStringLiteral("p.mdb")));
    Exec(*c, QStringLiteral("create table [P] ([n]varchar(10), [v]varchar(255), [l]longchar)"));
    const struct {
        const char* name;
        const char* column;
        int length;
        bool fits;
    } rows[] = {{"v255", "v", 255, true},
                {"v256", "v", 256, false},
                {"l256", "l", 256, true},
                {"l511", "l", 511, true}};
    for (const auto& r : rows) {
        const QString text(r.length, u'Ё');
        const Params p = {{QStringLiteral("n"), QString::fromUtf8(r.name)},
                          {QStringLiteral("t"), text}};
        const QString err = ErrorOf([&] {
            Exec(*c, QStringLiteral("insert into P ([n], [%1]) values (:n, :t)").arg(r.column), p);
        });
        EXPECT_EQ(err.isEmpty(), r.fits) << r.name << ": " << err.toStdString();
        if (!r.fits) continue;
        EXPECT_EQ(Scalar(*c, QStringLiteral("select [%1] from P where n=:n").arg(r.column), p),
                  text)
            << r.name;
    }
    Exec(*c, QStringLiteral("insert into P ([n], [v]) values ('empty', :t)"),
         {{QStringLiteral("t"), QStringLiteral("")}});
    Exec(*c, QStringLiteral("insert into P ([n], [v]) values ('null', :t)"),
         {{QStringLiteral("t"), QString()}});
    EXPECT_EQ(Scalar(*c, QStringLiteral("select n from P where v=''")), QStringLiteral("empty"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from P where v is null")), 3);

    Exec(*c, QStringLiteral("create table [A] ([k]varchar(5) not null)"));
    Exec(*c, QStringLiteral("insert into A values ('old')"));
    EXPECT_FALSE(ErrorOf([&] {
                     c->ExecuteAtomically({{QStringLiteral("delete * from A"), {}},
                                           {QStringLiteral("insert into A values ('new')"), {}},
                                           {QStringLiteral("insert into A values (null)"), {}}});
                 }).isEmpty());
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from A")), 1);
    EXPECT_EQ(Scalar(*c, QStringLiteral("select k from A")), QStringLiteral("old"));
}

// Colons inside quotes, bracketed names and date literals are no parameters; a syntax error, a
// missing file and a file that is no database are told in the engine's own words (not as a
// bare error code), naming the file.
TEST_P(EngineContract, LiteralsStayLiteralAndErrorsAreTheEngines) {
    auto c = Open(NewDb(QStringLiteral("l.mdb")));
    Exec(*c, QStringLiteral("create table [L] ([a:kz]varchar(20), [d]datetime)"));
    Exec(*c,
         QStringLiteral("insert into L ([a:kz], [d]) values ('x :kz y', #2024-03-05 10:20:30#)"),
         kMaker);
    EXPECT_EQ(Count(*c,
                    QStringLiteral("select count(*) from L where [a:kz]='x :kz y' and "
                                   "d=#2024-03-05 10:20:30#"),
                    kMaker),
              1);

    tmp.write(QStringLiteral("notadb.mdb"), QByteArray(4096, 'x'));
    const struct {
        const char* sql;
        const char* names;
    } rows[] = {{"select from where", ""},
                {"select count(*) from [L]; delete * from [L]", ""},  // one statement at a time
                {"select count(*) from [L] in 'missing.mdb'", "missing.mdb"},
                {"select count(*) from [L] in 'notadb.mdb'", "notadb.mdb"}};
    for (const auto& r : rows) {
        const QString err = ErrorOf([&] { c->OpenQuery(QString::fromUtf8(r.sql), {}); });
        EXPECT_FALSE(err.isEmpty()) << r.sql;
        EXPECT_FALSE(err.contains(QStringLiteral("HRESULT"))) << err.toStdString();
        EXPECT_TRUE(err.contains(QString::fromUtf8(r.names))) << err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(tmp.file(QStringLiteral("missing.mdb"))));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from L"), {}), 1);
}

// A path with spaces and Cyrillic letters through creation, opening, "in" and compaction;
// creating a database over an existing file fails and leaves its bytes.
TEST_P(EngineContract, PathsWithSpacesAndCyrillicLetters) {
    const QString rel = QStringLiteral("Мои документы/Каталоги ЗЕЛК/база изделий.mdb");
    tmp.mkdir(QStringLiteral("Мои документы/Каталоги ЗЕЛК"));
    const QString cat = NewDb(rel);
    {
        auto c = Open(cat);
        Exec(*c, QStringLiteral("create table [Т] ([v]varchar(10))"));
        Exec(*c, QStringLiteral("insert into [Т] values ('ё')"));
    }
    auto main = Open(NewDb(QStringLiteral("main.mdb")));
    Exec(*main, QStringLiteral("create table [Т] ([v]varchar(10))"));
    Exec(*main, QStringLiteral("insert into [Т] select * from [Т] in '%1'").arg(cat));
    EXPECT_EQ(Scalar(*main, QStringLiteral("select v from [Т]")), QStringLiteral("ё"));
    const QString dest = QString(cat).replace(QStringLiteral(".mdb"), QStringLiteral("~$.mdb"));
    engine().CompactDatabase(kJet + catalog::QuoteConnectionValue(cat),
                             kJet + catalog::QuoteConnectionValue(dest));
    EXPECT_EQ(Scalar(*Open(dest), QStringLiteral("select v from [Т]")), QStringLiteral("ё"));

    const QByteArray before = tmp.read(rel);
    EXPECT_TRUE(ErrorOf([&] { engine().CreateDatabase(cat); }).contains(QStringLiteral("ЗЕЛК")));
    EXPECT_EQ(tmp.read(rel), before);
}

// The install database as the data generator writes it for this engine: each family's rows,
// the pin lists, and the family code of every (Cyrillic) group name through the family lookup.
TEST_P(EngineContract, DataGeneratorInstallDatabase) {
    const QString src = QStringLiteral(ZELK_SOURCE_DIR "/data-src");
    QProcess gen;
    QStringList args;
    if (jet()) args << QStringLiteral("--jet");
    gen.start(QStringLiteral(ZELK_DATAGEN_PATH),
              args << QStringLiteral("--package") << src << tmp.file(QStringLiteral("pkg")));
    ASSERT_TRUE(gen.waitForFinished(300000));
    ASSERT_EQ(gen.exitCode(), 0) << gen.readAllStandardError().toStdString();
    ASSERT_TRUE(QDir::setCurrent(tmp.file(QStringLiteral("pkg"))));

    auto rowsOf = [&](const QString& csv) {
        return tmp.read(src + u'/' + csv).trimmed().split('\n').size() - 1;
    };
    AppState st;
    catalog::CatalogDb db(st, engine());
    QStringList groups, codes;
    for (const QByteArray& line : tmp.read(src + QStringLiteral("/families.csv")).split('\n')) {
        const QStringList f = QString::fromUtf8(line).trimmed().split(u';');
        if (f.size() != 2 || f[1] == QLatin1String("FAMILY")) continue;
        groups << f[0];
        codes << f[1];
        EXPECT_EQ(
            Count(db.ADOConnection1(),
                  QStringLiteral("select count(*) from [%1] where MANUFACTURER=:kz").arg(f[1]),
                  kMaker),
            rowsOf(QStringLiteral("catalog/%1.csv").arg(f[1])))
            << f[1].toStdString();
    }
    ASSERT_EQ(groups.size(), 17);
    catalog::FamilyLookup(db, st, groups);
    EXPECT_EQ(st.socr, codes);
    EXPECT_EQ(Count(db.ADOConnection1(), QStringLiteral("select count(*) from _PINLIST_ЗЕЛК")),
              rowsOf(QStringLiteral("pinlist.csv")));
}

// One transaction around many statements, as Install and Clean use it: a rollback, a failed
// unit inside it and a closing connection each take back exactly what they should.
TEST_P(EngineContract, TransactionSpansStatementsAndFilesReadInIt) {
    {
        auto o = Open(NewDb(QStringLiteral("src.mdb")));
        Exec(*o, QStringLiteral("create table [S] ([v]varchar(5))"));
        Exec(*o, QStringLiteral("insert into S values ('s')"));
        Exec(*o, QStringLiteral("create table [L] ([v]varchar(20))"));
        Exec(*o, QStringLiteral("insert into L values ('fits')"));
        Exec(*o, QStringLiteral("insert into L values ('far too long')"));
    }
    auto c = Open(NewDb(QStringLiteral("t.mdb")));
    Exec(*c, QStringLiteral("create table [T] ([v]varchar(5))"));
    Exec(*c, QStringLiteral("insert into T values ('old')"));
    Exec(*c, QStringLiteral("create table [Gone] ([v]varchar(5))"));
    const auto rows = [&] { return Count(*c, QStringLiteral("select count(*) from T")); };
    const auto work = [&] {
        Exec(*c, QStringLiteral("delete * from T"));
        Exec(*c, QStringLiteral("insert into T select * from S in 'src.mdb'"));
        Exec(*c, QStringLiteral("insert into T select * from S in 'src.mdb'"));
    };

    c->BeginTransaction();
    EXPECT_TRUE(c->InTransaction());
    EXPECT_FALSE(ErrorOf([&] { c->BeginTransaction(); }).isEmpty());
    Exec(*c, QStringLiteral("create table [K] ([v]varchar(5))"));
    Exec(*c, QStringLiteral("insert into K values ('k')"));
    Exec(*c, QStringLiteral("drop table [Gone]"));
    work();
    EXPECT_EQ(rows(), 2);  // the connection sees its own changes
    // An engine that tells the rows a statement changed tells them right.
    EXPECT_EQ(c->RowsAffected().value_or(1), 1);
    Exec(*c, QStringLiteral("delete * from T"));
    EXPECT_EQ(c->RowsAffected().value_or(2), 2);
    EXPECT_TRUE(c->RollbackTransaction());
    EXPECT_FALSE(c->InTransaction());
    EXPECT_EQ(Scalar(*c, QStringLiteral("select v from T")), QStringLiteral("old"));
    // The table created in it, and the one dropped, are undone with it only where the engine
    // says so; a table that stays holds none of the transaction's rows.
    QStringList tables;
    c->GetTableNames(tables);
    EXPECT_EQ(tables.contains(QStringLiteral("K")), !c->RollsBackTableChanges());
    EXPECT_EQ(tables.contains(QStringLiteral("Gone")), c->RollsBackTableChanges());
    if (!c->RollsBackTableChanges()) {
        EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from K")), 0);
        Exec(*c, QStringLiteral("drop table K"));
    }

    // A failed unit inside takes back itself only; the commit keeps the rest.
    c->BeginTransaction();
    work();
    EXPECT_EQ(rows(), 2);
    EXPECT_FALSE(ErrorOf([&] {
                     c->ExecuteAtomically({{QStringLiteral("delete * from T"), {}},
                                           {QStringLiteral("insert into T values (null, 1)"), {}}});
                 }).isEmpty());
    EXPECT_EQ(rows(), 2);
    // So does one statement that fails on its second row: its first row goes with it.
    EXPECT_FALSE(ErrorOf([&] {
                     Exec(*c, QStringLiteral("insert into T select * from L in 'src.mdb'"));
                 }).isEmpty());
    EXPECT_EQ(rows(), 2);
    c->CommitTransaction();
    EXPECT_EQ(Count(*Open(tmp.file(QStringLiteral("t.mdb"))),
                    QStringLiteral("select count(*) from T where v='s'")),
              2);

    // Tables made and dropped inside a transaction are known, with their columns, to the
    // statements after them; one whose creating unit failed is not.
    c->BeginTransaction();
    Exec(*c, QStringLiteral("create table [N] ([v]varchar(5))"));
    Exec(*c, QStringLiteral("insert into N select * from S in 'src.mdb'"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from N")), 1);
    EXPECT_FALSE(ErrorOf([&] {
                     c->ExecuteAtomically({{QStringLiteral("create table [M] ([v]varchar(5))"), {}},
                                           {QStringLiteral("insert into T values (null, 1)"), {}}});
                 }).isEmpty());
    if (c->RollsBackTableChanges()) {
        EXPECT_FALSE(
            ErrorOf([&] { Exec(*c, QStringLiteral("insert into M values ('m')")); }).isEmpty());
    }
    Exec(*c, QStringLiteral("drop table N"));
    EXPECT_FALSE(ErrorOf([&] {
                     Exec(*c, QStringLiteral("insert into N select * from S in 'src.mdb'"));
                 }).isEmpty());
    c->CommitTransaction();

    // Closing with a transaction open takes it back; nothing stays attached.
    c->BeginTransaction();
    Exec(*c, QStringLiteral("delete * from T"));
    c->Close();
    EXPECT_FALSE(c->InTransaction());
    EXPECT_EQ(rows(), 2);
    QStringList names;
    c->GetTableNames(names);
    EXPECT_TRUE(names.contains(QStringLiteral("T")));
    if (c->RollsBackTableChanges()) {
        names.sort();
        EXPECT_EQ(names, (QStringList{"Gone", "T"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineContract, ::testing::ValuesIn(engines::All()),
                         [](const ::testing::TestParamInfo<EngineCase>& i) {
                             return i.param.name;
                         });
