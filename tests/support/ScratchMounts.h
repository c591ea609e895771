#pragma once

// Real file systems for the tests of full disks and read-only folders: a small tmpfs mounted
// over a folder (keeping the files it held) and filled to the last byte, or a folder or file
// bind-mounted onto itself read-only. Read-only attributes would not do: the tests run as root,
// whom they do not stop. Everything mounted is unmounted when the object goes.
//
// Mounting needs root on Linux; Unavailable() says why it cannot be done elsewhere, for
// GTEST_SKIP.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#ifdef __linux__
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

class ScratchMounts {
  public:
    ScratchMounts() = default;
    ScratchMounts(const ScratchMounts&) = delete;
    ScratchMounts& operator=(const ScratchMounts&) = delete;
    ~ScratchMounts() {
#ifdef __linux__
        for (auto it = mounted_.crbegin(); it != mounted_.crend(); ++it)
            ::umount2(QFile::encodeName(*it).constData(), MNT_DETACH);
#endif
    }

    // Empty when this process can mount; otherwise the reason it cannot.
    static QString Unavailable() {
#ifdef __linux__
        static const QString reason = [] {
            if (::geteuid() != 0) return QStringLiteral("mounting a file system needs root");
            QTemporaryDir probe;
            const QByteArray at = QFile::encodeName(probe.path());
            if (::mount("tmpfs", at.constData(), "tmpfs", 0, "size=16k") != 0)
                return QStringLiteral("mount is not allowed here: ") +
                       QString::fromLocal8Bit(std::strerror(errno));
            ::umount2(at.constData(), MNT_DETACH);
            return QString();
        }();
        return reason;
#else
        return QStringLiteral("mounting a file system is done on Linux only");
#endif
    }

    // Mounts a tmpfs of `bytes` over the folder `dir` and copies into it the files it held.
    bool Tmpfs(const QString& dir, qint64 bytes = 256 * 1024) {
#ifdef __linux__
        QTemporaryDir aside;
        if (!CopyTree(dir, aside.path())) return false;
        const QByteArray options = "size=" + QByteArray::number(bytes);
        if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, options.constData()) !=
            0)
            return false;
        mounted_ << dir;
        return CopyTree(aside.path(), dir);
#else
        Q_UNUSED(dir);
        Q_UNUSED(bytes);
        return false;
#endif
    }

    // Writes a filler file into the tmpfs at `dir` until not one more byte fits.
    static bool Fill(const QString& dir) {
        QFile f(dir + QStringLiteral("/filler.bin"));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
        const QByteArray page(4096, 'f');
        while (f.write(page) == page.size()) {
        }
        while (f.write("f", 1) == 1) {
        }
        return true;
    }

    // Makes the folder or file at `path` read-only: bind-mounted onto itself, then remounted
    // read-only.
    bool ReadOnly(const QString& path) {
#ifdef __linux__
        const QByteArray at = QFile::encodeName(path);
        if (::mount(at.constData(), at.constData(), nullptr, MS_BIND, nullptr) != 0) return false;
        mounted_ << path;
        return ::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                       nullptr) == 0;
#else
        Q_UNUSED(path);
        return false;
#endif
    }

  private:
    static bool CopyTree(const QString& from, const QString& to) {
        QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString src = it.next();
            const QString dst = to + QLatin1Char('/') + QDir(from).relativeFilePath(src);
            if (it.fileInfo().isDir()) {
                if (!QDir().mkpath(dst)) return false;
            } else if (!QDir().mkpath(QFileInfo(dst).absolutePath()) || !QFile::copy(src, dst)) {
                return false;
            }
        }
        return true;
    }

    QStringList mounted_;
};
