// The platform services off Windows: a per-session lock file for the single-instance guard,
// Windows-1251 as the ANSI code page, and the update script started with /bin/sh.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringDecoder>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace platform {

namespace {

// The folder of the lock files: the user's runtime folder, which lives as long as the user's
// login session; without one, the temporary folder (the file name then carries the user id).
QString LockFilePath(const std::u16string& name) {
    const QByteArray tag = FromU16(name).toUtf8().toHex();
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QFileInfo dir(QString::fromLocal8Bit(runtime));
        if (dir.isDir() && dir.isWritable())
            return dir.absoluteFilePath() + QStringLiteral("/zelk-instance-") +
                   QString::fromLatin1(tag) + QStringLiteral(".lock");
    }
    return QDir::tempPath() + QStringLiteral("/zelk-instance-") + QString::number(getuid()) + u'-' +
           QString::fromLatin1(tag) + QStringLiteral(".lock");
}

}  // namespace

InstanceGuard AcquireInstanceMutex(const std::u16string& name) {
    // An advisory lock on an open file: the system drops it when the process ends however it
    // ends, so a lock file left behind by a dead copy never blocks a new one. The descriptor is
    // kept open (and not inherited by child processes) until the process ends.
    const QByteArray path = QFile::encodeName(LockFilePath(name));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return InstanceGuard::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(fd, 0) == 0 && ::write(fd, pid.constData(), size_t(pid.size())) < 0) {
            // The process id is only informative; the lock itself is what guards.
        }
        return InstanceGuard::First;
    }
    const int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? InstanceGuard::AlreadyRunning : InstanceGuard::Failed;
}

namespace {

// Windows-1251 gives one byte per character: the characters of its 256 bytes are read from
// Qt's codec once, and every conversion after that is a table lookup (the many short lines of a
// menu file or a settings file would otherwise each pay for a pass through the codec).
struct CodePage1251 {
    char16_t toUnicode[256];
    // The byte of each character of the basic plane, 0 for one the code page lacks.
    unsigned char fromUnicode[0x10000] = {};

    CodePage1251() {
        QStringDecoder dec("windows-1251", QStringConverter::Flag::Stateless);
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            const QString s = dec.decode(QByteArrayView(&c, 1));
            toUnicode[b] = s.size() == 1 ? s[0].unicode() : char16_t(0xFFFD);
            if (b != 0 && toUnicode[b] != 0xFFFD && !QChar::isSurrogate(toUnicode[b]))
                fromUnicode[toUnicode[b]] = (unsigned char)b;
        }
    }
};

const CodePage1251& Cp1251() {
    static const auto table = std::make_unique<CodePage1251>();
    return *table;
}

}  // namespace

std::string AnsiEncode(const std::u16string& text) {
    // A character the code page lacks becomes its default character '?'; a character outside
    // the basic plane (a surrogate pair) is one character and becomes one '?'.
    const CodePage1251& cp = Cp1251();
    std::string out(text.size(), '\0');
    size_t o = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1]))
            ++i;
        const unsigned char b = cp.fromUnicode[u];
        out[o++] = u == 0 ? '\0' : b != 0 ? char(b) : '?';
    }
    out.resize(o);
    return out;
}

std::u16string AnsiDecode(const std::string& bytes) {
    const CodePage1251& cp = Cp1251();
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) out[i] = cp.toUnicode[(unsigned char)bytes[i]];
    return out;
}

std::u16string CommandInterpreter() { return u"C:\\Windows\\System32\\cmd.exe"; }

std::u16string StartHidden(const std::u16string& commandLine, const std::u16string& workingDir) {
    // The one command line the tool starts is "<interpreter> /c start [""] <script>": run the
    // script with the shell, detached, with no terminal, in workingDir. Anything else is not
    // understood and starts nothing.
    static const QRegularExpression form(
        QStringLiteral(
            "^(?:cmd|\"[^\"]*cmd\\.exe\"|\\S*cmd\\.exe)\\s+/c\\s+start\\s+(?:\"\"\\s+)?(.*)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(FromU16(commandLine).trimmed());
    if (!m.hasMatch()) return u"the command line is not understood";
    QString script = m.captured(1).trimmed();
    if (script.size() >= 2 && script.startsWith(u'"') && script.endsWith(u'"'))
        script = script.mid(1, script.size() - 2);
    if (script.isEmpty()) return u"no script named";
    // ".\\update.cmd" names update.cmd in the working folder.
    script = FromU16(NativePath(ToU16(script)));
    QString dir = FromU16(NativePath(workingDir));
    if (dir.isEmpty()) dir = QDir::currentPath();
    // As the command interpreter would, it says when the script is not there.
    if (!QFileInfo(QDir(dir), script).isFile())
        return ToU16(QStringLiteral("The system cannot find the file %1").arg(script));
    QProcess p;
    p.setProgram(QStringLiteral("/bin/sh"));
    p.setArguments({script});
    p.setWorkingDirectory(dir);
    // No terminal: the script reads nothing and its output goes nowhere, as from a hidden
    // window.
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    if (!p.startDetached()) return ToU16(p.errorString());
    return {};
}

std::u16string MoveReplacing(const std::u16string& from, const std::u16string& to) {
    // The replaced file's blocks are given back by the system as part of the rename, on this
    // thread: nothing of it outlives the call.
    if (::rename(QFile::encodeName(FromU16(from)).constData(),
                 QFile::encodeName(FromU16(to)).constData()) != 0)
        return ToU16(QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

bool SyncFile(int fd, const std::u16string&) { return fd >= 0 && ::fsync(fd) == 0; }

namespace {

std::u16string Reason(int err) { return ToU16(QString::fromLocal8Bit(std::strerror(err))); }

// Copies `size` bytes from `in` to `out`, in the kernel where it can; the errno of a failure.
int CopyBytes(int in, int out, off_t size) {
    off_t done = 0;
#ifdef __linux__
    while (done < size) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(size - done), 0);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == 0) return 0;  // shorter than it was a moment ago: copied as it is now
        if (errno == EINTR) continue;
        if (done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                          errno == EOPNOTSUPP || errno == EPERM))
            break;  // not offered between these two: through a buffer below
        return errno;
    }
    if (done >= size) return 0;
#endif
    static constexpr size_t kChunk = 1 << 20;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        const ssize_t n = ::read(in, buffer.get(), kChunk);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (ssize_t at = 0; at < n;) {
            const ssize_t w = ::write(out, buffer.get() + at, size_t(n - at));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return w < 0 ? errno : ENOSPC;
            at += w;
        }
    }
}

}  // namespace

std::u16string CopyToNew(const std::u16string& from, const std::u16string& to) {
    const QByteArray src = QFile::encodeName(FromU16(from)), dst = QFile::encodeName(FromU16(to));
    const int in = ::open(src.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return Reason(errno);
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISREG(st.st_mode) ? errno : EISDIR;
        ::close(in);
        return Reason(err);
    }
    // The source's permission bits as the process's umask lets a new file have them, and
    // writable by its owner: a read-only source makes no read-only copy (as on Windows).
    const int out = ::open(dst.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                           (st.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO)) | S_IWUSR);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return Reason(err);
    }
    int err = CopyBytes(in, out, st.st_size);
    if (::close(out) != 0 && err == 0) err = errno;
    ::close(in);
    if (err == 0) return {};
    ::unlink(dst.constData());
    return Reason(err);
}

std::u16string DeleteOwnFile(const std::u16string& path) {
    if (::unlink(QFile::encodeName(FromU16(path)).constData()) == 0) return {};
    return Reason(errno);
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const std::u16string& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(FromU16(path)).constData(), &st) != 0) return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>(st.st_dev, st.st_ino);
}

std::vector<FolderEntry> ListFolder(const std::u16string& folder) {
    std::vector<FolderEntry> out;
    const QByteArray path = QFile::encodeName(FromU16(folder));
    DIR* dir = ::opendir(path.constData());
    if (!dir) return out;
    while (const dirent* d = ::readdir(dir)) {
        const char* n = d->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
        bool isFolder = d->d_type == DT_DIR;
        if (d->d_type == DT_UNKNOWN || d->d_type == DT_LNK) {
            struct stat st {};
            isFolder = ::fstatat(::dirfd(dir), n, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        out.push_back({ToU16(QFile::decodeName(n)), isFolder});
    }
    ::closedir(dir);
    return out;
}

std::u16string MoveToNew(const std::u16string& from, const std::u16string& to) {
    const QByteArray src = QFile::encodeName(FromU16(from)), dst = QFile::encodeName(FromU16(to));
#ifdef __linux__
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS) return Reason(errno);
#endif
    // Without an exclusive rename: a second name that refuses an existing one, then the first
    // name goes.
    if (::link(src.constData(), dst.constData()) == 0) {
        ::unlink(src.constData());
        return {};
    }
    if (errno != EPERM && errno != EOPNOTSUPP) return Reason(errno);
    // A file system without second names: a look, then a plain rename.
    if (::access(dst.constData(), F_OK) == 0) return Reason(EEXIST);
    if (::rename(src.constData(), dst.constData()) != 0) return Reason(errno);
    return {};
}

bool SyncFilesTogether(const std::vector<std::u16string>& paths) {
    bool ok = true;
    for (const std::u16string& p : paths) {
        const int fd = ::open(QFile::encodeName(FromU16(p)).constData(), O_RDONLY | O_CLOEXEC);
        ok = fd >= 0 && ::fsync(fd) == 0 && ok;
        if (fd >= 0) ::close(fd);
    }
    return ok;
}

bool WritesBehind() {
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

void WriteBehind(int fd, std::int64_t written, std::int64_t window) {
#ifdef __linux__
    if (fd < 0 || window <= 0 || written <= 0) return;
    const std::int64_t last = written > window ? written - window : 0;
    ::sync_file_range(fd, last, written - last, SYNC_FILE_RANGE_WRITE);
    if (last == 0) return;
    const std::int64_t before = last > window ? last - window : 0;
    ::sync_file_range(
        fd, before, last - before,
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(fd, before, last - before, POSIX_FADV_DONTNEED);
#else
    Q_UNUSED(fd);
    Q_UNUSED(written);
    Q_UNUSED(window);
#endif
}

bool SyncFileSystem(const std::u16string& folder) {
#ifdef __linux__
    const int fd = ::open(QFile::encodeName(FromU16(folder)).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
#else
    Q_UNUSED(folder);
    return false;
#endif
}

void ShowFixedFrameWithMaximise(std::uintptr_t) {}

std::u16string NativePath(const std::u16string& path) {
    std::u16string r = path;
    for (auto& c : r)
        if (c == u'\\') c = u'/';
    return r;
}

}  // namespace platform
