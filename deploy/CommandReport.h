#pragma once

// What Install and Clean tell the user when they end: the closing message (success, or the
// list of what could not be done) with the details of what changed, and the one message of a
// catalog failure.

#include <QList>
#include <QString>
#include <QStringList>

#include "catalog/Transfer.h"
#include "deploy/Menu.h"

class AppError;
struct Context;

namespace catalog {
class CatalogDb;
}

namespace deploy {

inline const QString kInstallStopped = QStringLiteral("Установка остановлена");
inline const QString kCleanStopped = QStringLiteral("Чистка остановлена");

// What a command did in one folder.
struct FolderReport {
    QString folder;
    int copied = 0, skipped = 0, removed = 0, failed = 0;
};

// What a command did, for its closing message.
struct CommandReport {
    bool install = true;
    // Install found everything in place and changed nothing: the rows, files and menus are
    // what it found.
    bool nothingToDo = false;
    QStringList shortfall;  // what it could not do, one line each
    QList<catalog::TableChange> rows;
    QStringList groups, codes;  // the selection and the family code of each group
    QList<FolderReport> folders;
    QList<MenuFileLines> menus;
};

// A few names of a list for a message, with the count of the rest.
QString Names(const QStringList& names);

// The end of a command that did not stop: everything it wrote goes onto the disk, then its
// closing message, with what it changed as the message's details.
void Conclude(Context& ctx, const CommandReport& report);
// The closing message alone, for a command that wrote nothing.
void Tell(Context& ctx, const CommandReport& report);

// The groups of `groups` whose family code (`codes`, one per group) is `table`, in any letter
// case, each once.
QStringList GroupsOf(const QString& table, const QStringList& groups, const QStringList& codes);

// The groups of the selection that a catalog table belongs to, for a message.
QString WhereInCatalog(const QString& table, const QStringList& groups, const QStringList& codes);

// The one message of a catalog failure during a command: which command stopped, where, on
// which catalog file, the engine's own text, the state the catalog is in, and its backup.
QString CatalogFailure(catalog::CatalogDb& db, const QString& stopped, const QString& where,
                       const QString& engineText, const QString& state);

// A failure, followed by what the command could not do before it, so that a later step's
// failure does not hide an earlier shortfall.
[[noreturn]] void FailWith(const QString& message, const QStringList& shortfall);

}  // namespace deploy
