#pragma once

// The database engine built on SQLite (its own library). It takes statements in the
// Jet dialect the tool speaks and runs their SQLite equivalent:
// - names in square brackets (with "-" or Cyrillic letters) become quoted identifiers;
// - a table name is looked up without regard to letter case, Cyrillic letters included, and
//   replaced by the name of the existing table;
// - "counter" becomes an INTEGER column numbered by a trigger for rows inserted without a
//   value (a value given by an insert is stored as it is; like Jet, no uniqueness);
// - "varchar(n)" becomes TEXT whose length is checked (a longer value is an error);
//   "longchar" becomes TEXT;
// - "delete * from" becomes "delete from";
// - "from T in 'file'" reads T from another database file, attached for the one statement
//   under a private name (a relative name is resolved against the current directory; the
//   file must exist and is only read);
// - "insert into T select * from S" copies by column name, as Jet does: the columns both
//   tables have; a column of T that S lacks stays null (a counter is numbered); a column of S
//   that T lacks is an error naming it;
// - named parameters ":name" are bound by name;
// - a date literal "#...#" is taken as the text between the "#" signs.
// Like Jet, it compacts no database that a connection (of this process) holds open.
// Its messages are SQLite's (in English), without the schema names it adds itself.
// Database files are never created by opening: a missing file or one that is not a
// database fails with the engine's message; CreateDatabase writes an empty one.

#include <QStringList>
#include <optional>

#include "catalog/Engine.h"

namespace catalog {

// The column names of a table from the CREATE TABLE text SQLite keeps for it, in their order,
// as PRAGMA table_info lists them; nothing for a text of a form not read here (a table made
// by a select, a generated column), where the pragma is to be asked.
std::optional<QStringList> SqliteColumnsOfDefinition(const QString& sql);

// Two profiles. `Sqlite` answers as SQLite can: a rollback takes back the tables created or
// dropped in the transaction, and the file holds none of a transaction's changes before its
// commit. `Jet` answers and behaves as the ADO engine on Jet does where the tool's commands can
// tell: tables created or dropped inside a transaction stay created or dropped after its
// rollback (and after the failure of an atomic unit), the file is not promised to stay as it
// was until the commit, and a reconnection opens the file anew.
class SqliteEngine : public Engine {
  public:
    enum class Profile { Sqlite, Jet };
    explicit SqliteEngine(Profile profile = Profile::Sqlite);
    std::unique_ptr<DbConnection> NewConnection() override;
    void CompactDatabase(const QString& srcConnStr, const QString& destConnStr) override;
    void CreateDatabase(const QString& file) override;

    // Why this build cannot run the engine (it has no SQLite library), or the empty text.
    static QString Unavailable();

  private:
    Profile profile_;
};

}  // namespace catalog
