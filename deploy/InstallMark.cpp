#include "deploy/InstallMark.h"

#include <QDateTime>
#include <QFileInfo>

#include "catalog/CatalogDb.h"
#include "core/FileSystem.h"
#include "core/IniFile.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace deploy {

namespace {

// The names of the mark's values (in the registry, or in the mark file).
const QString kPackageDate = QStringLiteral("PackageDate");
const QString kRelease = QStringLiteral("Release");
const QString kLanguage = QStringLiteral("Language");
const QString kCatalog = QStringLiteral("Catalog");
const QString kGroups = QStringLiteral("Groups");
const QString kState = QStringLiteral("InstallState");

}  // namespace

std::optional<InstallMark> ReadInstallMark() {
    const std::optional<platform::MarkValues> values = platform::ReadInstallMark();
    if (!values) return std::nullopt;
    InstallMark m;
    for (const auto& [n, v] : *values) {
        const QString name = platform::FromU16(n), value = platform::FromU16(v);
        if (name == kPackageDate) m.packageDate = value;
        if (name == kRelease) m.release = value;
        if (name == kLanguage) m.language = value;
        if (name == kCatalog) m.catalog = value;
        if (name == kGroups) m.groups = value.split(u',', Qt::SkipEmptyParts);
        if (name == kState) m.state = value;
    }
    // A mark that names no catalog is none (a key or a file left empty).
    if (m.catalog.isEmpty()) return std::nullopt;
    return m;
}

bool WriteInstallMark(const InstallMark& m) {
    platform::MarkValues values;
    const auto add = [&](const QString& name, const QString& value) {
        values.emplace_back(platform::ToU16(name), platform::ToU16(value));
    };
    add(kPackageDate, m.packageDate);
    add(kRelease, m.release);
    add(kLanguage, m.language);
    add(kCatalog, m.catalog);
    add(kGroups, m.groups.join(u','));
    add(kState, m.state);
    return platform::WriteInstallMark(values);
}

bool RemoveInstallMark() { return platform::RemoveInstallMark(); }

QStringList MarkLines(const InstallMark& m) {
    return {kPackageDate + QStringLiteral(": ") + m.packageDate,
            kRelease + QStringLiteral(": ") + m.release,
            kLanguage + QStringLiteral(": ") + m.language,
            kCatalog + QStringLiteral(": ") + m.catalog,
            kGroups + QStringLiteral(": ") + m.groups.join(u',')};
}

QString PackageDate(const QString& exeDir) {
    const QString released =
        IniFile(exeDir + QStringLiteral("data\\status_up.ini"))
            .ReadString(QStringLiteral("Update"), QStringLiteral("date_global"));
    if (!released.isEmpty()) return released;
    const QFileInfo db(fs::Native(exeDir + catalog::kInstallDb));
    return db.exists() ? db.lastModified().date().toString(QStringLiteral("dd.MM.yyyy"))
                       : QString();
}

}  // namespace deploy
