#pragma once

// Statements run on a SQLite file with SQLite's own library: the stand-in's catalog underneath,
// for what only SQLite can say or do (its schema, its integrity check, a page to damage, a
// recursive fill), and the files a test lays out.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QList>
#include <QString>
#include <QStringList>

// The rows of the last of `statements`, each as its columns' texts. A failure is a test
// failure, unless `failure` is given: it then gets SQLite's text ("" for none).
inline QList<QStringList> RawRows(const QString& file, const QStringList& statements,
                                  QString* failure = nullptr) {
    QList<QStringList> rows;
    QString error;
    sqlite3* db = nullptr;
    if (sqlite3_open(file.toUtf8().constData(), &db) != SQLITE_OK)
        error = QString::fromUtf8(sqlite3_errmsg(db));
    for (const QString& s : statements) {
        if (!error.isEmpty()) break;
        rows.clear();
        sqlite3_stmt* q = nullptr;
        int rc = sqlite3_prepare_v2(db, s.toUtf8().constData(), -1, &q, nullptr);
        while (rc == SQLITE_OK || rc == SQLITE_ROW) {
            rc = sqlite3_step(q);
            if (rc != SQLITE_ROW) continue;
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(q); ++i)
                row << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(q, i)));
            rows << row;
        }
        if (rc != SQLITE_DONE) error = QString::fromUtf8(sqlite3_errmsg(db)) + ": " + s;
        sqlite3_finalize(q);
    }
    sqlite3_close(db);
    if (failure)
        *failure = error;
    else
        EXPECT_EQ(error.toStdString(), "") << file.toStdString();
    return rows;
}

// The first column of the first row of the last of `statements` ("" for none).
inline QString RawSql(const QString& file, const QStringList& statements) {
    const QList<QStringList> rows = RawRows(file, statements);
    return rows.isEmpty() || rows.first().isEmpty() ? QString() : rows.first().first();
}
