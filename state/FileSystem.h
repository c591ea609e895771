#pragma once

// The file-system boundary. Paths are built inside the tool with backslashes, the way the
// user's Windows system writes them; every function here maps them to the native form first.
// Relative paths are resolved against the process's current directory.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

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

bool CreateFolder(const QString& path);                      // the last level only
bool CopyNoReplace(const QString& from, const QString& to);  // never replaces a file
bool DeleteFile(const QString& path);
bool MoveFile(const QString& from, const QString& to);     // fails if `to` exists
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
    explicit AtomicFile(const QString& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Refuses a folder, a read-only file and a folder that takes no new file.
    bool Open();
    bool Write(const char* data, qint64 size);
    // What has been written so far, flushed and positioned at its start, for reading back
    // before Finish; null when that fails.
    QFileDevice* Written();
    bool Commit();  // Finish, then Replace
    // The two halves of Commit, for a caller that replaces several files only once all of
    // them are on the disk: Finish checks the flush and the sync and closes the temporary
    // file; Replace puts it in the file's place.
    bool Finish();
    bool Replace();
    // The system's reason for the last failure ("Access is denied" when it gave none).
    QString ErrorString() const { return error_; }

  private:
    bool Fail(QString reason);

    QString target_;
    std::unique_ptr<QTemporaryFile> tmp_;
    QString error_;
};

// Writes a whole file through a temporary file beside it that then replaces it in one step.
// The write, the flush and the sync to disk are all checked before the replacement, so a
// failure (a full disk, a read-only folder) leaves the old file exactly as it was. Throws
// AppError with `errorFormat` ("Cannot create file \"%s\". %s" by default), the full path and
// the system's reason.
void WriteAtomic(const QString& path, const QByteArray& bytes,
                 const QString& errorFormat = QStringLiteral("Cannot create file \"%1\". %2"));

// Copies a whole file the same way: `to` is replaced in one step or left as it was.
void CopyAtomic(const QString& from, const QString& to,
                const QString& errorFormat = QStringLiteral("Cannot create file \"%1\". %2"));

// The full path as the user sees it (absolute, with the tool's separators).
QString FullPath(const QString& path);

}  // namespace fs
