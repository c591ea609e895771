#include "deploy/CommandSteps.h"

#include <optional>

#include "catalog/CatalogDb.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/FileSystem.h"
#include "core/Form.h"
#include "deploy/CommandReport.h"
#include "deploy/CommandResult.h"
#include "deploy/InstallMark.h"

namespace deploy {

// ---- Progress

Progress::Progress(IForm& form, catalog::CatalogDb& db, QString command)
    : form_(form), db_(db), command_(std::move(command)) {
    db_.SetBackupProgress([this](qint64 done, qint64 total) {
        form_.ShowProgress(QStringLiteral("%1: резервная копия базы изделий, %2%")
                               .arg(command_)
                               .arg(total > 0 ? int(done * 100 / total) : 100),
                           step_, steps_);
    });
}

Progress::~Progress() { db_.SetBackupProgress({}); }

void Progress::Families(const QStringList& groups, const QStringList& codes) {
    groups_ = groups;
    codes_ = codes;
    families_.clear();
    for (const QString& c : codes)
        if (!families_.contains(c)) families_ << c;
    steps_ = int(families_.size()) + 5;
}

void Progress::Step(const QString& what) {
    form_.ShowProgress(command_ + QStringLiteral(": ") + what, ++step_, steps_);
}

void Progress::Table(const QString& table) {
    const qsizetype i = families_.indexOf(table);
    if (i < 0) {
        Step(QStringLiteral("списки выводов"));
        return;
    }
    Step(QStringLiteral("группа %1 из %2 («%3»)")
             .arg(i + 1)
             .arg(families_.size())
             .arg(GroupsOf(table, groups_, codes_).value(0, table)));
}

void Progress::Aside(const QString& what, const std::function<void()>& work) {
    ++step_;
    form_.RunAside(command_ + QStringLiteral(": ") + what, work);
}

// ---- BackupScope

BackupScope::BackupScope(catalog::CatalogDb& db, bool armed) : db_(db) {
    if (armed) db_.ArmBackup();
}

BackupScope::~BackupScope() { db_.DisarmBackup(); }

// ---- the install database

void RequireInstallDatabase() {
    const QString file = catalog::kInstallDb;
    if (!fs::FileExists(file))
        throw AppError(QStringLiteral("Не найден файл \"%1\" (база компонентов ЗЕЛК), из которого "
                                      "переносятся компоненты")
                           .arg(fs::FullPath(file)));
}

// ---- the command's transaction

namespace {

// Where a failure of the commit itself happened: in every group the command changed.
QString CommitStep(const catalog::StepLog& log, const QStringList& groups,
                   const QStringList& socr) {
    QStringList names, codes;
    for (const catalog::TableChange& c : log.changes) {
        if (c.table == catalog::kPinList) continue;
        codes << c.table;
        names << GroupsOf(c.table, groups, socr);
    }
    return QStringLiteral("запись изменений групп «%1» (семейства %2) в файл базы")
        .arg(names.join(QStringLiteral("», «")), codes.join(QStringLiteral(", ")));
}

}  // namespace

void InOneTransaction(catalog::CatalogDb& db, const AppState& st, catalog::StepLog& log,
                      const TransactionPlan& plan) {
    std::optional<catalog::CatalogTransaction> tx;
    bool along = false, alongFailed = false;
    try {
        tx.emplace(db);
        plan.changes();
        if (plan.alongside) {
            along = alongFailed = true;
            plan.alongside();
            alongFailed = false;
        }
        tx->Commit();
    } catch (const catalog::BackupFailure&) {
        // Taken as the transaction begins, before anything changed: its message says so.
        throw;
    } catch (const AppError& e) {
        QString state;
        if (tx && tx->Committed()) {
            state = QStringLiteral("Изменения строк сохранены, следующий шаг не выполнен.");
        } else if (!tx || tx->Rollback()) {  // (a transaction that did not begin changed nothing)
            const QString left = plan.afterRollback ? plan.afterRollback() : QString();
            state = left.isEmpty() ? QStringLiteral(
                                         "Все изменения этой команды отменены: база изделий не "
                                         "изменена.")
                                   : QStringLiteral(
                                         "Изменения строк отменены, строки не "
                                         "изменены; %1.")
                                         .arg(left);
        } else {
            state = QStringLiteral(
                "Изменения отменить не удалось: база изделий могла измениться частично; "
                "восстановите её из резервной копии.");
        }
        const QString where = log.current.isEmpty() && !log.changes.isEmpty()
                                  ? CommitStep(log, plan.groups, st.socr)
                                  : WhereInCatalog(log.current, plan.groups, st.socr);
        if (along && plan.undo && !tx->Committed()) {  // (`along`: the transaction began)
            const QString left = plan.undo();
            if (!left.isEmpty()) state += QLatin1Char(' ') + left;
        }
        // The work that goes along with the commit failed (the files could not be put on the
        // disk): no failure of the catalog, which was left as the state says.
        if (alongFailed)
            throw AppError(plan.stopped + QStringLiteral(": ") + e.message() + QLatin1Char('\n') +
                           state);
        throw AppError(CatalogFailure(db, plan.stopped, where, e.message(), state));
    }
}

void RunCommand(CommandResult* result, const std::function<void(CommandResult&)>& run) {
    CommandResult own;
    CommandResult& r = result ? *result : own;
    r = {};
    try {
        run(r);
    } catch (...) {
        if (r.changed) RemoveInstallMark();
        throw;
    }
}

}  // namespace deploy
