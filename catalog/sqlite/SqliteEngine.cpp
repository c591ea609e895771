#include "catalog/sqlite/SqliteEngine.h"

#include "core/AppError.h"

#ifndef ZELK_NO_SQLITE

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>

#include "catalog/sqlite/JetStatements.h"
#include "catalog/sqlite/SqliteConnection.h"
#include "core/FileSystem.h"

namespace catalog {

SqliteEngine::SqliteEngine(Profile profile) : profile_(profile) {}

std::unique_ptr<DbConnection> SqliteEngine::NewConnection() {
    return sqlite::NewConnection(profile_ == Profile::Jet);
}

void SqliteEngine::CompactDatabase(const QString& srcConnStr, const QString& destConnStr) {
    const QString src = sqlite::DatabaseFileOf(srcConnStr);
    const QString dest = sqlite::DatabaseFileOf(destConnStr);
    if (QFileInfo::exists(dest))
        sqlite::FailOnFile(QStringLiteral("output file already exists"), dest);
    if (sqlite::HeldOpen(src)) sqlite::FailOnFile(QStringLiteral("database is locked"), src);
    sqlite3* db = sqlite::OpenFile(src, "rw");
    try {
        sqlite::Exec(db, QStringLiteral("VACUUM INTO ?"), {QVariant(dest)});
    } catch (...) {
        sqlite3_close_v2(db);
        // An incomplete copy, and the journal SQLite may leave beside it.
        for (const char* debris : {"", "-journal", "-wal", "-shm"})
            fs::DeleteFile(dest + QLatin1String(debris));
        throw;
    }
    sqlite3_close_v2(db);
}

void SqliteEngine::CreateDatabase(const QString& file) {
    const QString abs = sqlite::AbsoluteFile(file);
    // Made new or not at all: an existing file is never opened for writing here.
    QFile f(abs);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        sqlite::FailOnFile(QFileInfo::exists(abs) ? QStringLiteral("file already exists")
                                                  : QStringLiteral("unable to open database file"),
                           abs);
    f.close();
    try {
        sqlite3* db = sqlite::OpenFile(abs, "rw", true);
        // SQLite writes its header with the first change; this one leaves nothing behind.
        try {
            sqlite::Exec(db, QStringLiteral("CREATE TABLE zelk_new (x)"));
            sqlite::Exec(db, QStringLiteral("DROP TABLE zelk_new"));
        } catch (const AppError& e) {
            sqlite3_close_v2(db);
            sqlite::FailOnFile(e.message(), abs);
        }
        sqlite3_close_v2(db);
    } catch (...) {
        fs::DeleteFile(abs);
        throw;
    }
}

QString SqliteEngine::Unavailable() { return QString(); }

}  // namespace catalog

#else  // a build without SQLite (the 32-bit Windows release, whose engine is ADO)

namespace catalog {
namespace {
[[noreturn]] void Absent() { throw AppError(SqliteEngine::Unavailable()); }
}  // namespace
SqliteEngine::SqliteEngine(Profile profile) : profile_(profile) {}
std::unique_ptr<DbConnection> SqliteEngine::NewConnection() { Absent(); }
void SqliteEngine::CompactDatabase(const QString&, const QString&) { Absent(); }
void SqliteEngine::CreateDatabase(const QString&) { Absent(); }
QString SqliteEngine::Unavailable() { return QStringLiteral("SQLite is not part of this build"); }
}  // namespace catalog

#endif
