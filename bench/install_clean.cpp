// Install and Clean as a user runs them (all 17 groups, the first click after start-up), on the
// demo installation and on the same installation with its catalog grown to about 300 MB by
// another manufacturer's rows, each against a floor measured in the same run on the same disk:
// - demo Install: writing the same files (catalog, backup, menus, copied files) at their own
//   paths with plain writes and one sync at the end;
// - grown catalog: one copy of the catalog and one sync.
// Every measurement runs in a child process of its own (a fresh run of the tool), which also
// gives its peak memory. The syncs of one Install and one Clean are counted with strace when it
// is there. Prints minimum, median and maximum of each, and the ratios of the medians. Run by
// hand on a Release build:
//   bench_install_clean [runs] [work folder on the disk to measure]
// A logon script runs Install at every logon: on an installation that is complete, Install
// writes nothing, and that run (discovery, then Install) is measured against discovery alone,
// on both catalogs; once with the detection mark of the last Install, as a logon finds it, and
// once without, when Install counts the catalog's rows.
// With ZELK_BENCH_STEPS set, each run prints the time of each of its steps; with
// ZELK_BENCH_KEEP set, the work folder stays; with ZELK_BENCH_DEMO_ONLY set, only the demo
// package is measured (the grown catalog's runs load the disk for a while after them).

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "catalog/CatalogDb.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "core/Form.h"
#include "deploy/Clean.h"
#include "deploy/Install.h"
#include "state/Discovery.h"

namespace {

// The window as the commands see it: the fields of a user who chose every group.
class BenchForm : public IForm {
  public:
    QStringList groups, messages, errors;
    QString edit2;
    QString ComboBox1Text() const override { return QStringLiteral("2017"); }
    void SetComboBox1Text(const QString&) override {}
    void SetComboBox1Items(const QStringList&) override {}
    QString ComboBox2Text() const override { return QStringLiteral("rus"); }
    void SetComboBox2Text(const QString&) override {}
    QString ComboBox3Text() const override { return {}; }
    QString Edit1Text() const override { return {}; }
    void SetEdit1Text(const QString&) override {}
    QString Edit2Text() const override { return edit2; }
    void SetEdit2Text(const QString& t) override { edit2 = t; }
    QStringList ListBox1Items() const override { return {}; }
    void SetListBox1Items(const QStringList&) override {}
    QStringList ListBox2Items() const override { return groups; }
    QString StatusText() const override { return {}; }
    void SetStatusText(const QString&) override {}
    void ShowMessage(const QString& t) override { messages << t; }
    void ShowError(const QString& m) override { errors << m; }
    // With ZELK_BENCH_STEPS set, each step's start in ms, printed on standard error once the
    // command has ended (printing as it goes would slow the command down).
    void ShowProgress(const QString& text, int, int) override {
        if (qEnvironmentVariableIsSet("ZELK_BENCH_STEPS"))
            steps.append({double(clock.nsecsElapsed()) / 1e6, text});
    }
    void PrintSteps() const {
        for (const auto& [ms, text] : steps)
            std::fprintf(stderr, "%8.2f ms  %s\n", ms, qPrintable(text));
    }
    QElapsedTimer clock;
    QList<std::pair<double, QString>> steps;
    bool ExecuteOpenDialog(int, const QString&) override { return false; }
    QString OpenDialogFileName(int) const override { return {}; }
    void Terminate() override {}
};

struct Layout {
    QString root;
    QString user() const { return root + "/USERPROFILE"; }
    QString pub() const { return root + "/PUBLIC"; }
    QString tool() const { return root + "/tool"; }
    QString support() const {
        return user() + "/AppData/Roaming/Autodesk/AutoCAD Electrical 2017/R21.0/rus/Support";
    }
    QString images() const { return support() + "/Images"; }
    QString library() const { return pub() + "/Documents/Autodesk/Acade 2017/Libs/iec2"; }
    QString catalog() const {
        return user() + "/Documents/Acade 2017/AeData/ru-RU/Catalogs/default_cat.mdb";
    }
};

QStringList Groups(const QString& installDb) {
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "groups");
        db.setDatabaseName(installDb);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("select DESC from _FAMILY_DESCRIPTION"));
        while (q.next()) out << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("groups");
    return out;
}

enum class Mode { Install, Clean, Discovery, DiscoveryAndInstall };

// Runs Install or Clean once, as the first click after start-up: its time in ms from the click
// (start-up's discovery has found the installation and connected its catalog, as the window
// does before it is shown), or -1 when it did not end with its success message. Discovery
// alone, or discovery and then an Install that finds nothing to do (as the command line runs
// it), are timed from the start of discovery.
double RunCommand(const Layout& l, Mode mode) {
    const bool install = mode == Mode::Install || mode == Mode::DiscoveryAndInstall;
    qputenv("USERPROFILE", QFile::encodeName(l.user()));
    qputenv("PUBLIC", QFile::encodeName(l.pub()));
    AppState st;
    st.exeDir = QDir::toNativeSeparators(l.tool()) + QDir::separator();
    st.BindSettings();
    st.path_mem = l.tool();
    QDir::setCurrent(l.tool());
    BenchForm form;
    catalog::CatalogDb db(st);
    Context ctx{st, form, db, nullptr, {}};
    const QStringList groups = Groups(l.tool() + "/ZELK_install.mdb");
    if (mode == Mode::Discovery || mode == Mode::DiscoveryAndInstall) form.clock.start();
    RunGuarded(form, [&] { state::Discover(ctx); });
    form.groups = groups;  // the user chose every group
    if (mode == Mode::Discovery) {
        const double ms = double(form.clock.nsecsElapsed()) / 1e6;
        return form.errors.isEmpty() && db.CatalogReady() ? ms : -1;
    }
    if (mode != Mode::DiscoveryAndInstall) form.clock.start();
    if (install)
        RunGuarded(form, [&] { deploy::Install(ctx); });
    else
        RunGuarded(form, [&] { deploy::Clean(ctx); });
    const double ms = double(form.clock.nsecsElapsed()) / 1e6;
    form.ShowProgress(QStringLiteral("(end)"), 0, 0);
    form.PrintSteps();
    if (!form.errors.isEmpty())
        std::fprintf(stderr, "error: %s\n", qPrintable(form.errors.join('\n')));
    const QString expected =
        mode == Mode::DiscoveryAndInstall
            ? QStringLiteral("Установка не требуется: всё уже на месте, ничего не изменено")
        : install ? QStringLiteral("Установка произведена успешно")
                  : QStringLiteral("Чистка завершена успешно!");
    const bool ok = form.errors.isEmpty() && form.messages == QStringList{expected};
    return ok ? ms : -1;
}

struct Sample {
    double ms;
    long peakKb;
};

// Runs `work` in a child process; the time it gives (-1: failed) and the child's peak memory.
Sample InChild(const std::function<double()>& work) {
    int fds[2];
    if (::pipe(fds) != 0) return {-1, -1};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const double ms = work();
        [[maybe_unused]] auto n = ::write(fds[1], &ms, sizeof ms);
        ::_exit(ms >= 0 ? 0 : 1);
    }
    ::close(fds[1]);
    double ms = -1;
    if (::read(fds[0], &ms, sizeof ms) != sizeof ms) ms = -1;
    ::close(fds[0]);
    rusage ru{};
    int status = 0;
    ::wait4(child, &status, 0, &ru);
    return {ms, ru.ru_maxrss};
}

// Files of a folder tree with their bytes.
std::map<QString, QByteArray> Snapshot(const QString& dir) {
    std::map<QString, QByteArray> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        if (f.endsWith(".mdb") && QFileInfo(f).size() > (64 << 20)) continue;  // large: by copy
        QFile file(f);
        file.open(QIODevice::ReadOnly);
        out[f] = file.readAll();
    }
    return out;
}

// Puts a tree back as the snapshot holds it: changed files rewritten, new ones removed; the
// catalog from its pristine copy.
void Restore(const Layout& l, const std::map<QString, QByteArray>& snap, const QString& pristine) {
    QDirIterator it(l.root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList extra;
    while (it.hasNext()) {
        const QString f = it.next();
        if (!snap.count(f) && f != l.catalog()) extra << f;
    }
    for (const QString& f : extra) QFile::remove(f);
    for (const auto& [f, bytes] : snap) {
        QFile file(f);
        if (file.exists() && file.size() == bytes.size()) {
            file.open(QIODevice::ReadOnly);
            if (file.readAll() == bytes) continue;
            file.close();
        }
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    }
    QFile::remove(l.catalog());
    QFile::copy(pristine, l.catalog());
    ::sync();
}

// Writes the files a command wrote, with their bytes and at their own paths, with plain writes
// and one sync: the floor of that command on the same folders of the same disk (a file system
// that is slow to create files in a folder is as slow for the floor).
double WriteAndSyncOnce(const QString& root, const std::map<QString, QByteArray>& files) {
    QElapsedTimer t;
    t.start();
    for (const auto& [path, bytes] : files) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return -1;
    }
    return fs::SyncFolder(root) ? double(t.nsecsElapsed()) / 1e6 : -1;
}

// A copy of the tree of `l` (files, folders, times) at `root`.
Layout CopyOf(const Layout& l, const QString& root) {
    QProcess cp;
    cp.start(QStringLiteral("cp"), {QStringLiteral("-a"), l.root, root});
    cp.waitForFinished(-1);
    return Layout{root};
}

// Copies one file through a buffer and syncs it.
double CopyAndSync(const QString& from, const QString& to) {
    QElapsedTimer t;
    t.start();
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) return -1;
    QByteArray buf(1 << 20, Qt::Uninitialized);
    qint64 n;
    while ((n = in.read(buf.data(), buf.size())) > 0)
        if (out.write(buf.constData(), n) != n) return -1;
    return out.flush() && ::fsync(out.handle()) == 0 ? double(t.nsecsElapsed()) / 1e6 : -1;
}

// The syncs one command makes, counted by strace in a run of this program; -1 without strace.
int SyncsOf(const Layout& l, bool install) {
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty()) return -1;
    const QString log = l.root + "/strace.log";
    QProcess p;
    p.start(strace, {"-f", "-qq", "-e", "trace=fsync,fdatasync,syncfs,sync", "-o", log,
                     QCoreApplication::applicationFilePath(), "--once",
                     install ? "install" : "clean", l.root});
    p.waitForFinished(-1);
    QFile f(log);
    f.open(QIODevice::ReadOnly);
    int n = 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.contains("sync")) ++n;
    QFile::remove(log);
    return p.exitCode() == 0 ? n : -1;
}

// Adds another manufacturer's rows to every family table until the catalog has `mb` MB.
void Grow(const QString& catalogFile, int mb) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "grow");
        db.setDatabaseName(catalogFile);
        db.open();
        QSqlQuery q(db);
        QStringList tables;
        q.exec(
            "select name from sqlite_master where type='table' and name not like 'sqlite%' "
            "and name not like '\\_%' escape '\\' and name <> 'PNEU-GAU'");
        while (q.next()) tables << q.value(0).toString();
        const qint64 rowsPerTable =
            qint64(mb) * 1024 * 1024 / 190 / std::max<qsizetype>(1, tables.size());
        for (const QString& t : tables) {
            QStringList cols;
            QSqlQuery c(db);
            c.exec(QStringLiteral("pragma table_info(\"%1\")").arg(t));
            while (c.next()) cols << c.value(1).toString();
            QStringList values;
            for (const QString& col : cols) {
                const QString lc = col.toLower();
                if (lc == "manufacturer")
                    values << "'ABB'";
                else if (lc == "catalog")
                    values << QStringLiteral("'%1-' || i").arg(t);
                else if (lc == "description")
                    values << "hex(randomblob(70))";
                else if (lc == "recnum")
                    values << "i + 1000000";
                else
                    values << "null";
            }
            db.transaction();
            QSqlQuery ins(db);
            if (!ins.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 "
                                         "from n where i < %1) insert into \"%2\" (%3) select %4 "
                                         "from n")
                              .arg(rowsPerTable)
                              .arg(t, "\"" + cols.join("\", \"") + "\"", values.join(", "))))
                std::fprintf(stderr, "grow %s: %s\n", qPrintable(t),
                             qPrintable(ins.lastError().text()));
            db.commit();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("grow");
}

struct Stats {
    double min, median, max;
};
Stats Of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}
void Print(const char* what, const std::vector<Sample>& s) {
    std::vector<double> ms, kb;
    for (const Sample& x : s) {
        ms.push_back(x.ms);
        kb.push_back(double(x.peakKb));
    }
    const Stats t = Of(ms), m = Of(kb);
    std::printf("%-34s min %8.1f  median %8.1f  max %8.1f ms   peak memory median %6.1f MB\n", what,
                t.min, t.median, t.max, m.median / 1024);
}
Stats TimesOf(const std::vector<Sample>& s) {
    std::vector<double> ms;
    for (const Sample& x : s) ms.push_back(x.ms);
    return Of(ms);
}
// The ratios of two commands' times to their floor's: of the medians, and of the minimums
// (what each does at best on this disk, the steadier of the two where the disk is busy).
void Ratios(const std::vector<Sample>& install, const std::vector<Sample>& clean,
            const std::vector<Sample>& floor) {
    const Stats i = TimesOf(install), c = TimesOf(clean), f = TimesOf(floor);
    std::printf("ratio Install/floor: %.2f (minimums %.2f)   Clean/floor: %.2f (minimums %.2f)\n",
                i.median / f.median, i.min / f.min, c.median / f.median, c.min / f.min);
}

// The tool itself, as a logon script starts it, in the folder `l.tool()`: its time in ms, or -1
// when it did not end with `exit`.
double RunTool(const Layout& l, const QString& exe, const QStringList& args, int exit) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("USERPROFILE"), l.user());
    env.insert(QStringLiteral("PUBLIC"), l.pub());
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(exe, args);
    if (!p.waitForFinished(-1)) return -1;
    const double ms = double(t.nsecsElapsed()) / 1e6;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == exit ? ms : -1;
}

// The logon-script case on an installed layout: discovery alone, and discovery with an Install
// that finds nothing to do, with the mark of the last Install and without it (the mark file
// removed before each run). Prints the times and the ratios to discovery alone.
bool NothingToDo(const char* what, const Layout& l, int runs) {
    const QString mark = qEnvironmentVariable("XDG_CONFIG_HOME") +
                         QStringLiteral("/ZELK/AE_install/install-mark.ini");
    if (InChild([&] { return RunCommand(l, Mode::Install); }).ms < 0) return false;
    const QByteArray marked = [&] {
        QFile f(mark);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    std::vector<Sample> discovery, withMark, counted;
    for (int r = 0; r < runs; ++r) {
        discovery.push_back(InChild([&] { return RunCommand(l, Mode::Discovery); }));
        QFile m(mark);
        m.open(QIODevice::WriteOnly);
        m.write(marked);
        m.close();
        withMark.push_back(InChild([&] { return RunCommand(l, Mode::DiscoveryAndInstall); }));
        QFile::remove(mark);
        counted.push_back(InChild([&] { return RunCommand(l, Mode::DiscoveryAndInstall); }));
    }
    // The executable: "--install" with nothing to do, against the same run stopped right before
    // the command (an unknown group code: start-up, discovery, the group table, then the usage
    // error), both with the mark.
    const QString exe = l.tool() + '/' + QFileInfo(QStringLiteral(ZELK_EXE_PATH)).fileName();
    QFile::copy(QStringLiteral(ZELK_EXE_PATH), exe);
    std::vector<Sample> stopped, tool;
    for (int r = 0; r < runs; ++r) {
        QFile m(mark);
        m.open(QIODevice::WriteOnly);
        m.write(marked);
        m.close();
        stopped.push_back({RunTool(l, exe, {"--install", "--groups", "ZZ"}, 3), 0});
        tool.push_back({RunTool(l, exe, {"--install"}, 0), 0});
    }
    QFile::remove(exe);
    std::printf("\n%s: Install with nothing to do (logon script)\n", what);
    Print("discovery alone", discovery);
    Print("discovery + Install, with the mark", withMark);
    Print("discovery + Install, rows counted", counted);
    Print("tool: stopped before the command", stopped);
    Print("tool: --install, nothing to do", tool);
    const Stats d = TimesOf(discovery), w = TimesOf(withMark), c = TimesOf(counted),
                ts = TimesOf(stopped), t = TimesOf(tool);
    std::printf(
        "ratio of the tool's runs, --install / stopped before the command: %.2f (minimums "
        "%.2f), goal <= 1.5\n",
        t.median / ts.median, t.min / ts.min);
    std::printf(
        "ratio to discovery alone, in the process: with the mark %.2f (minimums %.2f);   "
        "rows counted %.2f (minimums %.2f)\n",
        w.median / d.median, w.min / d.min, c.median / d.median, c.min / d.min);
    for (const auto* s : {&discovery, &withMark, &counted, &stopped, &tool})
        for (const Sample& x : *s)
            if (x.ms < 0) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--once")
        return RunCommand(Layout{QString::fromLocal8Bit(argv[3])},
                          QByteArray(argv[2]) == "install" ? Mode::Install : Mode::Clean) >= 0
                   ? 0
                   : 1;
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 7;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::currentPath();
    QDir().mkpath(base);
    QTemporaryDir tmp(base + "/bench_install_clean-XXXXXX");
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot make a work folder in %s\n", qPrintable(base));
        return 1;
    }
    tmp.setAutoRemove(!qEnvironmentVariableIsSet("ZELK_BENCH_KEEP"));
    // The detection mark Install writes for the user goes into the work folder.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp.path() + "/user-config"));
    const Layout l{tmp.path() + "/demo"};
    const QString scratch = tmp.path() + "/scratch";
    QDir().mkpath(scratch);

    // The demo installation and the data package, as scripts/demo.sh lays them out.
    QProcess gen;
    gen.start(QStringLiteral(ZELK_DATAGEN_PATH),
              {"--demo-profile", QStringLiteral(ZELK_SOURCE_DIR "/data-src"), l.root});
    gen.waitForFinished(-1);
    if (gen.exitCode() != 0) {
        std::fprintf(stderr, "demo layout failed: %s\n", gen.readAllStandardError().constData());
        return 1;
    }
    QDirIterator pk(QStringLiteral(ZELK_PACKAGE_DIR), QDir::Files, QDirIterator::Subdirectories);
    while (pk.hasNext()) {
        const QString f = pk.next();
        const QString to = l.tool() + "/" + QDir(ZELK_PACKAGE_DIR).relativeFilePath(f);
        QDir().mkpath(QFileInfo(to).absolutePath());
        QFile::copy(f, to);
    }
    const QString pristine = tmp.path() + "/pristine.mdb";
    QFile::copy(l.catalog(), pristine);
    const auto snap = Snapshot(l.root);

    std::printf("runs: %d, work folder: %s\n", runs, qPrintable(tmp.path()));

    // ---- demo package ----
    // Each Install and each floor runs in a copy of the demo tree of its own, made beforehand,
    // and the Cleans run only after every Install and floor: a file system may skip the
    // inodes freed in the last minutes when it makes a file (ext4 without a journal does), so
    // deleting files between the runs would slow the making of files, on both sides, by an
    // amount that depends on the runs before.
    std::vector<Sample> install, floor, clean;
    std::map<QString, QByteArray> written;  // by path in the tree
    std::vector<Layout> installed;
    for (int r = 0; r < runs; ++r) {
        const Layout a = CopyOf(l, tmp.path() + QStringLiteral("/install-%1").arg(r));
        const Layout f = CopyOf(l, tmp.path() + QStringLiteral("/floor-%1").arg(r));
        ::sync();
        install.push_back(InChild([&] { return RunCommand(a, Mode::Install); }));
        if (r == 0) {  // the bytes Install wrote, for the floor
            for (const auto& [file, bytes] : Snapshot(a.root)) {
                auto it = snap.find(l.root + file.mid(a.root.size()));
                if (it == snap.end() || it->second != bytes)
                    written[file.mid(a.root.size())] = bytes;
            }
        }
        std::map<QString, QByteArray> files;
        for (const auto& [file, bytes] : written) files[f.root + file] = bytes;
        floor.push_back(InChild([&] { return WriteAndSyncOnce(f.root, files); }));
        installed.push_back(a);
    }
    for (const Layout& a : installed)
        clean.push_back(InChild([&] { return RunCommand(a, Mode::Clean); }));
    Restore(l, snap, pristine);
    const int installSyncs = SyncsOf(l, true);
    const int cleanSyncs = SyncsOf(l, false);
    std::printf("\ndemo package (%zu files written by Install)\n", written.size());
    Print("Install, all 17 groups", install);
    Print("Clean", clean);
    Print("floor: same files, one sync", floor);
    Ratios(install, clean, floor);
    std::printf("syncs: Install %d, Clean %d (strace; -1: not counted)\n", installSyncs,
                cleanSyncs);
    Restore(l, snap, pristine);
    bool ok = NothingToDo("demo package", l, runs);

    if (qEnvironmentVariableIsSet("ZELK_BENCH_DEMO_ONLY")) return ok ? 0 : 1;

    // ---- grown catalog ----
    Restore(l, snap, pristine);
    Grow(pristine, 300);
    const double mb = double(QFileInfo(pristine).size()) / (1 << 20);
    std::vector<Sample> gInstall, gClean, gFloor;
    for (int r = 0; r < runs; ++r) {
        Restore(l, snap, pristine);
        gInstall.push_back(InChild([&] { return RunCommand(l, Mode::Install); }));
        gClean.push_back(InChild([&] { return RunCommand(l, Mode::Clean); }));
        QFile::remove(scratch + "/copy.mdb");
        ::sync();
        gFloor.push_back(InChild([&] { return CopyAndSync(l.catalog(), scratch + "/copy.mdb"); }));
    }
    std::printf("\ngrown catalog (%.0f MB)\n", mb);
    Print("Install, all 17 groups", gInstall);
    Print("Clean", gClean);
    Print("floor: copy of the catalog + sync", gFloor);
    Ratios(gInstall, gClean, gFloor);
    Restore(l, snap, pristine);
    ok = NothingToDo("grown catalog", l, runs) && ok;
    if (!ok) {
        std::fprintf(stderr, "a run with nothing to do failed\n");
        return 1;
    }
    for (const auto* s : {&install, &clean, &gInstall, &gClean})
        for (const Sample& x : *s)
            if (x.ms < 0) {
                std::fprintf(stderr, "a command failed\n");
                return 1;
            }
    return 0;
}
