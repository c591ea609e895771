#pragma once

// The two database connections and three queries of the window, and the operations that
// every catalog command shares: the catalog reconnection, query activation and statement
// replacement.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>

struct AppState;

namespace catalog {

class DbConnection;  // catalog/Engine.h
class AdoQuery;

using Params = QList<QPair<QString, QString>>;  // named text parameters, e.g. {"kz", "ЗЕЛК"}

class CatalogDb {
public:
    explicit CatalogDb(AppState& st);
    ~CatalogDb();
    CatalogDb(const CatalogDb&) = delete;
    CatalogDb& operator=(const CatalogDb&) = delete;

    DbConnection& ADOConnection1();  // the install database "ZELK_install.mdb"
    DbConnection& ADOConnection2();  // the catalog database
    AdoQuery& ADOQuery1();           // install database
    AdoQuery& ADOQuery2();           // catalog
    AdoQuery& ADOQuery3();           // install database

    // Catalog reconnection with the catalog path P: close ADOConnection2, set its connection
    // string to fstr with every "zelk_install.mdb" (any letter case) replaced by P, run
    // `beforeOpen` (the catalog choice restores the current directory there), open it.
    void Reconnect(const QString& P, const std::function<void()>& beforeOpen = {});

    // Query activation: each named query that is closed and holds a select is opened; an
    // open one is not rerun; one holding a statement that returns no rows is left closed.
    void Activate(std::initializer_list<AdoQuery*> queries);

    // Whether a catalog reconnection has succeeded since start-up. Until then the catalog
    // connection names the install database and must serve no catalog statement.
    bool CatalogReady() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace catalog
