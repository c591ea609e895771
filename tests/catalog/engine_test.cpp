// The database engine: connection strings, opening, the Jet dialect, table listing and
// compaction, on real database files.

#include <QFile>
#include <QFileInfo>

#include "CatalogFixture.h"

using namespace catalog_test;
using catalog::ConnectionProperty;

TEST(ConnectionString, BuiltInStringAndAdoSyntax) {
    EXPECT_EQ(catalog::JetConnectionString(QStringLiteral("ZELK_install.mdb")),
              QStringLiteral(
                  "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=ZELK_install.mdb;"
                  "Mode=Share Deny None;Jet OLEDB:System database=\"\";Jet OLEDB:Registry "
                  "Path=\"\";Jet OLEDB:Database Password=\"\";Jet OLEDB:Engine Type=5;Jet "
                  "OLEDB:Database Locking Mode=0;Jet OLEDB:Global Partial Bulk Ops=2;Jet "
                  "OLEDB:Global Bulk Transactions=1;Jet OLEDB:New Database Password=\"\";Jet "
                  "OLEDB:Create System Database=False;Jet OLEDB:Encrypt Database=False;Jet "
                  "OLEDB:Don't Copy Locale on Compact=False;Jet OLEDB:Compact Without Replica "
                  "Repair=False;Jet OLEDB:SFP=False;"));
    const QString s = catalog::JetConnectionString(QStringLiteral("C:\\Мои документы\\cat.mdb"));
    EXPECT_EQ(*ConnectionProperty(s, QStringLiteral("data source")),
              QStringLiteral("C:\\Мои документы\\cat.mdb"));
    EXPECT_EQ(*ConnectionProperty(s, QStringLiteral("Jet OLEDB:System database")), QString());
    EXPECT_FALSE(ConnectionProperty(s, QStringLiteral("Password")).has_value());

    // Quoted values keep ";" and doubled quotes; unquoted ones are trimmed; the last wins.
    const QString q = QStringLiteral(
        "Provider=x; Data Source = \"C:\\a;b\\\"\"q\"\".mdb\" ;Mode='it''s';Mode=  last  ");
    EXPECT_EQ(*ConnectionProperty(q, QStringLiteral("Data Source")),
              QStringLiteral("C:\\a;b\\\"q\".mdb"));
    EXPECT_EQ(*ConnectionProperty(q, QStringLiteral("mode")), QStringLiteral("last"));
    EXPECT_EQ(catalog::QuoteConnectionValue(QStringLiteral("C:\\a;b\\c.mdb")),
              QStringLiteral("\"C:\\a;b\\c.mdb\""));
    EXPECT_EQ(catalog::QuoteConnectionValue(QStringLiteral("C:\\a b\\c.mdb")),
              QStringLiteral("C:\\a b\\c.mdb"));
}

TEST(Engine, OpeningCreatesNothingAndRefusesNonDatabases) {
    TempDir tmp;
    auto c = catalog::DefaultEngine().NewConnection();

    const QString missing = tmp.file(QStringLiteral("нет.mdb"));
    c->SetConnectionString(DataSource(missing));
    EXPECT_FALSE(ErrorOf([&] { c->Open(); }).isEmpty());
    EXPECT_FALSE(c->Connected());
    EXPECT_FALSE(QFileInfo::exists(missing));
    // A statement on the closed connection opens it first, and fails the same way.
    EXPECT_FALSE(
        ErrorOf([&] { c->Execute(QStringLiteral("create table x (a long)"), {}); }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));

    const QString text = tmp.write(QStringLiteral("text.mdb"), QByteArray(4096, 'x'));
    c->SetConnectionString(DataSource(text));
    EXPECT_TRUE(ErrorOf([&] { c->Open(); }).contains(QStringLiteral("not a database")));
    const QString empty = tmp.write(QStringLiteral("empty.mdb"), {});
    c->SetConnectionString(DataSource(empty));
    EXPECT_TRUE(ErrorOf([&] { c->Open(); }).contains(QStringLiteral("not a database")));
    EXPECT_EQ(QFileInfo(empty).size(), 0);

    c->SetConnectionString(QString());
    EXPECT_FALSE(ErrorOf([&] { c->Open(); }).isEmpty());

    const QString good = tmp.file(QStringLiteral("good.mdb"));
    MakeEmptyDb(good);
    c->SetConnectionString(DataSource(good));
    c->Open();
    const quint64 session = c->Session();
    c->Open();  // already open: nothing happens
    EXPECT_EQ(c->Session(), session);
    c->Close();
    c->Close();
    EXPECT_FALSE(c->Connected());
}

TEST(Engine, JetDialect) {
    TempDir tmp;
    const QString path = tmp.file(QStringLiteral("d.mdb"));
    MakeEmptyDb(path);
    auto c = Connect(path);

    // The pin-list table as Install creates it; counter first, varchar sizes enforced.
    Exec(*c, kPinListCreate);
    const QString ins =
        QStringLiteral("insert into [_PINLIST_ЗЕЛК] ([manufacturer], [CATALOG]) values (:kz, :fd)");
    Exec(*c, ins, {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")}, {QStringLiteral("fd"), "A"}});
    Exec(*c, ins, {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")}, {QStringLiteral("fd"), "B"}});
    EXPECT_FALSE(
        ErrorOf([&] {
            Exec(*c, ins, {{QStringLiteral("kz"), QString(25, u'Ж')}, {QStringLiteral("fd"), "C"}});
        }).isEmpty());
    Exec(*c, ins, {{QStringLiteral("kz"), QString(24, u'Ж')}, {QStringLiteral("fd"), "C"}});
    // not null: a missing parameter value is null
    EXPECT_FALSE(ErrorOf([&] { Exec(*c, ins, {{QStringLiteral("kz"), "x"}}); }).isEmpty());
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from _PINLIST_ЗЕЛК where CATALOG='C'")),
              QStringLiteral("3"));
    // A given counter value is stored as it is, even a repeated one; numbering goes on after
    // the highest value.
    Exec(*c, QStringLiteral("insert into _PINLIST_ЗЕЛК ([RECNUM], [CATALOG]) values (2, 'D')"));
    Exec(*c, QStringLiteral("insert into _PINLIST_ЗЕЛК ([CATALOG]) values ('E')"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from _PINLIST_ЗЕЛК where RECNUM=2")), 2);
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from _PINLIST_ЗЕЛК where CATALOG='E'")),
              QStringLiteral("4"));

    // The second table: counter last, bracketed name with "-".
    Exec(*c, QStringLiteral("CREATE TABLE [PNEU-GAU] ([CATALOG]VARCHAR(60) NOT NULL, "
                            "[MANUFACTURER]varchar(24),[SYMBOL3D]longchar, [RECNUM]counter)"));
    Exec(*c, QStringLiteral("insert into [PNEU-GAU] ([CATALOG], [SYMBOL3D]) values ('P', :s)"),
         {{QStringLiteral("s"), QString(5000, u'ы')}});
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from [PNEU-GAU]")), QStringLiteral("1"));

    // Table names in another letter case, Cyrillic included; "delete *"; the listing.
    Exec(*c, QStringLiteral("create table [_pinlist_xyz_зелк] ([a] varchar(5))"));
    Exec(*c, QStringLiteral("insert into _PINLIST_XYZ_ЗЕЛК values ('q')"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [_Pinlist_Xyz_Зелк]")), 1);
    EXPECT_FALSE(ErrorOf([&] {
                     Exec(*c, QStringLiteral("create table [_PINLIST_XYZ_ЗЕЛК] ([a] long)"));
                 }).isEmpty());
    Exec(*c, QStringLiteral("delete * from _pinlist_зелк where manufacturer=:kz"),
         {{QStringLiteral("kz"), QStringLiteral("ЗЕЛК")}});
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from _PINLIST_ЗЕЛК")), 3);
    EXPECT_TRUE(ErrorOf([&] {
                    Exec(*c, QStringLiteral("delete * from [нет] where a=1"));
                }).contains(QStringLiteral("нет")));

    {  // a system table and a view made behind the engine's back
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "raw");
        raw.setDatabaseName(path);
        ASSERT_TRUE(raw.open());
        QSqlQuery(raw).exec(
            QStringLiteral("create table ai (id integer primary key autoincrement)"));
        QSqlQuery(raw).exec(QStringLiteral("insert into ai default values"));
        QSqlQuery(raw).exec(QStringLiteral("create view v as select 1"));
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    QStringList names{QStringLiteral("stale")};
    c->GetTableNames(names);
    EXPECT_EQ(names, (QStringList{"PNEU-GAU", "_PINLIST_ЗЕЛК", "_pinlist_xyz_зелк", "ai", "v"}));

    // First row as text: null and missing rows read as empty; unknown fields fail.
    const catalog::FirstRow r = c->OpenQuery(
        QStringLiteral("select [MANUFACTURER], RECNUM from [PNEU-GAU] where CATALOG=:fd"),
        {{QStringLiteral("fd"), QStringLiteral("P")}});
    EXPECT_EQ(*r.Field(QStringLiteral("manufacturer")), QString());
    EXPECT_EQ(*r.Field(QStringLiteral("recnum")), QStringLiteral("1"));
    EXPECT_FALSE(r.Field(QStringLiteral("nope")).has_value());
    EXPECT_TRUE(c->OpenQuery(QStringLiteral("select * from [PNEU-GAU] where 1=0"), {}).empty());

    EXPECT_EQ(Count(*c, QStringLiteral("with recursive c(n) as (select 1 union all select n + 1 "
                                       "from c where n < 5) select count(*) from c")),
              5);

    // Several statements as one unit: a failing one undoes the others.
    EXPECT_FALSE(
        ErrorOf([&] {
            c->ExecuteAtomically(
                {{QStringLiteral("delete * from [PNEU-GAU]"), {}},
                 {QStringLiteral("insert into [PNEU-GAU] ([CATALOG]) values (null)"), {}}});
        }).isEmpty());
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [PNEU-GAU]")), 1);
}

TEST(Engine, SelectFromAnotherFileRelativeToCurrentDirectory) {
    TempDir tmp;
    const QString oldCwd = QDir::currentPath();
    const QString main = tmp.file(QStringLiteral("main.mdb"));
    MakeEmptyDb(main);
    tmp.mkdir(QStringLiteral("a"));
    tmp.mkdir(QStringLiteral("b"));
    const QString other = tmp.file(QStringLiteral("a/src.mdb"));
    MakeEmptyDb(other);
    {
        auto o = Connect(other);
        Exec(*o, QStringLiteral("create table [Т-1] ([RECNUM]counter, [v]varchar(5))"));
        Exec(*o, QStringLiteral("insert into [Т-1] ([RECNUM], [v]) values (7, 'x')"));
        Exec(*o, QStringLiteral("insert into [Т-1] ([v]) values ('y')"));
    }
    auto c = Connect(main);
    Exec(*c, QStringLiteral("create table [т-1] ([RECNUM]counter, [v]varchar(5))"));

    ASSERT_TRUE(QDir::setCurrent(tmp.file(QStringLiteral("a"))));
    Exec(*c, QStringLiteral("insert into [Т-1] select * from [Т-1] in 'src.mdb'"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [т-1]")), 2);
    EXPECT_EQ(Scalar(*c, QStringLiteral("select RECNUM from [т-1] where v='y'")),
              QStringLiteral("8"));  // copied, not renumbered

    // From another current directory the same name names no file: it fails, creates nothing.
    ASSERT_TRUE(QDir::setCurrent(tmp.file(QStringLiteral("b"))));
    EXPECT_FALSE(ErrorOf([&] {
                     Exec(*c, QStringLiteral("insert into [Т-1] select * from [Т-1] in 'src.mdb'"));
                 }).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(tmp.file(QStringLiteral("b/src.mdb"))));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [т-1]")), 2);
    // Nothing stays attached: the file can be read again, and the listing shows main only.
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from [т-1] in '../a/src.mdb'")), 2);
    QStringList names;
    c->GetTableNames(names);
    EXPECT_EQ(names, QStringList{QStringLiteral("т-1")});
    QDir::setCurrent(oldCwd);
}

TEST(Engine, CompactionMakesACopyAndNeverOverwrites) {
    TempDir tmp;
    const QString src = tmp.file(QStringLiteral("src.mdb"));
    MakeEmptyDb(src);
    {
        auto c = Connect(src);
        Exec(*c, QStringLiteral("create table [t] ([v]longchar)"));
        for (int i = 0; i < 40; ++i)
            Exec(*c, QStringLiteral("insert into t values (:v)"),
                 {{QStringLiteral("v"), QString(5000, QChar(char16_t(u'a' + i % 20)))}});
        Exec(*c, QStringLiteral("delete * from t where v not like 'c%'"));
    }
    const QByteArray before = tmp.read(src);
    const QString prefix = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");
    const QString dest = tmp.file(QStringLiteral("d;st.mdb"));
    catalog::DefaultEngine().CompactDatabase(prefix + src,
                                             prefix + catalog::QuoteConnectionValue(dest));
    EXPECT_EQ(tmp.read(src), before);
    EXPECT_LT(QFileInfo(dest).size(), before.size());
    EXPECT_EQ(Count(*Connect(dest), QStringLiteral("select count(*) from t")), 2);
    // An existing destination is an error and stays as it was.
    const QByteArray copy = tmp.read(dest);
    EXPECT_FALSE(ErrorOf([&] {
                     catalog::DefaultEngine().CompactDatabase(
                         prefix + src, prefix + catalog::QuoteConnectionValue(dest));
                 }).isEmpty());
    EXPECT_EQ(tmp.read(dest), copy);
}
