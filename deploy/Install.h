#pragma once

#include "deploy/CommandResult.h"

struct Context;

namespace deploy {

// Install ("Установить"): the maker's rows of the chosen groups into the catalog, the maker's
// icons and symbols into AutoCAD Electrical's folders, the maker's entry and submenu into the
// icon menu files, the detection mark, and the closing message. When everything is in place
// already it writes nothing and says so. `result` (when given) gets how it ended.
void Install(Context& ctx, CommandResult* result = nullptr);

}  // namespace deploy
