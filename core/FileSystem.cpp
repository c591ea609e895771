#include "core/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/AppError.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace fs {

QString Native(const QString& path) {
    return platform::FromU16(platform::NativePath(platform::ToU16(path)));
}

bool FileExists(const QString& path) {
    if (path.isEmpty()) return false;
    QFileInfo fi(Native(path));
    return fi.exists() && !fi.isDir();
}

bool FolderExists(const QString& path) {
    if (path.isEmpty()) return false;
    return QFileInfo(Native(path)).isDir();
}

QList<Entry> List(const QString& folder) {
    QList<Entry> out;
    if (folder.isEmpty()) return out;
    // By name, letter case aside (and by case where only that differs).
    std::vector<std::pair<QString, Entry>> sorted;  // with the name in one letter case
    for (platform::FolderEntry& e : platform::ListFolder(platform::ToU16(Native(folder)))) {
        QString name = platform::FromU16(e.name);
        sorted.push_back({name.toCaseFolded(), Entry{std::move(name), e.isFolder}});
    }
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
    });
    out.reserve(qsizetype(sorted.size()));
    for (auto& [key, e] : sorted) out.append(std::move(e));
    return out;
}

QStringList ListFolders(const QString& folder) {
    QStringList out;
    for (const Entry& e : List(folder))
        if (e.isFolder) out << e.name;
    return out;
}

QStringList ListFiles(const QString& folder) {
    QStringList out;
    for (const Entry& e : List(folder))
        if (!e.isFolder) out << e.name;
    return out;
}

QString CurrentDir() { return QDir::currentPath(); }

bool SetCurrentDir(const QString& path) {
    if (path.isEmpty()) return false;
    return QDir::setCurrent(Native(path));
}

bool CreateFolder(const QString& path) {
    if (path.isEmpty()) return false;
    QFileInfo fi(Native(path));
    return QDir(fi.absolutePath()).mkdir(fi.fileName());
}

bool DeleteFile(const QString& path) {
    const QString p = Native(path);
    if (QFileInfo(p).isDir()) return false;
    return QFile::remove(p);
}

bool ReplaceFile(const QString& from, const QString& to) {
    return platform::MoveReplacing(platform::ToU16(Native(from)), platform::ToU16(Native(to)))
        .empty();
}

QString FullPath(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(Native(path)).absoluteFilePath());
}

QByteArray ReadAll(const QString& path) {
    QFile f(Native(path));
    if (path.isEmpty() || QFileInfo(f.fileName()).isDir() || !f.open(QIODevice::ReadOnly)) {
        QString reason = path.isEmpty()
                             ? QStringLiteral("The system cannot find the path specified")
                             : f.errorString();
        if (QFileInfo(f.fileName()).isDir()) reason = QStringLiteral("Access is denied");
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(FullPath(path), reason));
    }
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw AppError(
            QStringLiteral("Cannot open file \"%1\". %2").arg(FullPath(path), f.errorString()));
    return data;
}

bool DeleteOwnFile(const QString& path) {
    return platform::DeleteOwnFile(platform::ToU16(Native(path))).empty();
}

namespace {

// Pushes what the system still holds of an open file onto the disk.
bool SyncToDisk(QFile& f) {
    return f.flush() && platform::SyncFile(f.handle(), platform::ToU16(f.fileName()));
}

QString ErrorText(const QString& errorFormat, const QString& path, const QString& reason) {
    QString msg = errorFormat;
    msg.replace(QLatin1String("%1"), FullPath(path));
    msg.replace(QLatin1String("%2"), reason);
    return msg;
}

}  // namespace

bool SyncFile(const QString& path) {
    QFile f(Native(path));
    return f.open(QIODevice::ReadWrite) && SyncToDisk(f);
}

AtomicFile::AtomicFile(const QString& path, const QString& marker)
    : target_(Native(path)), marker_(marker) {}

AtomicFile::~AtomicFile() = default;  // an uncommitted temporary file removes itself

bool AtomicFile::Fail(QString reason) {
    if (reason.isEmpty() && tmp_) reason = tmp_->errorString();
    if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
        reason = QString::fromLocal8Bit(std::strerror(errno));
    error_ = reason.isEmpty() ? QStringLiteral("Access is denied") : reason;
    return false;
}

bool AtomicFile::Open() {
    const QFileInfo info(target_);
    if (target_.isEmpty() || info.isDir() || (info.exists() && !info.isWritable())) {
        error_ = QStringLiteral("Access is denied");
        return false;
    }
    tmp_ = std::make_unique<QTemporaryFile>(target_ + QStringLiteral(".XXXXXX") + marker_);
    tmp_->setAutoRemove(true);
    return tmp_->open() || Fail({});
}

bool AtomicFile::Write(const char* data, qint64 size) {
    // (a small write only reaches the file at the flush, and a full disk may only show at the
    // sync: Commit checks both)
    return (tmp_ && tmp_->write(data, size) == size) || Fail({});
}

void AtomicFile::WriteBehind(qint64 window) {
    if (tmp_ && tmp_->flush()) platform::WriteBehind(tmp_->handle(), tmp_->pos(), window);
}

QFileDevice* AtomicFile::Written() {
    if (!tmp_ || !tmp_->flush() || !tmp_->seek(0)) {
        Fail({});
        return nullptr;
    }
    return tmp_.get();
}

bool AtomicFile::Commit() { return Finish() && Replace(); }

bool AtomicFile::Finish(bool sync) {
    if (!tmp_) return Fail({});
    temporary_ = tmp_->fileName();  // (a file the system made without a name gets one here)
    if (sync ? !SyncToDisk(*tmp_) : !tmp_->flush()) return Fail({});
    tmp_->close();
    if (tmp_->error() != QFileDevice::NoError) return Fail({});
    return true;
}

bool AtomicFile::Replace() {
    if (!tmp_ || tmp_->isOpen()) return Fail({});
    // A file the tool replaces keeps its permissions; a new one gets the usual ones.
    QFile::setPermissions(tmp_->fileName(), QFileInfo::exists(target_)
                                                ? QFile::permissions(target_)
                                                : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ReadGroup |
                                                      QFileDevice::ReadOther);
    const QString written = tmp_->fileName();
    tmp_->setAutoRemove(false);
    // A closed temporary file keeps its handle until the object is gone, and Windows moves no
    // open file: the replacement comes after.
    tmp_.reset();
    const std::u16string refused =
        platform::MoveReplacing(platform::ToU16(written), platform::ToU16(target_));
    if (refused.empty()) return true;
    QFile::remove(written);
    return Fail(platform::FromU16(refused));
}

void WriteAtomic(const QString& path, const QByteArray& bytes, const QString& errorFormat) {
    AtomicFile f(path);
    if (!f.Open() || !f.Write(bytes.constData(), bytes.size()) || !f.Commit())
        throw AppError(ErrorText(errorFormat, path, f.ErrorString()));
}

namespace {

// What tells the file system that holds `folder` from others: its device (or volume), looked
// up with one call; the root of its mount where that cannot be had.
QString RootOf(const QString& folder) {
    const QString native = Native(folder);
    if (const auto id = platform::FileIdentity(platform::ToU16(native)))
        return QString::number(id->first);
    return QStorageInfo(native).rootPath();
}

// What SyncTogether did: the folders of the files, the roots of the file systems it synced
// whole, whether it flushed files themselves, and whether all of it succeeded.
struct Synced {
    QStringList folders, roots;
    bool byFile = false;
    bool ok = true;
};

// Puts written files onto the disk at one sync point: one call for each file system that
// holds them, or, where no such call is offered, the files themselves together.
Synced SyncTogether(const QStringList& files) {
    Synced s;
    QHash<QString, bool> whole;  // folder: its file system was synced whole
    QStringList refused;         // roots of file systems that could not be
    std::vector<std::u16string> unsynced;
    QString lastPart;  // the folder as the last file's path names it, and what was found for it
    bool lastWhole = false;
    for (const QString& file : files) {
        // (files of one folder come one after another: its name is worked out once)
        const QStringView part =
            QStringView(file).left(std::max(file.lastIndexOf(u'/'), file.lastIndexOf(u'\\')) + 1);
        if (!lastPart.isEmpty() && part == lastPart) {
            if (!lastWhole) unsynced.push_back(platform::ToU16(file));
            continue;
        }
        lastPart = part.toString();
        const QString folder = QFileInfo(file).absolutePath();
        auto it = whole.constFind(folder);
        if (it == whole.constEnd()) {
            s.folders << folder;
            const QString root = RootOf(folder);
            bool synced = s.roots.contains(root);
            if (!synced && !refused.contains(root)) {
                synced = platform::SyncFileSystem(platform::ToU16(folder));
                (synced ? s.roots : refused) << root;
            }
            it = whole.insert(folder, synced);
        }
        lastWhole = *it;
        if (!*it) unsynced.push_back(platform::ToU16(file));
    }
    s.byFile = !unsynced.empty();
    s.ok = unsynced.empty() || platform::SyncFilesTogether(unsynced);
    return s;
}

}  // namespace

StagedFiles::StagedFiles(const QList<std::pair<QString, QByteArray>>& files,
                         const QString& errorFormat)
    : errorFormat_(errorFormat) {
    for (const auto& [path, bytes] : files) RemoveStagedLeftovers(path);
    for (const auto& [path, bytes] : files) {
        auto f = std::make_unique<AtomicFile>(path, kPartSuffix);
        if (!f->Open() || !f->Write(bytes.constData(), bytes.size()) || !f->Finish(false))
            throw AppError(ErrorText(errorFormat, path, f->ErrorString()));
        written_.push_back(std::move(f));
        paths_ << path;
    }
}

StagedFiles::~StagedFiles() = default;

QStringList StagedFiles::Temporaries() const {
    QStringList temporaries;
    for (const auto& f : written_) temporaries << f->TemporaryPath();
    return temporaries;
}

// A failure to sync is a failure to write: nothing is replaced.
void StagedFiles::Synced(bool ok) const {
    if (!ok && !paths_.isEmpty())
        throw AppError(
            ErrorText(errorFormat_, paths_.first(), QString::fromLocal8Bit(std::strerror(EIO))));
}

void StagedFiles::Sync() { Synced(paths_.isEmpty() || SyncTogether(Temporaries()).ok); }

void StagedFiles::SyncWith(FileBatch& batch) { Synced(batch.Flush(Temporaries())); }

void StagedFiles::Replace() {
    for (qsizetype i = 0; i < paths_.size(); ++i)
        if (!written_[size_t(i)]->Replace())
            throw AppError(ErrorText(errorFormat_, paths_[i], written_[size_t(i)]->ErrorString()));
}

void WriteAtomicTogether(const QList<std::pair<QString, QByteArray>>& files,
                         const QString& errorFormat) {
    StagedFiles staged(files, errorFormat);
    staged.Sync();  // the one sync point
    staged.Replace();
}

void CopyAtomic(const QString& from, const QString& to, const QString& errorFormat,
                const std::function<void(qint64 done, qint64 total)>& progress) {
    QFile in(Native(from));
    if (from.isEmpty() || QFileInfo(in.fileName()).isDir() || !in.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2")
                           .arg(FullPath(from), from.isEmpty() || QFileInfo(in.fileName()).isDir()
                                                    ? QStringLiteral("Access is denied")
                                                    : in.errorString()));
    AtomicFile out(to);
    if (!out.Open()) throw AppError(ErrorText(errorFormat, to, out.ErrorString()));
    // Through one buffer of fixed size: a catalog near its 2 GB limit is copied by a 32-bit
    // process as easily as a small one.
    constexpr qint64 kChunk = 1 << 20;
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        const qint64 n = in.read(buffer.get(), kChunk);
        if (n < 0)
            throw AppError(QStringLiteral("Cannot open file \"%1\". %2")
                               .arg(FullPath(from), in.errorString()));
        if (n == 0) break;
        if (!out.Write(buffer.get(), n))
            throw AppError(ErrorText(errorFormat, to, out.ErrorString()));
        // The disk takes the copy as it is made, and the file cache keeps little of it.
        out.WriteBehind(8 * kChunk);
        if (progress) progress(in.pos(), in.size());
    }
    if (!out.Commit()) throw AppError(ErrorText(errorFormat, to, out.ErrorString()));
}

bool SyncFolder(const QString& folder) {
    return platform::SyncFileSystem(platform::ToU16(Native(folder)));
}

void SyncFolders(const QStringList& folders) {
    QStringList roots;
    for (const QString& f : folders) {
        if (f.isEmpty() || !FolderExists(f)) continue;
        const QString root = RootOf(f);
        if (roots.contains(root)) continue;
        roots << root;
        SyncFolder(f);
    }
}

QList<Entry> RemoveLeftovers(const QString& folder) {
    QList<Entry> rest;
    for (const Entry& e : List(folder)) {
        if (!e.isFolder && e.name.endsWith(kPartSuffix))
            DeleteOwnFile(folder + QLatin1Char('\\') + e.name);
        else
            rest << e;
    }
    return rest;
}

void RemoveStagedLeftovers(const QString& path) {
    // "<name>.XXXXXX.zelk-part": the file's name, the random part of its temporary, the marker.
    const QFileInfo file(Native(path));
    const QString head = file.fileName() + QLatin1Char('.');
    for (const QString& name : ListFiles(file.absolutePath()))
        if (name.size() == head.size() + 6 + kPartSuffix.size() &&
            name.startsWith(head, Qt::CaseInsensitive) && name.endsWith(kPartSuffix))
            DeleteOwnFile(file.absolutePath() + QLatin1Char('\\') + name);
}

FileBatch::~FileBatch() {
    for (const Item& i : items_) DeleteOwnFile(i.part);
}

bool FileBatch::Copy(const QString& from, const QString& to) {
    const QString target = Native(to), part = target + kPartSuffix;
    const std::u16string source = platform::ToU16(Native(from)), temporary = platform::ToU16(part);
    // A temporary left by a killed run goes first.
    if (!platform::CopyToNew(source, temporary).empty() &&
        (!QFileInfo::exists(part) || !DeleteOwnFile(part) ||
         !platform::CopyToNew(source, temporary).empty()))
        return false;
    items_.append({part, target, to});
    flushed_ = false;
    return true;
}

bool FileBatch::Flush(const QStringList& with) {
    // The one sync point: every copy is on the disk before any takes its name.
    QStringList parts = with;
    for (const Item& i : items_) parts << i.part;
    const Synced s = SyncTogether(parts);
    folders_ = s.folders;
    roots_ = s.roots;
    fileByFile_ = s.byFile;
    flushed_ = true;
    return s.ok;
}

QStringList FileBatch::Commit(bool syncFileSystems) {
    if (!flushed_) Flush();
    QStringList failed;
    std::u16string lastPlaced;
    placed_.clear();
    for (const Item& i : items_) {
        // A file that appeared meanwhile is not replaced: the move refuses an existing name.
        const std::u16string target = platform::ToU16(i.target);
        if (!platform::MoveToNew(platform::ToU16(i.part), target).empty()) {
            DeleteOwnFile(i.part);
            failed << i.given;
        } else {
            lastPlaced = target;
            placed_ << i;
        }
    }
    items_.clear();
    // The new names reach the disk too, whatever the caller does next. Where no call syncs a
    // file system, the last file placed is flushed: a file system that logs its changes in
    // order (NTFS) then has every name given before it on the disk.
    for (const QString& f : folders_)
        if (syncFileSystems && !roots_.isEmpty() && roots_.removeOne(RootOf(f)))
            platform::SyncFileSystem(platform::ToU16(f));
    if (fileByFile_ && !lastPlaced.empty()) platform::SyncFilesTogether({lastPlaced});
    flushed_ = false;
    return failed;
}

QStringList FileBatch::TakeBack() {
    QStringList kept;
    for (const Item& i : placed_)
        if (!DeleteOwnFile(i.target)) kept << i.given;
    placed_.clear();
    return kept;
}

}  // namespace fs
