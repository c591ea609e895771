// In Windows builds the tool's engine is ADO/Jet. The test programs whose code reaches the
// catalog without choosing an engine (discovery, selection, the window) run on the SQLite
// stand-in, which needs no Jet provider; the engine contract and the command suites choose each
// engine of the build themselves (support/Engines.h).

#include "catalog/Engine.h"
#include "catalog/sqlite/SqliteEngine.h"

namespace {

const bool kOnStandIn = [] {
    static catalog::SqliteEngine engine;
    catalog::SetDefaultEngine(&engine);
    return true;
}();

}  // namespace
