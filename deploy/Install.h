#pragma once

struct Context;

namespace deploy {

// Install ("Установить"): the maker's rows of the chosen groups into the catalog, the maker's
// icons and symbols into AutoCAD Electrical's folders, the maker's entry and submenu into the
// icon menu files, and the closing message.
void Install(Context& ctx);

}  // namespace deploy
