#include "state/Releases.h"

#include <QRegularExpression>
#include <algorithm>

#include "core/FileSystem.h"

namespace state {

bool IsReleaseYear(const QString& year) {
    if (year.size() != 4) return false;
    for (const QChar c : year)
        if (c < u'0' || c > u'9') return false;
    return year >= QLatin1String("2016");
}

QString RoamingAutodesk(const QString& userprofile) {
    return userprofile + QStringLiteral("\\AppData\\Roaming\\Autodesk");
}

QString VersionFolder(const QString& userprofile, const QString& year) {
    return RoamingAutodesk(userprofile) + QStringLiteral("\\AutoCAD Electrical ") + year;
}

QString LatestRelease(const QString& userprofile, const QString& year) {
    const QStringList releases = fs::ListFolders(VersionFolder(userprofile, year) + u'\\');
    return releases.isEmpty() ? QString() : releases.last();
}

QString SupportFolder(const QString& userprofile, const QString& year, const QString& ver,
                      const QString& language) {
    return VersionFolder(userprofile, year) + QLatin1Char('\\') + ver + QLatin1Char('\\') +
           language + QStringLiteral("\\Support\\");
}

QString ImagesFolder(const QString& userprofile, const QString& year, const QString& ver,
                     const QString& language) {
    return SupportFolder(userprofile, year, ver, language) + QStringLiteral("Images\\");
}

QString DefaultCatalog(const QString& userprofile, const QString& year, const QString& language,
                       bool myDocuments) {
    QString culture;
    if (language == QLatin1String("rus"))
        culture = QStringLiteral("ru-RU");
    else if (language == QLatin1String("enu"))
        culture = QStringLiteral("en-US");
    else
        return QString();
    return userprofile +
           (myDocuments ? QStringLiteral("\\My Documents\\Acade ")
                        : QStringLiteral("\\Documents\\Acade ")) +
           year + QStringLiteral("\\AeData\\") + culture +
           QStringLiteral("\\Catalogs\\default_cat.mdb");
}

QString LibraryFolder(const QString& publicprofile, const QString& year) {
    if (!IsReleaseYear(year)) return QString();
    return publicprofile + QStringLiteral("\\Documents\\Autodesk\\Acade ") + year +
           QStringLiteral("\\Libs\\iec2\\");
}

QStringList VersionItems(const QStringList& folderNames) {
    const QString prefix = QStringLiteral("AutoCAD Electrical ");
    QStringList items{QStringLiteral("2017"), QStringLiteral("2016")};
    for (const QString& name : folderNames) {
        const QString year = name.mid(prefix.size());
        if (name.startsWith(prefix) && IsReleaseYear(year) && !items.contains(year)) items << year;
    }
    // Four digits each: the text order is the order of the years.
    std::sort(items.begin(), items.end(), std::greater<QString>());
    return items;
}

QString CatalogReleaseYear(const QString& path) {
    static const QRegularExpression folder(QStringLiteral("Acade ([0-9]{4})(?=[\\\\/]|$)"));
    QString year;
    for (auto it = folder.globalMatch(path); it.hasNext();) year = it.next().captured(1);
    return IsReleaseYear(year) ? year : QString();
}

}  // namespace state
