#pragma once

// The file-system boundary. Paths are built inside the tool with backslashes, the way the
// user's Windows system writes them; every function here maps them to the native form first.
// Relative paths are resolved against the process's current directory.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QFileDevice;
class QTemporaryFile;

namespace fs {

QString Native(const QString& path);  // backslashes -> native separators

bool FileExists(const QString& path);    // an existing file (not a folder)
bool FolderExists(const QString& path);  // an existing folder

// Entries of a folder in listing order: every name, hidden and system entries included,
// "." and ".." left out. Where the file system gives no order (everywhere but NTFS) the names
// come in ascending order compared without regard to letter case, as NTFS lists them.
struct Entry {
    QString name;
    bool isFolder;
};
QList<Entry> List(const QString& folder);
QStringList ListFolders(const QString& folder);
QStringList ListFiles(const QString& folder);

QString CurrentDir();
bool SetCurrentDir(const QString& path);  // an empty path fails quietly

bool CreateFolder(const QString& path);  // the last level only
bool DeleteFile(const QString& path);
// Deletes a file the tool made (a temporary copy, a leftover of a killed run, a maker's file it
// copied), read-only or not: a copy of a read-only source may have been left read-only by an
// earlier version of the tool, or made so since.
bool DeleteOwnFile(const QString& path);
bool ReplaceFile(const QString& from, const QString& to);  // atomic where possible
bool SyncFile(const QString& path);  // pushes the file's content onto the disk

// Reads a whole file; throws AppError "Cannot open file \"%s\". %s" on failure.
QByteArray ReadAll(const QString& path);
// A file written anew through a temporary file beside it, which takes the file's place in one
// step only when Commit() succeeds: the writes, the flush and the sync to disk are all checked
// first. Until then, and after any failure, the file is as it was; an uncommitted temporary
// file goes with the object (so a caller can still look at the disk it filled). Each step
// returns false on failure, ErrorString() says why.
class AtomicFile {
  public:
    // `marker` ends the temporary file's name (after a random part), for a caller that
    // recognises the temporaries a killed run left.
    explicit AtomicFile(const QString& path, const QString& marker = {});
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Refuses a folder, a read-only file and a folder that takes no new file.
    bool Open();
    bool Write(const char* data, qint64 size);
    // For a large file: lets what is written so far go onto the disk while the writing goes
    // on, keeping about `window` bytes of it in memory.
    void WriteBehind(qint64 window);
    // What has been written so far, flushed and positioned at its start, for reading back
    // before Finish; null when that fails.
    QFileDevice* Written();
    bool Commit();  // Finish, then Replace
    // The two halves of Commit, for a caller that replaces several files only once all of
    // them are on the disk: Finish checks the flush and the sync and closes the temporary
    // file; Replace puts it in the file's place.
    // Without `sync` the temporary file is only flushed, for a caller that syncs it with
    // others (see TemporaryPath).
    bool Finish(bool sync = true);
    bool Replace();
    // The temporary file's path once Finish has run.
    const QString& TemporaryPath() const { return temporary_; }
    // The system's reason for the last failure ("Access is denied" when it gave none).
    QString ErrorString() const { return error_; }

  private:
    bool Fail(QString reason);

    QString target_;
    QString marker_;
    std::unique_ptr<QTemporaryFile> tmp_;
    QString temporary_;
    QString error_;
};

// Writes a whole file through a temporary file beside it that then replaces it in one step.
// The write, the flush and the sync to disk are all checked before the replacement, so a
// failure (a full disk, a read-only folder) leaves the old file exactly as it was. Throws
// AppError with `errorFormat` ("Cannot create file \"%s\". %s" by default), the full path and
// the system's reason.
void WriteAtomic(const QString& path, const QByteArray& bytes,
                 const QString& errorFormat = QStringLiteral("Cannot create file \"%1\". %2"));
// Writes several whole files as WriteAtomic writes one, at one sync point: every one is
// written and on the disk beside its file before the first replaces its file; they replace
// their files in the order given. A failure before the replacements leaves every file as it
// was; the files replaced before a failing replacement stay replaced.
void WriteAtomicTogether(
    const QList<std::pair<QString, QByteArray>>& files,
    const QString& errorFormat = QStringLiteral("Cannot create file \"%1\". %2"));
class FileBatch;

// The same in its three steps, for a caller that writes the files ahead of the moment they may
// replace theirs: the constructor writes each beside its file under a temporary name ending in
// kPartSuffix (flushed, not synced; those a killed run left for the same files go first),
// raising as WriteAtomicTogether does and leaving nothing; Sync() is the sync point; Replace()
// replaces the files in order. Temporaries not yet in place go with the object.
class StagedFiles {
  public:
    explicit StagedFiles(
        const QList<std::pair<QString, QByteArray>>& files,
        const QString& errorFormat = QStringLiteral("Cannot create file \"%1\". %2"));
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;
    void Sync();
    // Sync() at the sync point of a batch of copies (FileBatch::Flush).
    void SyncWith(FileBatch& batch);
    void Replace();

  private:
    QStringList Temporaries() const;
    void Synced(bool ok) const;

    std::vector<std::unique_ptr<AtomicFile>> written_;
    QStringList paths_;
    QString errorFormat_;
};

// Copies a whole file the same way, through a buffer of fixed size: `to` is replaced in one
// step or left as it was. `progress` is told the bytes copied so far and the file's size.
void CopyAtomic(const QString& from, const QString& to,
                const QString& errorFormat = QStringLiteral("Cannot create file \"%1\". %2"),
                const std::function<void(qint64 done, qint64 total)>& progress = {});

// The full path as the user sees it (absolute, with the tool's separators).
QString FullPath(const QString& path);

// Pushes onto the disk what was written in `folder`'s file system: the contents of its files
// and its entries (new, moved and deleted names), in one call. False where the system has no
// such call (Windows: there the tool flushes each file it writes as it writes it).
bool SyncFolder(const QString& folder);
// SyncFolder once for each file system that holds one of the folders (missing ones skipped).
void SyncFolders(const QStringList& folders);

// The ending of a file that a FileBatch is still writing; one left by a killed run is removed by
// RemoveLeftovers.
inline const QString kPartSuffix = QStringLiteral(".zelk-part");
// Deletes from `folder` (not its subfolders) the files a FileBatch of a killed run left, read-only
// ones too; the entries of the folder besides them.
QList<Entry> RemoveLeftovers(const QString& folder);
// Deletes the temporaries that StagedFiles of a killed run left for the file `path`.
void RemoveStagedLeftovers(const QString& path);

// New files copied under temporary names beside their targets and put in place together:
// Commit() pushes every one onto the disk at one sync point (one call for each file system),
// moves each to its name without replacing a file that is there by then, and syncs the file
// systems again. A kill at any moment leaves each target absent or whole; the temporaries of
// an uncommitted batch go with it. A copy is writable whatever its source's attributes: a
// read-only source (an unpacked archive, a copy from a CD) makes an ordinary file.
class FileBatch {
  public:
    FileBatch() = default;
    ~FileBatch();
    FileBatch(const FileBatch&) = delete;
    FileBatch& operator=(const FileBatch&) = delete;

    // Writes the copy of `from` meant for `to`; false when it cannot (nothing is left then).
    bool Copy(const QString& from, const QString& to);
    // The sync point alone: every copy made so far is on the disk, none has its name yet (for
    // a caller that has other work to finish before the copies may take their names), and so
    // are the files `with`; false when a sync failed.
    bool Flush(const QStringList& with = {});
    // Flushes unless nothing was copied since Flush(), then moves each copy to its name; the
    // targets that could not be put in place (their temporaries are removed). The new names
    // reach the disk too; `syncFileSystems` false leaves the one call per file system that does
    // it to a caller that makes it right after (SyncFolders).
    QStringList Commit(bool syncFileSystems = true);
    // Deletes the files the last Commit() put in place (new names, so the folders are as they
    // were before the batch), read-only ones too; the ones it could not delete.
    QStringList TakeBack();

  private:
    struct Item {
        QString part, target, given;  // `given`: the target as the caller named it
    };
    QList<Item> items_;
    QList<Item> placed_;  // by the last Commit()
    bool flushed_ = false;
    QStringList folders_, roots_;  // of the last Flush: the folders, and the file systems synced
    bool fileByFile_ = false;      // whether it flushed the files themselves
};

}  // namespace fs
