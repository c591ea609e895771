#include "deploy/Clean.h"

#include <QSet>

#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "core/Worker.h"
#include "deploy/CommandReport.h"
#include "deploy/CommandSteps.h"
#include "deploy/CopyBatch.h"
#include "deploy/InstallMark.h"
#include "deploy/Menu.h"

namespace deploy {

namespace {

bool HasMakerName(const QString& name) {
    return name.contains(QLatin1String("zelk")) || name.contains(QLatin1String("ZELK"));
}

// Deletes from `folder` (ends with a backslash) the maker's files: those named with the maker's
// name that the data folder `source` holds too, i.e. the files Install copies there. A file of
// the user's own with "zelk" in its name stays. Without the data folder nothing can be told
// apart, so nothing is deleted. Files left that way and deletions that failed are added to
// `shortfall`.
FolderReport DeleteMakerFiles(const QString& source, const QString& folder,
                              QStringList& shortfall) {
    FolderReport report{folder};
    QStringList candidates;
    for (const fs::Entry& e : fs::RemoveLeftovers(folder))
        if (!e.isFolder && HasMakerName(e.name)) candidates << e.name;
    if (candidates.isEmpty()) return report;

    if (!fs::FolderExists(source)) {
        shortfall << QStringLiteral(
                         "папка \"%1\" не найдена, поэтому нельзя определить, какие "
                         "файлы установлены программой; не удалены файлы в папке "
                         "\"%2\" (%3): %4")
                         .arg(fs::FullPath(source), fs::FullPath(folder))
                         .arg(candidates.size())
                         .arg(Names(candidates));
        report.failed = int(candidates.size());
        return report;
    }
    QSet<QString> shipped;
    for (const fs::Entry& e : fs::List(source))
        if (!e.isFolder) shipped.insert(e.name);
    QStringList failed;
    for (const QString& name : candidates) {
        if (!shipped.contains(name)) continue;
        if (fs::DeleteOwnFile(folder + name))
            ++report.removed;
        else
            failed << name;
    }
    report.failed = int(failed.size());
    if (!failed.isEmpty())
        shortfall << QStringLiteral("не удалены файлы в папке \"%1\" (%2): %3")
                         .arg(fs::FullPath(folder))
                         .arg(failed.size())
                         .arg(Names(failed));
    return report;
}

class CleanRun {
  public:
    CleanRun(Context& ctx, CommandResult& result)
        : ctx_(ctx), st_(ctx.st), db_(ctx.db), result_(result) {}

    void Run() {
        // Until a catalog has been connected the catalog connection names the tool's own
        // install database, which Clean must never delete from, drop in or compact.
        if (!db_.CatalogReady()) {
            ctx_.form.ShowMessage(QStringLiteral(
                "Чистка не выполнена: база изделий AutoCAD Electrical ещё не подключена. "
                "Выберите файл базы кнопкой \"...\" или укажите версию и язык, затем повторите "
                "чистку"));
            result_.end = CommandResult::End::Refused;
            return;
        }
        // "data\..." below lies in the tool's folder, which a file dialog may have left.
        fs::SetCurrentDir(st_.path_mem);
        if (ctx_.form.Edit1Text().isEmpty())
            st_.avocadmenu = st_.path_support + QStringLiteral("ACE_IEC_MENU.DAT");
        report_.install = false;
        report_.groups = ctx_.form.ListBox2Items();
        progress_.emplace(ctx_.form, db_, QStringLiteral("Чистка"));

        FindMakerRows();
        RemoveMakerRows();
        StartDeletingFiles();
        RemoveMenuLines();
        Compact();
        if (!RemoveInstallMark())
            report_.shortfall << QStringLiteral("не удалось удалить отметку об установке");
        Conclude(ctx_, report_);
        result_.end =
            report_.shortfall.isEmpty() ? CommandResult::End::Done : CommandResult::End::Shortfall;
    }

  private:
    // Whether the removal will change the catalog: a Clean that changes nothing in it leaves
    // its backup alone. The pin-list table, or a maker's row in any family table, is enough to
    // know (the rows each deletion removes are told by the engine).
    void FindMakerRows() {
        progress_->Step(QStringLiteral("поиск строк ЗЕЛК в базе изделий"));
        catalog::StepLog log;
        try {
            catalog::FamilyLookup(db_, st_, report_.groups);
            report_.codes = st_.socr;
            progress_->Families(report_.groups, st_.socr);
            catalog::CheckFamilyCodes(st_.socr);
            log.Start(catalog::kPinList);
            changes_ = catalog::HasPinListTable(db_);
            for (const QString& f : st_.socr) {
                if (changes_) break;
                log.Start(f);
                changes_ = catalog::MakerRowCount(db_, f) > 0;
            }
        } catch (const AppError& e) {
            throw AppError(CatalogFailure(
                db_, kCleanStopped, WhereInCatalog(log.current, report_.groups, st_.socr),
                e.message(), QStringLiteral("Изменений не было: база изделий не изменена.")));
        }
    }

    // The maker's rows and the pin-list table in one transaction (the table itself goes once
    // the deletions are committed).
    void RemoveMakerRows() {
        const BackupScope backup(db_, changes_);
        catalog::StepLog log;
        log.starting = [&](const QString& table) { progress_->Table(table); };
        TransactionPlan plan;
        plan.stopped = kCleanStopped;
        plan.groups = report_.groups;
        plan.changes = [&] {
            result_.changed = true;
            catalog::RemoveMakerRows(db_, st_, report_.groups, &log);
            catalog::RemovePinListTable(db_, &log);
        };
        plan.afterRollback = [&] {
            result_.changed = false;
            return QString();
        };
        InOneTransaction(db_, st_, log, plan);
        report_.rows = log.changes;
    }

    // The maker's files are deleted on a second thread while the menus are edited and the
    // catalog compacted: nothing else touches those folders, and a deletion that fails is only
    // reported. Its report is taken before any later failure is raised.
    void StartDeletingFiles() {
        progress_->Step(QStringLiteral("удаление файлов"));
        result_.changed = true;
        const CopyPlaces places{fs::FullPath(fs::CurrentDir()), st_.path_images, st_.path_library,
                                st_.year};
        deleting_.emplace([this, places] {
            deleted_ << DeleteMakerFiles(places.ImagesSource(), places.images, deletedShortfall_);
            deleted_ << DeleteMakerFiles(places.LibrarySource(), places.library, deletedShortfall_);
        });
    }
    // The deletions' report, once they are done.
    void TakeDeletions() {
        deleting_->Get();
        report_.folders = deleted_;
        report_.shortfall += deletedShortfall_;
    }

    void RemoveMenuLines() {
        progress_->Step(QStringLiteral("меню"));
        try {
            report_.menus = RemoveMakerMenu(st_);
        } catch (const AppError& e) {
            TakeDeletions();
            FailWith(e.message(), report_.shortfall);
        }
    }

    // The compaction runs aside: the engine tells nothing of how far it is.
    void Compact() {
        try {
            catalog::CompactCatalog(db_, [&](const std::function<void()>& work) {
                progress_->Aside(QStringLiteral("сжатие базы изделий"), work);
            });
        } catch (const AppError& e) {
            TakeDeletions();
            FailWith(CatalogFailure(db_, kCleanStopped, QStringLiteral("сжатие базы изделий"),
                                    e.message(),
                                    changes_ ? QStringLiteral("Строки ЗЕЛК из базы изделий "
                                                              "удалены, но база не сжата; копий "
                                                              "и временных файлов сжатия не "
                                                              "осталось.")
                                             : QStringLiteral("База изделий не изменена и не "
                                                              "сжата; копий и временных файлов "
                                                              "сжатия не осталось.")),
                     report_.shortfall);
        }
        TakeDeletions();
    }

    Context& ctx_;
    AppState& st_;
    catalog::CatalogDb& db_;
    CommandResult& result_;
    CommandReport report_;
    bool changes_ = false;
    std::optional<Progress> progress_;
    // Written by the deleting thread only, read once it has been joined.
    QList<FolderReport> deleted_;
    QStringList deletedShortfall_;
    std::optional<Worker<>> deleting_;  // last: joined before the lists above go
};

}  // namespace

void Clean(Context& ctx, CommandResult* result) {
    RunCommand(result, [&](CommandResult& r) { CleanRun(ctx, r).Run(); });
}

}  // namespace deploy
