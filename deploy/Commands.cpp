// The Install ("Установить") and Clean ("Почистить") commands.

#include "deploy/Commands.h"

#include <QSet>

#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "deploy/Menu.h"
#include "state/AppState.h"
#include "state/Context.h"
#include "state/FileSystem.h"
#include "state/IniFile.h"
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

// Copies the files (not the folders) of `from` into `to` (which ends with a backslash);
// an existing file is never replaced and a failed copy is passed over.
void CopyFiles(const QString& from, const QString& to) {
    if (to.isEmpty()) return;  // no destination folder known
    for (const fs::Entry& e : fs::List(from)) {
        if (e.isFolder) continue;
        fs::CopyNoReplace(from + QLatin1Char('\\') + e.name, to + e.name);
    }
}

bool HasMakerName(const QString& name) {
    return name.contains(QLatin1String("zelk")) || name.contains(QLatin1String("ZELK"));
}

// Deletes from `folder` (ends with a backslash) the maker's files: those named with the maker's
// name that the data folder `source` holds too, i.e. the files Install copies there. A file of
// the user's own with "zelk" in its name stays. Without the data folder nothing can be told
// apart, so nothing is deleted and the user is told which files were left.
void DeleteMakerFiles(IForm& form, const QString& source, const QString& folder) {
    QStringList candidates;
    for (const fs::Entry& e : fs::List(folder))
        if (!e.isFolder && HasMakerName(e.name)) candidates << e.name;
    if (candidates.isEmpty()) return;

    if (!fs::FolderExists(source)) {
        form.ShowMessage(QStringLiteral("Папка \"%1\" не найдена, поэтому нельзя определить, какие "
                                        "файлы установлены программой. Файлы в папке \"%2\" не "
                                        "удалены: %3")
                             .arg(fs::FullPath(source), fs::FullPath(folder),
                                  candidates.join(QStringLiteral(", "))));
        return;
    }
    QSet<QString> shipped;
    for (const fs::Entry& e : fs::List(source))
        if (!e.isFolder) shipped.insert(e.name);
    for (const QString& name : candidates)
        if (shipped.contains(name)) fs::DeleteFile(folder + name);
}

}  // namespace

void Button5Click(Context& ctx) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;
    catalog::CatalogDb& db = ctx.db;
    const QString roaming = RoamingFolder(st);

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
    db.Activate({&db.ADOQuery1(), &db.ADOQuery3()});

    const QString languageFolder =
        roaming + QLatin1Char('\\') + st.ver + QLatin1Char('\\') + st.language;
    st.path_support = languageFolder + QStringLiteral("\\Support\\");
    st.path_images = languageFolder + QStringLiteral("\\Support\\Images\\");
    if (form.Edit1Text().isEmpty()) {
        if (st.year == QLatin1String("2016"))
            st.path_library = st.publicprofile +
                              QStringLiteral("\\Documents\\Autodesk\\Acade 2016\\Libs\\iec2\\");
        else if (st.year == QLatin1String("2017"))
            st.path_library = st.publicprofile +
                              QStringLiteral("\\Documents\\Autodesk\\Acade 2017\\Libs\\iec2\\");
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
    catalog::RowTransfer(db, st);

    for (const char* lang : {"enu", "rus"}) {
        const QString folder = roaming + QLatin1Char('\\') + st.ver + QLatin1Char('\\') +
                               QLatin1String(lang) + QStringLiteral("\\Support\\Images");
        if (!fs::FolderExists(folder)) fs::CreateFolder(folder);
    }
    CopyFiles(kImagesSource, st.path_images);
    CopyFiles(kLibrarySource, st.path_library);

    InsertMakerMenu(st);
    form.ShowMessage(QStringLiteral("Установка произведена успешно"));
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

    catalog::RemoveMakerRows(db, st, form.ListBox2Items());
    catalog::RemovePinListTable(db);
    DeleteMakerFiles(form, kImagesSource, st.path_images);
    DeleteMakerFiles(form, kLibrarySource, st.path_library);
    RemoveMakerMenu(st);
    catalog::CompactCatalog(db);
    form.ShowMessage(QStringLiteral("Чистка завершена успешно!"));
}

}  // namespace deploy
