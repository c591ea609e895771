// The sample data package built into <build>/package: what the tool reads from it must be
// there, in the shape Install and Clean rely on.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include "DemoSupport.h"
#include "core/TextFile.h"

namespace {

const QStringList kFamilyColumns = {
    "CATALOG",        "MANUFACTURER",   "DESCRIPTION",  "TYPE",         "RATING",
    "MISCELLANEOUS1", "MISCELLANEOUS2", "ASSEMBLYCODE", "ASSEMBLYLIST", "ASSEMBLYQUANTITY",
    "USER1",          "USER2",          "USER3",        "TEXTVALUE",    "WEBLINK",
    "WDBLKNAM",       "SYMBOL2D",       "SYMBOL3D",     "RECNUM"};

class InstallDb {
  public:
    explicit InstallDb(const QString& path) : name_(QUuid::createUuid().toString()) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
        db.setDatabaseName(path);
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        ok_ = db.open();
    }
    ~InstallDb() {
        { QSqlDatabase::database(name_, false).close(); }
        QSqlDatabase::removeDatabase(name_);
    }
    bool ok() const { return ok_; }
    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }
    QStringList Columns(const QString& table) const {
        QStringList out;
        const QSqlRecord r = db().record(table);
        for (int i = 0; i < r.count(); ++i) out << r.fieldName(i);
        return out;
    }
    std::vector<QStringList> Rows(const QString& sql) const {
        std::vector<QStringList> out;
        QSqlQuery q(db());
        if (!q.exec(sql)) return out;
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < q.record().count(); ++i) row << q.value(i).toString();
            out.push_back(row);
        }
        return out;
    }

  private:
    QString name_;
    bool ok_ = false;
};

}  // namespace

TEST(DataPackage, InstallDatabaseMapsEveryGroupToTheMakersRows) {
    InstallDb idb(demo::PackageDir() + "ZELK_install.mdb");
    ASSERT_TRUE(idb.ok());

    const auto families = idb.Rows("select DESC, FAMILY from _FAMILY_DESCRIPTION");
    QStringList descs;
    QSet<QString> codes;
    for (const QStringList& r : families) {
        descs << r[0];
        codes.insert(r[1]);
    }
    EXPECT_EQ(descs, demo::GroupNames());
    EXPECT_FALSE(codes.contains("DS")) << "DS is the table query activation opens";

    QSet<QString> catalogNumbers;
    for (const QString& code : codes) {
        SCOPED_TRACE(code.toStdString());
        EXPECT_EQ(idb.Columns(code), kFamilyColumns);
        const auto rows = idb.Rows(QString("select CATALOG, MANUFACTURER from [%1]").arg(code));
        EXPECT_GE(rows.size(), 5u);
        for (const QStringList& r : rows) {
            EXPECT_FALSE(r[0].isEmpty());
            EXPECT_EQ(r[1], "ЗЕЛК");
            EXPECT_FALSE(catalogNumbers.contains(r[0])) << r[0].toStdString();
            catalogNumbers.insert(r[0]);
        }
    }

    EXPECT_EQ(idb.Columns("_PINLIST_ЗЕЛК"),
              QStringList({"RECNUM", "manufacturer", "CATALOG", "ASSEMBLYCODE", "COILPINS",
                           "PINLIST", "PEER_COILPINS", "PEER_PINLIST"}));
    const auto pins = idb.Rows("select manufacturer, CATALOG, PINLIST from _PINLIST_ЗЕЛК");
    EXPECT_GE(pins.size(), 10u);
    for (const QStringList& r : pins) {
        EXPECT_EQ(r[0], "ЗЕЛК");
        EXPECT_TRUE(catalogNumbers.contains(r[1]))
            << "pin list of an unknown part " << r[1].toStdString();
        EXPECT_FALSE(r[2].isEmpty());
    }
    EXPECT_FALSE(idb.Rows("select * from DS").empty());
}

TEST(DataPackage, DataFolderHoldsTemplateMenuImagesAndLibrary) {
    const QString data = demo::PackageDir() + "data/";

    // The connection template: one ANSI line, the catalog connection's 17 properties with the
    // placeholder as Data Source.
    const QByteArray tpl = demo::ReadBytes(data + "bd_info.txt");
    const QStringList tplLines = SplitLines(QString::fromLatin1(tpl));
    ASSERT_EQ(tplLines.size(), 1);
    const QStringList props = tplLines[0].split(';', Qt::SkipEmptyParts);
    ASSERT_EQ(props.size(), 17);
    EXPECT_EQ(props[0], "Provider=Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(props[2], "Data Source=zelk_install.mdb");
    EXPECT_EQ(props[4], "Jet OLEDB:System database=\"\"");
    EXPECT_EQ(props[16], "Jet OLEDB:SFP=False");

    // The menu block: ANSI (Windows-1251) without a byte-order mark, opened by its only
    // "*M400" line, without the entry line; everything it names is in the package, named so
    // that Clean recognises it.
    const TextLines menu = ReadTextFile(data + "menu.txt");
    EXPECT_EQ(menu.encoding, TextEncoding::Ansi);
    ASSERT_FALSE(menu.lines.isEmpty());
    EXPECT_TRUE(menu.lines.first().contains("**M400"));
    EXPECT_EQ(menu.lines.filter("*M400").size(), 1);
    EXPECT_TRUE(menu.lines.filter("ЗЕЛК|IMAGES\\zelk.png|$S=M400").isEmpty());
    EXPECT_TRUE(menu.lines.filter("**M0").isEmpty());
    EXPECT_EQ(menu.lines.filter("$S=M4").size(), 17);  // one page per group

    const QStringList images = QDir(data + "IMAGES").entryList(QDir::Files);
    const QStringList library = QDir(data + "ZELK").entryList(QDir::Files);
    EXPECT_TRUE(images.contains("zelk.png"));
    for (const QString& name : images + library)
        EXPECT_TRUE(name.contains("zelk") || name.contains("ZELK")) << name.toStdString();
    for (const QString& name : images) {
        const QImage img(data + "IMAGES/" + name);
        EXPECT_EQ(img.size(), QSize(64, 64)) << name.toStdString();
    }
    const QRegularExpression entry("^[^|]+\\|IMAGES\\\\([^|]+)\\|(.+)$");
    int blocks = 0;
    for (const QString& line : menu.lines) {
        const auto m = entry.match(line);
        if (!m.hasMatch()) continue;
        EXPECT_TRUE(images.contains(m.captured(1))) << line.toStdString();
        if (m.captured(2).startsWith("$S=")) continue;
        ++blocks;
        EXPECT_TRUE(library.contains(m.captured(2) + ".dwg")) << line.toStdString();
    }
    EXPECT_EQ(blocks, library.size());
}
