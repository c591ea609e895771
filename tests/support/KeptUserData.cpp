// Every test program keeps what the tool records for the user (its settings when the tool's
// folder takes no writes, the copy of the submenu block, the detection mark) in a scratch folder
// of its own, never in the user's folder or registry: on a developer's Windows machine the
// tests would otherwise leave a detection mark that says the components are installed.

#include <QTemporaryDir>

#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace {

const bool kKept = [] {
    static QTemporaryDir folder;
    platform::KeepUserDataIn(platform::ToU16(folder.path()));
    return true;
}();

}  // namespace
