#pragma once

struct Context;

namespace deploy {

// Clean ("Почистить"): the maker's rows, pin lists, files and menu lines out again, the catalog
// compacted, and the closing message.
void Clean(Context& ctx);

}  // namespace deploy
