#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "core/IniFile.h"
#include "core/SortedStringList.h"

// The process-wide variables of the tool. One object of this type exists per process; every
// module reaches it through the Context it is given. All text variables start empty.
struct AppState {
    QString userprofile;    // USERPROFILE, no trailing backslash
    QString publicprofile;  // PUBLIC, no trailing backslash
    QString year;           // AutoCAD Electrical version, a release year from "2016" on
    QString ver;            // release subfolder of the roaming version folder
    QString language;       // "enu" or "rus"
    QString path_support;   // ...\<language>\Support\  (ends with a backslash)
    QString path_images;    // ...\<language>\Support\Images\  (ends with a backslash)
    QString path_library;   // PUBLIC\Documents\Autodesk\Acade <year>\Libs\iec2\  .
    QString avocadmenu;     // full path of the icon menu file to edit
    QString path_wdp;       // chosen project template file
    QString wdp_line;       // working value of the template reader
    QString path_mem;       // current directory just before the last file dialog opened
    QString fstr;           // catalog connection string template (first line of bd_info.txt)

    std::optional<SortedStringList> sort;  // shared list that re-sorts the group lists
    std::optional<QStringList> tablelist;  // the group names of ListBox1 as loaded at start-up
    QStringList socr;                      // family codes of the groups in ListBox2

    std::unique_ptr<IniFile> Finifile;  // config.ini beside the executable

    // The executable's folder with its trailing separator (backslash form); the base of
    // "config.ini", the start-up test of "ZELK_install.mdb", "data\status_up.ini" and the
    // update files.
    QString exeDir;

    // The catalog files (full paths) backed up in this run. Each is copied to its backup once,
    // before the first change the tool makes to it after start-up; later commands leave that
    // backup alone, so it keeps the catalog as it was before this run changed it.
    QStringList backedUpCatalogs;

    // The update script has been started and the end of the application asked for: nothing
    // starts another download or script in this process.
    bool handedOff = false;

    // Where the tool writes what it keeps for the user: empty while the executable's folder
    // (and a "config.ini" there) takes writes. Otherwise, as when the tool is installed under
    // Program Files or on a network share, the user's own folder (platform::UserDataFolder, with
    // its trailing separator): it then holds the settings file, whose values default to those
    // of the "config.ini" beside the executable, and the copy of the submenu block that Install
    // appended. The update, which replaces the tool's own files, is not run then.
    QString userDir;

    // Binds Finifile anew to the settings file: exeDir + "config.ini", or the one in userDir
    // when the executable's folder takes no writes (decided here for the current exeDir).
    void BindSettings();
    // The settings file, bound on first use when nothing has bound it yet.
    IniFile& Settings() {
        if (!Finifile) BindSettings();
        return *Finifile;
    }
    // The catalog used last: [BASE] PATH of the settings file, read from the file each time
    // (empty when missing); a write the system refuses raises "Unable to write to %s".
    QString LastCatalog() {
        return Settings().ReadString(QStringLiteral("BASE"), QStringLiteral("PATH"), QString());
    }
    void SetLastCatalog(const QString& path) {
        Settings().WriteString(QStringLiteral("BASE"), QStringLiteral("PATH"), path);
    }
};
