// Project template choice: the symbol library ("+[1]") and the icon menu file ("+[2]") of an
// AutoCAD Electrical project file redirect where Install and Clean work.

#include "state/ProjectTemplate.h"

#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "core/TextFile.h"
#include "state/Releases.h"

namespace state {

namespace {

const QString kLibraryMarker = QStringLiteral("+[1]");
const QString kMenuMarker = QStringLiteral("+[2]");

// The value of a marked line: characters 5 to 259 (at most 255 characters from the 5th),
// wherever the marker stands in the line.
QString LineValue(const QString& line) { return line.mid(4, 255); }

// The library folder that a template's library name replaces "iec2" in: the standard folder
// of the chosen release. Each template is applied to it afresh, so a second template (or the
// same one read again) names its own library and not a mix of the two. A version that is no
// release has no standard folder; the folder it has is used.
QString LibraryBase(const AppState& st) {
    return IsReleaseYear(st.year) ? LibraryFolder(st.publicprofile, st.year) : st.path_library;
}

void ApplyTemplate(AppState& st, const QStringList& lines) {
    QString library = LibraryBase(st);
    bool libraryNamed = false;
    for (const QString& line : lines) {
        if (line.contains(kLibraryMarker)) {
            st.wdp_line = LineValue(line);
            const qsizetype cut = st.wdp_line.indexOf(QLatin1String("/;"));
            if (cut >= 0) st.wdp_line.truncate(cut);
            const qsizetype dir = st.wdp_line.indexOf(QLatin1String("%SL_DIR%"));
            if (dir >= 0) st.wdp_line.remove(dir, 8);
            // An empty library name would make the Libs folder itself the destination.
            if (!st.wdp_line.isEmpty()) {
                library.replace(QLatin1String("iec2"), st.wdp_line, Qt::CaseInsensitive);
                libraryNamed = true;
            }
        }
        if (line.contains(kMenuMarker)) {
            st.wdp_line = LineValue(line);
            const qsizetype marker = st.wdp_line.indexOf(kMenuMarker);
            if (marker >= 0) st.wdp_line.remove(marker, kMenuMarker.size());
            st.avocadmenu = st.path_support + st.wdp_line;
        }
    }
    if (libraryNamed) st.path_library = library;
}

}  // namespace

void Button7Click(Context& ctx) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;
    st.path_mem = fs::CurrentDir();
    // The dialog may move the current directory, against which the tool names its own files;
    // it is set back however the reading ends.
    struct RestoreCurrentDir {
        const QString& path;
        ~RestoreCurrentDir() { fs::SetCurrentDir(path); }
    } restore{st.path_mem};

    if (form.ExecuteOpenDialog(1, QStringLiteral("Файл проекта wdp|*.wdp"))) {
        st.path_wdp = form.OpenDialogFileName(1);
        form.SetEdit1Text(st.path_wdp);
    }
    // The dialog keeps its last confirmed file, so a cancelled dialog reads that one again.
    const QString file = form.OpenDialogFileName(1);
    if (file.isEmpty()) return;
    ApplyTemplate(st, ReadTextFile(file).lines);
}

}  // namespace state
