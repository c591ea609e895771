#pragma once

// The AutoCAD Electrical releases the tool serves: every release year from 2016 on. Each keeps
// the same layout: the roaming folder "AutoCAD Electrical <year>", the documents folder
// "Acade <year>" with the default catalogs, and the public symbol library
// "Acade <year>\Libs\iec2".

#include <QString>
#include <QStringList>

namespace state {

// Four digits naming 2016 or a later year.
bool IsReleaseYear(const QString& year);

// The standard symbol library folder of a release year, with its trailing backslash:
// publicprofile + "\Documents\Autodesk\Acade <year>\Libs\iec2\". Empty for a text that is not
// a release year, whose library folder is not known.
QString LibraryFolder(const QString& publicprofile, const QString& year);

// The items of the version field: the releases among the folder names of the roaming Autodesk
// folder (names exactly "AutoCAD Electrical <year>") with "2017" and "2016", each once, newest
// first.
QStringList VersionItems(const QStringList& folderNames);

// The release year of the last folder "Acade <year>" in a path; empty when the path names no
// such folder with a release year.
QString CatalogReleaseYear(const QString& path);

}  // namespace state
