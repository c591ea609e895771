#pragma once

// The stand-in for ADO and Jet where there is no Jet (every build but the Windows release's):
// a database engine built on SQLite's own library, a simple model of Jet. It takes statements
// in the Jet dialect the tool speaks and runs them in SQLite's (JetStatements.h); its
// messages are SQLite's (in English), without the schema names it adds itself. Like Jet, it
// creates no database file by opening one (a missing file or one that is not a database fails
// with the engine's message), reads a file named by "in 'file'" only, and compacts no database
// that a connection of this process holds open.
//
// Two profiles. `Sqlite` answers as SQLite can: a rollback takes back the tables created or
// dropped in the transaction. `Jet` answers and behaves as the ADO engine on Jet does where
// the tool's commands can tell: tables created or dropped inside a transaction stay created
// or dropped after its rollback (and after the failure of an atomic unit). Both tell the rows
// an insert or delete changed, as ADO on Jet does.

#include "catalog/Engine.h"

namespace catalog {

class SqliteEngine : public Engine {
  public:
    enum class Profile { Sqlite, Jet };
    explicit SqliteEngine(Profile profile = Profile::Sqlite);
    std::unique_ptr<DbConnection> NewConnection() override;
    // Safe on any thread: it works on a connection of its own.
    void CompactDatabase(const QString& srcConnStr, const QString& destConnStr) override;
    void CreateDatabase(const QString& file) override;

    // Why this build cannot run the engine (it has no SQLite library), or the empty text.
    static QString Unavailable();

  private:
    Profile profile_;
};

}  // namespace catalog
