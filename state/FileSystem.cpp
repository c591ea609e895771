#include "state/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/qt_bridge.h"
#include "state/AppError.h"

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
    QDir dir(Native(folder));
    if (!dir.exists()) return out;
    const QFileInfoList infos =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& fi : infos) out.append(Entry{fi.fileName(), fi.isDir()});
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

bool CopyNoReplace(const QString& from, const QString& to) {
    const QString dst = Native(to);
    if (QFileInfo::exists(dst)) return false;
    return QFile::copy(Native(from), dst);
}

bool DeleteFile(const QString& path) {
    const QString p = Native(path);
    if (QFileInfo(p).isDir()) return false;
    return QFile::remove(p);
}

bool MoveFile(const QString& from, const QString& to) {
    const QString dst = Native(to);
    if (QFileInfo::exists(dst)) return false;
    return QFile::rename(Native(from), dst);
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

namespace {

// Pushes what the system still holds of an open file onto the disk.
bool SyncToDisk(QFile& f) {
    return f.flush() && platform::SyncFile(f.handle(), platform::ToU16(f.fileName()));
}

QString ErrorText(const QString& errorFormat, const QString& path, QString reason) {
    if (reason.isEmpty()) reason = QStringLiteral("Access is denied");
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

void WriteAtomic(const QString& path, const QByteArray& bytes, const QString& errorFormat) {
    const QString target = Native(path);
    const QFileInfo info(target);
    if (path.isEmpty() || info.isDir() || (info.exists() && !info.isWritable()))
        throw AppError(ErrorText(errorFormat, path, QString()));

    // The new content goes into a temporary file beside the target. Every step is checked
    // (a small write only reaches the file at the flush, and a full disk may only show at the
    // sync), and the target is replaced only when the whole content is safely on the disk.
    QString written;
    {
        QTemporaryFile tmp(target + QStringLiteral(".XXXXXX"));
        tmp.setAutoRemove(true);
        if (!tmp.open()) throw AppError(ErrorText(errorFormat, path, tmp.errorString()));
        const auto fail = [&](QString reason) {
            if (reason.isEmpty()) reason = tmp.errorString();
            if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
                reason = QString::fromLocal8Bit(std::strerror(errno));
            tmp.close();
            throw AppError(ErrorText(errorFormat, path, reason));
        };
        if (tmp.write(bytes) != bytes.size()) fail({});
        if (!SyncToDisk(tmp)) fail({});
        tmp.close();
        if (tmp.error() != QFileDevice::NoError) fail({});
        // A file the tool replaces keeps its permissions; a new one gets the usual ones.
        QFile::setPermissions(tmp.fileName(),
                              info.exists() ? QFile::permissions(target)
                                            : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther);
        written = tmp.fileName();
        tmp.setAutoRemove(false);
    }
    // A closed temporary file keeps its handle until the object is gone, and Windows moves no
    // open file: the replacement comes after.
    const std::u16string refused =
        platform::MoveReplacing(platform::ToU16(written), platform::ToU16(target));
    if (!refused.empty()) {
        QFile::remove(written);
        throw AppError(ErrorText(errorFormat, path, platform::FromU16(refused)));
    }
}

void CopyAtomic(const QString& from, const QString& to, const QString& errorFormat) {
    WriteAtomic(to, ReadAll(from), errorFormat);
}

}  // namespace fs
