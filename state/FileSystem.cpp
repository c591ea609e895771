#include "state/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <filesystem>
#include <system_error>

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
    // std::filesystem::rename replaces an existing file in one step (rename(2) on POSIX,
    // MoveFileExW with MOVEFILE_REPLACE_EXISTING on Windows).
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(Native(from).toStdU16String()),
                            std::filesystem::path(Native(to).toStdU16String()), ec);
    return !ec;
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

void WriteAtomic(const QString& path, const QByteArray& bytes, const QString& errorFormat) {
    QSaveFile f(Native(path));
    f.setDirectWriteFallback(false);
    const QFileInfo target(f.fileName());
    const bool refused = target.isDir() || (target.exists() && !target.isWritable());
    if (path.isEmpty() || refused || !f.open(QIODevice::WriteOnly) ||
        f.write(bytes) != bytes.size() || !f.commit()) {
        QString reason = refused ? QString() : f.errorString();
        if (reason.isEmpty()) reason = QStringLiteral("Access is denied");
        QString msg = errorFormat;
        msg.replace(QLatin1String("%1"), FullPath(path));
        msg.replace(QLatin1String("%2"), reason);
        throw AppError(msg);
    }
}

}  // namespace fs
