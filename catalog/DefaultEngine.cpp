#include "catalog/Engine.h"

#if defined(_WIN32) && !defined(ZELK_SQLITE_ENGINE)
#include "catalog/ado/AdoEngine.h"
#else
#include "catalog/SqliteEngine.h"
#endif

namespace catalog {
namespace {

Engine* chosen = nullptr;

Engine& PlatformEngine() {
#if defined(_WIN32) && !defined(ZELK_SQLITE_ENGINE)
    static AdoEngine engine;
#else
    static SqliteEngine engine;
#endif
    return engine;
}

}  // namespace

Engine& DefaultEngine() { return chosen ? *chosen : PlatformEngine(); }

void SetDefaultEngine(Engine* engine) { chosen = engine; }

}  // namespace catalog
