#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/platform.h"
#include "support/TempDir.h"

namespace {

bool IsLoopback(const QString& host) {
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") ||
           host == QLatin1String("::1");
}

#ifdef _WIN32
// Whether the single-instance mutex exists: only a running copy holds a handle to it.
bool HoldsInstanceLock(qint64) {
    const HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, L"уникальная фраза");
    if (!h) return false;
    CloseHandle(h);
    return true;
}
#else
// Whether the process has the single-instance lock file open (the guard's only trace).
bool HoldsInstanceLock(qint64 pid) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFile::symLinkTarget(fds.filePath(fd)).contains(QLatin1String("zelk-instance-")))
            return true;
    return false;
}
#endif

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (done()) return true;
        QThread::msleep(25);
    }
    return done();
}

struct Tool {
    TempDir dir;
    QString exe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    Tool() {
        dir.mkdir("tool");
        exe = dir.file("tool/" + QFileInfo(QStringLiteral(ZELK_EXE_PATH)).fileName());
        EXPECT_TRUE(QFile::copy(QStringLiteral(ZELK_EXE_PATH), exe));
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("USERPROFILE"), dir.mkdir("profile"));
        env.insert(QStringLiteral("PUBLIC"), dir.mkdir("public"));
    }
    void Start(QProcess& p) const {
        p.setProgram(exe);
        p.setWorkingDirectory(dir.file("tool"));
        p.setProcessEnvironment(env);
        p.start();
        ASSERT_TRUE(p.waitForStarted(10000));
    }
    QStringList Files() const { return QDir(dir.file("tool")).entryList(QDir::Files); }
};

}  // namespace

TEST(SingleInstance, SecondCopyOnlyReportsAndEnds) {
    Tool tool;
    // A full copy of the tool probes the internet and calls the update server at start-up; it
    // is started here only when the build points both at this machine. Otherwise this test
    // process plays the first copy by holding the same guard.
    const bool fullCopies =
        IsLoopback(QStringLiteral(ZELK_PROBE_HOST)) && IsLoopback(QStringLiteral(ZELK_UPDATE_HOST));
    QProcess first;
    if (fullCopies) {
        tool.Start(first);
        ASSERT_TRUE(WaitUntil(
            [&] {
                return HoldsInstanceLock(first.processId()) ||
                       first.state() == QProcess::NotRunning;
            },
            20000));
        if (first.state() == QProcess::NotRunning)
            GTEST_SKIP() << "another copy of the tool runs in this session";
    } else if (platform::AcquireInstanceMutex(u"уникальная фраза") ==
               platform::InstanceGuard::Failed) {
        GTEST_SKIP() << "the single-instance guard is not available here";
    }
    const QStringList filesBefore = tool.Files();

    QProcess second;
    tool.Start(second);
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QString::fromLocal8Bit(second.readAllStandardError())
                    .contains(QStringLiteral("Программа уже работает!")));
    EXPECT_EQ(tool.Files(), filesBefore);  // no settings file, nothing else either
    EXPECT_FALSE(QFile::exists(tool.dir.file("tool/config.ini")));

    if (!fullCopies) return;
    EXPECT_EQ(first.state(), QProcess::Running);
    // Once the first copy is gone, however it ended, a new copy starts normally.
    first.kill();
    first.waitForFinished(10000);
    QProcess third;
    tool.Start(third);
    EXPECT_TRUE(WaitUntil([&] { return HoldsInstanceLock(third.processId()); }, 20000));
    EXPECT_EQ(third.state(), QProcess::Running);
    third.kill();
    third.waitForFinished(10000);
}
