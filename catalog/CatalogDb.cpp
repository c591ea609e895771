#include "catalog/CatalogDb.h"

#include <QRegularExpression>
#include <functional>
#include <vector>

#include "catalog/Engine.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/FileSystem.h"

namespace catalog {

QString JetConnectionString(const QString& dataSource) {
    return QStringLiteral(
               "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=%1;"
               "Mode=Share Deny None;Jet OLEDB:System database=\"\";"
               "Jet OLEDB:Registry Path=\"\";Jet OLEDB:Database Password=\"\";"
               "Jet OLEDB:Engine Type=5;Jet OLEDB:Database Locking Mode=0;"
               "Jet OLEDB:Global Partial Bulk Ops=2;Jet OLEDB:Global Bulk Transactions=1;"
               "Jet OLEDB:New Database Password=\"\";Jet OLEDB:Create System Database=False;"
               "Jet OLEDB:Encrypt Database=False;Jet OLEDB:Don't Copy Locale on Compact=False;"
               "Jet OLEDB:Compact Without Replica Repair=False;Jet OLEDB:SFP=False;")
        .arg(dataSource);
}

QString CatalogFileOf(const QString& connStr) {
    const std::optional<QString> ds = ConnectionProperty(connStr, QStringLiteral("Data Source"));
    if (!ds || ds->trimmed().isEmpty())
        throw AppError(QStringLiteral(
            "В строке подключения базы изделий нет пути к файлу базы (Data Source)"));
    return *ds;
}

QString BackupFileOf(const QString& catalogFile) { return catalogFile + QStringLiteral(".bak"); }

void BackupCatalogFile(const QString& connStr,
                       const std::function<void(qint64 done, qint64 total)>& progress) {
    const QString file = CatalogFileOf(connStr);
    try {
        fs::CopyAtomic(file, BackupFileOf(file), QStringLiteral("Cannot create file \"%1\". %2"),
                       progress);
    } catch (const AppError& e) {
        throw BackupFailure(
            QStringLiteral("Не удалось сохранить резервную копию базы изделий \"%1\": "
                           "%2. Команда остановлена, база изделий не изменена")
                .arg(fs::FullPath(BackupFileOf(file)), e.message()));
    }
}

namespace {

const QString kPlaceholder = QStringLiteral("zelk_install.mdb");

// The catalog connection: until a catalog reconnection has succeeded it names the install
// database, so it refuses to open, list, run or query anything.
class CatalogConnection : public DbConnection {
  public:
    // `beforeChange`: takes the armed backup before a change.
    CatalogConnection(std::unique_ptr<DbConnection> inner, const bool& ready,
                      std::function<void()> beforeChange)
        : inner_(std::move(inner)), ready_(ready), beforeChange_(std::move(beforeChange)) {}

    DbConnection& Inner() { return *inner_; }

    void SetConnectionString(const QString& s) override { inner_->SetConnectionString(s); }
    QString ConnectionString() const override { return inner_->ConnectionString(); }
    void Open() override {
        Require();
        inner_->Open();
    }
    void Close() override { inner_->Close(); }
    bool Connected() const override { return inner_->Connected(); }
    void GetTableNames(QStringList& names) override {
        Require();
        inner_->GetTableNames(names);
    }
    // Every statement that returns no rows changes the catalog; the backup comes first.
    void Execute(const QString& sql, const Params& params) override {
        Require();
        beforeChange_();
        inner_->Execute(sql, params);
    }
    void ExecuteAtomically(const QList<Statement>& statements) override {
        Require();
        beforeChange_();
        inner_->ExecuteAtomically(statements);
    }
    FirstRow OpenQuery(const QString& sql, const Params& params) override {
        Require();
        return inner_->OpenQuery(sql, params);
    }
    // A transaction changes the catalog: the backup comes before it begins.
    void BeginTransaction() override {
        Require();
        beforeChange_();
        inner_->BeginTransaction();
    }
    void CommitTransaction() override { inner_->CommitTransaction(); }
    bool RollbackTransaction() override { return inner_->RollbackTransaction(); }
    bool InTransaction() const override { return inner_->InTransaction(); }
    bool RollsBackTableChanges() const override { return inner_->RollsBackTableChanges(); }
    std::optional<qint64> RowsAffected() const override { return inner_->RowsAffected(); }
    quint64 Session() const override { return inner_->Session(); }

  private:
    void Require() const {
        if (!ready_) throw AppError(kCatalogNotChosen);
    }
    std::unique_ptr<DbConnection> inner_;
    const bool& ready_;
    std::function<void()> beforeChange_;
};

// fstr with every placeholder (any letter case) replaced by P. P goes in as it stands; a
// path that would change the meaning of the connection string (a ";" or a double quote in
// it, a leading quote or surrounding spaces) goes in enclosed in double quotes, which needs
// the placeholder to be a whole property value.
QString ReplacePlaceholder(const QString& fstr, const QString& P) {
    const bool quote = ConnectionValueNeedsQuotes(P);
    QString out;
    qsizetype from = 0, at;
    while ((at = fstr.indexOf(kPlaceholder, from, Qt::CaseInsensitive)) >= 0) {
        out += fstr.mid(from, at - from);
        from = at + kPlaceholder.size();
        if (!quote) {
            out += P;
            continue;
        }
        qsizetype b = at - 1, e = from;
        while (b >= 0 && fstr[b] == u' ') --b;
        while (e < fstr.size() && fstr[e] == u' ') ++e;
        const QChar before = b >= 0 ? fstr[b] : QChar(u';');
        const QChar after = e < fstr.size() ? fstr[e] : QChar(u';');
        if (before == u'=' && after == u';') {
            out += QuoteConnectionValue(P);
        } else if (before == u'"' && after == u'"') {  // already inside double quotes
            QString v = P;
            out += v.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        } else {
            throw AppError(QStringLiteral("Путь к базе изделий «%1» нельзя подставить в строку "
                                          "подключения: он содержит символ «;» или кавычку")
                               .arg(P));
        }
    }
    return out + fstr.mid(from);
}

// Why there is no connection template, naming the file the user has to put back.
QString MissingTemplateMessage(const AppState& st) {
    const QString installDb = st.exeDir + kInstallDb;
    const QString templateFile = QStringLiteral("data\\bd_info.txt");
    if (!fs::FileExists(installDb))
        return QStringLiteral(
                   "Не найден файл \"%1\" (база компонентов ЗЕЛК). Без него строка "
                   "подключения к базе изделий не читается; восстановите файл и "
                   "перезапустите программу")
            .arg(fs::FullPath(installDb));
    if (!fs::FileExists(templateFile))
        return QStringLiteral(
                   "Не найден файл \"%1\" (строка подключения к базе изделий); "
                   "восстановите его и перезапустите программу")
            .arg(fs::FullPath(templateFile));
    return QStringLiteral(
               "Строка подключения к базе изделий не была прочитана из файла \"%1\" "
               "при запуске программы (файл отсутствовал или его первая строка пуста); "
               "проверьте файл и перезапустите программу")
        .arg(fs::FullPath(templateFile));
}

}  // namespace

// ---- AdoQuery -----------------------------------------------------------------------------

AdoQuery::AdoQuery(QString name, DbConnection& connection, QString sql, Params params)
    : name_(std::move(name)), conn_(connection), sql_(std::move(sql)), params_(std::move(params)) {}

bool AdoQuery::ReturnsRows() const {
    static const QRegularExpression select(QStringLiteral("^[\\s(]*(select|transform)\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    return select.match(sql_).hasMatch();
}

bool AdoQuery::Active() const {
    return active_ && conn_.Connected() && conn_.Session() == session_;
}

void AdoQuery::Open() {
    if (Active()) return;
    if (!ReturnsRows()) {
        ExecSQL();
        return;
    }
    row_ = conn_.OpenQuery(sql_, params_);
    active_ = true;
    session_ = conn_.Session();
}

void AdoQuery::Close() {
    active_ = false;
    row_ = FirstRow();
}

void AdoQuery::ExecSQL() {
    Close();
    conn_.Execute(sql_, params_);
}

void AdoQuery::Set(const QString& sql, const Params& values) {
    Close();
    sql_ = sql;
    params_.clear();
    static const QRegularExpression param(QStringLiteral(":([\\w$]+)"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    // Names inside quoted text or brackets are not parameters.
    static const QRegularExpression quoted(QStringLiteral("'[^']*'|\"[^\"]*\"|\\[[^\\]]*\\]"));
    QString bare = sql;
    for (auto it = quoted.globalMatch(sql); it.hasNext();) {
        const auto m = it.next();
        bare.replace(m.capturedStart(), m.capturedLength(), QString(m.capturedLength(), u' '));
    }
    for (auto it = param.globalMatch(bare); it.hasNext();) {
        const QString name = it.next().captured(1);
        bool have = false;
        for (const auto& p : params_)
            have = have || p.first.compare(name, Qt::CaseInsensitive) == 0;
        if (have) continue;
        QString value;  // null unless given
        for (const auto& [n, v] : values)
            if (n.compare(name, Qt::CaseInsensitive) == 0) value = v;
        params_.append({name, value});
    }
}

void AdoQuery::SetSQL(const QString& sql, const Params& values) {
    Set(sql, values);
    if (ReturnsRows())
        Open();
    else
        ExecSQL();
}

void AdoQuery::SetSQLAtomic(const QList<Statement>& statements) {
    Close();
    if (statements.isEmpty()) return;
    QList<Statement> bound;
    for (const Statement& s : statements) {
        Set(s.sql, s.params);
        if (ReturnsRows())
            throw AppError(QStringLiteral("%1: a select cannot run in a batch").arg(name_));
        bound.append({sql_, params_});
    }
    conn_.ExecuteAtomically(bound);
}

QString AdoQuery::FieldAsText(const QString& field) const {
    if (!Active())
        throw AppError(
            QStringLiteral("%1: Cannot perform this operation on a closed dataset").arg(name_));
    const std::optional<QString> v = row_.Field(field);
    if (!v) throw AppError(QStringLiteral("%1: Field '%2' not found").arg(name_, field));
    return *v;
}

// ---- CatalogDb ----------------------------------------------------------------------------

struct CatalogDb::Impl {
    Impl(AppState& s, Engine& e)
        : st(s),
          engine(e),
          conn1(e.NewConnection()),
          conn2(std::make_unique<CatalogConnection>(e.NewConnection(), ready,
                                                    [this] { TakeBackupIfArmed(); })),
          q1(QStringLiteral("ADOQuery1"), *conn1, QStringLiteral("select * from DS"), {}),
          q2(QStringLiteral("ADOQuery2"), *conn2,
             QStringLiteral("select * from _FAMILY_DESCRIPTION"), {{QStringLiteral("kz"), {}}}),
          q3(QStringLiteral("ADOQuery3"), *conn1,
             QStringLiteral("select FAMILY from _FAMILY_DESCRIPTION where [DESC]=:fd"),
             {{QStringLiteral("fd"), {}}}) {
        conn1->SetConnectionString(JetConnectionString(kInstallDb));
        conn2->SetConnectionString(JetConnectionString(kPlaceholder));
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void TakeBackupIfArmed() {
        // Inside a transaction the backup was taken before it began.
        if (!backupArmed || conn2->InTransaction()) return;
        backupArmed = false;
        if (BackedUpThisRun()) return;
        // Closing the connection lets the engine put every earlier change into the file
        // before it is copied; the next statement opens it again.
        conn2->Close();
        BackupCatalogFile(conn2->ConnectionString(), backupProgress);
        st.backedUpCatalogs << CatalogKey();
    }

    QString CatalogKey() const {
        return fs::FullPath(CatalogFileOf(conn2->ConnectionString())).toCaseFolded();
    }
    bool BackedUpThisRun() const { return st.backedUpCatalogs.contains(CatalogKey()); }

    AppState& st;
    Engine& engine;
    bool ready = false;
    bool backupArmed = false;
    std::vector<std::function<void()>> afterCommit;  // of the open catalog transaction
    std::function<void(qint64, qint64)> backupProgress;
    std::unique_ptr<DbConnection> conn1;
    std::unique_ptr<CatalogConnection> conn2;
    AdoQuery q1, q2, q3;
};

CatalogDb::CatalogDb(AppState& st) : CatalogDb(st, DefaultEngine()) {}
CatalogDb::CatalogDb(AppState& st, Engine& engine) : d(std::make_unique<Impl>(st, engine)) {}
CatalogDb::~CatalogDb() = default;

DbConnection& CatalogDb::ADOConnection1() { return *d->conn1; }
DbConnection& CatalogDb::ADOConnection2() { return *d->conn2; }
AdoQuery& CatalogDb::ADOQuery1() { return d->q1; }
AdoQuery& CatalogDb::ADOQuery2() { return d->q2; }
AdoQuery& CatalogDb::ADOQuery3() { return d->q3; }
bool CatalogDb::CatalogReady() const { return d->ready; }
void CatalogDb::ArmBackup() { d->backupArmed = true; }
void CatalogDb::DisarmBackup() { d->backupArmed = false; }
void CatalogDb::SetBackupProgress(std::function<void(qint64 done, qint64 total)> progress) {
    d->backupProgress = std::move(progress);
}
QString CatalogDb::CatalogFile() const {
    return fs::FullPath(CatalogFileOf(d->conn2->ConnectionString()));
}
QString CatalogDb::BackupFile() const { return BackupFileOf(CatalogFile()); }
bool CatalogDb::BackedUpThisRun() const { return d->BackedUpThisRun(); }
Engine& CatalogDb::DbEngine() { return d->engine; }

void CatalogDb::Reconnect(const QString& P, const std::function<void()>& beforeOpen) {
    // Whatever was connected before, no catalog is ready until this reconnection succeeds.
    d->ready = false;
    // A path that cannot go into the template is refused only after `beforeOpen` has run, so
    // that the caller's restoring of the current directory still happens.
    QString connStr;
    std::optional<AppError> refused;
    try {
        connStr = ReplacePlaceholder(d->st.fstr, P);
    } catch (const AppError& e) {
        refused = e;
    }
    d->conn2->Close();
    if (!refused) d->conn2->SetConnectionString(connStr);
    if (beforeOpen) beforeOpen();
    if (refused) throw *refused;
    if (d->st.fstr.trimmed().isEmpty()) throw AppError(MissingTemplateMessage(d->st));
    d->conn2->Inner().Open();
    d->ready = true;
}

void CatalogDb::Activate(std::initializer_list<AdoQuery*> queries) {
    for (AdoQuery* q : queries) {
        // An open query is not rerun; a statement that returns no rows (a create, insert,
        // delete or drop left by a command) is never run again by an activation.
        if (!q || q->Active() || !q->ReturnsRows()) continue;
        q->Open();
    }
}

// ---- CatalogTransaction -------------------------------------------------------------------

CatalogTransaction::CatalogTransaction(CatalogDb& db)
    : db_(db), joined_(db.ADOConnection2().InTransaction()) {
    if (!joined_) {
        db_.d->afterCommit.clear();
        db_.ADOConnection2().BeginTransaction();
    }
}

CatalogTransaction::~CatalogTransaction() {
    if (!joined_ && !done_) Rollback();
}

void CatalogTransaction::AfterCommit(std::function<void()> action) {
    db_.d->afterCommit.push_back(std::move(action));
}

void CatalogTransaction::Commit() {
    if (joined_ || done_) return;
    db_.ADOConnection2().CommitTransaction();
    done_ = committed_ = true;
    const std::vector<std::function<void()>> actions = std::move(db_.d->afterCommit);
    db_.d->afterCommit.clear();
    for (const auto& action : actions) action();
}

bool CatalogTransaction::Rollback() {
    if (joined_ || done_) return true;
    done_ = true;
    db_.d->afterCommit.clear();
    return db_.ADOConnection2().RollbackTransaction();
}

}  // namespace catalog
