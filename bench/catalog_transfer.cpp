// Row transfer throughput: the tool copies a 100,000-row family table from the install
// database into a catalog (CatalogDb and RowTransfer, statements in the Jet dialect), and the
// sqlite3 command-line tool does the same insert into a fresh copy of the same catalog.
// Prints both times and their ratio. Run by hand on a Release build.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

#include "catalog/CatalogDb.h"
#include "catalog/Engine.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"

namespace {

constexpr int kRows = 100000;
const QString kFamily = QStringLiteral("ВА-47");
const QString kFamilyCreate = QStringLiteral(
    "CREATE TABLE [ВА-47] ([CATALOG]varchar(60) not null, [MANUFACTURER]varchar(24), "
    "[DESCRIPTION]varchar(150), [TYPE]varchar(100), [RATING]varchar(100), "
    "[ASSEMBLYCODE]varchar(60), [TEXTVALUE]varchar(255), [SYMBOL2D]longchar, [RECNUM]counter)");

// An empty database file, then the tables through the tool's engine (the Jet statements).
void MakeDb(const QString& path, const QStringList& statements) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mk"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery(db).exec(QStringLiteral("PRAGMA user_version = 1"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("mk"));
    auto c = catalog::DefaultEngine().NewConnection();
    c->SetConnectionString(catalog::JetConnectionString(path));
    for (const QString& s : statements) c->Execute(s, {});
}

void FillFamily(const QString& path) {
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        db.open();
        db.transaction();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("insert into \"ВА-47\" values (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (int i = 1; i <= kRows; ++i) {
            q.addBindValue(QStringLiteral("ВА47-%1").arg(i));
            q.addBindValue(QStringLiteral("ЗЕЛК"));
            q.addBindValue(QStringLiteral("Автоматический выключатель %1 А").arg(i % 125));
            q.addBindValue(QStringLiteral("3P"));
            q.addBindValue(QStringLiteral("%1A").arg(i % 125));
            q.addBindValue(QString());
            q.addBindValue(QStringLiteral("QF"));
            q.addBindValue(QString());
            q.addBindValue(i);
            q.exec();
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqlite3.isEmpty()) {
        std::fprintf(stderr, "sqlite3 command-line tool not found\n");
        return 1;
    }
    QTemporaryDir tmp;
    QDir::setCurrent(tmp.path());
    try {
        const QString pinCreate = QStringLiteral(
            "CREATE TABLE [_PINLIST_ЗЕЛК] ([RECNUM]counter, [manufacturer]varchar(24),"
            "[CATALOG]varchar(60) not null, [ASSEMBLYCODE]varchar(24),[COILPINS]varchar(255),"
            "[PINLIST]longchar,[PEER_COILPINS]longchar,[PEER_PINLIST]longchar)");
        MakeDb(QStringLiteral("ZELK_install.mdb"), {kFamilyCreate, pinCreate});
        FillFamily(QStringLiteral("ZELK_install.mdb"));
        MakeDb(QStringLiteral("catalog.mdb"), {kFamilyCreate, pinCreate});
        QFile::copy(QStringLiteral("catalog.mdb"), QStringLiteral("catalog_cli.mdb"));

        AppState st;
        st.fstr = catalog::JetConnectionString(QStringLiteral("zelk_install.mdb"));
        catalog::CatalogDb db(st);
        db.Reconnect(tmp.filePath(QStringLiteral("catalog.mdb")));
        st.socr = QStringList{kFamily};
        QElapsedTimer t;
        t.start();
        catalog::RowTransfer(db, st);
        const qint64 toolNs = t.nsecsElapsed();

        QProcess p;
        t.restart();
        p.start(sqlite3, {QStringLiteral("catalog_cli.mdb"),
                          QStringLiteral("ATTACH 'ZELK_install.mdb' AS src; insert into "
                                         "main.\"ВА-47\" select * from src.\"ВА-47\";")});
        p.waitForFinished(-1);
        const qint64 cliNs = t.nsecsElapsed();
        if (p.exitCode() != 0) {
            std::fprintf(stderr, "sqlite3 failed: %s\n", p.readAllStandardError().constData());
            return 1;
        }

        auto count = [&](const QString& file) {
            auto c = catalog::DefaultEngine().NewConnection();
            c->SetConnectionString(catalog::JetConnectionString(file));
            return c->OpenQuery(QStringLiteral("select count(*) as n from [ВА-47]"), {}).values[0];
        };
        std::printf("rows copied: tool %s, sqlite3 %s\n",
                    qPrintable(count(QStringLiteral("catalog.mdb"))),
                    qPrintable(count(QStringLiteral("catalog_cli.mdb"))));
        std::printf("tool (CatalogDb/RowTransfer): %.1f ms\n", toolNs / 1e6);
        std::printf("sqlite3 command-line tool:    %.1f ms\n", cliNs / 1e6);
        std::printf("ratio tool/sqlite3: %.2f\n", double(toolNs) / double(cliNs));
    } catch (const AppError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}
