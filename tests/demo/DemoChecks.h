#pragma once

// What the demo test compares: the rows of a database file table by table, the files of a
// folder, the bytes of a file.

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <map>
#include <ostream>

#include "DemoSupport.h"

// Readable failure output for texts and lists of texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (const QString& s : l) *os << "\n  \"" << s.toStdString() << '"';
    *os << " }";
}

namespace demo {

// Every row of a table as one text (fields joined by '|', null as "<null>"), sorted; keyed by
// table name. The file is opened read-only for the one call.
using DbRows = std::map<QString, QStringList>;

inline DbRows ReadDb(const QString& path, const QString& where = {}) {
    DbRows out;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        if (db.open()) {
            QStringList tables;
            QSqlQuery t(db);
            t.exec(
                "select name from sqlite_master where type = 'table' and name not like 'sqlite_%'");
            while (t.next()) tables << t.value(0).toString();
            for (const QString& table : tables) {
                QStringList rows;
                QSqlQuery q(db);
                q.exec(QString("select * from \"%1\" %2").arg(table, where));
                while (q.next()) {
                    QStringList fields;
                    for (int i = 0; i < q.record().count(); ++i)
                        fields << (q.isNull(i) ? QString("<null>") : q.value(i).toString());
                    rows << fields.join('|');
                }
                rows.sort();
                out[table] = rows;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return out;
}

// The rows of one table with the column `manufacturer` equal to `maker`.
inline QStringList RowsOf(const DbRows& db, const QString& table, const QString& maker) {
    QStringList out;
    auto it = db.find(table);
    if (it == db.end()) return out;
    for (const QString& r : it->second)
        if (r.split('|').contains(maker)) out << r;
    return out;
}

inline QStringList Files(const QString& folder) {
    QStringList l = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    l.sort();
    return l;
}

}  // namespace demo
