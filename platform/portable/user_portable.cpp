// What the tool keeps for the user off Windows: the user's configuration folder, a file for the
// detection mark, and the standard output as the console.

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <cstdio>

#include "platform/platform.h"
#include "platform/qt_bridge.h"
#include "platform/user_data.h"

namespace platform {

std::u16string UserDataFolder() {
    if (const std::u16string kept = KeptUserData(); !kept.empty()) return kept;
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty()) return {};
        base = home + QStringLiteral("/.config");
    }
    return ToU16(QDir::cleanPath(base) + QStringLiteral("/ZELK/AE_install"));
}

bool Writable(const std::u16string& path) {
    // The system's own answer: it knows a read-only file system, and the rights of this user.
    return ::access(QFile::encodeName(FromU16(NativePath(path))).constData(), W_OK) == 0;
}

std::optional<std::pair<std::int64_t, std::int64_t>> FileSizeAndTime(const std::u16string& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(FromU16(NativePath(path))).constData(), &st) != 0)
        return std::nullopt;
    return std::pair<std::int64_t, std::int64_t>(
        st.st_size, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
}

bool WriteInstallMark(const MarkValues& values) { return WriteMarkFile(UserDataFolder(), values); }

std::optional<MarkValues> ReadInstallMark() { return ReadMarkFile(UserDataFolder()); }

bool RemoveInstallMark() { return RemoveMarkFile(UserDataFolder()); }

void PrintToConsole(const std::u16string& text) {
    const QByteArray bytes = FromU16(text).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void InitComponentObjects() {}

}  // namespace platform
