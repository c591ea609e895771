#include "catalog/ado/AdoEngine.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <QDir>
#include <QFileInfo>
#include <utility>
#include <vector>

#include "core/AppError.h"
#include "core/FileSystem.h"

namespace catalog {
namespace {

const wchar_t kJetProvider[] = L"Microsoft.Jet.OLEDB.4.0";
const QString kJetPrefix = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");

// ADO constants (Microsoft's ADO API reference).
constexpr long adCmdText = 1;
constexpr long adExecuteNoRecords = 128;
constexpr long adVarWChar = 202;
constexpr long adLongVarWChar = 203;
constexpr long adParamInput = 1;
constexpr long adSchemaTables = 20;
constexpr long adPromptNever = 4;
constexpr long kParamSize = 510;  // the size of the tool's text parameters

// ---- COM basics -------------------------------------------------------------------------

thread_local int comScopes = 0;  // ComScope objects alive on this thread

// COM (apartment-threaded) on this thread: S_FALSE means it was already, RPC_E_CHANGED_MODE
// that someone else initialised it multi-threaded, which serves ADO as well. Whether this
// call is to be balanced by CoUninitialize.
bool StartCom() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE)
        throw AppError(QStringLiteral("Не удалось инициализировать COM (HRESULT 0x%1)")
                           .arg(quint32(hr), 8, 16, QChar(u'0')));
    return SUCCEEDED(hr);
}

// The connections' COM: initialised once on each thread that uses them (the window's
// thread in the tool) and kept while the thread lives.
void InitCom() {
    thread_local bool done = false;
    if (done || comScopes > 0) return;
    StartCom();
    done = true;
}

// COM for one call on whatever thread makes it (the compaction runs on a worker): initialised
// for the call and uninitialised after it; every object made within it is released within it.
class ComScope {
  public:
    ComScope() : balanced_(StartCom()) { ++comScopes; }
    ~ComScope() {
        --comScopes;
        if (balanced_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    bool balanced_;
};

QString FromBstr(BSTR b) {
    return b ? QString::fromWCharArray(b, int(SysStringLen(b))) : QString();
}

BSTR ToBstr(const QString& s) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.utf16()), UINT(s.size()));
}

QString HresultText(HRESULT hr) {
    wchar_t* buf = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(hr), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    QString text = n ? QString::fromWCharArray(buf, int(n)).trimmed() : QString();
    if (buf) LocalFree(buf);
    const QString code = QStringLiteral("HRESULT 0x%1").arg(quint32(hr), 8, 16, QChar(u'0'));
    return text.isEmpty() ? code : QStringLiteral("%1 (%2)").arg(text, code);
}

// An owned VARIANT.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    explicit Var(const QString& s) : Var() {
        v.vt = VT_BSTR;
        v.bstrVal = ToBstr(s);
    }
    explicit Var(long n) : Var() {
        v.vt = VT_I4;
        v.lVal = n;
    }
    static Var Null() {
        Var r;
        r.v.vt = VT_NULL;
        return r;
    }
    static Var Missing() {
        Var r;
        r.v.vt = VT_ERROR;
        r.v.scode = DISP_E_PARAMNOTFOUND;
        return r;
    }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    Var(Var&& o) noexcept : v(o.v) { VariantInit(&o.v); }
    Var& operator=(Var&& o) noexcept {
        if (this != &o) {
            VariantClear(&v);
            v = o.v;
            VariantInit(&o.v);
        }
        return *this;
    }
    ~Var() { VariantClear(&v); }

    bool IsNull() const { return v.vt == VT_NULL || v.vt == VT_EMPTY; }
    // The value as text in the user's locale; null and empty as the empty text.
    QString Text() const {
        if (IsNull()) return QString();
        if (v.vt == VT_BSTR) return FromBstr(v.bstrVal);
        Var t;
        if (FAILED(VariantChangeType(&t.v, const_cast<VARIANT*>(&v), VARIANT_ALPHABOOL, VT_BSTR)))
            return QString();
        return FromBstr(t.v.bstrVal);
    }
    long Long() const {
        Var t;
        if (FAILED(VariantChangeType(&t.v, const_cast<VARIANT*>(&v), 0, VT_I4))) return 0;
        return t.v.lVal;
    }
    bool Bool() const {
        Var t;
        if (FAILED(VariantChangeType(&t.v, const_cast<VARIANT*>(&v), 0, VT_BOOL))) return false;
        return t.v.boolVal != VARIANT_FALSE;
    }
};

// A COM failure: the message shown, and the HRESULT behind it.
struct ComFailure {
    QString text;
    HRESULT hr;
};

// An owned IDispatch pointer with late-bound calls.
class Disp {
  public:
    Disp() = default;
    explicit Disp(IDispatch* p) : p_(p) {}  // takes the reference
    Disp(const Disp& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    Disp& operator=(Disp o) {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Disp() {
        if (p_) p_->Release();
    }
    explicit operator bool() const { return p_ != nullptr; }
    IDispatch* Get() const { return p_; }

    static Disp Create(const wchar_t* progId) {
        InitCom();
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(progId, &clsid);
        IDispatch* p = nullptr;
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  IID_IDispatch, reinterpret_cast<void**>(&p));
        if (FAILED(hr))
            throw ComFailure{QStringLiteral("Не удалось создать объект \"%1\": %2")
                                 .arg(QString::fromWCharArray(progId), HresultText(hr)),
                             hr};
        return Disp(p);
    }

    // A method call or property read; `args` in the order of the declaration.
    Var Call(const wchar_t* name, std::vector<Var> args = {}) const {
        return Invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
    }
    void Put(const wchar_t* name, Var value) const {
        std::vector<Var> args;
        args.push_back(std::move(value));
        Invoke(name, DISPATCH_PROPERTYPUT, args);
    }
    void PutRef(const wchar_t* name, const Disp& object) const {
        std::vector<Var> args(1);
        args[0].v.vt = VT_DISPATCH;
        args[0].v.pdispVal = object.p_;
        object.p_->AddRef();
        Invoke(name, DISPATCH_PROPERTYPUTREF, args);
    }
    // A call whose result is an object.
    Disp Object(const wchar_t* name, std::vector<Var> args = {}) const {
        Var r = Call(name, std::move(args));
        if (r.v.vt != VT_DISPATCH || !r.v.pdispVal)
            throw ComFailure{
                QStringLiteral("\"%1\" не вернул объект").arg(QString::fromWCharArray(name)),
                E_UNEXPECTED};
        IDispatch* p = r.v.pdispVal;
        p->AddRef();
        return Disp(p);
    }

  private:
    Var Invoke(const wchar_t* name, WORD flags, std::vector<Var>& args) const {
        DISPID id = 0;
        LPOLESTR n = const_cast<LPOLESTR>(name);
        HRESULT hr = p_->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            throw ComFailure{QStringLiteral("Вызов \"%1\" недоступен: %2")
                                 .arg(QString::fromWCharArray(name), HresultText(hr)),
                             hr};
        std::vector<VARIANT> rev;  // IDispatch takes the arguments last first
        for (auto it = args.rbegin(); it != args.rend(); ++it) rev.push_back(it->v);
        DISPPARAMS dp{rev.empty() ? nullptr : rev.data(), nullptr, UINT(rev.size()), 0};
        DISPID named = DISPID_PROPERTYPUT;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            dp.rgdispidNamedArgs = &named;
            dp.cNamedArgs = 1;
        }
        Var result;
        EXCEPINFO ei{};
        UINT argErr = 0;
        hr = p_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, &result.v, &ei, &argErr);
        if (FAILED(hr)) {
            if (hr == DISP_E_EXCEPTION && ei.pfnDeferredFillIn) ei.pfnDeferredFillIn(&ei);
            QString text = FromBstr(ei.bstrDescription).trimmed();
            if (hr == DISP_E_EXCEPTION && ei.scode) hr = ei.scode;
            SysFreeString(ei.bstrDescription);
            SysFreeString(ei.bstrSource);
            SysFreeString(ei.bstrHelpFile);
            throw ComFailure{text.isEmpty() ? HresultText(hr) : text, hr};
        }
        return result;
    }

    IDispatch* p_ = nullptr;
};

// ---- the Jet provider --------------------------------------------------------------------

QString ProviderUnavailable() {
    InitCom();
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(kJetProvider, &clsid);
    if (SUCCEEDED(hr)) {
        IClassFactory* f = nullptr;
        hr = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void**>(&f));
        if (f) f->Release();
    }
    if (SUCCEEDED(hr)) return QString();
    return QStringLiteral(
               "Поставщик данных \"Microsoft.Jet.OLEDB.4.0\" не зарегистрирован для %1-разрядных "
               "программ в этой системе, поэтому базы данных Access недоступны (%2)")
        .arg(sizeof(void*) * 8)
        .arg(HresultText(hr));
}

void RequireProvider() {
    const QString why = ProviderUnavailable();
    if (!why.isEmpty()) throw AppError(why);
}

// The Data Source must name an existing file: Jet would otherwise refuse it in its own
// words, and nothing here is ever to create one.
void RequireDatabaseFile(const QString& connStr) {
    const std::optional<QString> ds = ConnectionProperty(connStr, QStringLiteral("Data Source"));
    if (!ds || ds->trimmed().isEmpty())
        throw AppError(QStringLiteral(
            "Не указан файл базы данных: в строке подключения нет значения Data Source"));
    const QFileInfo fi(fs::Native(*ds));
    if (!fi.exists() || fi.isDir())
        throw AppError(QStringLiteral("Не найден файл базы данных: \"%1\"")
                           .arg(QDir::toNativeSeparators(fi.absoluteFilePath())));
}

// The statement with every ":name" outside quotes and brackets replaced by "?", and the
// names in order of appearance.
QString PositionalMarkers(const QString& sql, QStringList& names) {
    auto wordStart = [](QChar c) { return c.isLetter() || c == u'_' || c.unicode() >= 0x80; };
    auto wordChar = [&](QChar c) { return wordStart(c) || c.isDigit() || c == u'$'; };
    QString out;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"' || c == u'[') {
            const QChar close = c == u'[' ? QChar(u']') : c;
            qsizetype j = sql.indexOf(close, i + 1);
            j = j < 0 ? n : j + 1;
            out += sql.mid(i, j - i);
            i = j;  // a doubled quote inside is two literals in a row: the same text
        } else if (c == u':' && i + 1 < n && wordStart(sql[i + 1])) {
            qsizetype j = i + 1;
            while (j < n && wordChar(sql[j])) ++j;
            names << sql.mid(i + 1, j - i - 1);
            out += u'?';
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

Var ParamValue(const QString& name, const Params& params) {
    for (const auto& [n, v] : params)
        if (n.compare(name, Qt::CaseInsensitive) == 0) return v.isNull() ? Var::Null() : Var(v);
    return Var::Null();
}

// ---- connections -------------------------------------------------------------------------

class AdoConnection : public DbConnection {
  public:
    ~AdoConnection() override {
        try {
            Close();
        } catch (...) {
        }
    }

    void SetConnectionString(const QString& connStr) override { connStr_ = connStr; }
    QString ConnectionString() const override { return connStr_; }
    bool Connected() const override { return open_; }

    void Open() override {
        if (open_) return;
        RequireDatabaseFile(connStr_);
        RequireProvider();
        Guard([&] {
            if (!conn_) conn_ = Disp::Create(L"ADODB.Connection");
            // In this order: the connection string chooses the provider, whose Properties
            // collection then holds "Prompt" (lost again with every close), and Open takes the
            // string already set. Without pooling, a closed connection holds no file open
            // (compaction needs the catalog released; the backup copies it right after).
            conn_.Put(L"ConnectionString", Var(WithoutPooling(connStr_)));
            NeverPrompt();
            conn_.Call(L"Open");
        });
        open_ = true;
        NewSession();
    }

    void Close() override {
        if (!open_) return;
        RollbackTransaction();  // closing ends an open transaction without its changes
        open_ = false;
        Guard([&] { conn_.Call(L"Close"); });
    }

    void BeginTransaction() override {
        if (tx_) throw AppError(QStringLiteral("A transaction is already open"));
        Open();
        Guard([&] { conn_.Call(L"BeginTrans"); });
        tx_ = true;
    }

    void CommitTransaction() override {
        if (!tx_) throw AppError(QStringLiteral("No transaction is open"));
        Guard([&] { conn_.Call(L"CommitTrans"); });
        tx_ = false;
    }

    bool RollbackTransaction() override {
        if (!tx_) return true;
        tx_ = false;
        try {
            conn_.Call(L"RollbackTrans");
            return true;
        } catch (const ComFailure&) {
            return false;
        }
    }

    bool InTransaction() const override { return tx_; }

    void GetTableNames(QStringList& names) override {
        names.clear();
        Open();
        Guard([&] {
            std::vector<Var> a;
            a.emplace_back(adSchemaTables);
            Disp rs = conn_.Object(L"OpenSchema", std::move(a));
            Disp fields = rs.Object(L"Fields");
            while (!rs.Call(L"EOF").Bool()) {
                const QString type = Field(fields, L"TABLE_TYPE").Text();
                if (type == QLatin1String("TABLE") || type == QLatin1String("VIEW"))
                    names << Field(fields, L"TABLE_NAME").Text();
                rs.Call(L"MoveNext");
            }
            rs.Call(L"Close");
        });
    }

    void Execute(const QString& sql, const Params& params) override {
        Open();
        rowsAffected_.reset();
        Guard([&] { Run(sql, params, false); });
    }

    std::optional<qint64> RowsAffected() const override { return rowsAffected_; }

    void ExecuteAtomically(const QList<Statement>& statements) override {
        Open();
        rowsAffected_.reset();
        Guard([&] { conn_.Call(L"BeginTrans"); });
        try {
            for (const Statement& s : statements) Guard([&] { Run(s.sql, s.params, false); });
            Guard([&] { conn_.Call(L"CommitTrans"); });
        } catch (...) {
            try {
                conn_.Call(L"RollbackTrans");
            } catch (const ComFailure&) {
                // the failure of the statement is the one to report
            }
            throw;
        }
    }

    FirstRow OpenQuery(const QString& sql, const Params& params) override {
        Open();
        FirstRow row;
        Guard([&] {
            Disp rs = Run(sql, params, true);
            Disp fields = rs.Object(L"Fields");
            const long count = fields.Call(L"Count").Long();
            const bool empty = rs.Call(L"EOF").Bool();
            for (long i = 0; i < count; ++i) {
                std::vector<Var> a;
                a.emplace_back(i);
                Disp f = fields.Object(L"Item", std::move(a));
                row.names << f.Call(L"Name").Text();
                if (!empty) row.values << f.Call(L"Value").Text();
            }
            rs.Call(L"Close");
        });
        return row;
    }

  private:
    // The provider must fail rather than ask for a login.
    void NeverPrompt() {
        try {
            std::vector<Var> a;
            a.emplace_back(QStringLiteral("Prompt"));
            conn_.Object(L"Properties")
                .Object(L"Item", std::move(a))
                .Put(L"Value", Var(adPromptNever));
        } catch (const ComFailure&) {
            // where the property cannot be set, the provider's default stands
        }
    }

    static Var Field(const Disp& fields, const wchar_t* name) {
        std::vector<Var> a;
        a.emplace_back(QString::fromWCharArray(name));
        return fields.Object(L"Item", std::move(a)).Call(L"Value");
    }

    // Runs one statement through a command; a select returns its recordset.
    Disp Run(const QString& sql, const Params& params, bool rows) {
        QStringList names;
        const QString text = PositionalMarkers(sql, names);
        Disp cmd = Disp::Create(L"ADODB.Command");
        cmd.PutRef(L"ActiveConnection", conn_);
        cmd.Put(L"CommandText", Var(text));
        cmd.Put(L"CommandType", Var(adCmdText));
        Disp list = cmd.Object(L"Parameters");
        for (const QString& name : names) {
            Var value = ParamValue(name, params);
            const long len = value.IsNull() ? 0 : long(SysStringLen(value.v.bstrVal));
            std::vector<Var> a;
            a.emplace_back(name);
            a.emplace_back(len > 255 ? adLongVarWChar : adVarWChar);
            a.emplace_back(adParamInput);
            a.emplace_back(std::max(kParamSize, len));
            a.push_back(std::move(value));
            Disp p = cmd.Object(L"CreateParameter", std::move(a));
            std::vector<Var> b(1);
            b[0].v.vt = VT_DISPATCH;
            b[0].v.pdispVal = p.Get();
            p.Get()->AddRef();
            list.Call(L"Append", std::move(b));
        }
        std::vector<Var> a;
        a.push_back(Var::Missing());
        a.push_back(Var::Missing());
        a.emplace_back(rows ? adCmdText : adCmdText | adExecuteNoRecords);
        if (rows) return cmd.Object(L"Execute", std::move(a));
        // The rows changed are the provider's own count: ADO returns it in Command.Execute's
        // first argument, RecordsAffected (an out parameter, passed by reference). Jet tells
        // it for inserts, updates and deletes; where it says nothing (or -1), nothing is known.
        Var affected;
        a[0].v.vt = VT_BYREF | VT_VARIANT;
        a[0].v.pvarVal = &affected.v;
        cmd.Call(L"Execute", std::move(a));
        if (!affected.IsNull() && affected.Long() >= 0) rowsAffected_ = affected.Long();
        return Disp();
    }

    // Runs `f`; a COM failure becomes an AppError carrying the descriptions of the
    // connection's Errors collection, or else the COM error's own text.
    template <class F>
    void Guard(F&& f) {
        try {
            ClearErrors();  // warnings of earlier operations are no part of this one's failure
            f();
        } catch (const ComFailure& e) {
            const QString ado = AdoErrors();
            throw AppError(ado.isEmpty() ? e.text : ado);
        }
    }

    void ClearErrors() {
        if (conn_) conn_.Object(L"Errors").Call(L"Clear");
    }

    QString AdoErrors() {
        if (!conn_) return QString();
        QStringList out;
        try {
            Disp errors = conn_.Object(L"Errors");
            const long n = errors.Call(L"Count").Long();
            for (long i = 0; i < n; ++i) {
                std::vector<Var> a;
                a.emplace_back(i);
                const QString d = errors.Object(L"Item", std::move(a)).Call(L"Description").Text();
                if (!d.trimmed().isEmpty() && !out.contains(d.trimmed())) out << d.trimmed();
            }
        } catch (const ComFailure&) {
            // no Errors collection to read: the COM error speaks for itself
        }
        return out.join(u'\n');
    }

    Disp conn_;
    QString connStr_;
    bool open_ = false;
    bool tx_ = false;  // Jet nests the transaction of ExecuteAtomically inside this one
    std::optional<qint64> rowsAffected_;  // by the last statement run, as the provider told
};

}  // namespace

std::unique_ptr<DbConnection> AdoEngine::NewConnection() {
    return std::make_unique<AdoConnection>();
}

void AdoEngine::CompactDatabase(const QString& srcConnStr, const QString& destConnStr) {
    RequireDatabaseFile(srcConnStr);
    const std::optional<QString> dest =
        ConnectionProperty(destConnStr, QStringLiteral("Data Source"));
    if (dest && QFileInfo::exists(fs::Native(*dest)))
        throw AppError(
            QStringLiteral("Файл уже существует: \"%1\"")
                .arg(QDir::toNativeSeparators(QFileInfo(fs::Native(*dest)).absoluteFilePath())));
    // The JRO object is made, used and released on the calling thread, in COM of its own.
    const ComScope com;
    RequireProvider();
    try {
        Disp jet = Disp::Create(L"JRO.JetEngine");
        std::vector<Var> a;
        a.emplace_back(srcConnStr);
        a.emplace_back(destConnStr);
        jet.Call(L"CompactDatabase", std::move(a));
    } catch (const ComFailure& e) {
        throw AppError(e.text);
    }
}

QString AdoEngine::Unavailable() {
    try {
        return ProviderUnavailable();
    } catch (const AppError& e) {
        return e.message();
    }
}

void AdoEngine::CreateDatabase(const QString& file) {
    const QString abs = QFileInfo(fs::Native(file)).absoluteFilePath();
    if (QFileInfo::exists(abs))
        throw AppError(
            QStringLiteral("Файл уже существует: \"%1\"").arg(QDir::toNativeSeparators(abs)));
    RequireProvider();
    try {
        Disp cat = Disp::Create(L"ADOX.Catalog");
        std::vector<Var> a;
        a.emplace_back(WithoutPooling(kJetPrefix +
                                      QuoteConnectionValue(QDir::toNativeSeparators(abs)) +
                                      QStringLiteral(";Jet OLEDB:Engine Type=5")));
        Var conn = cat.Call(L"Create", std::move(a));
        if (conn.v.vt == VT_DISPATCH && conn.v.pdispVal) {  // release the new file
            conn.v.pdispVal->AddRef();
            Disp(conn.v.pdispVal).Call(L"Close");
        }
    } catch (const ComFailure& e) {
        throw AppError(e.text);
    }
}

}  // namespace catalog
