#include "deploy/CopyBatch.h"

#include <QSet>

#include "core/AppError.h"

namespace deploy {

namespace {

// Copies the files (not the folders) of the data folder `from` into `to` through `batch`; an
// existing file is never replaced. A missing data folder and every copy that failed are added
// to `shortfall`. Temporary files that a killed run left in `to` go first.
FolderReport CopyFiles(const QString& from, const QString& to, fs::FileBatch& batch,
                       QStringList& shortfall) {
    FolderReport report{to};
    if (!fs::FolderExists(from)) {
        shortfall << QStringLiteral("папка \"%1\" не найдена, файлы из неё не скопированы")
                         .arg(fs::FullPath(from));
        return report;
    }
    // The names the target folder holds, listed once: a name it lacks in every letter case is
    // free, one it has is looked at as it stands.
    QSet<QString> present;
    for (const fs::Entry& e : fs::RemoveLeftovers(to)) present.insert(e.name.toCaseFolded());
    QStringList failed;
    for (const fs::Entry& e : fs::List(from)) {
        if (e.isFolder) continue;
        const QString dst = to + e.name;
        if (present.contains(e.name.toCaseFolded()) &&
            (fs::FileExists(dst) || fs::FolderExists(dst))) {
            ++report.skipped;
        } else if (batch.Copy(from + QLatin1Char('\\') + e.name, dst)) {
            ++report.copied;
        } else {
            failed << e.name;
        }
    }
    report.failed = int(failed.size());
    if (!failed.isEmpty())
        shortfall << QStringLiteral("не скопированы из папки \"%1\" в папку \"%2\" файлы (%3): %4")
                         .arg(fs::FullPath(from), fs::FullPath(to))
                         .arg(failed.size())
                         .arg(Names(failed));
    return report;
}

// No library folder for the version (one that is no release year from 2016 on, with no project
// template naming a library): the maker's symbol files have nowhere to go, which the closing
// message says, naming the version.
void ReportUnknownLibrary(const QString& from, const QString& year, QStringList& shortfall) {
    if (!fs::FolderExists(from)) {
        shortfall << QStringLiteral("папка \"%1\" не найдена, файлы из неё не скопированы")
                         .arg(fs::FullPath(from));
        return;
    }
    const QStringList files = fs::ListFiles(from);
    if (files.isEmpty()) return;
    const QString why = year.isEmpty()
                            ? QStringLiteral(
                                  "версия AutoCAD Electrical не выбрана, поэтому не известна папка "
                                  "библиотеки символов")
                            : QStringLiteral(
                                  "не известна папка библиотеки символов AutoCAD Electrical версии "
                                  "\"%1\" (известны папки версий 2016 и новее)")
                                  .arg(year);
    shortfall << QStringLiteral("%1; не скопированы файлы из папки \"%2\" (%3): %4")
                     .arg(why, fs::FullPath(from))
                     .arg(files.size())
                     .arg(Names(files));
}

}  // namespace

CopyBatch::CopyBatch(CopyPlaces places, fs::StagedFiles* with) : places_(std::move(places)) {
    worker_.emplace([this, with] { Make(with); });
}

CopyBatch::~CopyBatch() { worker_.reset(); }

void CopyBatch::Make(fs::StagedFiles* with) {
    folders_ << CopyFiles(places_.ImagesSource(), places_.images, batch_, shortfall_);
    const QString library = places_.LibrarySource();
    if (places_.library.isEmpty())
        ReportUnknownLibrary(library, places_.year, shortfall_);
    else
        folders_ << CopyFiles(library, places_.library, batch_, shortfall_);
    if (with)
        with->SyncWith(batch_);  // one sync point for the copies and the menu files
    else if (!batch_.Flush())
        throw AppError(QStringLiteral("Не удалось записать на диск скопированные файлы ЗЕЛК"));
}

void CopyBatch::Place() {
    const QStringList unplaced = batch_.Commit(false);
    if (unplaced.isEmpty()) return;
    for (const QString& target : unplaced)
        for (FolderReport& f : folders_)
            if (fs::Native(target).startsWith(fs::Native(f.folder))) {
                --f.copied;
                ++f.failed;
            }
    shortfall_ << QStringLiteral("не удалось поместить на место скопированные файлы (%1): %2")
                      .arg(unplaced.size())
                      .arg(Names(unplaced));
}

void CopyBatch::PlaceAside() {
    worker_->Get();  // the copies are made and on the disk
    worker_.emplace([this] { Place(); });
}

void CopyBatch::Finish() {
    if (worker_) worker_->Get();
    worker_.reset();
}

QString CopyBatch::TakeBack() {
    try {
        Finish();
    } catch (const AppError&) {
        // (a sync that failed placed nothing)
    }
    const QStringList kept = batch_.TakeBack();
    if (kept.isEmpty()) return {};
    return QStringLiteral("Не удалось убрать файлы, скопированные для этой установки (%1): %2.")
        .arg(kept.size())
        .arg(Names(kept));
}

}  // namespace deploy
