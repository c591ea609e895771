#include "app/StartUp.h"

#include <QDir>

#include "core/AppState.h"
#include "core/Context.h"
#include "core/Form.h"
#include "state/Discovery.h"

namespace view {

void StartUp(Context& ctx, const QString& exeFolder, bool checkUpdate,
             const update::ProbeTarget& probe) {
    AppState& st = ctx.st;
    QString folder = QDir::toNativeSeparators(exeFolder);
    if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
    st.exeDir = folder;
    st.BindSettings();
    if (!st.sort) st.sort.emplace();
    if (!st.tablelist) st.tablelist = ctx.form.ListBox1Items();
    if (checkUpdate) RunGuarded(ctx.form, [&] { update::StartupUpdateCheck(ctx, probe); });
    if (st.handedOff) return;
    RunGuarded(ctx.form, [&] { state::Discover(ctx); });
}

}  // namespace view
