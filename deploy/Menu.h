#pragma once

// Icon menu file editing: the maker's entry and submenu block.

struct AppState;

namespace deploy {

void InsertMakerMenu(AppState& st);
void RemoveMakerMenu(AppState& st);

}  // namespace deploy
