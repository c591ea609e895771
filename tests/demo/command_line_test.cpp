// The command line as deployment tools run it: the real executable on the demo installation,
// one table of command lines run in order on the same installation, each with the exit code,
// the text and the state it must leave, and the status query after it. The state after Install
// and after Clean is compared with what the window's own Install and Clean leave on a second
// copy of the demo. Then a tool folder the user cannot write to, as an unprivileged user.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <map>
#include <optional>

#ifdef __linux__
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "DemoChecks.h"
#include "DemoSupport.h"
#include "DemoWindow.h"
#include "app/view.h"
#include "catalog/CatalogDb.h"
#include "core/AppState.h"
#include "core/TextFile.h"
#include "support/ScratchMounts.h"
#include "support/TempDir.h"

namespace {

// What Install and Clean change: the catalog's rows, the files in the image and library
// folders, the menu files, the settings; with the times of the files that must stay untouched.
struct State {
    demo::DbRows catalog;
    std::map<QString, QByteArray> images;
    QStringList library;
    QByteArray menus, config;
    QList<QDateTime> times;  // catalog, its backup, the menus, the image folder

    static State Of(const demo::Layout& l) {
        State s{demo::ReadDb(l.catalog()),
                {},
                demo::Files(l.library()),
                demo::ReadBytes(l.support() + "/ACE_IEC_MENU.DAT") + '|' +
                    demo::ReadBytes(l.support() + "/ACE_IEC-60617_MENU.DAT"),
                demo::ReadBytes(l.tool() + "/config.ini"),
                {}};
        s.catalog.erase("PNEU-GAU");  // made by the first Install, never removed
        for (const QString& f : demo::Files(l.images()))
            s.images[f] = demo::ReadBytes(l.images() + '/' + f);
        for (const QString& f :
             {l.catalog(), l.catalog() + ".bak", l.support() + "/ACE_IEC_MENU.DAT",
              l.support() + "/ACE_IEC-60617_MENU.DAT", l.images()})
            s.times << QFileInfo(f).fileTime(QFileDevice::FileModificationTime);
        return s;
    }
    bool SameContent(const State& o) const {
        return catalog == o.catalog && images == o.images && library == o.library &&
               menus == o.menus;
    }
};

enum class Setup { None, GuardHeld, FullCatalogDisk, IconDeleted, SettingsUnwritable };
enum class After { Unchanged, Untouched, AsWindowInstall, AsWindowClean };

struct Row {
    const char* name;
    Setup setup;
    QStringList args;  // "LOG": the log file; "CATALOG": the demo's catalog
    int exit;          // as the caller sees it
    const char* says;  // the output holds it
    After after;
    int status;  // the exit code of --status afterwards
};

// 1618, "another copy runs": exit codes are 8 bits on Linux, where it arrives as 1618 & 0xFF.
const int kAnotherCopy = 82;

struct Outcome {
    int exit = -1;
    QString out;
};

// Starts the tool as `user` (and the group nogroup), with the environment `env` alone.
void StartAs(QProcess& p, const QString& user, const QProcessEnvironment& env, const QString& exe,
             const QStringList& args) {
    QStringList line{"--reuid", user, "--regid", "nogroup", "--clear-groups", "env", "-i"};
    for (const QString& k : env.keys()) line << k + '=' + env.value(k);
    p.start("setpriv", line + QStringList{exe} + args);
}

Outcome Start(const QString& exe, const QStringList& args, const QProcessEnvironment& env,
              const QString& user = {}) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (user.isEmpty())
        p.start(exe, args);
    else
        StartAs(p, user, env, exe, args);
    Outcome r;
    if (!p.waitForFinished(120000)) return r;
    r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAll());
    return r;
}

// The single-instance guard of the tool, taken as a running copy (the window) holds it.
class GuardHolder {
  public:
    explicit GuardHolder([[maybe_unused]] const QString& runtimeDir) {
#ifdef __linux__
        const QString lock =
            runtimeDir + "/zelk-instance-" +
            QString::fromLatin1(QStringLiteral("уникальная фраза").toUtf8().toHex()) + ".lock";
        fd_ = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT, 0600);
        held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
#endif
    }
    ~GuardHolder() {
#ifdef __linux__
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    bool held_ = false;

  private:
    int fd_ = -1;
};

// The window's own Install of every group, then its Clean, on a copy of the demo: the states
// they leave.
std::pair<State, State> WindowInstallAndClean(const demo::Layout& l, const QString& userConfig) {
    EnvGuard user("USERPROFILE", l.userprofile()), pub("PUBLIC", l.publicprofile()),
        config("XDG_CONFIG_HOME", userConfig);
    CurrentDirGuard cd(l.tool());
    App();
    AppState st;
    catalog::CatalogDb db(st);
    TForm2 w(st, db, nullptr);
    QStringList said;
    w.dialogs.message =
        w.dialogs.error = [&](QWidget*, const QString&, const QString& t) { said << t; };
    w.SetExecutableFolder(l.tool());
    w.FormCreate(update::ProbeTarget{"127.0.0.1", 1, 200});
    w.Button2->click();
    w.Button5->click();
    const State installed = State::Of(l);
    w.Button6->click();
    EXPECT_EQ(said, QStringList({"Установка произведена успешно", "Чистка завершена успешно!"}));
    return {installed, State::Of(l)};
}

}  // namespace

TEST(CommandLine, DeploymentRunsAsTheTableSays) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows tool runs its catalogs on Jet, which Wine lacks: "
                    "scripts/wine-cli.sh runs its command line under Wine";
#endif
    TempDir tmp;
    const demo::Layout a{tmp.path() + "cli"}, b{tmp.path() + "window"};
    ASSERT_EQ(demo::LayOut(a), "");
    ASSERT_EQ(demo::LayOut(b), "");
    const QString exe = a.tool() + '/' + QFileInfo(ZELK_EXE_PATH).fileName();
    ASSERT_TRUE(QFile::copy(ZELK_EXE_PATH, exe));
    const QString log = tmp.path() + "logs/deploy.log";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("USERPROFILE", a.userprofile());
    env.insert("PUBLIC", a.publicprofile());
    env.insert("XDG_CONFIG_HOME", tmp.mkdir("cli-config"));
    env.insert("XDG_RUNTIME_DIR", tmp.mkdir("cli-run"));
    const auto [windowInstalled, windowCleaned] = WindowInstallAndClean(b, tmp.mkdir("w-config"));

    const QStringList kInstall{"--install", "--log", "LOG"};
    // clang-format off
    const Row rows[] = {
        {"StatusBeforeInstall", Setup::None, {"--status"}, 1, "не установлены", After::Unchanged, 1},
        {"UnknownOption", Setup::None, {"--install", "--bogus", "--log", "LOG"}, 3,
         "неизвестный параметр \"--bogus\"", After::Unchanged, 1},
        {"TwoCommands", Setup::None, {"/install", "/clean"}, 3, "команда может быть только одна",
         After::Unchanged, 1},
        {"UnknownGroupCode", Setup::None, {"--install", "--groups", "CB,XX"}, 3,
         "неизвестный код группы: XX", After::Unchanged, 1},
        {"WindowOpen", Setup::GuardHeld, kInstall, kAnotherCopy, "Программа уже работает",
         After::Unchanged, 1},
        {"NoProfileOfTheRelease", Setup::None, {"--install", "--release", "2016"}, 4,
         "нет профиля выпуска \"2016\"", After::Unchanged, 1},
        {"NoSuchCatalog", Setup::None, {"--install", "--catalog=nothere.mdb"}, 4,
         "nothere.mdb", After::Unchanged, 1},
        // The catalog chosen cannot be stored: the command would work on another one.
        {"CatalogChoiceNotStored", Setup::SettingsUnwritable, {"--install", "--catalog", "CATALOG"},
         2, "config.ini", After::Unchanged, 1},
        {"Install", Setup::None, kInstall, 0, "Установка произведена успешно",
         After::AsWindowInstall, 0},
        {"InstallAgain", Setup::None, kInstall, 0, "nothing to do", After::Untouched, 0},
        {"InstallOfSomeGroupsAgain", Setup::None, {"/install", "/groups:cb,FU", "/quiet"}, 0,
         "nothing to do", After::Untouched, 0},
        // One of the maker's icons is gone: the mark of the last Install no longer holds.
        {"InstallWithAnIconGone", Setup::IconDeleted, {"--install"}, 0,
         "Установка произведена успешно", After::AsWindowInstall, 0},
        {"CleanOnAFullDisk", Setup::FullCatalogDisk, {"--clean"}, 2, "резервную копию",
         After::Unchanged, 0},
        {"Clean", Setup::None, {"--clean", "--log", "LOG"}, 0, "Чистка завершена успешно!",
         After::AsWindowClean, 1},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const State before = State::Of(a);
        std::optional<GuardHolder> guard;
        std::optional<ScratchMounts> mounts;
        if (row.setup == Setup::GuardHeld) {
            guard.emplace(env.value("XDG_RUNTIME_DIR"));
            ASSERT_TRUE(guard->held_);
        }
        if (row.setup == Setup::IconDeleted) {
            ASSERT_TRUE(QFile::remove(a.images() + "/zelk.png"));
        }
        if (row.setup == Setup::SettingsUnwritable) {  // (a folder where the file would go)
            QFile::remove(a.tool() + "/config.ini");
            ASSERT_TRUE(QDir().mkdir(a.tool() + "/config.ini"));
        }
        if (row.setup == Setup::FullCatalogDisk) {
            if (!ScratchMounts::Unavailable().isEmpty()) {
                std::printf("[ SKIPPED  ] row %s: %s\n", row.name,
                            qPrintable(ScratchMounts::Unavailable()));
                continue;
            }
            const QString folder = QFileInfo(a.catalog()).absolutePath();
            ASSERT_TRUE(mounts.emplace().Tmpfs(folder, 512 * 1024) && ScratchMounts::Fill(folder));
        }
        QStringList args = row.args;
        args.replaceInStrings(QRegularExpression("^LOG$"), log);
        args.replaceInStrings(QRegularExpression("^CATALOG$"), a.catalog());
        const Outcome r = Start(exe, args, env);
        if (row.setup == Setup::SettingsUnwritable) QDir().rmdir(a.tool() + "/config.ini");
        EXPECT_EQ(r.exit, row.exit) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(row.says)) << r.out.toStdString();
        if (row.exit == 3) {
            EXPECT_TRUE(r.out.contains("Коды завершения:")) << "the usage text";
        }
        const State after = State::Of(a);  // (on the full disk itself)
        guard.reset();
        mounts.reset();
        switch (row.after) {
            case After::Untouched:
                EXPECT_EQ(after.times, before.times) << "a file was written";
                EXPECT_EQ(after.config, before.config);
                [[fallthrough]];
            case After::Unchanged:
                EXPECT_TRUE(after.SameContent(before));
                break;
            case After::AsWindowInstall:
                EXPECT_TRUE(after.SameContent(windowInstalled));
                break;
            case After::AsWindowClean:
                EXPECT_TRUE(after.SameContent(windowCleaned));
                break;
        }
        const Outcome status = Start(exe, {"--status"}, env);
        EXPECT_EQ(status.exit, row.status) << status.out.toStdString();
        if (row.status == 0) {
            EXPECT_TRUE(status.out.contains("Catalog: " + a.catalog())) << status.out.toStdString();
        }
    }

    // The log: UTF-8 with its byte-order mark, each line time-stamped, the runs appended.
    const QByteArray text = demo::ReadBytes(log);
    EXPECT_TRUE(text.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(text.count("\xEF\xBB\xBF"), 1);
    const QStringList lines = QString::fromUtf8(text.mid(3)).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines)
        EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ")
                        .match(line)
                        .hasMatch())
            << line.toStdString();
    EXPECT_EQ(lines.filter("Код завершения: ").size(), 5);  // 3, 82, 0, 0 and the Clean's 0
    EXPECT_EQ(lines.filter("неизвестный параметр \"--bogus\"").size(), 1);
}

// Installed for every user where users cannot write (under Program Files, on a share): the
// window and the command line both work for an unprivileged user, whose settings, copy of the
// submenu block and detection mark land in the user's own folder; the tool's folder stays as
// it was, and the update is not tried.
TEST(CommandLine, ReadOnlyToolFolderAsAnUnprivilegedUser) {
#ifndef __linux__
    GTEST_SKIP() << "an unprivileged user is arranged with setpriv on Linux only";
#else
    if (::geteuid() != 0 || QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "running as another user needs root and setpriv";
    TempDir tmp;
    const demo::Layout l{tmp.path() + "demo"};
    ASSERT_EQ(demo::LayOut(l), "");
    const QString exe = l.tool() + '/' + QFileInfo(ZELK_EXE_PATH).fileName();
    ASSERT_TRUE(QFile::copy(ZELK_EXE_PATH, exe));
    const QString config = tmp.mkdir("home/.config");
    // The user owns the profile and the home folder; the tool's folder stays root's.
    QFile::setPermissions(tmp.path(),
                          QFile::permissions(tmp.path()) | QFile::ExeOther | QFile::ReadOther);
    for (const QString& mine : {l.userprofile(), l.publicprofile(), tmp.file("home")})
        ASSERT_EQ(QProcess::execute("chown", {"-R", "nobody", mine}), 0);
    ASSERT_EQ(QProcess::execute("chmod", {"-R", "go+rX", l.root}), 0);
    QProcessEnvironment env;
    env.insert("USERPROFILE", l.userprofile());
    env.insert("PUBLIC", l.publicprofile());
    env.insert("HOME", tmp.file("home"));
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LANG", "ru_RU.UTF-8");
    const QStringList toolBefore = QDir(l.tool()).entryList(QDir::AllEntries, QDir::Name);
    const QString userFolder = config + "/ZELK/AE_install/";

    // The window: its start-up finds the installation and stores the catalog in the user's
    // settings.
    QProcess window;
    StartAs(window, "nobody", env, exe, {});
    ASSERT_TRUE(window.waitForStarted(10000));
    for (int i = 0; i < 200 && !QFile::exists(userFolder + "config.ini"); ++i) QThread::msleep(50);
    QThread::msleep(300);
    EXPECT_EQ(window.state(), QProcess::Running) << window.readAll().toStdString();
    window.kill();
    window.waitForFinished(10000);
    EXPECT_TRUE(demo::ReadBytes(userFolder + "config.ini").contains("default_cat.mdb"));

    const Outcome r =
        Start(exe, {"--install", "--log", tmp.file("home/deploy.log")}, env, "nobody");
    EXPECT_EQ(r.exit, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Папка программы закрыта для записи")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Установка произведена успешно")) << r.out.toStdString();
    EXPECT_EQ(ReadTextFile(userFolder + "menu_installed.txt").lines,
              ReadTextFile(l.tool() + "/data/menu.txt").lines);
    EXPECT_TRUE(QFile::exists(userFolder + "install-mark.ini"));
    EXPECT_EQ(QDir(l.tool()).entryList(QDir::AllEntries, QDir::Name), toolBefore);
#endif
}
