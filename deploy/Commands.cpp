// The Install ("Установить") and Clean ("Почистить") commands.

#include "deploy/Commands.h"

#include <QSet>

#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "deploy/Menu.h"
#include "state/AppError.h"
#include "state/AppState.h"
#include "state/Context.h"
#include "state/FileSystem.h"
#include "state/IniFile.h"
#include "state/Releases.h"
#include "state/Selection.h"

namespace deploy {

namespace {

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

// Copies the files (not the folders) of the data folder `from` into `to` (which ends with a
// backslash); an existing file is never replaced. A missing data folder and every copy that
// failed are added to `shortfall`.
void CopyFiles(const QString& from, const QString& to, QStringList& shortfall) {
    if (!fs::FolderExists(from)) {
        shortfall << QStringLiteral("папка \"%1\" не найдена, файлы из неё не скопированы")
                         .arg(fs::FullPath(from));
        return;
    }
    QStringList failed;
    for (const fs::Entry& e : fs::List(from)) {
        if (e.isFolder) continue;
        const QString dst = to + e.name;
        if (!to.isEmpty() && (fs::FileExists(dst) || fs::FolderExists(dst))) continue;
        if (to.isEmpty() || !fs::CopyNoReplace(from + QLatin1Char('\\') + e.name, dst))
            failed << e.name;
    }
    if (failed.isEmpty()) return;
    shortfall << QStringLiteral("не скопированы из папки \"%1\" в папку \"%2\" файлы (%3): %4")
                     .arg(fs::FullPath(from), to.isEmpty() ? QString() : fs::FullPath(to))
                     .arg(failed.size())
                     .arg(Names(failed));
}

// Install with no library folder for the version (one that is no release year from 2016 on,
// with no project template naming a library): the maker's symbol files have nowhere to go,
// which the closing message says, naming the version.
void ReportUnknownLibrary(const QString& from, const QString& year, QStringList& shortfall) {
    const QStringList files = fs::ListFiles(from);
    if (files.isEmpty()) {
        CopyFiles(from, QString(), shortfall);  // a missing data folder is reported as such
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
void DeleteMakerFiles(const QString& source, const QString& folder, QStringList& shortfall) {
    QStringList candidates;
    for (const fs::Entry& e : fs::List(folder))
        if (!e.isFolder && HasMakerName(e.name)) candidates << e.name;
    if (candidates.isEmpty()) return;

    if (!fs::FolderExists(source)) {
        shortfall << QStringLiteral(
                         "папка \"%1\" не найдена, поэтому нельзя определить, какие "
                         "файлы установлены программой; не удалены файлы в папке "
                         "\"%2\" (%3): %4")
                         .arg(fs::FullPath(source), fs::FullPath(folder))
                         .arg(candidates.size())
                         .arg(Names(candidates));
        return;
    }
    QSet<QString> shipped;
    for (const fs::Entry& e : fs::List(source))
        if (!e.isFolder) shipped.insert(e.name);
    QStringList failed;
    for (const QString& name : candidates)
        if (shipped.contains(name) && !fs::DeleteFile(folder + name)) failed << name;
    if (failed.isEmpty()) return;
    shortfall << QStringLiteral("не удалены файлы в папке \"%1\" (%2): %3")
                     .arg(fs::FullPath(folder))
                     .arg(failed.size())
                     .arg(Names(failed));
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

// A command arms the catalog backup for its own run only.
class BackupScope {
  public:
    explicit BackupScope(catalog::CatalogDb& db) : db_(db) { db_.ArmBackup(); }
    ~BackupScope() { db_.DisarmBackup(); }
    BackupScope(const BackupScope&) = delete;
    BackupScope& operator=(const BackupScope&) = delete;

  private:
    catalog::CatalogDb& db_;
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

    const QString languageFolder =
        roaming + QLatin1Char('\\') + st.ver + QLatin1Char('\\') + st.language;
    st.path_support = languageFolder + QStringLiteral("\\Support\\");
    st.path_images = languageFolder + QStringLiteral("\\Support\\Images\\");
    if (form.Edit1Text().isEmpty()) {
        // The library folder of the release; any other version keeps the folder it had.
        if (state::IsReleaseYear(st.year))
            st.path_library = state::LibraryFolder(st.publicprofile, st.year);
        st.avocadmenu = st.path_support + QStringLiteral("ACE_IEC_MENU.DAT");
    }

    catalog::CreateCatalogTables(db);
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

    catalog::FamilyLookup(db, st, groups);
    catalog::SourceCheck(db, st);
    RequireInstallDatabase();
    catalog::RowTransfer(db, st);

    for (const char* lang : {"enu", "rus"}) {
        const QString folder = roaming + QLatin1Char('\\') + st.ver + QLatin1Char('\\') +
                               QLatin1String(lang) + QStringLiteral("\\Support\\Images");
        if (!fs::FolderExists(folder)) fs::CreateFolder(folder);
    }
    QStringList shortfall;
    CopyFiles(kImagesSource, st.path_images, shortfall);
    if (st.path_library.isEmpty())
        ReportUnknownLibrary(kLibrarySource, st.year, shortfall);
    else
        CopyFiles(kLibrarySource, st.path_library, shortfall);

    InsertMakerMenu(st);
    form.ShowMessage(Outcome(QStringLiteral("Установка произведена успешно"),
                             QStringLiteral("Установка выполнена не полностью"), shortfall));
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

    const BackupScope backup(db);
    // "data\..." below is relative to the tool's folder, which a file dialog may have left.
    fs::SetCurrentDir(st.path_mem);
    if (form.Edit1Text().isEmpty())
        st.avocadmenu = st.path_support + QStringLiteral("ACE_IEC_MENU.DAT");

    catalog::RemoveMakerRows(db, st, form.ListBox2Items());
    catalog::RemovePinListTable(db);
    QStringList shortfall;
    DeleteMakerFiles(kImagesSource, st.path_images, shortfall);
    DeleteMakerFiles(kLibrarySource, st.path_library, shortfall);
    RemoveMakerMenu(st);
    catalog::CompactCatalog(db);
    form.ShowMessage(Outcome(QStringLiteral("Чистка завершена успешно!"),
                             QStringLiteral("Чистка выполнена не полностью"), shortfall));
}

}  // namespace deploy
