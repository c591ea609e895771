#include "catalog/Engine.h"

#ifdef _WIN32
#include "catalog/ado/AdoEngine.h"
#else
#include "catalog/sqlite/SqliteEngine.h"
#endif

namespace catalog {
namespace {

Engine* chosen = nullptr;

Engine& PlatformEngine() {
#ifdef _WIN32
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
