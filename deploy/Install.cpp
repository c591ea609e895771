#include "deploy/Install.h"

#include <memory>
#include <optional>

#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "deploy/CommandReport.h"
#include "deploy/CommandSteps.h"
#include "deploy/CopyBatch.h"
#include "deploy/InPlace.h"
#include "deploy/InstallMark.h"
#include "deploy/Menu.h"
#include "state/Releases.h"
#include "state/Selection.h"

namespace deploy {

namespace {

class InstallRun {
  public:
    InstallRun(Context& ctx, CommandResult& result)
        : ctx_(ctx), st_(ctx.st), db_(ctx.db), result_(result), backup_(ctx.db) {}

    void Run() {
        RefreshRelease();
        ProbeDefaultCatalog();
        ConnectCatalog();
        SetPlaces();
        fs::SetCurrentDir(st_.path_mem);  // "data\..." and the install database lie there
        // With the fields filled in, what is in place already is looked at before anything
        // changes, and the files are made ready while the catalog changes.
        const bool filled = FieldsFilled();
        if (filled) {
            report_.groups = ctx_.form.ListBox2Items();
            places_ = {fs::FullPath(fs::CurrentDir()), st_.path_images, st_.path_library, st_.year};
            menuAt_ = st_.avocadmenu;  // (the menu edit moves it on to the follow-up file)
            if (NothingToDo()) return;
            StageFiles();
        }
        CreateTables();
        if (!filled) {
            Refuse();
            return;
        }
        ChangeCatalog();
        PlaceFiles();
        ReplaceMenus();
        FinishCopies();
        progress_->Step(QStringLiteral("запись на диск"));
        RecordMark();
        Conclude(ctx_, report_);
        result_.end =
            report_.shortfall.isEmpty() ? CommandResult::End::Done : CommandResult::End::Shortfall;
    }

  private:
    // The release folder: the last one the version's roaming folder lists.
    void RefreshRelease() {
        if (const QString latest = state::LatestRelease(st_.userprofile, st_.year);
            !latest.isEmpty())
            st_.ver = latest;
    }

    // The default catalog, when none is shown (the Russian one; the second probe wins).
    void ProbeDefaultCatalog() {
        if (!ctx_.form.Edit2Text().isEmpty()) return;
        for (const bool myDocuments : {false, true}) {
            const QString probe = state::DefaultCatalog(st_.userprofile, st_.year,
                                                        QStringLiteral("rus"), myDocuments);
            if (!fs::FileExists(probe)) continue;
            state::SetEdit2(ctx_, probe);
            st_.SetLastCatalog(ctx_.form.Edit2Text());
        }
    }

    // The catalog the settings file names, and the install database.
    void ConnectCatalog() {
        db_.Reconnect(st_.LastCatalog());
        state::SetEdit2(ctx_, st_.LastCatalog());
        if (!db_.ADOConnection1().Connected()) RequireInstallDatabase();
        db_.Activate({&db_.ADOQuery1(), &db_.ADOQuery3()});
    }

    // The support, image and library folders and the menu file of the version, language and
    // release; a project template keeps the library and the menu file it named.
    void SetPlaces() {
        st_.path_support = state::SupportFolder(st_.userprofile, st_.year, st_.ver, st_.language);
        st_.path_images = state::ImagesFolder(st_.userprofile, st_.year, st_.ver, st_.language);
        if (!ctx_.form.Edit1Text().isEmpty()) return;
        // A version that is no release keeps the library folder it had.
        if (state::IsReleaseYear(st_.year))
            st_.path_library = state::LibraryFolder(st_.publicprofile, st_.year);
        st_.avocadmenu = st_.path_support + QStringLiteral("ACE_IEC_MENU.DAT");
    }

    // The pin-list table and "PNEU-GAU" where missing, each on its own (Jet does not take a
    // creation back). A failure takes back what was created before it.
    void CreateTables() {
        try {
            catalog::CreateCatalogTables(db_, &created_);
            result_.changed = result_.changed || !created_.isEmpty();
        } catch (const catalog::BackupFailure&) {
            throw;  // (made before anything was created)
        } catch (const AppError& e) {
            const QString left = TablesLeft();
            throw AppError(CatalogFailure(
                db_, kInstallStopped,
                QStringLiteral("создание таблиц %1 и PNEU-GAU").arg(catalog::kPinList), e.message(),
                left.isEmpty() ? QStringLiteral("Создание отменено: база изделий не изменена.")
                               : QStringLiteral("Строки базы изделий не изменены; %1.").arg(left)));
        }
    }

    // Drops the tables this run created; what is left of them, for a message ("" for none).
    QString TablesLeft() {
        const QStringList left = catalog::DropTables(db_, std::exchange(created_, {}));
        if (left.isEmpty()) return {};
        return QStringLiteral("созданы таблицы %1, удалить их не удалось")
            .arg(left.join(QStringLiteral(", ")));
    }

    bool FieldsFilled() const {
        const IForm& form = ctx_.form;
        return !form.ComboBox1Text().isEmpty() && !form.ComboBox2Text().isEmpty() &&
               !form.ListBox2Items().isEmpty();
    }

    // The version and language, or the groups, are missing: the command ends with the message
    // that says which.
    void Refuse() {
        const IForm& form = ctx_.form;
        ctx_.form.ShowMessage(form.ComboBox1Text().isEmpty() || form.ComboBox2Text().isEmpty()
                                  ? QStringLiteral("Укажите версию программы и используемый язык")
                                  : QStringLiteral("Выберите группы компонентов для переноса"));
        result_.end = CommandResult::End::Refused;
    }

    // Everything in place already: nothing is written but the mark, when it no longer tells
    // what is installed (or when the catalog file has changed since it was written).
    bool NothingToDo() {
        const std::optional<InstallMark> mark = ReadInstallMark();
        CommandReport found = report_;
        found.nothingToDo = true;
        QString state;
        if (!NothingToInstall(ctx_, report_.groups, places_, mark, found, state)) return false;
        const QString catalogFile = db_.CatalogFile();
        if (!MarkCovers(mark, catalogFile, state, found.codes)) {
            // (the families of a mark whose files are all as it says are there still)
            QStringList codes = found.codes;
            if (mark && mark->catalog == catalogFile && mark->state == state) codes += mark->groups;
            const InstallMark now = MarkNow(codes, state);
            if (mark != now && !WriteInstallMark(now)) found.shortfall << MarkNotWritten();
        }
        result_.end = found.shortfall.isEmpty() ? CommandResult::End::NothingToDo
                                                : CommandResult::End::Shortfall;
        Tell(ctx_, found);
        return true;
    }

    // What the mark records now: this catalog as it is, with the families of `codes`, and the
    // state of its files (InstalledState) when it is known already.
    InstallMark MarkNow(const QStringList& codes, const QString& state = {}) const {
        InstallMark m;
        m.packageDate = PackageDate(st_.exeDir);
        m.release = st_.year;
        m.language = st_.language;
        m.catalog = db_.CatalogFile();
        for (const QString& c : codes)
            if (!m.groups.contains(c)) m.groups << c;
        m.state = state.isEmpty() ? InstalledState(st_, places_, m.catalog, menuAt_) : state;
        return m;
    }
    static QString MarkNotWritten() {
        return QStringLiteral(
            "не удалось записать отметку об установке (по ней средства "
            "развёртывания узнают, что компоненты установлены)");
    }

    // An Install that did everything records it; one that could not leaves no mark that would
    // say the installation is whole.
    void RecordMark() {
        if (!report_.shortfall.isEmpty()) {
            RemoveInstallMark();
            return;
        }
        InstallMark mark = MarkNow(report_.codes);
        // A file of the user's own that has a maker's file's name stays as it is: such a mark
        // keeps no state, so the next Install looks at everything again. (Only a file that was
        // there already can be one: the copies of this run are the maker's.)
        bool skipped = false;
        for (const FolderReport& f : report_.folders) skipped = skipped || f.skipped > 0;
        if (skipped && !DataFilesInPlace(places_)) mark.state.clear();
        if (!WriteInstallMark(mark)) report_.shortfall << MarkNotWritten();
    }

    // The new menu files beside theirs, and the copies of the maker's files under temporary
    // names when their image folder is there already: both made while the catalog changes, and
    // put on the disk at one sync point before the catalog's commit.
    void StageFiles() {
        progress_.emplace(ctx_.form, db_, QStringLiteral("Установка"));
        menus_ = std::make_unique<StagedMenu>(st_.avocadmenu, st_.path_support, places_.tool,
                                              st_.userDir);
        report_.menus = menus_->Lines();
        if (fs::FolderExists(st_.path_images)) copies_.emplace(places_, &menus_->Files());
    }

    // The maker's rows of the chosen groups and the pin lists, in one transaction; the copies
    // take their names while it is committed.
    void ChangeCatalog() {
        catalog::FamilyLookup(db_, st_, report_.groups);
        report_.codes = st_.socr;
        progress_->Families(report_.groups, st_.socr);
        progress_->Step(QStringLiteral("проверка данных ЗЕЛК"));
        catalog::SourceCheck(db_, st_);
        RequireInstallDatabase();

        catalog::StepLog log;
        log.starting = [&](const QString& table) { progress_->Table(table); };
        TransactionPlan plan;
        plan.stopped = kInstallStopped;
        plan.groups = report_.groups;
        plan.changes = [&] {
            result_.changed = true;
            catalog::RowTransfer(db_, st_, &log);
        };
        if (copies_) {
            plan.alongside = [&] { copies_->PlaceAside(); };
            plan.undo = [&] {
                const QString left = copies_->TakeBack();
                result_.changed = result_.changed || !left.isEmpty();
                return left;
            };
        }
        plan.afterRollback = [&] {
            const QString left = TablesLeft();
            result_.changed = !left.isEmpty();
            return left;
        };
        InOneTransaction(db_, st_, log, plan);
        report_.rows = log.changes;
    }

    // The image folders of both languages; the copies that could not be made before (their
    // folder was missing) are made now.
    void PlaceFiles() {
        progress_->Step(QStringLiteral("копирование файлов"));
        for (const char* language : {"enu", "rus"}) {
            QString folder =
                state::ImagesFolder(st_.userprofile, st_.year, st_.ver, QLatin1String(language));
            folder.chop(1);
            if (!fs::FolderExists(folder)) fs::CreateFolder(folder);
        }
        if (copies_) return;
        copies_.emplace(places_, &menus_->Files());
        try {
            copies_->PlaceAside();
        } catch (const AppError& e) {
            FailWith(e.message(), copies_->Shortfall());
        }
    }

    // The copies have their names (the menu files may replace theirs meanwhile).
    void FinishCopies() {
        copies_->Finish();
        report_.folders = copies_->Folders();
        report_.shortfall += copies_->Shortfall();
    }

    void ReplaceMenus() {
        progress_->Step(QStringLiteral("меню"));
        try {
            menus_->Replace();
        } catch (const AppError& e) {
            FinishCopies();
            fs::SyncFolders({st_.path_images, st_.path_library});  // the copies placed
            FailWith(e.message(), report_.shortfall);
        }
        report_.menus = menus_->Lines();
    }

    Context& ctx_;
    AppState& st_;
    catalog::CatalogDb& db_;
    CommandResult& result_;
    const BackupScope backup_;
    QStringList created_;  // tables this run created
    CopyPlaces places_;
    QString menuAt_;
    CommandReport report_;
    std::optional<Progress> progress_;
    std::unique_ptr<StagedMenu> menus_;
    std::optional<CopyBatch> copies_;  // last: its thread is joined before the rest goes
};

}  // namespace

void Install(Context& ctx, CommandResult* result) {
    RunCommand(result, [&](CommandResult& r) { InstallRun(ctx, r).Run(); });
}

}  // namespace deploy
