#pragma once

// The AutoCAD Electrical releases the tool serves, every release year from 2016 on, and the
// one place that knows their folder layout, the same in each release:
// - the support folder of a profile, with its "Images" folder and the icon menu files:
//   userprofile + "\AppData\Roaming\Autodesk\AutoCAD Electrical
//   <year>\<release>\<language>\Support";
// - the default catalogs: userprofile + "\Documents\Acade <year>\AeData\<ru-RU|en-US>\Catalogs"
//   + "\default_cat.mdb", and the same under "My Documents";
// - the symbol library: publicprofile + "\Documents\Autodesk\Acade <year>\Libs\iec2".
// Paths are built with backslashes; a folder path ends with one where said.

#include <QString>
#include <QStringList>

namespace state {

// Four digits naming 2016 or a later year.
bool IsReleaseYear(const QString& year);

// The user's roaming Autodesk folder (no trailing backslash).
QString RoamingAutodesk(const QString& userprofile);
// The roaming folder of a version: RoamingAutodesk + "\AutoCAD Electrical " + year.
QString VersionFolder(const QString& userprofile, const QString& year);
// The release folder of a version: the last folder its roaming folder lists (empty for none).
QString LatestRelease(const QString& userprofile, const QString& year);
// A profile's support folder and its image folder, with their trailing backslash.
QString SupportFolder(const QString& userprofile, const QString& year, const QString& ver,
                      const QString& language);
QString ImagesFolder(const QString& userprofile, const QString& year, const QString& ver,
                     const QString& language);
// The default catalog of a version and a profile language ("rus" or "enu"), under "Documents"
// or, with `myDocuments`, under "My Documents". Empty for any other language text.
QString DefaultCatalog(const QString& userprofile, const QString& year, const QString& language,
                       bool myDocuments = false);

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
