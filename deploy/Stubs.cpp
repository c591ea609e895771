// Placeholders until the deployment module is written.
#include "deploy/Commands.h"
#include "deploy/Menu.h"
#include "state/Context.h"

namespace deploy {
void InsertMakerMenu(AppState&) {}
void RemoveMakerMenu(AppState&) {}
void Button5Click(Context&) {}
void Button6Click(Context&) {}
}  // namespace deploy
