// The Install ("Установить") and Clean ("Почистить") commands.

#include "deploy/Commands.h"

#include <QFileInfo>
#include <QSet>
#include <functional>
#include <future>
#include <optional>

#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "core/IniFile.h"
#include "core/TextFile.h"
#include "deploy/Menu.h"
#include "state/Releases.h"
#include "state/Selection.h"

namespace deploy {

namespace {

const QString kInstallStopped = QStringLiteral("Установка остановлена");
const QString kCleanStopped = QStringLiteral("Чистка остановлена");
const QString kImagesSource = QStringLiteral("data\\IMAGES");
const QString kLibrarySource = QStringLiteral("data\\ZELK");

QString CatalogPathSetting(AppState& st) {
    return st.Settings().ReadString(QStringLiteral("BASE"), QStringLiteral("PATH"), QString());
}

// The roaming folder of the chosen AutoCAD Electrical version.
QString RoamingFolder(const AppState& st) {
    return st.userprofile + QStringLiteral("\\AppData\\Roaming\\Autodesk\\AutoCAD Electrical ") +
           st.year;
}

// A few names of a list for a message, with the count of the rest.
QString Names(const QStringList& names) {
    constexpr qsizetype kShown = 5;
    QString out = names.mid(0, kShown).join(QStringLiteral(", "));
    if (names.size() > kShown) out += QStringLiteral(" и ещё %1").arg(names.size() - kShown);
    return out;
}

// The closing message of a command: its success text when it did everything, otherwise a
// list of what it could not do.
QString Outcome(const QString& success, const QString& incomplete, const QStringList& shortfall) {
    if (shortfall.isEmpty()) return success;
    return incomplete + QStringLiteral(":\n- ") + shortfall.join(QStringLiteral("\n- "));
}

// What a command did in one folder, for the details of its closing message.
struct FolderReport {
    QString folder;
    int copied = 0, skipped = 0, removed = 0, failed = 0;
};

// Copies the files (not the folders) of the data folder `from` into `to` (which ends with a
// backslash) through `batch`, which puts them in place at the command's one sync point; an
// existing file is never replaced. A missing data folder and every copy that failed are added
// to `shortfall`. Temporary files that a killed run left in `to` go first.
FolderReport CopyFiles(const QString& from, const QString& to, fs::FileBatch& batch,
                       QStringList& shortfall) {
    FolderReport report{to};
    if (!fs::FolderExists(from)) {
        shortfall << QStringLiteral("папка \"%1\" не найдена, файлы из неё не скопированы")
                         .arg(fs::FullPath(from));
        return report;
    }
    // The names the target folder holds, listed once: a name it lacks in every letter case is
    // free, one it has is looked at as it stands.
    QSet<QString> present;
    for (const fs::Entry& e : fs::RemoveLeftovers(to)) present.insert(e.name.toCaseFolded());
    QStringList failed;
    for (const fs::Entry& e : fs::List(from)) {
        if (e.isFolder) continue;
        const QString dst = to + e.name;
        if (!to.isEmpty() && present.contains(e.name.toCaseFolded()) &&
            (fs::FileExists(dst) || fs::FolderExists(dst))) {
            ++report.skipped;
            continue;
        }
        if (to.isEmpty() || !batch.Copy(from + QLatin1Char('\\') + e.name, dst))
            failed << e.name;
        else
            ++report.copied;
    }
    report.failed = int(failed.size());
    if (failed.isEmpty()) return report;
    shortfall << QStringLiteral("не скопированы из папки \"%1\" в папку \"%2\" файлы (%3): %4")
                     .arg(fs::FullPath(from), to.isEmpty() ? QString() : fs::FullPath(to))
                     .arg(failed.size())
                     .arg(Names(failed));
    return report;
}

// Install with no library folder for the version (one that is no release year from 2016 on,
// with no project template naming a library): the maker's symbol files have nowhere to go,
// which the closing message says, naming the version.
void ReportUnknownLibrary(const QString& from, const QString& year, QStringList& shortfall) {
    const QStringList files = fs::ListFiles(from);
    if (files.isEmpty()) {
        fs::FileBatch none;
        CopyFiles(from, QString(), none, shortfall);  // a missing data folder is reported as such
        return;
    }
    const QString why = year.isEmpty()
                            ? QStringLiteral(
                                  "версия AutoCAD Electrical не выбрана, поэтому не известна папка "
                                  "библиотеки символов")
                            : QStringLiteral(
                                  "не известна папка библиотеки символов AutoCAD Electrical версии "
                                  "\"%1\" (известны папки версий 2016 и новее)")
                                  .arg(year);
    shortfall << QStringLiteral("%1; не скопированы файлы из папки \"%2\" (%3): %4")
                     .arg(why, fs::FullPath(from))
                     .arg(files.size())
                     .arg(Names(files));
}

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
        if (fs::DeleteFile(folder + name))
            ++report.removed;
        else
            failed << name;
    }
    report.failed = int(failed.size());
    if (failed.isEmpty()) return report;
    shortfall << QStringLiteral("не удалены файлы в папке \"%1\" (%2): %3")
                     .arg(fs::FullPath(folder))
                     .arg(failed.size())
                     .arg(Names(failed));
    return report;
}

// The details of a closing message: what the command changed in the catalog, in the folders
// and in the menu files.
QString Details(bool install, const QString& catalogFile, const QList<catalog::TableChange>& rows,
                const QStringList& groups, const QStringList& codes,
                const QList<FolderReport>& folders, const QList<MenuFileLines>& menus) {
    QStringList out;
    out << QStringLiteral("База изделий \"%1\":").arg(catalogFile);
    if (rows.isEmpty()) out << QStringLiteral("- строки не изменялись");
    for (const catalog::TableChange& c : rows) {
        QString where = c.table == catalog::kPinList
                            ? QStringLiteral("списки выводов %1").arg(c.table)
                            : QStringLiteral("семейство %1").arg(c.table);
        QStringList names;
        for (qsizetype i = 0; i < codes.size() && i < groups.size(); ++i)
            if (codes[i] == c.table && !names.contains(groups[i])) names << groups[i];
        if (!names.isEmpty())
            where += QStringLiteral(" («%1»)").arg(names.join(QStringLiteral("», «")));
        QString what = QStringLiteral("удалено строк ЗЕЛК: %1").arg(c.removed);
        if (install) what += QStringLiteral(", добавлено строк: %1").arg(c.added);
        if (c.dropped) what += QStringLiteral(", таблица удалена");
        out << QStringLiteral("- %1: %2").arg(where, what);
    }
    out << QStringLiteral("Файлы:");
    for (const FolderReport& f : folders) {
        QString folder = fs::FullPath(f.folder);
        while (folder.size() > 3 && (folder.endsWith(u'/') || folder.endsWith(u'\\')))
            folder.chop(1);
        const QString where = f.folder.isEmpty() ? QStringLiteral("(папка не задана)")
                                                 : QStringLiteral("\"%1\"").arg(folder);
        out << (install ? QStringLiteral("- %1: скопировано %2, пропущено (уже были) %3, не "
                                         "скопировано %4")
                              .arg(where)
                              .arg(f.copied)
                              .arg(f.skipped)
                              .arg(f.failed)
                        : QStringLiteral("- %1: удалено %2, не удалено %3")
                              .arg(where)
                              .arg(f.removed)
                              .arg(f.failed));
    }
    out << QStringLiteral("Меню:");
    for (const MenuFileLines& m : menus)
        out << QStringLiteral("- \"%1\": %2 строк: %3")
                   .arg(fs::FullPath(m.file),
                        install ? QStringLiteral("добавлено") : QStringLiteral("удалено"))
                   .arg(install ? m.after - m.before : m.before - m.after);
    return out.join(u'\n');
}

// Before a command reports success, everything it wrote is on the disk.
void SyncWritten(const AppState& st, const QString& catalogFile) {
    fs::SyncFolders({QFileInfo(fs::Native(catalogFile)).absolutePath(), st.path_support,
                     st.path_images, st.path_library, QStringLiteral("data"), st.exeDir});
}

// The install database is named relative to the current directory; its absence is told by
// name before the engine meets it.
void RequireInstallDatabase() {
    const QString file = QStringLiteral("ZELK_install.mdb");
    if (!fs::FileExists(file))
        throw AppError(QStringLiteral("Не найден файл \"%1\" (база компонентов ЗЕЛК), из которого "
                                      "переносятся компоненты")
                           .arg(fs::FullPath(file)));
}

// Appends to a failure the shortfall that the command met before it, so that a later step's
// failure does not hide what an earlier one could not do.
[[noreturn]] void FailWith(const QString& message, const QStringList& shortfall) {
    if (shortfall.isEmpty()) throw AppError(message);
    throw AppError(message + QStringLiteral("\n\nДо этой ошибки команда не смогла:\n- ") +
                   shortfall.join(QStringLiteral("\n- ")));
}

// The end of Install (`install`) or Clean: everything the command wrote goes onto the disk,
// then its closing message, with what it changed as the message's details.
void Conclude(Context& ctx, bool install, const QStringList& shortfall,
              const QList<catalog::TableChange>& rows, const QStringList& groups,
              const QList<FolderReport>& folders, const QList<MenuFileLines>& menus) {
    const QString catalogFile =
        fs::FullPath(catalog::CatalogFileOf(ctx.db.ADOConnection2().ConnectionString()));
    SyncWritten(ctx.st, catalogFile);
    const QString text =
        install ? Outcome(QStringLiteral("Установка произведена успешно"),
                          QStringLiteral("Установка выполнена не полностью"), shortfall)
                : Outcome(QStringLiteral("Чистка завершена успешно!"),
                          QStringLiteral("Чистка выполнена не полностью"), shortfall);
    ctx.form.ShowMessageWithDetails(
        text, Details(install, catalogFile, rows, groups, ctx.st.socr, folders, menus));
}

// The groups of the selection that a catalog table belongs to, for a message.
QString WhereInCatalog(const QString& table, const QStringList& groups, const QStringList& codes) {
    if (table.isEmpty() || table.contains(u' ')) return table;  // empty, or a step's own name
    if (table.compare(catalog::kPinList, Qt::CaseInsensitive) == 0)
        return QStringLiteral("списки выводов (таблица %1)").arg(catalog::kPinList);
    QStringList names;
    for (qsizetype i = 0; i < codes.size() && i < groups.size(); ++i)
        if (codes[i].compare(table, Qt::CaseInsensitive) == 0 &&
            !names.contains(QStringLiteral("«%1»").arg(groups[i])))
            names << QStringLiteral("«%1»").arg(groups[i]);
    if (names.isEmpty()) return QStringLiteral("семейство %1").arg(table);
    return QStringLiteral("%1 %2 (семейство %3)")
        .arg(names.size() == 1 ? QStringLiteral("группа") : QStringLiteral("группы"),
             names.join(QStringLiteral(", ")), table);
}

// The one message of a catalog failure during a command: which command stopped, where, on
// which catalog file, the engine's own text, the state the catalog is in, and its backup.
QString CatalogFailure(catalog::CatalogDb& db, const QString& stopped, const QString& where,
                       const QString& engineText, const QString& state) {
    QString file;
    try {
        file = fs::FullPath(catalog::CatalogFileOf(db.ADOConnection2().ConnectionString()));
    } catch (const AppError&) {
    }
    QString text = stopped;
    if (!where.isEmpty()) text += QStringLiteral(" на шаге: ") + where;
    text += QStringLiteral(".\nБаза изделий: \"%1\".\nОшибка базы данных: %2\n%3")
                .arg(file, engineText.trimmed(), state);
    if (!file.isEmpty()) {
        const QString backup = db.BackupFile();
        if (fs::FileExists(backup))
            text += db.BackedUpThisRun()
                        ? QStringLiteral(
                              "\nРезервная копия базы изделий (какой она была до "
                              "первого изменения в этом сеансе): \"%1\".")
                              .arg(backup)
                        : QStringLiteral("\nРезервная копия базы изделий: \"%1\".").arg(backup);
        else
            text += QStringLiteral("\nРезервной копии базы изделий нет.");
    }
    return text;
}

// The catalog backup's own message (the command stopped, nothing changed).
bool IsBackupFailure(const AppError& e) {
    return e.message().startsWith(QStringLiteral("Не удалось сохранить резервную копию"));
}

// Runs the row changes of a command as one catalog transaction. A failure anywhere in it is
// rolled back and reported as one message naming the command, the group, the catalog and the
// state the catalog is left in. `begun`: a transaction the command began before (it then ends
// here).
// `alongside` runs when the changes are made and about to be committed, for work that goes
// along with the commit; when the commit fails after it, `undo` takes that work back (and
// gives what it could not take back, for the message).
void InOneTransaction(catalog::CatalogDb& db, const QString& stopped, const QStringList& groups,
                      const AppState& st, catalog::StepLog& log,
                      const std::function<void()>& changes,
                      std::optional<catalog::CatalogTransaction>* begun = nullptr,
                      const std::function<void()>& alongside = {},
                      const std::function<QString()>& undo = {}) {
    std::optional<catalog::CatalogTransaction> own;
    std::optional<catalog::CatalogTransaction>& tx = begun ? *begun : own;
    bool along = false;
    try {
        if (!tx) tx.emplace(db);
        changes();
        if (alongside) {
            along = true;
            alongside();
        }
        tx->Commit();
    } catch (const AppError& e) {
        // A failed backup has a message of its own: nothing was begun, or (a backup copied
        // while the transaction ran) nothing is committed.
        if (!tx) throw;
        const auto undone = [&] { return along && undo && !tx->Committed() ? undo() : QString(); };
        if (IsBackupFailure(e)) {
            tx->Rollback();
            const QString left = undone();
            if (left.isEmpty()) throw;
            throw AppError(e.message() + QLatin1Char(' ') + left);
        }
        QString state;
        if (tx->Committed())
            state = QStringLiteral("Изменения строк сохранены, следующий шаг не выполнен.");
        else if (tx->Rollback())
            state =
                QStringLiteral("Все изменения этой команды отменены: база изделий не изменена.");
        else
            state = QStringLiteral(
                "Изменения отменить не удалось: база изделий могла измениться частично; "
                "восстановите её из резервной копии.");
        // A failure of the commit itself belongs to every group the command changed.
        QString where = WhereInCatalog(log.current, groups, st.socr);
        if (log.current.isEmpty() && !log.changes.isEmpty()) {
            QStringList names, codes;
            for (const catalog::TableChange& c : log.changes) {
                if (c.table == catalog::kPinList) continue;
                codes << c.table;
                for (qsizetype i = 0; i < st.socr.size() && i < groups.size(); ++i)
                    if (st.socr[i] == c.table) names << QStringLiteral("«%1»").arg(groups[i]);
            }
            where = QStringLiteral("запись изменений групп %1 (семейства %2) в файл базы")
                        .arg(names.join(QStringLiteral(", ")), codes.join(QStringLiteral(", ")));
        }
        const QString left = undone();
        if (!left.isEmpty()) state += QLatin1Char(' ') + left;
        throw AppError(CatalogFailure(db, stopped, where, e.message(), state));
    }
}

// Tells the window where a command is: its preparation, each family of the selection, the pin
// lists, the files, the menu and its last step; the backup copy as it goes.
class Progress {
  public:
    Progress(IForm& form, catalog::CatalogDb& db, QString command)
        : form_(form), db_(db), command_(std::move(command)) {
        db_.SetBackupProgress([this](qint64 done, qint64 total) {
            form_.ShowProgress(QStringLiteral("%1: резервная копия базы изделий, %2%")
                                   .arg(command_)
                                   .arg(total > 0 ? int(done * 100 / total) : 100),
                               step_, steps_);
        });
    }
    ~Progress() { db_.SetBackupProgress({}); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The families of the selection, once known: each is a step.
    void Families(const QStringList& groups, const QStringList& codes) {
        groups_ = groups;
        codes_ = codes;
        families_.clear();
        for (const QString& c : codes)
            if (!families_.contains(c)) families_ << c;
        steps_ = int(families_.size()) + 5;
    }
    void Step(const QString& what) {
        form_.ShowProgress(command_ + QStringLiteral(": ") + what, ++step_, steps_);
    }
    // A catalog table the command's transaction is about to change.
    void Table(const QString& table) {
        const qsizetype i = families_.indexOf(table);
        if (i < 0) {
            Step(QStringLiteral("списки выводов"));
            return;
        }
        const qsizetype g = codes_.indexOf(table);
        Step(QStringLiteral("группа %1 из %2 («%3»)")
                 .arg(i + 1)
                 .arg(families_.size())
                 .arg(g >= 0 && g < groups_.size() ? groups_[g] : table));
    }

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
    explicit BackupScope(catalog::CatalogDb& db, bool armed = true) : db_(db) {
        if (armed) db_.ArmBackup();
    }
    ~BackupScope() { db_.DisarmBackup(); }
    BackupScope(const BackupScope&) = delete;
    BackupScope& operator=(const BackupScope&) = delete;

  private:
    catalog::CatalogDb& db_;
};

// Where Install's files go and what they are made from: the paths it recomputes (support,
// images, library, menu file) and the folder its relative names ("data\...") resolve in once
// it has set the current directory back.
struct FilePlaces {
    QString tool, support, images, library, year, avocadmenu;
    bool SameAs(const FilePlaces& o) const {
        return QFileInfo(fs::Native(tool)) == QFileInfo(fs::Native(o.tool)) &&
               support == o.support && images == o.images && library == o.library &&
               year == o.year && avocadmenu == o.avocadmenu;
    }
};

// The places as Install recomputes them from the version, language and release folder; the
// library folder and the menu file only when no project template is chosen.
FilePlaces PlacesFor(const AppState& st, const QString& roaming, bool templateChosen,
                     const QString& tool) {
    FilePlaces p{tool, {}, {}, st.path_library, st.year, st.avocadmenu};
    const QString languageFolder =
        roaming + QLatin1Char('\\') + st.ver + QLatin1Char('\\') + st.language;
    p.support = languageFolder + QStringLiteral("\\Support\\");
    p.images = languageFolder + QStringLiteral("\\Support\\Images\\");
    if (!templateChosen) {
        // The library folder of the release; any other version keeps the folder it had.
        if (state::IsReleaseYear(st.year))
            p.library = state::LibraryFolder(st.publicprofile, st.year);
        p.avocadmenu = p.support + QStringLiteral("ACE_IEC_MENU.DAT");
    }
    return p;
}

// What Install makes of the maker's files while its catalog work runs: the copies under
// temporary names and the new menu files beside theirs, all synced at one sync point, not yet
// in place; with what it found on the way. Everything not put in place goes with the object.
struct FilesAhead {
    explicit FilesAhead(FilePlaces p) : places(std::move(p)) {}
    void Make() {
        Copy();
        StageMenus();
        Flush();
    }
    // The copies, under temporary names.
    void Copy() {
        const QString images = ToolFile(places.tool, kImagesSource);
        const QString library = ToolFile(places.tool, kLibrarySource);
        folders << CopyFiles(images, places.images, batch, shortfall);
        if (places.library.isEmpty())
            ReportUnknownLibrary(library, places.year, shortfall);
        else
            folders << CopyFiles(library, places.library, batch, shortfall);
    }
    // The new menu files, beside theirs.
    void StageMenus() {
        avocadmenu = places.avocadmenu;
        try {
            menus = StageMakerMenu(avocadmenu, places.support, places.tool, &menuLines);
        } catch (const AppError& e) {
            failure = e.message();
        }
    }
    // The sync point of the copies and the menu files.
    void Flush() {
        try {
            if (menus)
                menus->SyncWith(batch);  // one sync point for the copies and the menus
            else
                batch.Flush();
        } catch (const AppError& e) {
            failure = e.message();
        }
    }

    // Puts the copies in place.
    void Place() {
        unplaced = batch.Commit(false);
        placed = true;
    }

    const FilePlaces places;
    fs::FileBatch batch;
    bool placed = false;
    QStringList unplaced;  // copies that could not take their names
    QStringList shortfall;
    QList<FolderReport> folders;
    QString avocadmenu;              // as the menu edit leaves st.avocadmenu
    QList<MenuFileLines> menuLines;  // the menu files the staged ones replace
    std::unique_ptr<fs::StagedFiles> menus;
    std::optional<QString> failure;
};

// FilesAhead made on a second thread, while the catalog is connected and changed; the copies
// take their names there too, alongside the catalog's commit. The thread is waited for before
// the object goes.
class FilesAheadWork {
  public:
    FilesAheadWork() = default;
    FilesAheadWork(const FilesAheadWork&) = delete;
    FilesAheadWork& operator=(const FilesAheadWork&) = delete;
    ~FilesAheadWork() { Drop(); }

    // The copies are made on the second thread, the menu files meanwhile on this one (the
    // catalog work that follows here is the shorter path).
    void Start(const FilePlaces& places) {
        Drop();
        ahead_ = std::make_unique<FilesAhead>(places);
        go_ = {};
        told_ = false;
        std::promise<void> staged, flushed;
        flushed_ = flushed.get_future();
        done_ = std::async(std::launch::async,
                           [a = ahead_.get(), staged = staged.get_future(),
                            flushed = std::move(flushed), go = go_.get_future()]() mutable {
                               a->Copy();
                               staged.wait();
                               a->Flush();
                               flushed.set_value();
                               if (go.get()) a->Place();
                           });
        const struct Staged {
            std::promise<void>& p;
            ~Staged() { p.set_value(); }
        } tell{staged};
        ahead_->StageMenus();
    }
    // Whether the files being made are for `places`; those made for other places go.
    bool StartedFor(const FilePlaces& places) {
        if (ahead_ && !ahead_->places.SameAs(places)) Drop();
        return ahead_ != nullptr;
    }
    // The catalog's changes are about to be committed: the copies made may take their names.
    void Place() { Tell(true); }
    // The commit failed after Place(): the copies placed are deleted again. What could not
    // be, for the message.
    QString TakeBack() {
        if (!done_.valid()) return {};
        done_.wait();
        if (!ahead_ || !ahead_->placed) return {};
        const QStringList kept = ahead_->batch.TakeBack();
        if (kept.isEmpty()) return {};
        return QStringLiteral("Не удалось убрать файлы, скопированные для этой установки (%1): %2.")
            .arg(kept.size())
            .arg(Names(kept));
    }
    // The files made for `places`, all on the disk, the copies perhaps still taking their names
    // on the second thread; made (and placed) now where none were made for these places.
    FilesAhead& Flushed(const FilePlaces& places) {
        if (done_.valid() && ahead_ && ahead_->places.SameAs(places)) {
            Tell(true);
            try {
                flushed_.get();
                return *ahead_;
            } catch (const std::future_error&) {
                // (the thread ended before its sync point: Finish gives what stopped it)
            }
        }
        return Finish(places);
    }
    // The files made for `places`, in place: those of the second thread once it is done, else
    // made and placed now.
    FilesAhead& Finish(const FilePlaces& places) {
        if (done_.valid()) {
            Tell(true);
            done_.get();
        }
        if (!ahead_ || !ahead_->places.SameAs(places)) {
            ahead_ = std::make_unique<FilesAhead>(places);
            ahead_->Make();
        }
        if (!ahead_->placed) ahead_->Place();
        return *ahead_;
    }

  private:
    void Tell(bool place) {
        if (told_ || !done_.valid()) return;
        told_ = true;
        go_.set_value(place);
    }
    void Drop() {
        Tell(false);
        if (done_.valid()) done_.wait();
        done_ = {};
        ahead_.reset();
    }
    std::unique_ptr<FilesAhead> ahead_;
    std::promise<bool> go_;
    bool told_ = false;
    std::future<void> flushed_;  // the second thread's sync point is behind it
    std::future<void> done_;
};

}  // namespace

void Button5Click(Context& ctx) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;
    catalog::CatalogDb& db = ctx.db;
    const QString roaming = RoamingFolder(st);
    const BackupScope backup(db);

    // The release folder: the last one the profile folder lists.
    for (const fs::Entry& e : fs::List(roaming))
        if (e.isFolder) st.ver = e.name;

    // The maker's files are copied under temporary names, and the new menu files written beside
    // theirs, from the click on, while the catalog is connected and changed, when the fields
    // allow the command to go that far and the images folder the copies go to is there already.
    // They are made for the places and the folder of relative names that the steps below will
    // have; should these turn out otherwise, they are dropped and made again. The copies take
    // their names while the catalog's changes are committed, and are deleted again should the
    // commit fail (an Install that stops on the catalog leaves none of them); the menu files
    // replace theirs after the commit.
    const bool templateChosen = !form.Edit1Text().isEmpty();
    FilesAheadWork filesAhead;
    {
        const QString tool = fs::FullPath(!st.path_mem.isEmpty() && fs::FolderExists(st.path_mem)
                                              ? st.path_mem
                                              : fs::CurrentDir());
        const FilePlaces expected = PlacesFor(st, roaming, templateChosen, tool);
        if (!form.ComboBox1Text().isEmpty() && !form.ComboBox2Text().isEmpty() &&
            !form.ListBox2Items().isEmpty() && fs::FolderExists(expected.images))
            filesAhead.Start(expected);
    }

    // The default catalog, when none is shown; the second probe wins when both exist.
    if (form.Edit2Text().isEmpty()) {
        const QString tail = QStringLiteral("\\AeData\\ru-RU\\Catalogs\\default_cat.mdb");
        const QString probes[] = {
            st.userprofile + QStringLiteral("\\Documents\\Acade ") + st.year + tail,
            st.userprofile + QStringLiteral("\\My Documents\\Acade ") + st.year + tail};
        for (const QString& probe : probes) {
            if (!fs::FileExists(probe)) continue;
            state::SetEdit2(ctx, probe);
            st.Settings().WriteString(QStringLiteral("BASE"), QStringLiteral("PATH"),
                                      form.Edit2Text());
        }
    }

    db.Reconnect(CatalogPathSetting(st));
    state::SetEdit2(ctx, CatalogPathSetting(st));
    if (!db.ADOConnection1().Connected()) RequireInstallDatabase();
    db.Activate({&db.ADOQuery1(), &db.ADOQuery3()});

    FilePlaces places = PlacesFor(st, roaming, templateChosen, QString());
    st.path_support = places.support;
    st.path_images = places.images;
    st.path_library = places.library;
    st.avocadmenu = places.avocadmenu;

    // The two tables are created before the row changes. When the command goes on to change
    // rows, on an engine that takes a table's creation back, the creation is the first step of
    // the command's one transaction; otherwise it is done on its own (an engine that cannot
    // take it back keeps what it created, and the message says so).
    std::optional<catalog::CatalogTransaction> whole;
    if (!form.ComboBox1Text().isEmpty() && !form.ComboBox2Text().isEmpty() &&
        !form.ListBox2Items().isEmpty() && db.ADOConnection2().RollsBackTableChanges()) {
        whole.emplace(db);
    }
    try {
        catalog::CreateCatalogTables(db);
    } catch (const AppError& e) {
        if (IsBackupFailure(e)) throw;
        throw AppError(CatalogFailure(
            db, kInstallStopped,
            QStringLiteral("создание таблиц %1 и PNEU-GAU").arg(catalog::kPinList), e.message(),
            db.ADOConnection2().RollsBackTableChanges()
                ? QStringLiteral("Создание отменено: база изделий не изменена.")
                : QStringLiteral("Строки базы изделий не изменены; таблица, созданная до "
                                 "ошибки, осталась в базе.")));
    }
    fs::SetCurrentDir(st.path_mem);

    if (form.ComboBox1Text().isEmpty() || form.ComboBox2Text().isEmpty()) {
        form.ShowMessage(QStringLiteral("Укажите версию программы и используемый язык"));
        return;
    }
    const QStringList groups = form.ListBox2Items();
    if (groups.isEmpty()) {
        form.ShowMessage(QStringLiteral("Выберите группы компонентов для переноса"));
        return;
    }

    // (the files already being made were made for what the steps above have set, or go now)
    places.tool = fs::FullPath(fs::CurrentDir());
    if (!filesAhead.StartedFor(places) && fs::FolderExists(st.path_images))
        filesAhead.Start(places);

    Progress progress(form, db, QStringLiteral("Установка"));
    catalog::FamilyLookup(db, st, groups);
    progress.Families(groups, st.socr);
    progress.Step(QStringLiteral("проверка данных ЗЕЛК"));
    catalog::SourceCheck(db, st);
    RequireInstallDatabase();
    catalog::StepLog log;
    log.starting = [&](const QString& table) { progress.Table(table); };
    // The copies take their names while the catalog's changes are committed, and are deleted
    // again should the commit fail.
    InOneTransaction(
        db, kInstallStopped, groups, st, log, [&] { catalog::RowTransfer(db, st, &log); }, &whole,
        [&] { filesAhead.Place(); }, [&] { return filesAhead.TakeBack(); });

    progress.Step(QStringLiteral("копирование файлов"));
    for (const char* lang : {"enu", "rus"}) {
        const QString folder = roaming + QLatin1Char('\\') + st.ver + QLatin1Char('\\') +
                               QLatin1String(lang) + QStringLiteral("\\Support\\Images");
        if (!fs::FolderExists(folder)) fs::CreateFolder(folder);
    }
    // The menu files replace theirs as soon as they are on the disk, while the copies may still
    // be taking their names. (The names reach the disk with everything else the command
    // wrote, in Conclude.)
    std::optional<QString> menuFailure;
    {
        FilesAhead& flushed = filesAhead.Flushed(places);
        progress.Step(QStringLiteral("меню"));
        st.avocadmenu = flushed.avocadmenu;
        try {
            if (flushed.failure) throw AppError(*flushed.failure);
            flushed.menus->Replace();
        } catch (const AppError& e) {
            menuFailure = e.message();
        }
    }
    FilesAhead& files = filesAhead.Finish(places);
    QStringList& shortfall = files.shortfall;
    const QStringList& unplaced = files.unplaced;
    for (const QString& target : unplaced)
        for (FolderReport& f : files.folders)
            if (fs::Native(target).startsWith(fs::Native(f.folder))) {
                --f.copied;
                ++f.failed;
            }
    if (!unplaced.isEmpty())
        shortfall << QStringLiteral("не удалось поместить на место скопированные файлы (%1): %2")
                         .arg(unplaced.size())
                         .arg(Names(unplaced));

    if (menuFailure) {
        fs::SyncFolders({st.path_images, st.path_library});  // the copies placed
        FailWith(*menuFailure, shortfall);
    }
    progress.Step(QStringLiteral("запись на диск"));
    Conclude(ctx, true, shortfall, log.changes, groups, files.folders, files.menuLines);
}

void Button6Click(Context& ctx) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;
    catalog::CatalogDb& db = ctx.db;

    // Until a catalog has been connected the catalog connection names the tool's own install
    // database, which Clean must never delete from, drop in or compact.
    if (!db.CatalogReady()) {
        form.ShowMessage(QStringLiteral(
            "Чистка не выполнена: база изделий AutoCAD Electrical ещё не подключена. Выберите "
            "файл базы кнопкой \"...\" или укажите версию и язык, затем повторите чистку"));
        return;
    }

    // "data\..." below is relative to the tool's folder, which a file dialog may have left.
    fs::SetCurrentDir(st.path_mem);
    if (form.Edit1Text().isEmpty())
        st.avocadmenu = st.path_support + QStringLiteral("ACE_IEC_MENU.DAT");

    const QStringList groups = form.ListBox2Items();
    Progress progress(form, db, QStringLiteral("Чистка"));
    progress.Step(QStringLiteral("поиск строк ЗЕЛК в базе изделий"));
    catalog::StepLog log;
    // What the removal will find: a Clean that changes nothing in the catalog leaves its
    // backup alone.
    QList<catalog::TableChange> found;
    bool counted = false;
    try {
        catalog::FamilyLookup(db, st, groups);
        progress.Families(groups, st.socr);
        catalog::CheckFamilyCodes(st.socr);
        log.Start(catalog::kPinList);
        const bool pinTable = catalog::HasPinListTable(db);
        // With the pin-list table there Clean changes the catalog whatever else it finds; an
        // engine that tells the rows each deletion removed then spares a pass over every
        // family table.
        counted = !pinTable || !db.ADOConnection2().RowsAffected().has_value();
        for (const QString& f : st.socr) {
            if (!counted) break;
            bool seen = false;
            for (const catalog::TableChange& c : found) seen = seen || c.table == f;
            if (seen) continue;
            log.Start(f);
            found << catalog::TableChange{f, catalog::MakerRowCount(db, f)};
        }
        if (counted && pinTable)
            found << catalog::TableChange{catalog::kPinList,
                                          catalog::MakerRowCount(db, catalog::kPinList), 0, true};
        log.current.clear();
    } catch (const AppError& e) {
        throw AppError(CatalogFailure(
            db, kCleanStopped, WhereInCatalog(log.current, groups, st.socr), e.message(),
            QStringLiteral("Изменений не было: база изделий не изменена.")));
    }
    bool changes = !counted;
    for (const catalog::TableChange& c : found) changes = changes || c.removed > 0 || c.dropped;
    const BackupScope backup(db, changes);
    log.starting = [&](const QString& table) { progress.Table(table); };
    InOneTransaction(db, kCleanStopped, groups, st, log, [&] {
        catalog::RemoveMakerRows(db, st, groups, &log);
        catalog::RemovePinListTable(db, &log);
    });
    if (!counted) found = log.changes;
    // The maker's files are deleted on a second thread while the menus are edited and the
    // catalog compacted: nothing else touches those folders, and a deletion that fails is only
    // reported. What it could not do is known before any later failure is reported.
    progress.Step(QStringLiteral("удаление файлов"));
    QStringList shortfall;
    QList<FolderReport> folders;
    std::future<void> deleting =
        std::async(std::launch::async,
                   [images = st.path_images, library = st.path_library, &shortfall, &folders] {
                       folders << DeleteMakerFiles(kImagesSource, images, shortfall);
                       folders << DeleteMakerFiles(kLibrarySource, library, shortfall);
                   });
    progress.Step(QStringLiteral("меню"));
    QList<MenuFileLines> menus;
    try {
        menus = RemoveMakerMenu(st);
    } catch (const AppError& e) {
        deleting.get();
        FailWith(e.message(), shortfall);
    }
    progress.Step(QStringLiteral("сжатие базы изделий"));
    try {
        catalog::CompactCatalog(db);
    } catch (const AppError& e) {
        deleting.get();
        FailWith(
            CatalogFailure(db, kCleanStopped, QStringLiteral("сжатие базы изделий"), e.message(),
                           changes ? QStringLiteral("Строки ЗЕЛК из базы изделий удалены, "
                                                    "но база не сжата; копий и временных "
                                                    "файлов сжатия не осталось.")
                                   : QStringLiteral("База изделий не изменена и не сжата; "
                                                    "копий и временных файлов сжатия не "
                                                    "осталось.")),
            shortfall);
    }
    deleting.get();
    Conclude(ctx, false, shortfall, found, groups, folders, menus);
}

}  // namespace deploy
