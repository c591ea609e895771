#include "deploy/InPlace.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "deploy/CommandReport.h"
#include "deploy/CopyBatch.h"
#include "deploy/InstallMark.h"
#include "deploy/Menu.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"
#include "state/Releases.h"

namespace deploy {

namespace {

qint64 Count(catalog::DbConnection& c, const QString& sql, const catalog::Params& params = {}) {
    const catalog::FirstRow r = c.OpenQuery(sql, params);
    return r.values.isEmpty() ? -1 : r.values.first().toLongLong();
}

// The maker's rows of each table are those of the install database: as many, and each install
// row's CATALOG among them. `found` gets the rows counted.
bool RowsInPlace(catalog::CatalogDb& db, const QStringList& codes,
                 QList<catalog::TableChange>& found) {
    QStringList tables;
    for (const QString& c : codes)
        if (!tables.contains(c, Qt::CaseInsensitive)) tables << c;
    tables << catalog::kPinList;
    const catalog::Params maker{{QStringLiteral("kz"), catalog::kMaker}};
    for (const QString& t : tables) {
        const QString table = QStringLiteral("[") + t + QStringLiteral("]");
        const qint64 shipped =
            Count(db.ADOConnection1(), QStringLiteral("select count(*) from ") + table);
        const qint64 present = catalog::MakerRowCount(db, t);
        if (shipped < 0 || present != shipped) return false;
        const qint64 matched = Count(
            db.ADOConnection2(),
            QStringLiteral("select count(*) from %1 in '%2' where [CATALOG] in (select [CATALOG] "
                           "from %1 where manufacturer=:kz)")
                .arg(table, catalog::kInstallDb),
            maker);
        if (matched != shipped) return false;
        found << catalog::TableChange{t, 0, present};
    }
    return true;
}

// Every file of `source` lies in `folder` with the same content, and no temporary file of a
// killed copy is left there.
bool FilesInPlace(const QString& source, const QString& folder, FolderReport& report) {
    if (folder.isEmpty() || !fs::FolderExists(folder)) return false;
    for (const fs::Entry& e : fs::List(folder))
        if (e.name.endsWith(fs::kPartSuffix)) return false;
    for (const fs::Entry& e : fs::List(source)) {
        if (e.isFolder) continue;
        const QString from = source + QLatin1Char('\\') + e.name, to = folder + e.name;
        if (!fs::FileExists(to) ||
            QFileInfo(fs::Native(to)).size() != QFileInfo(fs::Native(from)).size() ||
            fs::ReadAll(to) != fs::ReadAll(from))
            return false;
        ++report.skipped;
    }
    return true;
}

// The image folders Install makes (of both languages) exist, where their support folder does.
bool ImageFoldersInPlace(const AppState& st) {
    for (const char* language : {"enu", "rus"}) {
        QString support =
            state::SupportFolder(st.userprofile, st.year, st.ver, QLatin1String(language));
        support.chop(1);
        if (fs::FolderExists(support) && !fs::FolderExists(support + QStringLiteral("\\Images")))
            return false;
    }
    return true;
}

void AddState(QCryptographicHash& hash, const QString& path) {
    const auto state = platform::FileSizeAndTime(platform::ToU16(path));
    const std::int64_t values[2] = {state ? state->first : -1, state ? state->second : 0};
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(path.utf16()), path.size() * 2));
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(values), sizeof values));
}

}  // namespace

QString InstalledState(const AppState& st, const CopyPlaces& places, const QString& catalogFile,
                       const QString& avocadmenu) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    AddState(hash, catalogFile);
    AddState(hash, places.tool + u'\\' + catalog::kInstallDb);
    for (const auto& [source, folder] : {std::pair{places.ImagesSource(), places.images},
                                         std::pair{places.LibrarySource(), places.library}})
        for (const fs::Entry& e : fs::List(source)) {
            if (e.isFolder) continue;
            AddState(hash, source + QLatin1Char('\\') + e.name);
            AddState(hash, folder + e.name);
        }
    AddState(hash, places.tool + QStringLiteral("\\data\\menu.txt"));
    AddState(hash, BlockCopyFile(st.userDir, places.tool));
    for (const QString& menu : MenuFilesEdited(avocadmenu, st.path_support)) AddState(hash, menu);
    return QString::fromLatin1(hash.result().toHex());
}

bool DataFilesInPlace(const CopyPlaces& places) {
    FolderReport images, library;
    try {
        return FilesInPlace(places.ImagesSource(), places.images, images) &&
               FilesInPlace(places.LibrarySource(), places.library, library);
    } catch (const AppError&) {
        return false;
    }
}

bool MarkCovers(const std::optional<InstallMark>& mark, const QString& catalogFile,
                const QString& state, const QStringList& codes) {
    bool covers = mark && mark->catalog == catalogFile && mark->state == state;
    for (const QString& code : codes)
        covers = covers && mark->groups.contains(code, Qt::CaseInsensitive);
    return covers;
}

bool NothingToInstall(Context& ctx, const QStringList& groups, const CopyPlaces& places,
                      const std::optional<InstallMark>& mark, CommandReport& found,
                      QString& state) {
    AppState& st = ctx.st;
    catalog::CatalogDb& db = ctx.db;
    try {
        if (!catalog::MissingCatalogTables(db).isEmpty()) return false;
        catalog::FamilyLookup(db, st, groups);
        catalog::CheckFamilyCodes(st.socr);
        found.codes = st.socr;
        const QString catalogFile = db.CatalogFile();
        // (without a mark the files' state is worked out only once all else is in place)
        if (mark) state = InstalledState(st, places, catalogFile, st.avocadmenu);
        if (mark && MarkCovers(mark, catalogFile, state, found.codes)) {
            // As the last Install (or the last look) left them: only what a killed run or
            // someone else may have added beside them is looked for.
            for (const QString& folder : {places.images, places.library})
                for (const fs::Entry& e : fs::List(folder))
                    if (e.name.endsWith(fs::kPartSuffix)) return false;
            for (const QString& m : MenuFilesEdited(st.avocadmenu, st.path_support))
                found.menus << MenuFileLines{m};
            return ImageFoldersInPlace(st);
        }
        if (!RowsInPlace(db, found.codes, found.rows)) return false;

        FolderReport images{places.images}, library{places.library};
        if (!FilesInPlace(places.ImagesSource(), places.images, images) ||
            !FilesInPlace(places.LibrarySource(), places.library, library) ||
            !ImageFoldersInPlace(st))
            return false;
        found.folders = {images, library};

        QStringList menus;
        if (!MakerMenuInPlace(st.avocadmenu, st.path_support, places.tool, st.userDir, &menus))
            return false;
        for (const QString& m : menus) found.menus << MenuFileLines{m};
        if (state.isEmpty()) state = InstalledState(st, places, catalogFile, st.avocadmenu);
        return true;
    } catch (const AppError&) {
        // Whatever cannot be looked at is for Install itself to meet and report.
        return false;
    }
}

}  // namespace deploy
