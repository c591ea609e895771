#pragma once

// What the window and a command-line run do first.

#include <QString>

#include "update/Update.h"

struct Context;

namespace view {

// The tool's folder `exeFolder` into the shared state and its settings bound; the shared lists
// made before any step that can fail, so that the group transfer works whatever the later
// steps find; the start-up update check (when `checkUpdate`); then discovery, unless the update
// script has taken over (discovery would open the files it is about to replace). A failing
// step shows its error and the next one runs.
void StartUp(Context& ctx, const QString& exeFolder, bool checkUpdate,
             const update::ProbeTarget& probe = {});

}  // namespace view
