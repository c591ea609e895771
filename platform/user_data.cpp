// What the tool records for the user, kept in a folder of a test program's own when it says so,
// and the detection mark as a file.

#include "platform/user_data.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <mutex>

#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace platform {

namespace {

// The folder given to KeepUserDataIn (or empty), made on first use: a test program gives it
// while its static objects are made, in whatever order.
struct Kept {
    std::mutex mutex;
    std::u16string folder;
};
Kept& kept() {
    static Kept k;
    return k;
}

const QString kMarkSection = QStringLiteral("[Installed]");

QString MarkFile(const std::u16string& folder) {
    return folder.empty() ? QString() : FromU16(folder) + QStringLiteral("/install-mark.ini");
}

}  // namespace

void KeepUserDataIn(const std::u16string& folder) {
    const std::lock_guard lock(kept().mutex);
    kept().folder = folder;
}

std::u16string KeptUserData() {
    const std::lock_guard lock(kept().mutex);
    return kept().folder;
}

// Written whole beside the mark and put in its place in one step; the command that writes it
// puts it on the disk with everything else it wrote, at its one sync point.
bool WriteMarkFile(const std::u16string& folder, const MarkValues& values) {
    const QString file = MarkFile(folder);
    if (file.isEmpty() || !QDir().mkpath(QFileInfo(file).absolutePath())) return false;
    QByteArray text = kMarkSection.toUtf8() + '\n';
    for (const auto& [name, value] : values)
        text += FromU16(name).toUtf8() + '=' + FromU16(value).toUtf8() + '\n';
    const QString part = file + QStringLiteral(".new");
    QFile out(part);
    const bool written = out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         out.write(text) == text.size() && out.flush();
    out.close();
    if (written && MoveReplacing(ToU16(part), ToU16(file)).empty()) return true;
    QFile::remove(part);
    return false;
}

std::optional<MarkValues> ReadMarkFile(const std::u16string& folder) {
    QFile in(MarkFile(folder));
    if (folder.empty() || !in.open(QIODevice::ReadOnly)) return std::nullopt;
    MarkValues out;
    for (const QByteArray& raw : in.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const qsizetype eq = line.indexOf(u'=');
        if (line.startsWith(u'[') || eq <= 0) continue;
        out.emplace_back(ToU16(line.left(eq)), ToU16(line.mid(eq + 1)));
    }
    return out;
}

bool RemoveMarkFile(const std::u16string& folder) {
    const QString file = MarkFile(folder);
    return file.isEmpty() || !QFileInfo::exists(file) || QFile::remove(file);
}

}  // namespace platform
