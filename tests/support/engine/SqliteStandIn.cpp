// The tests that reach the catalog through the tool's own code make their databases as SQLite
// files, so on Windows, where the tool's engine is ADO/Jet, they run on the SQLite engine; the
// engine contract runs every engine of the build on its own.

#include "catalog/Engine.h"
#include "catalog/sqlite/SqliteEngine.h"

namespace {

const bool kOnStandIn = [] {
    static catalog::SqliteEngine engine;
    catalog::SetDefaultEngine(&engine);
    return true;
}();

}  // namespace
