#pragma once

// The detection mark: what the last successful Install recorded for the user, for deployment
// tools (a registry value or a file they look for) and for the command line's status query.
// Install writes it, Clean removes it (platform::WriteInstallMark and its siblings say where).

#include <QString>
#include <QStringList>
#include <optional>

namespace deploy {

struct InstallMark {
    QString packageDate;  // release date of the tool's data package (DD.MM.YYYY)
    QString release;      // the AutoCAD Electrical release served ("2017")
    QString language;     // its profile language ("rus" or "enu")
    QString catalog;      // the catalog file (full path)
    QStringList groups;   // family codes of the groups installed
    // The files the Install placed and found (the catalog, the data files and their copies,
    // the menus) as they were when the mark was written (InstalledState): while they are so,
    // they still hold what was installed.
    QString state;

    bool operator==(const InstallMark&) const = default;
};

std::optional<InstallMark> ReadInstallMark();
// False when the mark could not be written, or removed.
bool WriteInstallMark(const InstallMark& mark);
bool RemoveInstallMark();

// The mark as "name: value" lines (the command line's status query prints them).
QStringList MarkLines(const InstallMark& mark);

// The data package's release date: "date_global" of the status file held beside the tool
// (`exeDir` ends with a separator), else the date of its install database file.
QString PackageDate(const QString& exeDir);

}  // namespace deploy
