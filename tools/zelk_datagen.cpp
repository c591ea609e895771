// Builds the tool's data package and the demo's simulated AutoCAD Electrical profile from the
// readable sources in data-src/.
//
//   zelk_datagen --package SRC OUT
//       OUT/ZELK_install.mdb        the install database (SQLite, or Jet 4.0 with --jet):
//                                   _FAMILY_DESCRIPTION, one table per family code,
//                                   _PINLIST_ЗЕЛК and DS
//       OUT/data/bd_info.txt        the catalog connection string template (ANSI, one line)
//       OUT/data/IMAGES/*.png       the maker's icon images, drawn here
//       OUT/data/ZELK/*.dwg         symbol-library stand-ins, one per block the menu names
//       OUT/data/menu.txt           the maker's submenu block (Windows-1251, CR LF)
//
//   zelk_datagen --demo-profile SRC DIR [--release YEAR]
//       DIR/USERPROFILE/...         an AutoCAD Electrical profile (2017 unless YEAR names
//                                   another release from 2016 to 2026) with the Russian
//                                   language: support folder, images, the two icon menu files
//                                   and the default catalog "default_cat.mdb" with the family
//                                   tables, holding a few rows of another manufacturer
//       DIR/PUBLIC/...              the public symbol library folder "iec2"
//
// SRC is the data-src folder. Every table is described by a CSV file (";" separated, double
// quotes around a field that holds ";" or a quote, UTF-8); text files meant for AutoCAD
// Electrical are written in Windows-1251 with CR LF line ends whatever the build machine's
// code page is. Nothing is taken from any other product: the images are drawn by the code
// below and the ".dwg" files are plain-text stand-ins that say so.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#ifdef ZELK_DATAGEN_JET
#include "catalog/Engine.h"
#include "catalog/ado/AdoEngine.h"
#endif

namespace {

[[noreturn]] void Fail(const QString& message) { throw std::runtime_error(message.toStdString()); }

// ---------------------------------------------------------------------------------------------
// Text

// Windows-1251, bytes 0x80..0xFF.
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// Fails on a character that Windows-1251 cannot hold: the data must arrive unchanged.
QByteArray ToCp1251(const QString& text, const QString& where) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            out.append(char(u));
            continue;
        }
        int b = -1;
        for (int i = 0; i < 128; ++i)
            if (kCp1251High[i] == u && u != 0xFFFD) b = 0x80 + i;
        if (b < 0)
            Fail(QStringLiteral("%1: the character U+%2 has no Windows-1251 code")
                     .arg(where)
                     .arg(int(u), 4, 16, QLatin1Char('0')));
        out.append(char(b));
    }
    return out;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    return f.readAll();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() ||
        !f.flush())
        Fail(QStringLiteral("cannot write %1: %2").arg(path, f.errorString()));
}

// UTF-8 source lines (LF or CR LF), without a final empty line.
QStringList ReadLines(const QString& path) {
    QString text = QString::fromUtf8(ReadFile(path));
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// The lines in Windows-1251, each followed by CR LF.
void WriteAnsiLines(const QString& path, const QStringList& lines) {
    QByteArray out;
    for (qsizetype i = 0; i < lines.size(); ++i)
        out += ToCp1251(lines[i], QStringLiteral("%1, line %2").arg(path).arg(i + 1)) + "\r\n";
    WriteFile(path, out);
}

// ---------------------------------------------------------------------------------------------
// CSV tables

struct Table {
    QString path;
    QStringList header;
    std::vector<QStringList> rows;

    qsizetype Column(const QString& name) const {
        for (qsizetype i = 0; i < header.size(); ++i)
            if (header[i].compare(name, Qt::CaseInsensitive) == 0) return i;
        return -1;
    }
    QString Value(const QStringList& row, const QString& name) const {
        const qsizetype i = Column(name);
        return i < 0 ? QString() : row.value(i);
    }
};

QStringList SplitCsvLine(const QString& line, const QString& where) {
    QStringList fields;
    QString cur;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                    cur += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cur += c;
            }
        } else if (c == QLatin1Char('"') && cur.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(';')) {
            fields << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (quoted) Fail(where + QStringLiteral(": unterminated quote"));
    fields << cur;
    return fields;
}

Table ReadCsv(const QString& path) {
    Table t;
    t.path = path;
    const QStringList lines = ReadLines(path);
    if (lines.isEmpty()) Fail(path + QStringLiteral(": no header line"));
    t.header = SplitCsvLine(lines.first(), path + QStringLiteral(", line 1"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty()) continue;
        const QString where = QStringLiteral("%1, line %2").arg(path).arg(i + 1);
        QStringList row = SplitCsvLine(lines[i], where);
        if (row.size() != t.header.size())
            Fail(QStringLiteral("%1: %2 fields, the header has %3")
                     .arg(where)
                     .arg(row.size())
                     .arg(t.header.size()));
        t.rows.push_back(row);
    }
    return t;
}

// ---------------------------------------------------------------------------------------------
// Databases

const QString kMaker = QStringLiteral("ЗЕЛК");
const QString kPinListTable = QStringLiteral("_PINLIST_ЗЕЛК");

struct Column {
    const char* name;
    int length;  // 0: long text; -1: integer
};

// The column set of a catalog family table, in the order the catalog has them.
const std::vector<Column> kFamilyColumns = {
    {"CATALOG", 60},      {"MANUFACTURER", 24},    {"DESCRIPTION", 150},    {"TYPE", 100},
    {"RATING", 100},      {"MISCELLANEOUS1", 100}, {"MISCELLANEOUS2", 100}, {"ASSEMBLYCODE", 60},
    {"ASSEMBLYLIST", 60}, {"ASSEMBLYQUANTITY", 8}, {"USER1", 100},          {"USER2", 100},
    {"USER3", 100},       {"TEXTVALUE", 255},      {"WEBLINK", 255},        {"WDBLKNAM", 255},
    {"SYMBOL2D", 0},      {"SYMBOL3D", 0},         {"RECNUM", -1}};

// The pin-list table, as Install creates it in the catalog.
const std::vector<Column> kPinListColumns = {
    {"RECNUM", -1},    {"manufacturer", 24}, {"CATALOG", 60},      {"ASSEMBLYCODE", 24},
    {"COILPINS", 255}, {"PINLIST", 0},       {"PEER_COILPINS", 0}, {"PEER_PINLIST", 0}};

QString Quote(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// A database file being written: the SQLite stand-in's or, in a generator built with Jet
// support (Windows), a Jet 4.0 file. Written under a temporary name and put in place by
// Commit, replacing any file of that name, so that a failed run never leaves a half-built
// database behind.
class Database {
  public:
    virtual ~Database() = default;
    virtual void CreateTable(const QString& table, const std::vector<Column>& cols) = 0;
    virtual void Insert(const QString& table, const std::vector<Column>& cols,
                        const QVariantList& values) = 0;
    virtual void Commit() = 0;
};

// Written in one transaction.
class SqliteDatabase : public Database {
  public:
    explicit SqliteDatabase(const QString& path)
        : name_(QUuid::createUuid().toString()), path_(path), temp_(path + QStringLiteral(".tmp")) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(temp_);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
            db.setDatabaseName(temp_);
            if (!db.open()) Fail(path + QStringLiteral(": ") + db.lastError().text());
        }
        Exec(QStringLiteral("BEGIN"));
    }
    ~SqliteDatabase() override {
        { QSqlDatabase::database(name_, false).close(); }
        QSqlDatabase::removeDatabase(name_);
        QFile::remove(temp_);
    }
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    void Commit() override {
        Exec(QStringLiteral("COMMIT"));
        { QSqlDatabase::database(name_, false).close(); }
        QFile::remove(path_);
        if (!QFile::rename(temp_, path_)) Fail(QStringLiteral("cannot write ") + path_);
    }

    void Exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        if (!q.prepare(sql))
            Fail(path_ + QStringLiteral(": ") + q.lastError().text() + " in " + sql);
        for (const QVariant& v : values) q.addBindValue(v);
        if (!q.exec()) Fail(path_ + QStringLiteral(": ") + q.lastError().text() + " in " + sql);
    }

    // Texts of bounded length carry a check, so that a value the catalog would refuse is
    // caught here already.
    void CreateTable(const QString& table, const std::vector<Column>& cols) override {
        QStringList defs;
        for (const Column& c : cols) {
            const QString n = Quote(QString::fromLatin1(c.name));
            if (c.length < 0)
                defs << n + QStringLiteral(" INTEGER");
            else if (c.length == 0)
                defs << n + QStringLiteral(" TEXT");
            else
                defs << QStringLiteral("%1 TEXT CHECK (%1 IS NULL OR length(%1) <= %2)")
                            .arg(n)
                            .arg(c.length);
        }
        Exec(QStringLiteral("CREATE TABLE %1 (%2)")
                 .arg(Quote(table), defs.join(QStringLiteral(", "))));
    }

    void Insert(const QString& table, const std::vector<Column>& cols,
                const QVariantList& values) override {
        QStringList names, marks;
        for (const Column& c : cols) {
            names << Quote(QString::fromLatin1(c.name));
            marks << QStringLiteral("?");
        }
        Exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                 .arg(Quote(table), names.join(QStringLiteral(", ")),
                      marks.join(QStringLiteral(", "))),
             values);
    }

  private:
    QString name_;
    QString path_;
    QString temp_;
};

#ifdef ZELK_DATAGEN_JET
// A Jet 4.0 file created through ADOX and filled through the tool's own ADO engine, with
// statements in the dialect the tool speaks: integers as counters (given values are kept),
// bounded texts as varchar(n), long texts as longchar.
class JetDatabase : public Database {
  public:
    explicit JetDatabase(const QString& path) : path_(path), temp_(path + QStringLiteral(".tmp")) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(temp_);
        engine_.CreateDatabase(temp_);
        conn_ = engine_.NewConnection();
        conn_->SetConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                                   catalog::QuoteConnectionValue(QDir::toNativeSeparators(temp_)));
        conn_->Open();
    }
    ~JetDatabase() override {
        conn_->Close();
        QFile::remove(temp_);
    }
    JetDatabase(const JetDatabase&) = delete;
    JetDatabase& operator=(const JetDatabase&) = delete;

    void CreateTable(const QString& table, const std::vector<Column>& cols) override {
        QStringList defs;
        for (const Column& c : cols)
            defs << QStringLiteral("[%1] %2").arg(
                QString::fromLatin1(c.name), c.length < 0 ? QStringLiteral("counter")
                                             : c.length == 0
                                                 ? QStringLiteral("longchar")
                                                 : QStringLiteral("varchar(%1)").arg(c.length));
        conn_->Execute(
            QStringLiteral("CREATE TABLE [%1] (%2)").arg(table, defs.join(QStringLiteral(", "))),
            {});
    }

    // Integers go into the text as numbers, every other value as a named text parameter.
    void Insert(const QString& table, const std::vector<Column>& cols,
                const QVariantList& values) override {
        QStringList names, marks;
        catalog::Params params;
        for (size_t i = 0; i < cols.size(); ++i) {
            const QVariant& v = values.value(qsizetype(i));
            names << QStringLiteral("[%1]").arg(QString::fromLatin1(cols[i].name));
            if (v.typeId() == QMetaType::Int) {
                marks << QString::number(v.toInt());
            } else {
                const QString name = QStringLiteral("p%1").arg(i);
                marks << u':' + name;
                params.append({name, v.isNull() ? QString() : v.toString()});
            }
        }
        conn_->Execute(
            QStringLiteral("INSERT INTO [%1] (%2) VALUES (%3)")
                .arg(table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", "))),
            params);
    }

    void Commit() override {
        conn_->Close();
        QFile::remove(path_);
        if (!QFile::rename(temp_, path_)) Fail(QStringLiteral("cannot write ") + path_);
    }

  private:
    catalog::AdoEngine engine_;
    std::unique_ptr<catalog::DbConnection> conn_;
    QString path_;
    QString temp_;
};
#endif

enum class DbFormat { Sqlite, Jet };

std::unique_ptr<Database> NewDatabase(const QString& path, DbFormat format) {
#ifdef ZELK_DATAGEN_JET
    if (format == DbFormat::Jet) return std::make_unique<JetDatabase>(path);
#endif
    if (format == DbFormat::Jet) Fail(QStringLiteral("this build writes no Jet databases"));
    return std::make_unique<SqliteDatabase>(path);
}

// The values of one family row: the CSV's columns by name, the manufacturer `maker` unless the
// CSV names one, RECNUM numbered; a column the CSV does not have is null.
QVariantList FamilyRow(const Table& t, const QStringList& row, const QString& maker, int recnum) {
    QVariantList values;
    for (const Column& c : kFamilyColumns) {
        const QString name = QString::fromLatin1(c.name);
        if (name == QLatin1String("RECNUM")) {
            values << recnum;
            continue;
        }
        const qsizetype i = t.Column(name);
        QString v = i < 0 ? QString() : row.value(i);
        if (name == QLatin1String("MANUFACTURER") && v.isEmpty()) v = maker;
        if (name == QLatin1String("CATALOG") && v.isEmpty())
            Fail(t.path + QStringLiteral(": a row without CATALOG"));
        values << (v.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(v));
    }
    for (const QString& h : t.header) {
        bool known = h.compare(QLatin1String("FAMILY"), Qt::CaseInsensitive) == 0;
        for (const Column& c : kFamilyColumns)
            known = known || h.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0;
        if (!known) Fail(t.path + QStringLiteral(": unknown column ") + h);
    }
    return values;
}

struct Family {
    QString desc;
    QString code;
};

std::vector<Family> ReadFamilies(const QString& src) {
    const Table t = ReadCsv(src + QStringLiteral("/families.csv"));
    std::vector<Family> out;
    QSet<QString> descs;
    for (const QStringList& r : t.rows) {
        Family f{t.Value(r, QStringLiteral("DESC")), t.Value(r, QStringLiteral("FAMILY"))};
        if (f.desc.isEmpty() ||
            !QRegularExpression(QStringLiteral("^[A-Z0-9_]+$")).match(f.code).hasMatch())
            Fail(t.path +
                 QStringLiteral(": a group needs a description and a family code of capital "
                                "Latin letters, digits and underscores"));
        if (descs.contains(f.desc))
            Fail(t.path + QStringLiteral(": group listed twice: ") + f.desc);
        // The install database's own tables keep their names.
        if (f.code == QLatin1String("DS") || f.code == QLatin1String("_FAMILY_DESCRIPTION"))
            Fail(t.path + QStringLiteral(": the family code names a table of its own: ") + f.code);
        descs.insert(f.desc);
        out.push_back(f);
    }
    return out;
}

void BuildInstallDatabase(const QString& src, const QString& path,
                          const std::vector<Family>& families, DbFormat format) {
    const std::unique_ptr<Database> db = NewDatabase(path, format);

    db->CreateTable(QStringLiteral("_FAMILY_DESCRIPTION"), {{"DESC", 255}, {"FAMILY", 24}});
    QSet<QString> created;
    for (const Family& f : families) {
        db->Insert(QStringLiteral("_FAMILY_DESCRIPTION"), {{"DESC", 255}, {"FAMILY", 24}},
                   {f.desc, f.code});
        if (created.contains(f.code)) continue;
        created.insert(f.code);
        const Table t = ReadCsv(QStringLiteral("%1/catalog/%2.csv").arg(src, f.code));
        if (t.rows.empty()) Fail(t.path + QStringLiteral(": no rows"));
        db->CreateTable(f.code, kFamilyColumns);
        int recnum = 0;
        for (const QStringList& r : t.rows)
            db->Insert(f.code, kFamilyColumns, FamilyRow(t, r, kMaker, ++recnum));
    }

    const Table pins = ReadCsv(src + QStringLiteral("/pinlist.csv"));
    db->CreateTable(kPinListTable, kPinListColumns);
    int recnum = 0;
    for (const QStringList& r : pins.rows) {
        QVariantList values{++recnum, kMaker};
        for (const char* c :
             {"CATALOG", "ASSEMBLYCODE", "COILPINS", "PINLIST", "PEER_COILPINS", "PEER_PINLIST"}) {
            const QString v = pins.Value(r, QString::fromLatin1(c));
            values << (v.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(v));
        }
        db->Insert(kPinListTable, kPinListColumns, values);
    }

    // DS: what the tool's window opens at start-up; a short description of the package.
    const Table ds = ReadCsv(src + QStringLiteral("/ds.csv"));
    const std::vector<Column> dsCols = {{"ID", -1}, {"NAME", 255}, {"VALUE", 255}};
    db->CreateTable(QStringLiteral("DS"), dsCols);
    int id = 0;
    for (const QStringList& r : ds.rows)
        db->Insert(
            QStringLiteral("DS"), dsCols,
            {++id, ds.Value(r, QStringLiteral("NAME")), ds.Value(r, QStringLiteral("VALUE"))});
    db->Commit();
}

// The demo catalog: the family descriptions of data-src/demo/family_description.csv (the
// catalog's own table of groups and family codes) and every family table of the package,
// empty but for the rows of another manufacturer that data-src/demo/default_cat.csv gives.
void BuildDemoCatalog(const QString& src, const QString& path, const std::vector<Family>& families,
                      DbFormat format) {
    const std::unique_ptr<Database> db = NewDatabase(path, format);
    const std::vector<Column> descCols = {{"DESC", 255}, {"FAMILY", 24}};
    db->CreateTable(QStringLiteral("_FAMILY_DESCRIPTION"), descCols);
    const Table descs = ReadCsv(src + QStringLiteral("/demo/family_description.csv"));
    for (const QStringList& r : descs.rows)
        db->Insert(
            QStringLiteral("_FAMILY_DESCRIPTION"), descCols,
            {descs.Value(r, QStringLiteral("DESC")), descs.Value(r, QStringLiteral("FAMILY"))});
    QSet<QString> created;
    for (const Family& f : families) {
        if (created.contains(f.code)) continue;
        created.insert(f.code);
        db->CreateTable(f.code, kFamilyColumns);
    }
    const Table t = ReadCsv(src + QStringLiteral("/demo/default_cat.csv"));
    std::map<QString, int> recnums;
    for (const QStringList& r : t.rows) {
        const QString code = t.Value(r, QStringLiteral("FAMILY"));
        if (!created.contains(code)) Fail(t.path + QStringLiteral(": unknown family ") + code);
        if (t.Value(r, QStringLiteral("MANUFACTURER")).contains(kMaker, Qt::CaseInsensitive))
            Fail(t.path + QStringLiteral(": the demo catalog holds no rows of the maker"));
        db->Insert(code, kFamilyColumns, FamilyRow(t, r, QString(), ++recnums[code]));
    }
    db->Commit();
}

// ---------------------------------------------------------------------------------------------
// Images

const QColor kMakerGreen(0x1B, 0x7A, 0x3D);
const QColor kInk(0x26, 0x2B, 0x33);

// Letters as strokes on a 4 x 6 grid (x to the right, y down).
const std::map<QChar, std::vector<std::vector<QPointF>>> kStrokeFont = {
    {QChar(0x0417),  // З
     {{{0, 0.6}, {1, 0}, {3, 0}, {4, 1}, {4, 2}, {3, 3}, {1.5, 3}},
      {{3, 3}, {4, 4}, {4, 5}, {3, 6}, {1, 6}, {0, 5.4}}}},
    {QChar(0x0415), {{{4, 0}, {0, 0}, {0, 6}, {4, 6}}, {{0, 3}, {3, 3}}}},            // Е
    {QChar(0x041B), {{{0, 6}, {0.8, 5.6}, {1.4, 0}, {4, 0}, {4, 6}}}},                // Л
    {QChar(0x041A), {{{0, 0}, {0, 6}}, {{4, 0}, {0.3, 3.2}}, {{1.2, 2.6}, {4, 6}}}},  // К
    {QLatin1Char('A'), {{{0, 6}, {2, 0}, {4, 6}}, {{0.8, 3.8}, {3.2, 3.8}}}},
    {QLatin1Char('V'), {{{0, 0}, {2, 6}, {4, 0}}}},
};

void DrawWord(QPainter& p, const QString& word, QPointF origin, qreal unit, qreal gap) {
    for (QChar ch : word) {
        auto it = kStrokeFont.find(ch);
        if (it == kStrokeFont.end()) Fail(QStringLiteral("no stroke letter for ") + ch);
        for (const auto& stroke : it->second) {
            QPainterPath path;
            for (size_t i = 0; i < stroke.size(); ++i) {
                const QPointF pt = origin + stroke[i] * unit;
                if (i == 0)
                    path.moveTo(pt);
                else
                    path.lineTo(pt);
            }
            p.drawPath(path);
        }
        origin.rx() += 4 * unit + gap;
    }
}

// A 64 x 64 icon: a rounded frame in `frame` colour and the symbol that `draw` paints on a
// 64-unit canvas.
QImage Icon(const QColor& frame, const std::function<void(QPainter&)>& draw) {
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(frame, 2.5));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 8, 8);
    p.setPen(QPen(kInk, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    draw(p);
    p.end();
    return img;
}

// A make contact from (32, 50) to (32, 14): fixed lead, blade swung to the left, moving lead.
void Contact(QPainter& p) {
    p.drawLine(QPointF(32, 54), QPointF(32, 42));
    p.drawLine(QPointF(32, 42), QPointF(22, 22));
    p.drawLine(QPointF(32, 22), QPointF(32, 10));
}

// A contact with the dashed linkage of a hand-operated actuator; the caller draws the actuator
// at x = 12 with the pen left set for it.
void HandOperatedContact(QPainter& p) {
    Contact(p);
    p.setPen(QPen(kInk, 1.6, Qt::DashLine));
    p.drawLine(QPointF(27, 32), QPointF(12, 32));
    p.setPen(QPen(kInk, 2.6));
}

std::map<QString, std::function<void(QPainter&)>> SymbolPainters() {
    std::map<QString, std::function<void(QPainter&)>> m;
    m["CB"] = [](QPainter& p) {  // contact with the breaker's cross at the moving end
        Contact(p);
        p.drawLine(QPointF(28, 18), QPointF(36, 26));
        p.drawLine(QPointF(36, 18), QPointF(28, 26));
    };
    m["SW"] = [](QPainter& p) {  // switch-disconnector: contact with a bar at the fixed end
        Contact(p);
        p.drawLine(QPointF(27, 22), QPointF(37, 22));
    };
    m["FU"] = [](QPainter& p) {
        p.drawRect(QRectF(24, 14, 16, 36));
        p.drawLine(QPointF(32, 6), QPointF(32, 58));
    };
    m["MS"] = [](QPainter& p) {  // contactor: contact with the half circle at the fixed end
        Contact(p);
        p.drawArc(QRectF(28, 18, 8, 8), 90 * 16, 180 * 16);
        p.drawRect(QRectF(42, 30, 14, 10));
        p.setPen(QPen(kInk, 1.6, Qt::DashLine));
        p.drawLine(QPointF(27, 32), QPointF(42, 35));
    };
    m["SS"] = [](QPainter& p) {  // selector: contact with a cranked actuator
        HandOperatedContact(p);
        p.drawLine(QPointF(12, 26), QPointF(12, 38));
        p.drawLine(QPointF(12, 26), QPointF(8, 22));
        p.drawLine(QPointF(12, 38), QPointF(16, 42));
    };
    m["EN"] = [](QPainter& p) {  // cabinet with its door handle
        p.drawRect(QRectF(16, 8, 32, 48));
        p.drawLine(QPointF(42, 26), QPointF(42, 38));
        p.drawLine(QPointF(16, 50), QPointF(48, 50));
    };
    m["LS"] = [](QPainter& p) {  // limit switch: contact with a wedge
        Contact(p);
        QPainterPath wedge;
        wedge.moveTo(10, 26);
        wedge.lineTo(18, 32);
        wedge.lineTo(10, 38);
        p.drawPath(wedge);
        p.drawLine(QPointF(18, 32), QPointF(27, 32));
    };
    m["PLCIO"] = [](QPainter& p) {  // module with terminals on both sides
        p.drawRect(QRectF(20, 10, 24, 44));
        for (int y = 16; y <= 48; y += 8) {
            p.drawLine(QPointF(10, y), QPointF(20, y));
            p.drawLine(QPointF(44, y), QPointF(54, y));
        }
    };
    m["OL"] = [](QPainter& p) {  // thermal element
        p.drawRect(QRectF(18, 14, 28, 36));
        QPainterPath z;
        z.moveTo(32, 8);
        z.lineTo(32, 24);
        z.lineTo(40, 24);
        z.lineTo(40, 40);
        z.lineTo(32, 40);
        z.lineTo(32, 56);
        p.drawPath(z);
    };
    m["PB"] = [](QPainter& p) {  // push button: contact with a pushed actuator
        HandOperatedContact(p);
        p.drawLine(QPointF(12, 24), QPointF(12, 40));
        p.drawLine(QPointF(12, 24), QPointF(8, 24));
        p.drawLine(QPointF(12, 40), QPointF(8, 40));
    };
    m["AN"] = [](QPainter& p) {  // bell / horn
        p.drawArc(QRectF(14, 14, 36, 36), 0, 180 * 16);
        p.drawLine(QPointF(14, 32), QPointF(50, 32));
        p.drawLine(QPointF(24, 32), QPointF(24, 54));
        p.drawLine(QPointF(40, 32), QPointF(40, 54));
    };
    m["LT"] = [](QPainter& p) {  // lamp: circle with a cross
        p.drawEllipse(QPointF(32, 32), 16, 16);
        p.drawLine(QPointF(20.7, 20.7), QPointF(43.3, 43.3));
        p.drawLine(QPointF(43.3, 20.7), QPointF(20.7, 43.3));
        p.drawLine(QPointF(32, 6), QPointF(32, 16));
        p.drawLine(QPointF(32, 48), QPointF(32, 58));
    };
    m["AM"] = [](QPainter& p) {  // meter: circle with the letter A
        p.drawEllipse(QPointF(32, 32), 18, 18);
        p.setPen(QPen(kInk, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        DrawWord(p, QStringLiteral("A"), QPointF(26, 23), 3, 0);
    };
    m["FLT"] = [](QPainter& p) {  // filter: box with a crossed wave
        p.drawRect(QRectF(12, 16, 40, 32));
        QPainterPath w;
        w.moveTo(18, 32);
        w.cubicTo(23, 22, 27, 22, 32, 32);
        w.cubicTo(37, 42, 41, 42, 46, 32);
        p.drawPath(w);
        p.drawLine(QPointF(38, 22), QPointF(26, 42));
    };
    m["DUCT"] = [](QPainter& p) {  // cable duct section with slots
        QPainterPath u;
        u.moveTo(12, 14);
        u.lineTo(12, 50);
        u.lineTo(52, 50);
        u.lineTo(52, 14);
        p.drawPath(u);
        for (int y = 20; y <= 40; y += 10) {
            p.drawLine(QPointF(12, y), QPointF(18, y));
            p.drawLine(QPointF(46, y), QPointF(52, y));
        }
        p.drawLine(QPointF(8, 14), QPointF(56, 14));
    };
    m["TRMS"] = [](QPainter& p) {  // terminals on a rail
        for (int x = 16; x <= 48; x += 16) {
            p.drawEllipse(QPointF(x, 28), 5, 5);
            p.drawLine(QPointF(x, 10), QPointF(x, 23));
            p.drawLine(QPointF(x, 33), QPointF(x, 44));
        }
        p.drawLine(QPointF(8, 48), QPointF(56, 48));
        p.drawLine(QPointF(8, 53), QPointF(56, 53));
    };
    m["CR"] = [](QPainter& p) {  // relay coil with its contact
        p.drawRect(QRectF(8, 24, 18, 16));
        p.drawLine(QPointF(17, 10), QPointF(17, 24));
        p.drawLine(QPointF(17, 40), QPointF(17, 54));
        p.drawLine(QPointF(44, 54), QPointF(44, 42));
        p.drawLine(QPointF(44, 42), QPointF(36, 24));
        p.drawLine(QPointF(44, 24), QPointF(44, 10));
        p.setPen(QPen(kInk, 1.6, Qt::DashLine));
        p.drawLine(QPointF(26, 32), QPointF(39, 32));
    };
    return m;
}

void SavePng(const QImage& img, const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!img.save(path, "PNG")) Fail(QStringLiteral("cannot write %1").arg(path));
}

// The maker's mark: the name in white strokes on the maker's green.
QImage MakerIcon() {
    QImage img(64, 64, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kMakerGreen);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    DrawWord(p, kMaker, QPointF(7.5, 23), 2.6, 2.8);
    p.setPen(QPen(QColor(0xF2, 0xC1, 0x2E), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 46), QPointF(54, 46));
    p.end();
    return img;
}

// ---------------------------------------------------------------------------------------------
// Menu and library

const QString kEntryLine = QStringLiteral("ЗЕЛК|IMAGES\\zelk.png|$S=M400");

struct MenuRefs {
    QSet<QString> images;                             // file names below IMAGES
    std::vector<std::pair<QString, QString>> blocks;  // block name, label
};

// Checks the maker's submenu block and collects the images and blocks its entries name.
MenuRefs CheckMakerMenu(const QString& path, const QStringList& lines) {
    if (lines.isEmpty() || !lines.first().contains(QStringLiteral("*M400")))
        Fail(path + QStringLiteral(": the first line must open submenu M400"));
    MenuRefs refs;
    QSet<QString> blocks;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& l = lines[i];
        const QString where = QStringLiteral("%1, line %2").arg(path).arg(i + 1);
        if (i > 0 && l.contains(QStringLiteral("*M400")))
            Fail(where + QStringLiteral(": a second \"*M400\""));
        if (l.contains(kEntryLine))
            Fail(where + QStringLiteral(": the maker's entry line belongs to M0"));
        if (l.contains(QStringLiteral("**M0")))
            Fail(where + QStringLiteral(": a head line of menu M0"));
        const QStringList f = l.split(QLatin1Char('|'));
        if (f.size() != 3) continue;
        const QString image = f[1].trimmed();
        if (!image.startsWith(QStringLiteral("IMAGES\\")))
            Fail(where + QStringLiteral(": the image must lie in IMAGES\\"));
        refs.images.insert(image.mid(7));
        const QString fn = f[2].trimmed();
        if (fn.startsWith(QStringLiteral("$S=")) || fn.startsWith(QLatin1Char('('))) continue;
        if (!fn.contains(QStringLiteral("ZELK")))
            Fail(where + QStringLiteral(": a maker's block name contains \"ZELK\""));
        if (blocks.contains(fn)) Fail(where + QStringLiteral(": block named twice: ") + fn);
        blocks.insert(fn);
        refs.blocks.push_back({fn, f[0].trimmed()});
    }
    return refs;
}

QByteArray DwgStandIn(const QString& block, const QString& label) {
    const QString text =
        QStringLiteral(
            "ЗЕЛК: образец файла библиотеки обозначений (sample symbol library file)\r\n"
            "Блок: %1\r\n"
            "Обозначение: %2\r\n"
            "Это текстовая замена чертежа DWG для демонстрации установки; AutoCAD её не "
            "откроет.\r\n"
            "A plain-text stand-in for a DWG drawing, made for the installer's demo data.\r\n")
            .arg(block, label);
    return text.toUtf8();
}

// The connection string template: the catalog connection's properties with the placeholder
// "zelk_install.mdb" where the catalog path belongs.
QString ConnectionTemplate() {
    return QStringLiteral(
        "Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=zelk_install.mdb;"
        "Mode=Share Deny None;Jet OLEDB:System database=\"\";Jet OLEDB:Registry Path=\"\";"
        "Jet OLEDB:Database Password=\"\";Jet OLEDB:Engine Type=5;"
        "Jet OLEDB:Database Locking Mode=0;Jet OLEDB:Global Partial Bulk Ops=2;"
        "Jet OLEDB:Global Bulk Transactions=1;Jet OLEDB:New Database Password=\"\";"
        "Jet OLEDB:Create System Database=False;Jet OLEDB:Encrypt Database=False;"
        "Jet OLEDB:Don't Copy Locale on Compact=False;"
        "Jet OLEDB:Compact Without Replica Repair=False;Jet OLEDB:SFP=False;");
}

void BuildPackage(const QString& src, const QString& out, DbFormat format) {
    const std::vector<Family> families = ReadFamilies(src);
    BuildInstallDatabase(src, out + QStringLiteral("/ZELK_install.mdb"), families, format);

    const QString data = out + QStringLiteral("/data");
    WriteAnsiLines(data + QStringLiteral("/bd_info.txt"), {ConnectionTemplate()});

    const QStringList menu = ReadLines(src + QStringLiteral("/menu.txt"));
    const MenuRefs refs = CheckMakerMenu(src + QStringLiteral("/menu.txt"), menu);
    WriteAnsiLines(data + QStringLiteral("/menu.txt"), menu);

    // Images: the maker's mark and one icon per family; the menu may name no other.
    QDir(data + QStringLiteral("/IMAGES")).removeRecursively();
    QSet<QString> drawn;
    SavePng(MakerIcon(), data + QStringLiteral("/IMAGES/zelk.png"));
    drawn.insert(QStringLiteral("zelk.png"));
    const auto painters = SymbolPainters();
    for (const Family& f : families) {
        const QString name = QStringLiteral("zelk_%1.png").arg(f.code.toLower());
        if (drawn.contains(name)) continue;
        auto it = painters.find(f.code);
        if (it == painters.end()) Fail(QStringLiteral("no icon drawing for family ") + f.code);
        SavePng(Icon(kMakerGreen, it->second), data + QStringLiteral("/IMAGES/") + name);
        drawn.insert(name);
    }
    for (const QString& img : refs.images)
        if (!drawn.contains(img))
            Fail(QStringLiteral("menu.txt names an image that is not drawn: ") + img);

    QDir(data + QStringLiteral("/ZELK")).removeRecursively();
    for (const auto& [block, label] : refs.blocks)
        WriteFile(QStringLiteral("%1/ZELK/%2.dwg").arg(data, block), DwgStandIn(block, label));
}

// The release folder of the roaming profile of each AutoCAD Electrical release year (the
// AutoCAD release it is built on).
QString ReleaseFolder(const QString& year) {
    static const std::map<QString, QString> releases = {
        {"2016", "R20.1"}, {"2017", "R21.0"}, {"2018", "R22.0"}, {"2019", "R23.0"},
        {"2020", "R23.1"}, {"2021", "R24.0"}, {"2022", "R24.1"}, {"2023", "R24.2"},
        {"2024", "R24.3"}, {"2025", "R25.0"}, {"2026", "R25.1"}};
    const auto it = releases.find(year);
    if (it == releases.end())
        Fail(QStringLiteral("no demo layout for release \"%1\" (2016 to 2026)").arg(year));
    return it->second;
}

void BuildDemoProfile(const QString& src, const QString& root, const QString& year,
                      DbFormat format) {
    const std::vector<Family> families = ReadFamilies(src);
    const QString user = root + QStringLiteral("/USERPROFILE");
    const QString rel = user + QStringLiteral("/AppData/Roaming/Autodesk/AutoCAD Electrical ") +
                        year + QLatin1Char('/') + ReleaseFolder(year);
    const QString support = rel + QStringLiteral("/rus/Support");
    QDir().mkpath(support + QStringLiteral("/Profiles"));
    QDir().mkpath(support + QStringLiteral("/Images"));
    for (const char* name : {"ACE_IEC_MENU.DAT", "ACE_IEC-60617_MENU.DAT"})
        WriteAnsiLines(support + QLatin1Char('/') + QLatin1String(name),
                       ReadLines(src + QStringLiteral("/demo/") + QLatin1String(name)));

    // A few images and library files of AutoCAD Electrical's own, which Clean must leave.
    const auto painters = SymbolPainters();
    const QColor grey(0x80, 0x86, 0x8F);
    for (const char* code : {"PB", "SS", "LS", "CR", "LT", "FU"})
        SavePng(
            Icon(grey, painters.at(QLatin1String(code))),
            QStringLiteral("%1/Images/s_%2.png").arg(support, QString::fromLatin1(code).toLower()));

    BuildDemoCatalog(
        src,
        user +
            QStringLiteral("/Documents/Acade %1/AeData/ru-RU/Catalogs/default_cat.mdb").arg(year),
        families, format);

    const QString lib =
        root + QStringLiteral("/PUBLIC/Documents/Autodesk/Acade %1/Libs/iec2").arg(year);
    QDir().mkpath(lib);
    for (const char* block : {"HPB11", "HPB12", "HLT1", "HCR1"})
        WriteFile(QStringLiteral("%1/%2.dwg").arg(lib, QLatin1String(block)),
                  QStringLiteral("Demo library symbol %1 (plain-text stand-in)\r\n")
                      .arg(QLatin1String(block))
                      .toUtf8());
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zelk_datagen [--jet] --package DATA_SRC OUT_DIR\n"
                 "       zelk_datagen [--jet] --demo-profile DATA_SRC DEMO_DIR [--release YEAR]\n"
                 "--jet writes the databases as Jet 4.0 files (Windows builds with Jet "
                 "support, on a system where the Jet provider is registered)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    DbFormat format = DbFormat::Sqlite;
    QString year = QStringLiteral("2017");
    const bool release = args.size() > 2 && args[args.size() - 2] == QLatin1String("--release");
    if (release) {
        year = args.takeLast();
        args.removeLast();
    }
    if (args.size() == 5 && args[1] == QLatin1String("--jet")) {
        format = DbFormat::Jet;
        args.removeAt(1);
    }
    if (args.size() != 4 || (release && args[1] != QLatin1String("--demo-profile"))) return Usage();
    const QString src = QDir(args[2]).absolutePath();
    const QString out = QDir(args[3]).absolutePath();
    try {
        if (args[1] == QLatin1String("--package"))
            BuildPackage(src, out, format);
        else if (args[1] == QLatin1String("--demo-profile"))
            BuildDemoProfile(src, out, year, format);
        else
            return Usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelk_datagen: %s\n", e.what());
        return 1;
    }
    return 0;
}
