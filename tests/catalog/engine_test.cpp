// ADO connection strings, and what only the SQLite stand-in has; what every engine does is in
// engine_contract_test.cpp.

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "CatalogFixture.h"
#include "catalog/SqliteEngine.h"

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

    // Handed to ADO without resource pooling unless the string names its own OLE DB Services.
    const QString quoted = QStringLiteral("Provider=x;Data Source=\"C:\\a;b.mdb\"");
    const QString pooled = QStringLiteral("Provider=x; ole db services = -4");
    const QString rows[][2] = {
        {s, s + QStringLiteral("OLE DB Services=-2;")},
        {quoted, quoted + QStringLiteral(";OLE DB Services=-2;")},
        {QStringLiteral("Provider=x  "), QStringLiteral("Provider=x;OLE DB Services=-2;")},
        {pooled, pooled},
        {QString(), QStringLiteral("OLE DB Services=-2;")}};
    for (const auto& [given, handed] : rows) {
        EXPECT_EQ(catalog::WithoutPooling(given), handed);
        EXPECT_EQ(ConnectionProperty(handed, QStringLiteral("Data Source")),
                  ConnectionProperty(given, QStringLiteral("Data Source")));
    }
}

// What only the SQLite stand-in has: its own messages, its own system tables, and statements
// beyond Jet's dialect that pass through it.
TEST(SqliteStandIn, OwnMessagesSystemTablesAndPassThrough) {
    TempDir tmp;
    auto c = catalog::DefaultEngine().NewConnection();
    const QString text = tmp.write(QStringLiteral("text.mdb"), QByteArray(4096, 'x'));
    c->SetConnectionString(DataSource(text));
    EXPECT_TRUE(ErrorOf([&] { c->Open(); }).contains(QStringLiteral("not a database")));
    const QString empty = tmp.write(QStringLiteral("empty.mdb"), {});
    c->SetConnectionString(DataSource(empty));
    EXPECT_TRUE(ErrorOf([&] { c->Open(); }).contains(QStringLiteral("not a database")));

    const QString path = tmp.file(QStringLiteral("d.mdb"));
    MakeEmptyDb(path);
    c = Connect(path);
    // SQLite's statements pass through: a table that makes SQLite's own system table, a view.
    Exec(*c, QStringLiteral("create table ai (id integer primary key autoincrement)"));
    Exec(*c, QStringLiteral("insert into ai default values"));
    Exec(*c, QStringLiteral("create view w as select 1"));
    Exec(*c, QStringLiteral("create table [T] ([N]counter, [v]varchar(5))"));
    QStringList names;
    c->GetTableNames(names);
    EXPECT_EQ(names, (QStringList{"T", "ai", "w"}));

    EXPECT_EQ(Count(*c, QStringLiteral("with recursive c(n) as (select 1 union all select n + 1 "
                                       "from c where n < 5) select count(*) from c")),
              5);
    // SQLite's messages come without the schema names the stand-in adds while another file is
    // attached.
    Exec(*c, QStringLiteral("create table [U] ([v]varchar(5))"));
    const QString err = ErrorOf(
        [&] { Exec(*c, QStringLiteral("insert into U select N, v from T in '%1'").arg(path)); });
    EXPECT_TRUE(err.contains(QStringLiteral("table U has 1 columns"))) << err.toStdString();
}

// A compacted copy many times larger than the memory the disk writes behind with: whole, with
// every row, readable, and smaller than its source by the rows deleted.
TEST(SqliteStandIn, CompactionOfALargeCatalogIsWhole) {
    TempDir tmp;
    const QString src = tmp.file(QStringLiteral("big.mdb"));
    MakeEmptyDb(src);
    {
        auto c = Connect(src);
        Exec(*c, QStringLiteral("create table [t] ([n]integer, [v]longchar)"));
        Exec(*c, QStringLiteral("with recursive k(i) as (select 1 union all select i + 1 from k "
                                "where i < 12000) insert into t select i, hex(randomblob(1500)) "
                                "from k"));
        Exec(*c, QStringLiteral("delete * from t where n % 4 = 0"));
    }
    const QString dest = tmp.file(QStringLiteral("big~$.mdb"));
    catalog::DefaultEngine().CompactDatabase(DataSource(src), DataSource(dest));
    EXPECT_LT(QFileInfo(dest).size(), QFileInfo(src).size() * 4 / 5);
    auto c = Connect(dest);
    EXPECT_EQ(Scalar(*c, QStringLiteral("pragma integrity_check")), QStringLiteral("ok"));
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from t")), 9000);
    EXPECT_EQ(Count(*c, QStringLiteral("select count(*) from t where length(v) = 3000")), 9000);
}

// The columns read from a table's definition are those SQLite's pragma lists, whatever the
// definition holds (SQLite keeps a table made by a select, or altered, with a definition of
// its own); one with a generated column is left to the pragma.
TEST(SqliteStandIn, ColumnsReadFromDefinitionsAreThePragmas) {
    TempDir tmp;
    const QString file = tmp.file(QStringLiteral("defs.db"));
    const struct Remove {
        ~Remove() { QSqlDatabase::removeDatabase(QStringLiteral("defs")); }
    } remove;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("defs"));
    db.setDatabaseName(file);
    ASSERT_TRUE(db.open());
    const char* const tables[] = {
        "CREATE TABLE \"a (b\" ([x, y] TEXT, \"q\"\"u\" INT DEFAULT 'p, (q', `b``t` DECIMAL(10, "
        "2), 'lit' NOT NULL, Имя TEXT, key INT, -- a comment, with a comma\n z /* c, ( */ REAL, "
        "CONSTRAINT pk PRIMARY KEY ([x, y], key), UNIQUE (z), CHECK (z > 0 AND key IN (1, 2)), "
        "FOREIGN KEY (key) REFERENCES t(x))",
        "create temp table if not exists main_t(\"primary\" text, [check] int, unique_x int "
        "unique)",
        "CREATE TABLE w (a INT PRIMARY KEY, b TEXT) WITHOUT ROWID",
        "CREATE TABLE g (a INT, b INT GENERATED ALWAYS AS (a * 2), c INT)",
        "CREATE TABLE s AS SELECT 1 AS one, 'x' AS two",
        "CREATE TABLE p (a TEXT CHECK (a <> ')' /* ) */ AND [a] <> 'x)' -- )\n), b INT)"};
    for (const char* t : tables) ASSERT_TRUE(QSqlQuery(db).exec(QString::fromUtf8(t))) << t;
    ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("ALTER TABLE w ADD COLUMN \"c, d\" TEXT")));
    ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("ALTER TABLE w RENAME COLUMN b TO [b b]")));
    int read = 0;
    for (const char* schema : {"main", "temp"}) {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT name, sql FROM %1.sqlite_master WHERE type = "
                                          "'table'")
                               .arg(QLatin1String(schema))));
        while (q.next()) {
            const QString name = q.value(0).toString();
            const std::optional<QStringList> got =
                catalog::SqliteColumnsOfDefinition(q.value(1).toString());
            QStringList expected;
            QSqlQuery p(db);
            ASSERT_TRUE(p.exec(QStringLiteral("SELECT name FROM pragma_table_info('%1', '%2')")
                                   .arg(name, QLatin1String(schema))));
            while (p.next()) expected << p.value(0).toString();
            if (name == QLatin1String("g")) {
                EXPECT_FALSE(got.has_value()) << name.toStdString();
                continue;
            }
            ASSERT_TRUE(got.has_value()) << name.toStdString();
            EXPECT_EQ(*got, expected) << name.toStdString();
            ++read;
        }
    }
    EXPECT_EQ(read, 5);
    db.close();
}
