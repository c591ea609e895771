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

// Clean's edit: the maker's lines out of the menu file st.avocadmenu (and its follow-up file);
// gives the menu files it rewrote.
QList<MenuFileLines> RemoveMakerMenu(AppState& st);

// Where Install keeps the copy of the block it appended: "data\menu_installed.txt" in the
// tool's folder `tool` (ToolFile), or in the user's folder `userDir` (AppState::userDir) when
// the tool's folder takes no writes. Both places are read when blocks are recognised.
QString BlockCopyFile(const QString& userDir, const QString& tool);

// The menu files Install's edit rewrites: `avocadmenu`, and its follow-up file when it has one.
QStringList MenuFilesEdited(const QString& avocadmenu, const QString& pathSupport);

// Whether Install's edit would change nothing: each menu file it edits, and the copy of the
// block, holds already what it would write (the entry lines, exactly one block of the current
// "data\menu.txt"). False too when a file cannot be read or understood.
// `files` gets the menu files looked at.
bool MakerMenuInPlace(const QString& avocadmenu, const QString& pathSupport, const QString& tool,
                      const QString& userDir, QStringList* files = nullptr);

// The tool's own file `name` ("data\..."), in the folder `tool`; with `tool` empty, relative
// to the current directory as the tool names its files.
inline QString ToolFile(const QString& tool, const QString& name) {
    return tool.isEmpty() ? name : tool + QLatin1Char('\\') + name;
}

// Install's edit, in the steps Install takes: the new menu files are worked out from the menu
// files as they are when it is made and written beside them (fs::StagedFiles: not yet synced,
// for the command's one sync point); they replace the menu files only at Replace(), after the
// command's other steps. The tool's files ("data\menu.txt", "data\menu_installed.txt") are
// read and written in the folder `tool` (ToolFile).
class StagedMenu {
  public:
    // `avocadmenu` (st.avocadmenu) ends as the edit leaves it (the follow-up file when there is
    // one), also when this raises; `pathSupport` is st.path_support; `userDir` is
    // st.userDir, which tells where the copy of the block goes (BlockCopyFile).
    StagedMenu(QString& avocadmenu, const QString& pathSupport, const QString& tool,
               const QString& userDir = {});
    ~StagedMenu();
    StagedMenu(const StagedMenu&) = delete;
    StagedMenu& operator=(const StagedMenu&) = delete;

    fs::StagedFiles& Files() { return *staged_; }
    // The menu files it rewrites, with their lines before and after.
    const QList<MenuFileLines>& Lines() const { return lines_; }
    // Replaces the menu files by the staged ones, which are on the disk by then. A menu file
    // that changed since it was read (AutoCAD Electrical saved it meanwhile) is never
    // overwritten: the new files are worked out again from what the menu files hold now, and
    // when they keep changing the edit stops with a message naming the file.
    void Replace();

  private:
    void Stage();
    QString Changed() const;  // a menu file that no longer holds what was read, or ""

    const QString avocadmenu_, support_, tool_, userDir_;
    QString& leftAt_;
    std::unique_ptr<fs::StagedFiles> staged_;
    QList<MenuFileLines> lines_;
    QList<std::pair<QString, QByteArray>> read_;  // each menu file with the bytes it held
};

}  // namespace deploy
