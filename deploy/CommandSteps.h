#pragma once

// What Install and Clean share on their way: the progress they show, the catalog backup armed
// for one command, the install database they need, and the one catalog transaction of a
// command with its one message when it fails.

#include <QString>
#include <QStringList>
#include <functional>

#include "catalog/Transfer.h"

class IForm;
struct AppState;

namespace catalog {
class CatalogDb;
}

namespace deploy {

// Tells the window where a command is: its preparation, each family of the selection, the pin
// lists, the files, the menu and its last step; the backup copy as it goes.
class Progress {
  public:
    Progress(IForm& form, catalog::CatalogDb& db, QString command);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The families of the selection, once known: each is a step.
    void Families(const QStringList& groups, const QStringList& codes);
    void Step(const QString& what);
    // A catalog table the command's transaction is about to change.
    void Table(const QString& table);
    // Runs a step that cannot tell how far it is on a second thread, the window showing it.
    void Aside(const QString& what, const std::function<void()>& work);

  private:
    IForm& form_;
    catalog::CatalogDb& db_;
    QString command_;
    QStringList groups_, codes_, families_;
    int step_ = 0, steps_ = 5;
};

// A command arms the catalog backup for its own run only.
class BackupScope {
  public:
    explicit BackupScope(catalog::CatalogDb& db, bool armed = true);
    ~BackupScope();
    BackupScope(const BackupScope&) = delete;
    BackupScope& operator=(const BackupScope&) = delete;

  private:
    catalog::CatalogDb& db_;
};

struct CommandResult;

// Runs one command into `result` (or into a result of its own). A command that stopped after
// it changed something removes the install mark: the installation is not known to be whole.
void RunCommand(CommandResult* result, const std::function<void(CommandResult&)>& run);

// The install database is named relative to the current directory; its absence is told by
// name before the engine meets it.
void RequireInstallDatabase();

// A command's row changes as one catalog transaction.
struct TransactionPlan {
    QString stopped;                // the first words of the failure message
    QStringList groups;             // the selection, which the message names
    std::function<void()> changes;  // the row changes
    // Work that goes along with the commit: it runs once the changes are made, just before
    // the commit, and `undo` takes it back when the commit then fails (giving what it could
    // not take back, for the message).
    std::function<void()> alongside;
    std::function<QString()> undo;
    // Runs once the changes are rolled back: takes back what the command changed outside the
    // transaction (the tables it created) and gives what is left of it ("" for nothing).
    std::function<QString()> afterRollback;
};

// Runs the plan; a failure anywhere in it is rolled back and raised as one message naming the
// command, the group, the catalog and the state the catalog is left in. `log` follows the
// tables the changes touch.
void InOneTransaction(catalog::CatalogDb& db, const AppState& st, catalog::StepLog& log,
                      const TransactionPlan& plan);

}  // namespace deploy
