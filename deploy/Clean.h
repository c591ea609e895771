#pragma once

#include "deploy/CommandResult.h"

struct Context;

namespace deploy {

// Clean ("Почистить"): the maker's rows, pin lists, files and menu lines out again, the catalog
// compacted, the detection mark removed, and the closing message. `result` (when given) gets
// how it ended.
void Clean(Context& ctx, CommandResult* result = nullptr);

}  // namespace deploy
