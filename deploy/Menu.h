#pragma once

// Icon menu file editing: the maker's entry and submenu block.

#include <QString>
#include <QStringList>
#include <memory>

struct AppState;
namespace fs {
class StagedFiles;
}

namespace deploy {

// A menu file a menu edit rewrote, with its lines before and after the edit.
struct MenuFileLines {
    QString file;
    qsizetype before = 0, after = 0;
};

// Each gives the menu files it rewrote.
QList<MenuFileLines> InsertMakerMenu(AppState& st);
QList<MenuFileLines> RemoveMakerMenu(AppState& st);

// The tool's own file `name` ("data\..."), in the folder `tool`; with `tool` empty, relative
// to the current directory as the tool names its files.
inline QString ToolFile(const QString& tool, const QString& name) {
    return tool.isEmpty() ? name : tool + QLatin1Char('\\') + name;
}

// InsertMakerMenu's new files, worked out from the menu files as they are now and written
// beside them, for an Install that lets them replace the menu files only after its other steps
// (Sync, then Replace). `avocadmenu` (st.avocadmenu) and `pathSupport` (st.path_support) as
// InsertMakerMenu reads them; `avocadmenu` ends as InsertMakerMenu leaves st.avocadmenu, also
// when it raises. The tool's files are read and written in the folder `tool` (ToolFile), so a
// second thread can do this without the current directory. With `lines`, the menu files it
// will rewrite are put there.
std::unique_ptr<fs::StagedFiles> StageMakerMenu(QString& avocadmenu, const QString& pathSupport,
                                                const QString& tool,
                                                QList<MenuFileLines>* lines = nullptr);

}  // namespace deploy
