#include "core/AppState.h"

#include <QDir>

#include "core/FileSystem.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace {

const QString kSettingsName = QStringLiteral("config.ini");

// The user's own folder when the executable's folder, or the settings file in it, takes no
// writes; empty otherwise (and when the system names no folder for the user).
QString UserFolderFor(const QString& exeDir) {
    if (exeDir.isEmpty()) return {};
    const QString settings = exeDir + kSettingsName;
    const bool writable =
        platform::Writable(platform::ToU16(fs::Native(exeDir))) &&
        (!fs::FileExists(settings) || platform::Writable(platform::ToU16(fs::Native(settings))));
    if (writable) return {};
    const QString folder = platform::FromU16(platform::UserDataFolder());
    if (folder.isEmpty()) return {};
    QDir().mkpath(fs::Native(folder));
    return QDir::toNativeSeparators(folder) + QDir::separator();
}

}  // namespace

void AppState::BindSettings() {
    userDir = UserFolderFor(exeDir);
    if (userDir.isEmpty()) {
        Finifile = std::make_unique<IniFile>(exeDir + kSettingsName);
        return;
    }
    Finifile = std::make_unique<IniFile>(userDir + kSettingsName, exeDir + kSettingsName);
}
