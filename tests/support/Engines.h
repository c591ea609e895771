#pragma once

// The engines a suite of the catalog or of the commands runs on: the SQLite stand-in, the
// stand-in shaped as Jet (the path the Windows release takes), and, in Windows builds, ADO on
// real Jet files. Test names carry the engine's name.

#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "catalog/Engine.h"
#include "catalog/sqlite/SqliteEngine.h"
#ifdef _WIN32
#include "catalog/ado/AdoEngine.h"
#endif

namespace engines {

struct EngineCase {
    std::string name;
    std::function<catalog::Engine&()> engine;
    std::function<QString()> unavailable;  // why the engine cannot run here ("" when it can)
    bool jet = false;                      // ADO on Jet itself
};

inline void PrintTo(const EngineCase& c, std::ostream* os) { *os << c.name; }

template <catalog::SqliteEngine::Profile profile>
catalog::Engine& StandIn() {
    static catalog::SqliteEngine e(profile);
    return e;
}

inline std::vector<EngineCase> All() {
    using Profile = catalog::SqliteEngine::Profile;
    std::vector<EngineCase> out{
        {"Sqlite", StandIn<Profile::Sqlite>, catalog::SqliteEngine::Unavailable, false},
        {"JetShaped", StandIn<Profile::Jet>, catalog::SqliteEngine::Unavailable, false}};
#ifdef _WIN32
    out.push_back({"AdoJet",
                   []() -> catalog::Engine& {
                       static catalog::AdoEngine e;
                       return e;
                   },
                   catalog::AdoEngine::Unavailable, true});
#endif
    return out;
}

// Makes the engine the one the tool's code runs on, or says why the case cannot run: a host
// that is to prove the commands on Jet (ZELK_REQUIRE_JET=1) fails where Jet is missing, since
// a skipped case would count as passed. Empty when the engine is in place.
inline std::string Use(const EngineCase& c) {
    const QString why = c.unavailable();
    if (why.isEmpty()) {
        catalog::SetDefaultEngine(&c.engine());
        return {};
    }
    if (c.jet && qEnvironmentVariable("ZELK_REQUIRE_JET") == QLatin1String("1"))
        ADD_FAILURE() << "ZELK_REQUIRE_JET=1: " << why.toStdString();
    return why.toStdString();
}

}  // namespace engines
