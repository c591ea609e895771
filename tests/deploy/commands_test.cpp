// Install and Clean on a fake profile, a fake public folder and a fake tool folder (the current
// directory during the test), with a real catalog connection, on every engine: the SQLite
// stand-in, the stand-in shaped as Jet, and ADO on real Jet files where the build has it. The
// suites that break the catalog file itself or kill the tool run on the stand-in's files.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QVariant>
#include <random>

#include "deploy/Clean.h"
#include "deploy/Install.h"

#ifdef __linux__
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif
#include <map>

#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "deploy/DeployFixture.h"
#include "state/Discovery.h"
#include "state/Selection.h"
#include "support/Engines.h"
#include "support/ErrorOf.h"
#include "support/FakeForm.h"
#include "support/ScratchMounts.h"
#include "support/SqlFile.h"

namespace {

const QString kBreakers = QStringLiteral("Автоматические выключатели");
const QString kFuses = QStringLiteral("Предохранители");
const QString kEntry = QStringLiteral("ЗЕЛК|IMAGES\\zelk.png|$S=M400");

// Runs statements in the Jet dialect through the engine the tool runs on, on a database file
// it creates when missing.
void Sql(const QString& file, const QStringList& statements) {
    if (!QFileInfo::exists(file))
        catalog::DefaultEngine().CreateDatabase(QDir::toNativeSeparators(file));
    auto c = catalog::DefaultEngine().NewConnection();
    c->SetConnectionString(catalog::JetConnectionString(
        catalog::QuoteConnectionValue(QDir::toNativeSeparators(file))));
    for (const QString& s : statements) c->Execute(s, {});
}

// The first column of the first row of a query through the engine, -1 when it fails.
int Count(const QString& file, const QString& select) {
    try {
        auto c = catalog::DefaultEngine().NewConnection();
        c->SetConnectionString(catalog::JetConnectionString(
            catalog::QuoteConnectionValue(QDir::toNativeSeparators(file))));
        const catalog::FirstRow r = c->OpenQuery(select, {});
        return r.values.isEmpty() ? -1 : r.values.first().toInt();
    } catch (const AppError&) {
        return -1;
    }
}

const char* kFamilyColumns =
    "([CATALOG] varchar(60), [MANUFACTURER] varchar(24), [DESCRIPTION] text)";
const char* kFamilyDescription = "create table _FAMILY_DESCRIPTION ([DESC] text, [FAMILY] text)";

// The fixture of every suite below; each runs on the engine its parameter names.
class CommandsFixture : public ::testing::Test {
  protected:
    virtual const engines::EngineCase& Engine() const = 0;
    TempDir tmp;
    CurrentDirGuard cwd;
    AppState st;
    FakeForm form;
    std::unique_ptr<catalog::CatalogDb> db;
    QString tool, support, images, library, catalogFile;
    QStringList menu, followMenu, block;

    void SetUp() override {
        const std::string why = engines::Use(Engine());
        if (!why.empty()) GTEST_SKIP() << why;
        tool = tmp.mkdir("tool");
        tmp.mkdir("tool/data/IMAGES/old");
        tmp.write("tool/data/IMAGES/old/zelk_old.png", "old");
        tmp.write("tool/data/IMAGES/zelk.png", "icon");
        tmp.write("tool/data/IMAGES/zelk_cb.png", "cb");
        tmp.write("tool/data/IMAGES/panel.png", "panel");
        tmp.write("tool/data/ZELK/ZELK_QF.dwg", "qf");
        tmp.write("tool/data/ZELK/zelk_fu.dwg", "fu");
        tmp.write("tool/data/ZELK/common.dwg", "common");
        block = MakerBlock(298);
        tmp.write("tool/data/menu.txt", Bytes(CrLf(block), TextEncoding::Ansi));
        Sql(tmp.file("tool/ZELK_install.mdb"),
            {"create table DS ([ID] integer)", kFamilyDescription,
             "insert into _FAMILY_DESCRIPTION values ('" + kBreakers + "', 'CB')",
             "insert into _FAMILY_DESCRIPTION values ('" + kFuses + "', 'FU')",
             QString("create table CB ") + kFamilyColumns,
             "insert into CB values ('QF-1', 'ЗЕЛК', 'Выключатель 1')",
             "insert into CB values ('QF-2', 'ЗЕЛК', 'Выключатель 2')",
             QString("create table FU ") + kFamilyColumns,
             "insert into FU values ('FU-1', 'ЗЕЛК', 'Предохранитель')",
             "create table [_PINLIST_ЗЕЛК] ([RECNUM] integer, [manufacturer] varchar(24), "
             "[CATALOG] varchar(60), [ASSEMBLYCODE] varchar(24), [COILPINS] varchar(255), "
             "[PINLIST] text, [PEER_COILPINS] text, [PEER_PINLIST] text)",
             "insert into [_PINLIST_ЗЕЛК] values (1, 'ЗЕЛК', 'QF-1', null, null, 'A1,A2', null, "
             "null)"});

        const QString roaming = "user/AppData/Roaming/Autodesk/AutoCAD Electrical 2017/";
        tmp.mkdir(roaming + "R20.0");
        support = tmp.mkdir(roaming + "R21.0/rus/Support") + "/";
        images = support + "Images/";
        tmp.mkdir(roaming + "R21.0/enu");  // no Support: its image folder is not created
        menu = QStringList{"**M0",     "Меню IEC", "ICONS",      "Контакторы|IMAGES\\km.png|$S=M2",
                           "\"**M0\"", "**M2",     "Контакторы", "x",
                           "y"};
        followMenu = QStringList{"**M0", "IEC 60617", "a", "b", "c"};
        tmp.write(roaming + "R21.0/rus/Support/ACE_IEC_MENU.DAT",
                  Bytes(menu.join("\n"), TextEncoding::Ansi));
        tmp.write(roaming + "R21.0/rus/Support/ACE_IEC-60617_MENU.DAT",
                  Bytes(CrLf(followMenu), TextEncoding::Utf16LE));
        catalogFile = tmp.file("user/Documents/Acade 2017/AeData/ru-RU/Catalogs/default_cat.mdb");
        tmp.mkdir("user/Documents/Acade 2017/AeData/ru-RU/Catalogs");
        Sql(catalogFile, {QString("create table CB ") + kFamilyColumns,
                          "insert into CB values ('U-1', 'ABB', 'Свой выключатель')",
                          QString("create table FU ") + kFamilyColumns});
        library = tmp.mkdir("public/Documents/Autodesk/Acade 2017/Libs/iec2") + "/";
        tmp.write("public/Documents/Autodesk/Acade 2017/Libs/iec2/my_zelk_notes.dwg", "mine");
        tmp.write("public/Documents/Autodesk/Acade 2017/Libs/iec2/iec_std.dwg", "std");

        st.exeDir = tool + "\\";
        st.BindSettings();
        st.userprofile = tmp.path() + "user";
        st.publicprofile = tmp.path() + "public";
        st.year = "2017";
        st.language = "rus";
        st.path_mem = tool;
        st.fstr = catalog::JetConnectionString("zelk_install.mdb");
        form.comboBox1 = "2017";
        form.comboBox2 = "rus";
        form.listBox2 = {kBreakers, kFuses};
        ASSERT_TRUE(QDir::setCurrent(tool));
        db = std::make_unique<catalog::CatalogDb>(st);
    }
    void TearDown() override { db.reset(); }

    Context Ctx() { return Context{st, form, *db, nullptr, {}}; }
    void Install() {
        Context ctx = Ctx();
        RunGuarded(form, [&] { deploy::Install(ctx); });
    }
    void Clean() {
        Context ctx = Ctx();
        RunGuarded(form, [&] { deploy::Clean(ctx); });
    }
    QByteArray Menu(const char* name) const { return tmp.read(support + name); }
    int MakerRows(const char* table) const {
        return Count(catalogFile,
                     QString("select count(*) from %1 where MANUFACTURER='ЗЕЛК'").arg(table));
    }
    bool CatalogHas(const QString& table) const {
        QStringList names;
        try {
            auto c = catalog::DefaultEngine().NewConnection();
            c->SetConnectionString(catalog::JetConnectionString(
                catalog::QuoteConnectionValue(QDir::toNativeSeparators(catalogFile))));
            c->GetTableNames(names);
        } catch (const AppError&) {
        }
        return names.contains(table, Qt::CaseInsensitive);
    }
    bool Exists(const QString& path) const { return QFileInfo::exists(path); }
    // The suites that break the catalog's file or kill the tool work on SQLite's files.
    bool OnSqliteFiles() const { return !Engine().jet; }
};

std::string EngineName(const engines::EngineCase& c) { return c.name; }

class CommandsTest : public CommandsFixture,
                     public ::testing::WithParamInterface<engines::EngineCase> {
  protected:
    const engines::EngineCase& Engine() const override { return GetParam(); }
};

TEST_P(CommandsTest, InstallTwiceThenCleanGivesEverythingBack) {
    tmp.write(support.mid(tmp.path().size()) + "Images/zelk_cb.png", "user's own");
    const QByteArray firstBefore = Bytes(CrLf(menu), TextEncoding::Ansi);
    const QByteArray followBefore = Menu("ACE_IEC-60617_MENU.DAT");

    Install();
    ASSERT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages, QStringList({"Установка произведена успешно"}));
    EXPECT_EQ(st.ver, "R21.0");
    EXPECT_EQ(form.edit2,
              st.userprofile + "\\Documents\\Acade 2017\\AeData\\ru-RU\\Catalogs\\default_cat.mdb");
    EXPECT_EQ(st.Finifile->ReadString("BASE", "PATH"), form.edit2);
    EXPECT_TRUE(db->CatalogReady());
    EXPECT_EQ(st.socr, QStringList({"CB", "FU"}));
    EXPECT_EQ(MakerRows("CB"), 2);
    EXPECT_EQ(MakerRows("FU"), 1);
    EXPECT_TRUE(CatalogHas("_PINLIST_ЗЕЛК"));
    EXPECT_TRUE(CatalogHas("PNEU-GAU"));
    EXPECT_EQ(st.path_library,
              st.publicprofile + "\\Documents\\Autodesk\\Acade 2017\\Libs\\iec2\\");
    EXPECT_TRUE(Exists(images + "zelk.png") && Exists(images + "panel.png"));
    EXPECT_EQ(tmp.read(images + "zelk_cb.png"), "user's own");  // never replaced
    EXPECT_FALSE(Exists(images + "old"));                       // folders are not copied
    EXPECT_FALSE(Exists(support + "../../enu/Support/Images"));
    EXPECT_TRUE(Exists(library + "ZELK_QF.dwg") && Exists(library + "common.dwg"));
    EXPECT_EQ(st.avocadmenu, st.path_support + "ACE_IEC-60617_MENU.DAT");
    const QByteArray firstOnce = Menu("ACE_IEC_MENU.DAT");
    const QByteArray followOnce = Menu("ACE_IEC-60617_MENU.DAT");
    EXPECT_EQ(DecodeText(firstOnce).lines,
              QStringList({"**M0", "Меню IEC", "ICONS", kEntry, "Контакторы|IMAGES\\km.png|$S=M2",
                           "\"**M0\"", "**M2", "Контакторы", "x", "y"}) +
                  block);
    // The details of the closing message, and the progress shown on the way.
    ASSERT_EQ(form.details.size(), 1);
    for (const char* part :
         {"семейство CB («Автоматические выключатели»): удалено строк ЗЕЛК: 0, добавлено строк: 2",
          "семейство FU («Предохранители»): удалено строк ЗЕЛК: 0, добавлено строк: 1",
          "списки выводов _PINLIST_ЗЕЛК: удалено строк ЗЕЛК: 0, добавлено строк: 1",
          "Images\": скопировано 2, пропущено (уже были) 1, не скопировано 0",
          "iec2\": скопировано 3, пропущено (уже были) 0",
          "ACE_IEC_MENU.DAT\": добавлено строк: 299",
          "ACE_IEC-60617_MENU.DAT\": добавлено строк: 299"})
        EXPECT_TRUE(form.details[0].contains(QDir::toNativeSeparators(QString::fromUtf8(part))))
            << part << "\n"
            << form.details[0].toStdString();
    EXPECT_TRUE(form.progress.contains("Установка: группа 2 из 2 («Предохранители») [3/7]"))
        << form.progress.join('\n').toStdString();

    // A second Install, with the current directory left elsewhere by a file dialog: no second
    // entry, block or maker row.
    form.messages.clear();
    ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    Install();
    ASSERT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages, QStringList({"Установка произведена успешно"}));
    EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), firstOnce);
    EXPECT_EQ(Menu("ACE_IEC-60617_MENU.DAT"), followOnce);
    EXPECT_EQ(MakerRows("CB"), 2);

    // A file dialog left the current directory elsewhere; Clean goes back to the tool folder.
    QDir::setCurrent(tmp.path());
    form.messages.clear();
    Clean();
    ASSERT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages, QStringList({"Чистка завершена успешно!"}));
    EXPECT_EQ(MakerRows("CB"), 0);
    EXPECT_EQ(MakerRows("FU"), 0);
    EXPECT_EQ(Count(catalogFile, "select count(*) from CB"), 1);  // the user's row stays
    ASSERT_EQ(form.details.size(), 3);
    for (const char* part : {"семейство CB («Автоматические выключатели»): удалено строк ЗЕЛК: 2",
                             "списки выводов _PINLIST_ЗЕЛК: удалено строк ЗЕЛК: 1, таблица удалена",
                             "Images\": удалено 2, не удалено 0", "iec2\": удалено 2, не удалено 0",
                             "ACE_IEC_MENU.DAT\": удалено строк: 299"})
        EXPECT_TRUE(form.details[2].contains(QDir::toNativeSeparators(QString::fromUtf8(part))))
            << part << "\n"
            << form.details[2].toStdString();
    EXPECT_FALSE(CatalogHas("_PINLIST_ЗЕЛК"));
    // The compaction, which cannot tell how far it is, runs aside under a progress window.
    EXPECT_TRUE(form.progress.contains("Чистка: сжатие базы изделий [0/0]"))
        << form.progress.join('\n').toStdString();
    EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), firstBefore);
    EXPECT_EQ(Menu("ACE_IEC-60617_MENU.DAT"), followBefore);
    // Only the maker's files with the maker's name go; the user's own stay.
    EXPECT_FALSE(Exists(images + "zelk.png"));
    EXPECT_FALSE(Exists(library + "ZELK_QF.dwg") || Exists(library + "zelk_fu.dwg"));
    EXPECT_TRUE(Exists(images + "panel.png") && Exists(library + "common.dwg"));
    EXPECT_TRUE(Exists(library + "my_zelk_notes.dwg") && Exists(library + "iec_std.dwg"));
}

TEST_P(CommandsTest, RefusalsComeAfterTheCatalogIsRetargetedAndItsTablesCreated) {
    const QByteArray firstBefore = Menu("ACE_IEC_MENU.DAT");
    // The catalog field already shows the stored catalog, so its change handler does not run
    // and cannot fill the version and language fields.
    form.edit2 = catalogFile;
    st.Finifile->WriteString("BASE", "PATH", catalogFile);
    struct Case {
        QString combo1, combo2;
        QStringList groups;
        QString message;
    };
    const Case cases[] = {{"", "rus", {kBreakers}, "Укажите версию программы и используемый язык"},
                          {"2017", "", {}, "Укажите версию программы и используемый язык"},
                          {"2017", "rus", {}, "Выберите группы компонентов для переноса"}};
    for (const Case& c : cases) {
        form.comboBox1 = c.combo1;
        form.comboBox2 = c.combo2;
        form.listBox2 = c.groups;
        form.messages.clear();
        // Once the install database is open, a current directory that a file dialog moved is
        // set back from path_mem before the checks.
        if (&c != &cases[0]) QDir::setCurrent(tmp.path());
        Install();
        EXPECT_EQ(form.errors, QStringList());
        EXPECT_EQ(form.messages, QStringList({c.message}));
        EXPECT_TRUE(db->CatalogReady());
        EXPECT_TRUE(CatalogHas("_PINLIST_ЗЕЛК") && CatalogHas("PNEU-GAU"));
        EXPECT_EQ(QDir::currentPath(), QDir(tool).absolutePath());
        EXPECT_EQ(st.avocadmenu, st.path_support + "ACE_IEC_MENU.DAT");
        EXPECT_EQ(MakerRows("CB"), 0);
        EXPECT_FALSE(Exists(images + "zelk.png"));
        EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), firstBefore);
    }
}

// The maker's files unpacked read-only (from an archive or a CD): Install places ordinary,
// writable copies; copies that an earlier version left read-only are taken away by Clean.
TEST_P(CommandsTest, ReadOnlyMakerFilesInstallAsOrdinaryFilesAndCleanAway) {
    const auto readOnly = [](const QString& file) {
        return QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadUser);
    };
    for (const QString& data : {tool + "/data/IMAGES/", tool + "/data/ZELK/"})
        for (const QString& name : QDir(data).entryList(QDir::Files))
            ASSERT_TRUE(readOnly(data + name));
    Install();
    ASSERT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages, QStringList({"Установка произведена успешно"}));
    for (const QString& copy : {images + "zelk.png", library + "ZELK_QF.dwg"})
        EXPECT_TRUE(QFileInfo(copy).permission(QFileDevice::WriteOwner)) << copy.toStdString();

    ASSERT_TRUE(readOnly(images + "zelk.png") && readOnly(library + "ZELK_QF.dwg"));
    form.messages.clear();
    Clean();
    EXPECT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages, QStringList({"Чистка завершена успешно!"}));
    EXPECT_FALSE(Exists(images + "zelk.png") || Exists(library + "ZELK_QF.dwg"));
}

TEST_P(CommandsTest, CleanBeforeAnyCatalogIsConnectedTouchesNothing) {
    Install();
    ASSERT_EQ(form.errors, QStringList());
    const QByteArray first = Menu("ACE_IEC_MENU.DAT");
    const QByteArray installDb = tmp.read("tool/ZELK_install.mdb");
    const QByteArray catalogDb = tmp.read(catalogFile);

    // As after a new start: no catalog reconnection yet.
    db = std::make_unique<catalog::CatalogDb>(st);
    st.avocadmenu = "unchanged";
    form.messages.clear();
    Clean();
    EXPECT_EQ(form.errors, QStringList());
    ASSERT_EQ(form.messages.size(), 1);
    EXPECT_TRUE(form.messages[0].startsWith("Чистка не выполнена"))
        << form.messages[0].toStdString();
    EXPECT_EQ(st.avocadmenu, "unchanged");
    EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), first);
    EXPECT_TRUE(Exists(images + "zelk.png") && Exists(library + "ZELK_QF.dwg"));
    EXPECT_EQ(tmp.read("tool/ZELK_install.mdb"), installDb);
    EXPECT_EQ(tmp.read(catalogFile), catalogDb);
}

TEST_P(CommandsTest, MissingMakerDataIsReportedBeforeMenusOrFilesAreTouched) {
    // Install without "data\menu.txt": the error comes before any menu file is written.
    QFile::remove(tmp.file("tool/data/menu.txt"));
    const QByteArray first = Menu("ACE_IEC_MENU.DAT");
    const QByteArray follow = Menu("ACE_IEC-60617_MENU.DAT");
    Install();
    ASSERT_EQ(form.errors.size(), 1);
    EXPECT_TRUE(form.errors[0].startsWith("Cannot open file \"") &&
                form.errors[0].contains("menu.txt\""))
        << form.errors[0].toStdString();
    EXPECT_EQ(form.messages, QStringList());
    EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), first);
    EXPECT_EQ(Menu("ACE_IEC-60617_MENU.DAT"), follow);

    // Clean without the data folders: no file can be told to be the maker's, so none is
    // deleted; the rest of Clean goes on and its closing message names the files left.
    tmp.write("tool/data/menu.txt", Bytes(CrLf(block), TextEncoding::Ansi));
    form.errors.clear();
    Install();
    ASSERT_EQ(form.errors, QStringList());
    QDir(tmp.file("tool/data/IMAGES")).removeRecursively();
    QDir(tmp.file("tool/data/ZELK")).removeRecursively();
    form.messages.clear();
    Clean();
    EXPECT_EQ(form.errors, QStringList());
    ASSERT_EQ(form.messages.size(), 1);
    const QString& m = form.messages[0];
    EXPECT_TRUE(m.startsWith("Чистка выполнена не полностью:") && m.contains("IMAGES") &&
                m.contains("zelk.png") && m.contains("ZELK_QF.dwg") &&
                m.contains("my_zelk_notes.dwg"))
        << m.toStdString();
    EXPECT_TRUE(Exists(images + "zelk.png") && Exists(library + "ZELK_QF.dwg"));
    EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), Bytes(CrLf(menu), TextEncoding::Ansi));
}

TEST_P(CommandsTest, CleanStopsBeforeCompactionWhenTheMenuCannotBeToldApart) {
    Install();
    ASSERT_EQ(form.errors, QStringList());
    QStringList lines = DecodeText(Menu("ACE_IEC_MENU.DAT")).lines;
    lines[lines.size() - 10] = "строка, изменённая пользователем";
    const QByteArray edited = Bytes(CrLf(lines), TextEncoding::Ansi);
    tmp.write(support.mid(tmp.path().size()) + "ACE_IEC_MENU.DAT", edited);
    const QByteArray follow = Menu("ACE_IEC-60617_MENU.DAT");
    // Without the library data folder the library files cannot be told apart: the menu's
    // failure does not hide that.
    QDir(tmp.file("tool/data/ZELK")).removeRecursively();
    form.messages.clear();
    Clean();
    ASSERT_EQ(form.errors.size(), 1);
    EXPECT_TRUE(form.errors[0].contains("Не удалось распознать подменю ЗЕЛК"));
    EXPECT_TRUE(form.errors[0].contains("ZELK_QF.dwg")) << form.errors[0].toStdString();
    EXPECT_EQ(form.messages, QStringList());
    EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), edited);
    EXPECT_EQ(Menu("ACE_IEC-60617_MENU.DAT"), follow);
    EXPECT_EQ(MakerRows("CB"), 0);  // the steps before the menu stay done
    EXPECT_FALSE(Exists(images + "zelk.png"));
    EXPECT_FALSE(Exists(catalogFile.chopped(4) + "~$.mdb"));
}

TEST_P(CommandsTest, TheBackupKeepsTheCatalogAsItWasBeforeTheRunsFirstChange) {
    const QString bak = catalogFile + ".bak";
    const QByteArray original = tmp.read(catalogFile);
    // Install, Install again, Clean: the backup stays the catalog from before the first one.
    for (int click = 0; click < 3; ++click) {
        click < 2 ? Install() : Clean();
        ASSERT_EQ(form.errors, QStringList()) << click;
        EXPECT_EQ(tmp.read(bak), original) << click;
    }
    EXPECT_EQ(MakerRows("CB"), 0);

    // A new run: a Clean that finds nothing to remove leaves the backup alone; the first
    // command that changes the catalog backs it up as it then is.
    st.backedUpCatalogs.clear();
    Clean();
    EXPECT_EQ(tmp.read(bak), original);
    const QByteArray beforeInstall = tmp.read(catalogFile);
    Install();
    ASSERT_EQ(form.errors, QStringList());
    EXPECT_EQ(tmp.read(bak), beforeInstall);
    EXPECT_EQ(form.messages.size(), 5);

    // Restored by copying it back over the catalog with the tool closed.
    db.reset();
    ASSERT_TRUE(QFile::remove(catalogFile) && QFile::copy(bak, catalogFile));
    EXPECT_EQ(MakerRows("CB"), 0);
}

// A backup that cannot be made (here its name is taken by a folder) stops the command with
// the catalog as it was, even where it is copied while the catalog's changes are made.
TEST_P(CommandsTest, ACatalogThatCannotBeBackedUpIsNotChanged) {
    ASSERT_TRUE(QDir().mkpath(catalogFile + ".bak"));
    const QByteArray catalogBytes = tmp.read(catalogFile);
    Install();
    ASSERT_EQ(form.errors.size(), 1);
    EXPECT_TRUE(form.errors[0].startsWith("Не удалось сохранить резервную копию базы изделий"))
        << form.errors[0].toStdString();
    EXPECT_EQ(form.messages, QStringList());
    EXPECT_EQ(tmp.read(catalogFile), catalogBytes);
    EXPECT_FALSE(db->ADOConnection2().InTransaction());
}

TEST_P(CommandsTest, FailedCatalogChoiceLeavesNoCatalogReadyUntilOneSucceeds) {
    Install();
    ASSERT_EQ(form.errors, QStringList());
    const QString good = st.fstr;
    const QByteArray catalogBytes = tmp.read(catalogFile);
    const QByteArray menus = Menu("ACE_IEC_MENU.DAT");
    const QString notADatabase = tmp.write("not a catalog.mdb", "just text");
    struct Case {
        QString fstr, chosen;
    } cases[] = {// a template that can take no path with ";" in it
                 {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=D:\\zelk_install.mdb;",
                  tmp.path() + "a;b.mdb"},
                 {good, notADatabase}};  // the engine cannot open it
    for (const Case& c : cases) {
        st.fstr = c.fstr;
        form.dialogAnswers[2] = {c.chosen};
        form.errors.clear();
        form.messages.clear();
        Context ctx = Ctx();
        RunGuarded(form, [&] { state::Button8Click(ctx); });
        EXPECT_EQ(form.errors.size(), 1);
        EXPECT_FALSE(db->CatalogReady());
        // Clean refuses as before any choice; Install connects the stored choice and fails.
        Clean();
        ASSERT_EQ(form.messages.size(), 1);
        EXPECT_TRUE(form.messages[0].startsWith("Чистка не выполнена"));
        Install();
        EXPECT_EQ(form.errors.size(), 2);
        EXPECT_EQ(form.messages.size(), 1);
        EXPECT_EQ(tmp.read(catalogFile), catalogBytes);
        EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), menus);
    }
    // A choice that succeeds makes the catalog ready again.
    st.fstr = good;
    form.dialogAnswers[2] = {catalogFile};
    Context ctx = Ctx();
    RunGuarded(form, [&] { state::Button8Click(ctx); });
    EXPECT_TRUE(db->CatalogReady());
    form.errors.clear();
    form.messages.clear();
    Clean();
    EXPECT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages, QStringList({"Чистка завершена успешно!"}));
}

TEST_P(CommandsTest, ReadOnlySettingsFileGivesInstallAndCleanTheSameCatalog) {
    if (!ScratchMounts::Unavailable().isEmpty())
        GTEST_SKIP() << ScratchMounts::Unavailable().toStdString();
    const QString stored =
        st.userprofile + "\\Documents\\Acade 2017\\AeData\\ru-RU\\Catalogs\\default_cat.mdb";
    const QByteArray settings = "[BASE]\r\nPATH=" + stored.toUtf8() + "\r\n";
    tmp.write("tool/config.ini", settings);
    ScratchMounts mounts;
    ASSERT_TRUE(mounts.ReadOnly(tool + "/config.ini"));
    Sql(catalogFile, {kFamilyDescription});
    const QByteArray oldProfile = qgetenv("USERPROFILE"), oldPublic = qgetenv("PUBLIC");
    qputenv("USERPROFILE", st.userprofile.toLocal8Bit());
    qputenv("PUBLIC", st.publicprofile.toLocal8Bit());
    Context ctx = Ctx();
    // Discovery stores the default catalog it finds: refused, and reported.
    RunGuarded(form, [&] { state::Discover(ctx); });
    qputenv("USERPROFILE", oldProfile);
    qputenv("PUBLIC", oldPublic);
    ASSERT_EQ(form.errors.size(), 1);
    EXPECT_TRUE(form.errors[0].startsWith("Unable to write to")) << form.errors[0].toStdString();
    EXPECT_TRUE(db->CatalogReady());
    EXPECT_EQ(form.edit2, stored);

    form.errors.clear();
    Install();
    Clean();
    EXPECT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages,
              QStringList({"Установка произведена успешно", "Чистка завершена успешно!"}))
        << form.messages.join('\n').toStdString();
    EXPECT_EQ(tmp.read(tool + "/config.ini"), settings);
}

TEST_P(CommandsTest, CatalogColumnsInAnotherOrderOrOneMoreGetTheRowsByName) {
    QFile::remove(catalogFile);
    Sql(catalogFile,
        {"create table CB ([MANUFACTURER] varchar(24), [NOTE] text, [DESCRIPTION] text, "
         "[CATALOG] varchar(60))",
         "create table FU ([DESCRIPTION] text, [CATALOG] varchar(60), [MANUFACTURER] "
         "varchar(24))"});
    for (int run = 0; run < 2; ++run) {  // Install, Clean, Install
        Install();
        if (run == 0) Clean();
    }
    EXPECT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.messages,
              QStringList({"Установка произведена успешно", "Чистка завершена успешно!",
                           "Установка произведена успешно"}));
    EXPECT_EQ(Count(catalogFile,
                    "select count(*) from CB where MANUFACTURER='ЗЕЛК' and CATALOG "
                    "in ('QF-1','QF-2') and NOTE is null"),
              2);
    EXPECT_EQ(MakerRows("CB"), 2);
    EXPECT_EQ(Count(catalogFile, "select count(*) from FU where CATALOG='FU-1'"), 1);
}

// "ok" when the SQLite file passes its integrity check (a hot journal left by a killed writer
// is rolled back first, as any next opening does).
[[maybe_unused]] QString Integrity(const QString& file) {
    QString failure;
    const QList<QStringList> rows = RawRows(file, {"pragma integrity_check"}, &failure);
    return failure.isEmpty() && !rows.isEmpty() ? rows.first().first() : failure;
}

#ifdef __linux__
TEST_P(CommandsTest, KilledAtRandomMomentsInstallAndCleanLeaveOldOrNewStateAndGoOn) {
    // One cycle before the kills: the menus as Install leaves them and as Clean leaves them
    // (line ends normalised).
    QElapsedTimer cycle;
    cycle.start();
    Install();
    const QByteArray firstAfter = Menu("ACE_IEC_MENU.DAT");
    const QByteArray followAfter = Menu("ACE_IEC-60617_MENU.DAT");
    Clean();
    const QByteArray firstBefore = Menu("ACE_IEC_MENU.DAT");
    const QByteArray followBefore = Menu("ACE_IEC-60617_MENU.DAT");
    const int cycleMs = int(cycle.elapsed());
    ASSERT_EQ(form.errors, QStringList());
    ASSERT_EQ(form.messages,
              QStringList({"Установка произведена успешно", "Чистка завершена успешно!"}));
    // The images that are not whole (a copy still being written has a name of its own).
    const auto images = [&] {
        QStringList whole;
        for (const QString& name : QDir(this->images).entryList(QDir::Files))
            if (!name.endsWith(".zelk-part") &&
                tmp.read(this->images + name) != tmp.read(tool + "/data/IMAGES/" + name))
                whole << name;
        return whole;
    };
    const auto leftovers = [&] {
        QStringList out;
        for (const QString& folder : {this->images, library, support, tool + "/data"})
            out += QDir(folder).entryList({"*.zelk-part"}, QDir::Files);
        return out;
    };

    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> delayMs(0, 2 * cycleMs);
    constexpr int kKills = 24;
    for (int k = 0; k < kKills; ++k) {
        SCOPED_TRACE(k);
        db.reset();  // the child opens connections of its own
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {  // Install and Clean in turn until killed
            db = std::make_unique<catalog::CatalogDb>(st);
            for (int i = 0; i < 1000; ++i) {
                Install();
                Clean();
            }
            ::_exit(0);
        }
        ::usleep(useconds_t(delayMs(random)) * 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        // The catalog is sound and holds every maker row of the command or none: all the
        // families and the pin list, or none of them (the pin-list table itself may be there,
        // empty, or gone).
        ASSERT_EQ(Integrity(catalogFile), "ok");
        const int cb = MakerRows("CB"), fu = MakerRows("FU"), pins = MakerRows("_PINLIST_ЗЕЛК");
        EXPECT_TRUE((cb == 2 && fu == 1 && pins == 1) || (cb == 0 && fu == 0 && pins <= 0))
            << cb << ' ' << fu << ' ' << pins;
        EXPECT_EQ(Count(catalogFile, "select count(*) from CB where MANUFACTURER='ABB'"), 1);
        EXPECT_TRUE(!Exists(catalogFile + ".bak") || Integrity(catalogFile + ".bak") == "ok");
        // Every menu file holds its old or its new bytes; a copied image is whole.
        const QByteArray first = Menu("ACE_IEC_MENU.DAT");
        const QByteArray follow = Menu("ACE_IEC-60617_MENU.DAT");
        EXPECT_TRUE(first == firstBefore || first == firstAfter);
        EXPECT_TRUE(follow == followBefore || follow == followAfter);
        EXPECT_EQ(images(), QStringList());

        // The next command, after a new start, completes and takes away the copies a killed
        // run left half written (one is planted in each folder, so that every round has some).
        tmp.write(this->images + "zelk_cb.png.zelk-part", "half");
        tmp.write(library + "common.dwg.zelk-part", "half");
        tmp.write(support + "ACE_IEC_MENU.DAT.Ab12Cd.zelk-part", "half");
        db = std::make_unique<catalog::CatalogDb>(st);
        form.errors.clear();
        form.messages.clear();
        if (k % 2 == 0) {
            Install();
            EXPECT_EQ(form.messages, QStringList({"Установка произведена успешно"}));
            EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), firstAfter);
            EXPECT_EQ(MakerRows("CB"), 2);
        } else {
            db->Reconnect(catalogFile);
            Clean();
            EXPECT_EQ(form.messages, QStringList({"Чистка завершена успешно!"}));
            EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), firstBefore);
            EXPECT_EQ(MakerRows("CB"), 0);
        }
        EXPECT_EQ(form.errors, QStringList());
        EXPECT_EQ(leftovers(), QStringList());
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Engines, CommandsTest, ::testing::ValuesIn(engines::All()),
                         [](const auto& info) { return EngineName(info.param); });

// A suite of cases, each run on every engine.
template <class Case>
class CasesOnEngines : public CommandsFixture,
                       public ::testing::WithParamInterface<std::tuple<engines::EngineCase, Case>> {
  protected:
    const engines::EngineCase& Engine() const override { return std::get<0>(this->GetParam()); }
    const Case& TheCase() const { return std::get<1>(this->GetParam()); }
};

// ---- every release from 2016 on ---------------------------------------------------------

// The installations on a machine, the version discovery chooses, the version field's items,
// and a version the user picks afterwards ("-": none).
struct ReleaseCase {
    QString installed, found, versions, picked;
};
void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.installed.toStdString(); }
class ReleasesTest : public CasesOnEngines<ReleaseCase> {};

TEST_P(ReleasesTest, DiscoveryVersionChangeAndInstallServeTheRelease) {
    const ReleaseCase& c = TheCase();
    const QString user = tmp.path() + "machine/user", pub = tmp.path() + "machine/public";
    const auto catalog = [&](const QString& y) {
        return user + "/Documents/Acade " + y + "/AeData/ru-RU/Catalogs/default_cat.mdb";
    };
    const auto library = [&](const QString& y) {
        return pub + "/Documents/Autodesk/Acade " + y + "/Libs/iec2/";
    };
    for (const QString& y : c.installed.split(' ')) {  // profile, catalog, library
        const QString support =
            "machine/user/AppData/Roaming/Autodesk/AutoCAD Electrical " + y + "/R1/rus/Support/";
        tmp.mkdir(support + "Profiles");
        for (const QString menuFile : {"ACE_IEC_MENU.DAT", "ACE_IEC-60617_MENU.DAT"})
            tmp.write(support + menuFile, Bytes(CrLf(menu), TextEncoding::Ansi));
        QDir().mkpath(QFileInfo(catalog(y)).absolutePath());
        QFile::copy(catalogFile, catalog(y));
        Sql(catalog(y), {kFamilyDescription});
        QDir().mkpath(library(y));
    }
    // A new start of the tool on that machine.
    const auto restore = qScopeGuard([u = qgetenv("USERPROFILE"), p = qgetenv("PUBLIC")] {
        qputenv("USERPROFILE", u);
        qputenv("PUBLIC", p);
    });
    qputenv("USERPROFILE", user.toLocal8Bit());
    qputenv("PUBLIC", pub.toLocal8Bit());
    Context ctx = Ctx();
    RunGuarded(form, [&] { state::Discover(ctx); });
    ASSERT_EQ(form.errors, QStringList());
    EXPECT_EQ(form.comboBox1 + '|' + form.comboBox1Items.join(' '), c.found + '|' + c.versions);
    EXPECT_EQ(st.path_library.replace('\\', '/'), c.found == "2015" ? "" : library(c.found));

    for (const QString& y : {c.found, c.picked}) {
        if (y == "-") continue;
        SCOPED_TRACE(y.toStdString());
        if (y == c.picked) {  // picked in the version field
            form.comboBox1 = y;
            RunGuarded(form, [&] { state::ComboBox1Change(ctx); });
        }
        form.messages.clear();
        Install();
        EXPECT_EQ(form.errors, QStringList());
        EXPECT_EQ(st.year + form.edit2.replace('\\', '/'), y + catalog(y));
        EXPECT_EQ(Count(catalog(y), "select count(*) from CB where MANUFACTURER='ЗЕЛК'"), 2);
        const QString m = form.messages.value(0);
        EXPECT_TRUE(y == "2015" ? m.startsWith("Установка выполнена не полностью") &&
                                      m.contains("символов AutoCAD Electrical версии \"2015\"")
                                : m == "Установка произведена успешно" &&
                                      QFile::exists(library(y) + "ZELK_QF.dwg"))
            << m.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Machines, ReleasesTest,
    ::testing::Combine(::testing::ValuesIn(engines::All()),
                       ::testing::Values(ReleaseCase{"2016", "2016", "2017 2016", "-"},
                                         ReleaseCase{"2017", "2017", "2017 2016", "-"},
                                         ReleaseCase{"2021", "2021", "2021 2017 2016", "-"},
                                         ReleaseCase{"2025", "2025", "2025 2017 2016", "-"},
                                         ReleaseCase{"2017 2025", "2025", "2025 2017 2016", "2017"},
                                         ReleaseCase{"2025 2021", "2025", "2025 2021 2017 2016",
                                                     "2021"},
                                         // no library folder is known before 2016
                                         ReleaseCase{"2015", "2015", "2017 2016", "-"})),
    [](const auto& info) {
        return EngineName(std::get<0>(info.param)) + '_' +
               QString(std::get<1>(info.param).installed).replace(' ', '_').toStdString();
    });

// ---- full disks, read-only folders and missing data -------------------------------------

enum class Trouble { Full, ReadOnly, Missing };
enum class Command { Install, Clean };

struct UsersFilesCase {
    const char* name;
    bool installFirst;  // a complete Install before the trouble is arranged
    const char* where;  // the folder in trouble: a key of Folder()
    Trouble trouble;
    Command command;
    const char* error;      // part of the one error shown; nullptr: no error
    const char* message;    // start of the one closing message; nullptr: no message
    QStringList named;      // names the closing message holds
    QStringList unchanged;  // keys of Snapshot() that must keep their bytes
};

void PrintTo(const UsersFilesCase& c, std::ostream* os) { *os << c.name; }

class UsersFilesTest : public CasesOnEngines<UsersFilesCase> {
  protected:
    ScratchMounts mounts;

    QString Folder(const QString& key) const {
        if (key == "support") return support;
        if (key == "tool") return tool;
        if (key == "data") return tool + "/data";
        if (key == "IMAGES") return tool + "/data/IMAGES";
        if (key == "images") return images;
        if (key == "library") return library;
        return QFileInfo(catalogFile).absolutePath();  // "catalogs"
    }
    // The bytes of the user's files, and the names of the maker's files in place.
    QByteArray Snapshot(const QString& key) const {
        if (key == "menus") return Menu("ACE_IEC_MENU.DAT") + '|' + Menu("ACE_IEC-60617_MENU.DAT");
        if (key == "config") return tmp.read(tool + "/config.ini");
        if (key == "block") return tmp.read(tool + "/data/menu_installed.txt");
        if (key == "catalog") return tmp.read(catalogFile);
        return (QDir(images).entryList(QDir::Files) + QDir(library).entryList(QDir::Files))
            .join('|')
            .toUtf8();  // "files"
    }
};

TEST_P(UsersFilesTest, NothingIsLostAndNoSuccessIsClaimedForWorkNotDone) {
    const UsersFilesCase& c = TheCase();
    if (c.trouble != Trouble::Missing && !ScratchMounts::Unavailable().isEmpty())
        GTEST_SKIP() << ScratchMounts::Unavailable().toStdString();
    // The settings as the tool writes them: a changed byte is a write that should not be.
    const QString stored =
        st.userprofile + "\\Documents\\Acade 2017\\AeData\\ru-RU\\Catalogs\\default_cat.mdb";
    tmp.write("tool/config.ini",
              "[BASE]\r\nPATH=" + stored.toUtf8() + "\r\n[Update]\r\nlocal_date=01.12.2026\r\n");
    if (c.installFirst) {
        Install();
        ASSERT_EQ(form.errors, QStringList());
        form.messages.clear();
    }
    QDir().mkpath(images);
    const QString folder = Folder(c.where);
    switch (c.trouble) {
        case Trouble::Full:
            ASSERT_TRUE(mounts.Tmpfs(folder));
            // The image folder inside the support folder gets a file system of its own, so the
            // files Clean deletes there make no room for the menus.
            if (folder == support) {
                ASSERT_TRUE(mounts.Tmpfs(images));
            }
            ASSERT_TRUE(ScratchMounts::Fill(folder));
            break;
        case Trouble::ReadOnly:
            ASSERT_TRUE(mounts.ReadOnly(folder));
            break;
        case Trouble::Missing:
            ASSERT_TRUE(QDir(folder).removeRecursively());
            break;
    }
    std::map<QString, QByteArray> before;
    for (const QString& key : c.unchanged) before[key] = Snapshot(key);

    c.command == Command::Install ? Install() : Clean();

    if (c.error) {
        ASSERT_EQ(form.errors.size(), 1) << form.messages.join('\n').toStdString();
        EXPECT_TRUE(form.errors[0].contains(c.error)) << form.errors[0].toStdString();
    } else {
        EXPECT_EQ(form.errors, QStringList());
    }
    if (c.message) {
        ASSERT_EQ(form.messages.size(), 1);
        EXPECT_TRUE(form.messages[0].startsWith(c.message)) << form.messages[0].toStdString();
        for (const QString& name : c.named)
            EXPECT_TRUE(form.messages[0].contains(name)) << name.toStdString();
    } else {
        EXPECT_EQ(form.messages, QStringList());
    }
    for (const QString& key : c.unchanged)
        EXPECT_EQ(Snapshot(key), before[key]) << key.toStdString() << " changed";
}

const QStringList kUserFiles{"menus", "config"};

INSTANTIATE_TEST_SUITE_P(
    Cases, UsersFilesTest,
    ::testing::Combine(
        ::testing::ValuesIn(engines::All()),
        ::testing::Values(UsersFilesCase{"MenusOnAFullDiskInstall",
                                         false,
                                         "support",
                                         Trouble::Full,
                                         Command::Install,
                                         "ACE_IEC_MENU.DAT",
                                         nullptr,
                                         {},
                                         kUserFiles},
                          UsersFilesCase{"MenusOnAFullDiskClean",
                                         true,
                                         "support",
                                         Trouble::Full,
                                         Command::Clean,
                                         "ACE_IEC_MENU.DAT",
                                         nullptr,
                                         {},
                                         kUserFiles},
                          UsersFilesCase{"SettingsOnAFullDiskInstall",
                                         false,
                                         "tool",
                                         Trouble::Full,
                                         Command::Install,
                                         "Unable to write to",
                                         nullptr,
                                         {},
                                         kUserFiles + QStringList{"catalog"}},
                          // (a first Install: one over a complete installation writes nothing)
                          UsersFilesCase{"BlockCopyOnAFullDiskInstall",
                                         false,
                                         "data",
                                         Trouble::Full,
                                         Command::Install,
                                         "menu_installed.txt",
                                         nullptr,
                                         {},
                                         kUserFiles + QStringList{"block"}},
                          // No room for the catalog's backup: it is copied while the transaction
                          // runs, and the transaction is rolled back when the backup fails.
                          UsersFilesCase{"BackupOnAFullDiskInstall",
                                         false,
                                         "catalogs",
                                         Trouble::Full,
                                         Command::Install,
                                         "Не удалось сохранить резервную копию базы изделий",
                                         nullptr,
                                         {},
                                         kUserFiles + QStringList{"catalog", "files"}},
                          // The catalog's disk is full: the deletions are rolled back and
                          // nothing at all changes; the message names the backup.
                          UsersFilesCase{"CatalogOnAFullDiskClean",
                                         true,
                                         "catalogs",
                                         Trouble::Full,
                                         Command::Clean,
                                         "default_cat.mdb.bak",
                                         nullptr,
                                         {},
                                         kUserFiles + QStringList{"catalog", "files"}},
                          UsersFilesCase{"ReadOnlyImagesInstall",
                                         false,
                                         "images",
                                         Trouble::ReadOnly,
                                         Command::Install,
                                         nullptr,
                                         "Установка выполнена не полностью",
                                         {"(3)", "zelk.png", "zelk_cb.png", "panel.png"},
                                         {"config"}},
                          UsersFilesCase{"ReadOnlyLibraryClean",
                                         true,
                                         "library",
                                         Trouble::ReadOnly,
                                         Command::Clean,
                                         nullptr,
                                         "Чистка выполнена не полностью",
                                         {"(2)", "ZELK_QF.dwg", "zelk_fu.dwg"},
                                         {"config"}},
                          UsersFilesCase{"MissingImagesInstall",
                                         false,
                                         "IMAGES",
                                         Trouble::Missing,
                                         Command::Install,
                                         nullptr,
                                         "Установка выполнена не полностью",
                                         {"IMAGES\" не найдена"},
                                         {"config"}})),
    [](const auto& info) {
        return EngineName(std::get<0>(info.param)) + '_' + std::get<1>(info.param).name;
    });

// ---- catalog faults: damaged, full, read-only catalogs, a compaction that does not fit ----

enum class Fault { DamagedFamilyTable, FullDisk, ReadOnlyCatalog, CompactionDoesNotFit };

struct CatalogFaultCase {
    const char* name;
    Fault fault;
    Command command;
    const char* where;   // what the message says the command stopped at
    const char* engine;  // the engine's text the message carries
    bool rowsKept;       // the catalog's rows are those from before the command
};

void PrintTo(const CatalogFaultCase& c, std::ostream* os) { *os << c.name; }

class CatalogFaultTest : public CasesOnEngines<CatalogFaultCase> {
  protected:
    ScratchMounts mounts;

    // Every row of the maker's tables, or the engine's refusal to read one.
    // The catalog's tables, and the rows of three of them.
    QString Rows() const {
        QString out;
        for (const char* table : {"(select name, type from sqlite_master where type = 'table')",
                                  "CB", "FU", "[_PINLIST_ЗЕЛК]"}) {
            QString failure;
            out += QString(table) + ':';
            for (const QStringList& row : RawRows(
                     catalogFile, {QString("select * from %1 order by 1, 2").arg(table)}, &failure))
                out += row.join('|') + '|';
            // (a table that is not there holds no rows)
            if (!failure.startsWith("no such table")) out += failure;
            out += '\n';
        }
        return out;
    }
    // Files beside the catalog other than the catalog, its backup and a filler.
    QStringList Debris() const {
        QStringList out = QFileInfo(catalogFile).dir().entryList(QDir::Files);
        out.removeAll("default_cat.mdb");
        out.removeAll("default_cat.mdb.bak");
        out.removeAll("filler.bin");
        return out;
    }
    // A garbage page over the root page of a table.
    void Damage(const QString& table) {
        const int page =
            RawSql(catalogFile, {"select rootpage from sqlite_master where name='" + table + "'"})
                .toInt();
        QFile f(catalogFile);
        ASSERT_TRUE(page > 1 && f.open(QIODevice::ReadWrite));
        f.seek(qint64(page - 1) * 4096);
        f.write(QByteArray(4096, '\x5a'));
    }
};

TEST_P(CatalogFaultTest, RowsStayWholeTheMessageSaysWhereAndNothingIsLeftBeside) {
    const CatalogFaultCase& c = TheCase();
    if (!OnSqliteFiles()) GTEST_SKIP() << "the faults are made in SQLite's files";
    if (c.fault != Fault::DamagedFamilyTable && !ScratchMounts::Unavailable().isEmpty())
        GTEST_SKIP() << ScratchMounts::Unavailable().toStdString();
    // The profile's images folder is there, as AutoCAD Electrical makes it: Install copies
    // while the catalog changes.
    ASSERT_TRUE(QDir().mkpath(images));
    const QString folder = QFileInfo(catalogFile).absolutePath();
    if (c.fault == Fault::FullDisk && c.command == Command::Install) {
        // Many maker rows a family: the first families fit, the later ones do not.
        for (const char* f : {"CB", "FU"})
            RawSql(
                tmp.file("tool/ZELK_install.mdb"),
                {QString("with recursive n(i) as (select 1 union all select i + 1 from n where i < "
                         "3000) insert into %1 select '%1-' || i, 'ЗЕЛК', 'Изделие номер ' || i "
                         "from n")
                     .arg(f)});
    }
    if (c.command == Command::Clean || c.fault == Fault::CompactionDoesNotFit) {
        if (c.fault == Fault::CompactionDoesNotFit)  // another maker's rows make it big
            RawSql(catalogFile, {"with recursive n(i) as (select 1 union all select i + 1 from n "
                                 "where i < 3000) insert into CB select 'U-' || i, 'ABB', "
                                 "'Свой выключатель номер ' || i from n"});
        Install();
        ASSERT_EQ(form.errors, QStringList());
        form.messages.clear();
    }
    const qint64 size = QFileInfo(catalogFile).size();
    switch (c.fault) {
        case Fault::DamagedFamilyTable:
            Damage("FU");
            break;
        case Fault::FullDisk:
            // Room for the catalog and its backup, and no more (Clean finds its backup made).
            ASSERT_TRUE(mounts.Tmpfs(folder, 2 * size + 64 * 1024));
            if (c.command == Command::Clean) {
                ASSERT_TRUE(ScratchMounts::Fill(folder));
            }
            break;
        case Fault::ReadOnlyCatalog:
            ASSERT_TRUE(mounts.ReadOnly(catalogFile));
            break;
        case Fault::CompactionDoesNotFit:
            // Room for the catalog, its backup and the journal of the deletions; not for a copy.
            ASSERT_TRUE(mounts.Tmpfs(folder, 2 * size + 96 * 1024));
            break;
    }
    // As after a new start on the catalog in its new state.
    db->Reconnect(catalogFile);
    const QString before = Rows();
    const QByteArray menuBefore = Menu("ACE_IEC_MENU.DAT");

    // The catalog steps alone: whole or nothing, no transaction left open.
    if (c.rowsKept) {
        const QString engineError = ErrorOf([&] {
            if (c.command == Command::Install) {
                catalog::FamilyLookup(*db, st, form.listBox2);
                catalog::RowTransfer(*db, st);
            } else {
                catalog::CatalogTransaction tx(*db);
                catalog::RemoveMakerRows(*db, st, form.listBox2);
                catalog::RemovePinListTable(*db);
                tx.Commit();
            }
        });
        EXPECT_FALSE(engineError.isEmpty());
        EXPECT_FALSE(db->ADOConnection2().InTransaction());
        EXPECT_EQ(Rows(), before);
        EXPECT_EQ(Debris(), QStringList());
    }

    c.command == Command::Install ? Install() : Clean();
    ASSERT_EQ(form.errors.size(), 1) << form.messages.join('\n').toStdString();
    const QString& m = form.errors[0];
    EXPECT_TRUE(m.startsWith(c.command == Command::Install ? "Установка остановлена"
                                                           : "Чистка остановлена"))
        << m.toStdString();
    EXPECT_TRUE(m.contains(c.where)) << m.toStdString();
    EXPECT_TRUE(m.contains(c.engine)) << m.toStdString();
    EXPECT_TRUE(m.contains(QDir::toNativeSeparators(QFileInfo(catalogFile).absoluteFilePath())))
        << m.toStdString();
    EXPECT_TRUE(m.contains(".bak\"")) << m.toStdString();
    EXPECT_EQ(form.messages, QStringList());
    if (c.rowsKept) {
        EXPECT_TRUE(m.contains("база изделий не изменена")) << m.toStdString();
        EXPECT_EQ(Rows(), before);
        // Files copied while the catalog changed are not left in place (not even those placed
        // while the commit ran), menu files are not replaced, and no temporary is left.
        if (c.command == Command::Install) {
            EXPECT_FALSE(Exists(images + "zelk.png"));
            EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), menuBefore);
            for (const QString& folder : {images, support, tool + "/data"})
                EXPECT_EQ(QDir(folder).entryList(QDir::Files).filter(".zelk-part"), QStringList());
        }
    } else {
        EXPECT_EQ(MakerRows("CB"), 0);
        EXPECT_EQ(Menu("ACE_IEC_MENU.DAT"), Bytes(CrLf(menu), TextEncoding::Ansi));
    }
    EXPECT_EQ(Debris(), QStringList());
    db->ADOConnection2().Close();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogFaultTest,
    ::testing::Combine(
        ::testing::ValuesIn(engines::All()),
        ::testing::Values(
            CatalogFaultCase{"DamagedFamilyTableInstall", Fault::DamagedFamilyTable,
                             Command::Install, "группа «Предохранители» (семейство FU)",
                             "malformed", true},
            CatalogFaultCase{"DamagedFamilyTableClean", Fault::DamagedFamilyTable, Command::Clean,
                             "группа «Предохранители» (семейство FU)", "malformed", true},
            CatalogFaultCase{"FullDiskMidInstall", Fault::FullDisk, Command::Install, "(семейств",
                             "full", true},
            CatalogFaultCase{"FullDiskMidClean", Fault::FullDisk, Command::Clean, "(семейство CB)",
                             "full", true},
            CatalogFaultCase{"ReadOnlyCatalogInstall", Fault::ReadOnlyCatalog, Command::Install,
                             "создание таблиц", "readonly", true},
            CatalogFaultCase{"ReadOnlyCatalogClean", Fault::ReadOnlyCatalog, Command::Clean,
                             "(семейство CB)", "readonly", true},
            CatalogFaultCase{"CompactionDoesNotFitClean", Fault::CompactionDoesNotFit,
                             Command::Clean, "сжатие базы изделий", "full", false})),
    [](const auto& info) {
        return EngineName(std::get<0>(info.param)) + '_' + std::get<1>(info.param).name;
    });

}  // namespace
