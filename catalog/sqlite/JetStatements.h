#pragma once

// Statements of the Jet dialect the tool speaks, written in SQLite's:
// - names in square brackets (with "-" or Cyrillic letters) become quoted identifiers;
// - a table name is looked up without regard to letter case, Cyrillic letters included, and
//   replaced by the name of the existing table;
// - "counter" becomes an INTEGER column numbered by a trigger for rows inserted without a
//   value (a value given by an insert is stored as it is; like Jet, no uniqueness);
// - "varchar(n)" becomes TEXT whose length is checked (a longer value is an error);
//   "longchar" becomes TEXT;
// - "delete * from" becomes "delete from";
// - "from T in 'file'" reads T from another database file, attached under a private name;
// - "insert into T select * from S" copies by column name, as Jet does: the columns both
//   tables have; a column of T that S lacks stays null (a counter is numbered); a column of S
//   that T lacks is an error naming it;
// - named parameters ":name" become "?" markers;
// - a date literal "#...#" is taken as the text between the "#" signs.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace catalog::sqlite {

// A database file read by "T in 'file'", attached under a private schema name.
struct Attached {
    QString path;  // absolute
    QString alias;
    QStringList names;  // its tables and views
};

struct Translated {
    QString sql;
    QStringList params;          // the names of its "?" markers, in order
    QStringList extra;           // statements to run after it (a counter's index and trigger)
    bool changesSchema = false;  // it creates, drops or alters a table, view or index
};

// The column names of a table in a schema ("main" or an attached file's private name), in
// their order; none when there is no such table.
using ColumnsOf = std::function<QStringList(const QString& schema, const QString& table)>;

// A file name as the system resolves it: a relative one against the current directory.
QString AbsoluteFile(const QString& path);
QString QuoteName(const QString& name);

// The files the statement reads with "in 'file'", as absolute paths.
QStringList FilesReadBy(const QString& sql);

// `mainNames`: the tables and views of the connection's database; `attached`: the files
// attached for the statement. Raises on a statement it cannot read.
Translated Translate(const QString& sql, const QStringList& mainNames,
                     const QList<Attached>& attached, const ColumnsOf& columns);

}  // namespace catalog::sqlite
