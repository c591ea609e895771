// ADO connection strings, and what only the SQLite stand-in has; what every engine does is in
// engine_contract_test.cpp.

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
