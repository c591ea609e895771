// Version, language and catalog selection: the handlers of the version field, the language
// field, the catalog field and the catalog file button.

#include "state/Selection.h"

#include "catalog/CatalogDb.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "core/IniFile.h"
#include "state/Releases.h"

namespace state {

namespace {

// Stores a chosen catalog under [BASE] PATH. A settings file that refuses the write keeps the
// catalog it names, and the choice does not take: the field shows that catalog again and the
// connection stays on it, so that Install (which connects the stored catalog) and Clean work
// on the same one. The refusal is then raised.
void StoreCatalogChoice(Context& ctx) {
    try {
        ctx.st.SetLastCatalog(ctx.form.Edit2Text());
    } catch (const AppError&) {
        SetEdit2(ctx, ctx.st.LastCatalog());
        throw;
    }
}

// The common end of the version and language changes: with a version text and the language
// "rus" or "enu" in the fields, the default catalog of that choice is shown, stored and
// connected. No existence test is made: a missing file fails in the reconnection.
void UseDefaultCatalog(Context& ctx) {
    IForm& form = ctx.form;
    const QString version = form.ComboBox1Text();
    const QString language = form.ComboBox2Text();
    const QString path = DefaultCatalog(ctx.st.userprofile, version, language);
    if (version.isEmpty() || path.isEmpty()) return;

    SetEdit2(ctx, path);
    StoreCatalogChoice(ctx);
    ctx.db.Reconnect(ctx.st.LastCatalog());
    SetEdit2(ctx, ctx.st.LastCatalog());
    ctx.db.Activate({&ctx.db.ADOQuery1(), &ctx.db.ADOQuery2(), &ctx.db.ADOQuery3()});
}

}  // namespace

void SetEdit2(Context& ctx, const QString& text) {
    if (ctx.form.Edit2Text() == text) return;
    ctx.form.SetEdit2Text(text);
    Edit2Change(ctx);
}

void Edit2Change(Context& ctx) {
    IForm& form = ctx.form;
    const QString path = form.Edit2Text();
    if (path.isEmpty()) return;
    if (path.contains(QLatin1String("2016")) &&
        !form.ComboBox1Text().contains(QLatin1String("016")))
        form.SetComboBox1Text(QStringLiteral("2016"));
    if (path.contains(QLatin1String("2017")) &&
        !form.ComboBox1Text().contains(QLatin1String("017")))
        form.SetComboBox1Text(QStringLiteral("2017"));
    // A later release is told by its documents folder "Acade <year>", the last one in the path;
    // a version text that already holds the year's last three digits stays.
    const QString release = CatalogReleaseYear(path);
    if (release > QLatin1String("2017") && !form.ComboBox1Text().contains(release.mid(1)))
        form.SetComboBox1Text(release);
    if (path.contains(QLatin1String("ru-RU"))) form.SetComboBox2Text(QStringLiteral("rus"));
    if (path.contains(QLatin1String("en-US"))) form.SetComboBox2Text(QStringLiteral("enu"));
}

void ComboBox1Change(Context& ctx) {
    SetEdit2(ctx, QString());
    ctx.st.year = ctx.form.ComboBox1Text();
    ctx.db.ADOConnection2().Close();
    ctx.form.ShowMessage(QStringLiteral("Выберите путь к базе изделий"));
    UseDefaultCatalog(ctx);
}

void ComboBox2Change(Context& ctx) {
    ctx.st.language = ctx.form.ComboBox2Text();
    SetEdit2(ctx, QString());
    UseDefaultCatalog(ctx);
}

void Button8Click(Context& ctx) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;
    st.BindSettings();
    st.path_mem = fs::CurrentDir();
    if (!form.ExecuteOpenDialog(2,
                                QStringLiteral("Файлы базы данных изделий|*.mdb|Microsoft Access")))
        return;
    const QString chosen = form.OpenDialogFileName(2);
    if (chosen.isEmpty()) return;

    SetEdit2(ctx, chosen);
    StoreCatalogChoice(ctx);
    // The dialog may have moved the current directory, against which the tool names its own
    // files; it is set back before the catalog is opened.
    ctx.db.Reconnect(form.Edit2Text(), [&st] { fs::SetCurrentDir(st.path_mem); });
    ctx.db.Activate({&ctx.db.ADOQuery1(), &ctx.db.ADOQuery2(), &ctx.db.ADOQuery3()});
}

}  // namespace state
