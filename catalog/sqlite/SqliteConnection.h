#pragma once

// The connections of the SQLite stand-in, and the pieces of SQLite the engine shares with
// them. Each connection is used by one thread at a time; what connections of the process
// share (which files they hold open) is guarded by a lock.

#include <QString>
#include <QVariantList>
#include <memory>

#include "catalog/Engine.h"

struct sqlite3;

namespace catalog::sqlite {

// A new, closed connection; `jet`: the Jet-shaped profile (SqliteEngine.h).
std::unique_ptr<DbConnection> NewConnection(bool jet);

// The absolute path of the file the connection string names (its Data Source).
QString DatabaseFileOf(const QString& connStr);
[[noreturn]] void FailOnFile(const QString& engineMessage, const QString& abs);
// Opens the database file ("rw" or "ro"), never creating it; an empty file is taken only when
// `empty` (SQLite would take it for an empty database and write into it). Raises the engine's
// message naming the file.
sqlite3* OpenFile(const QString& abs, const char* mode, bool empty = false);
// Runs one statement (its first step, as a query's execution does); the rows it changed.
qint64 Exec(sqlite3* db, const QString& sql, const QVariantList& binds = {});
// Whether a connection of this process has the file open.
bool HeldOpen(const QString& abs);

}  // namespace catalog::sqlite
