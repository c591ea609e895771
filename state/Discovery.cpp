// Installation discovery: finds the AutoCAD Electrical version, release folder, language and
// working folders of the current user, the default catalog, and reopens the catalog that the
// settings file remembers.

#include "state/Discovery.h"

#include <QtGlobal>
#include <optional>

#include "catalog/CatalogDb.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "core/IniFile.h"
#include "core/TextFile.h"
#include "state/Releases.h"
#include "state/Selection.h"

namespace state {

namespace {

const QString kProduct = QStringLiteral("AutoCAD Electrical");

// The catalog connection template: the first line of "data\bd_info.txt" (relative to the
// current directory). A file saved with a byte-order mark is decoded by it; otherwise the
// ANSI code page applies.
void ReadConnectionTemplate(Context& ctx) {
    try {
        const TextLines text = DecodeText(fs::ReadAll(QStringLiteral("data\\bd_info.txt")));
        ctx.st.fstr = text.lines.isEmpty() ? QString() : text.lines.first();
    } catch (const AppError&) {
        // The tool's data package is incomplete: fetch it again.
        if (ctx.poupdate) ctx.poupdate();
    }
}

// Probes the default catalogs D (under "Documents") and M (under "My Documents") of one
// language: an existing one is stored under [BASE] PATH, M after D, and the catalog field is
// left empty again. A settings file that refuses the write keeps its catalog; the refusal is
// kept in `refused` and reported once discovery has connected that catalog, so that Install
// and Clean both work on the catalog the settings file names.
void ProbeDefaultCatalog(Context& ctx, const QString& language, std::optional<AppError>& refused) {
    AppState& st = ctx.st;
    const auto store = [&] {
        try {
            st.SetLastCatalog(ctx.form.Edit2Text());
        } catch (const AppError& e) {
            if (!refused) refused = e;
        }
    };
    const QString d = DefaultCatalog(st.userprofile, st.year, language);
    const QString m = DefaultCatalog(st.userprofile, st.year, language, true);
    if (fs::FileExists(d)) {
        SetEdit2(ctx, d);
        store();
    }
    if (fs::FileExists(m)) {
        SetEdit2(ctx, m);
        store();
    }
    if (fs::FileExists(d)) SetEdit2(ctx, QString());
    if (fs::FileExists(m)) SetEdit2(ctx, QString());
}

}  // namespace

void Discover(Context& ctx) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;

    // The group lists re-sort through `sort`; it exists before anything here can fail, so the
    // transfer buttons work whatever discovery finds.
    if (!st.sort) st.sort.emplace();

    QStringList flist1;
    st.tablelist.emplace();

    st.userprofile = qEnvironmentVariable("USERPROFILE");
    st.publicprofile = qEnvironmentVariable("PUBLIC");

    if (fs::FileExists(st.exeDir + catalog::kInstallDb)) ReadConnectionTemplate(ctx);

    // Version: the last roaming folder named with the product's name.
    const QString roaming = RoamingAutodesk(st.userprofile);
    if (fs::FolderExists(roaming)) flist1 = fs::ListFolders(roaming + QLatin1Char('\\'));
    for (const QString& name : flist1)
        if (name.contains(kProduct)) st.year = name.mid(19, 4);
    form.SetComboBox1Items(VersionItems(flist1));
    form.SetComboBox1Text(st.year);

    // Release folder: the last one listed.
    const QString versionFolder = VersionFolder(st.userprofile, st.year);
    if (const QString latest = LatestRelease(st.userprofile, st.year); !latest.isEmpty())
        st.ver = latest;

    // Language: "rus" wins when both profiles exist.
    const QString release = versionFolder + QLatin1Char('\\') + st.ver;
    for (const char* language : {"enu", "rus"}) {
        if (fs::FolderExists(release + QLatin1Char('\\') + QLatin1String(language) +
                             QStringLiteral("\\Support\\Profiles"))) {
            st.language = QLatin1String(language);
            form.SetComboBox2Text(st.language);
        }
    }

    // Support and image folders: a support folder counts only when it has a subfolder.
    const QString support = SupportFolder(st.userprofile, st.year, st.ver, st.language);
    for (const QString& name : fs::ListFolders(support)) {
        st.path_support = support;
        if (name == QLatin1String("Images") || name == QLatin1String("IMAGES"))
            st.path_images = support + QStringLiteral("Images\\");
    }

    // The library folder of the release; any other version leaves it empty.
    st.path_library = LibraryFolder(st.publicprofile, st.year);

    const QString unit = form.ComboBox3Text();
    if (unit == QStringLiteral("метр"))
        st.avocadmenu = st.path_support + QStringLiteral("ACE_IEC_MENU.DAT");
    if (unit == QStringLiteral("дюйм"))
        st.avocadmenu = st.path_support + QStringLiteral("ACE_NFPA_MENU.DAT");

    std::optional<AppError> refused;
    ProbeDefaultCatalog(ctx, form.ComboBox2Text(), refused);  // (rus or enu: another has none)

    st.tablelist = form.ListBox1Items();

    // The catalog remembered from the last run, when its file still exists.
    const QString stored = st.LastCatalog();
    if (fs::FileExists(stored)) {
        ctx.db.Reconnect(stored);
        SetEdit2(ctx, st.LastCatalog());
        ctx.db.Activate({&ctx.db.ADOQuery1(), &ctx.db.ADOQuery2(), &ctx.db.ADOQuery3()});
        form.SetListBox1Items(*st.tablelist);
    }
    if (refused) throw *refused;
}

}  // namespace state
