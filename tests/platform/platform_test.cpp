#include "platform/platform.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QThread>
#include <QUuid>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/qt_bridge.h"
#include "support/TempDir.h"

using platform::AnsiDecode;
using platform::AnsiEncode;
using platform::FromU16;
using platform::ToU16;

TEST(AnsiCodePage, CyrillicRoundTripAndDefaultCharacter) {
    const QString text = QStringLiteral("ЗЕЛК: Ёлка ёж — №5 «кавычки» C:\\Users\\Иван");
    const std::string bytes = AnsiEncode(ToU16(text));
    // One byte per character, the Windows-1251 values.
    ASSERT_EQ(bytes.size(), size_t(text.size()));
    EXPECT_EQ(uint8_t(bytes[0]), 0xC7);   // З
    EXPECT_EQ(uint8_t(bytes[6]), 0xA8);   // Ё
    EXPECT_EQ(uint8_t(bytes[11]), 0xB8);  // ё
    EXPECT_EQ(uint8_t(bytes[14]), 0x97);  // em dash
    EXPECT_EQ(uint8_t(bytes[16]), 0xB9);  // №
    EXPECT_EQ(FromU16(AnsiDecode(bytes)), text);

    // Characters the code page lacks become '?', a real SUB character stays itself, and a
    // character outside the basic plane becomes one '?'.
    const QString odd = QStringLiteral("a中b") + QChar(0x1A) + QString::fromUcs4(U"\U0001F600") +
                        QStringLiteral("ł");
    EXPECT_EQ(AnsiEncode(ToU16(odd)), std::string("a?b\x1A??"));
    EXPECT_TRUE(AnsiEncode(u"").empty());
    EXPECT_TRUE(AnsiDecode("").empty());
    // Every byte the code page defines (all but 0x98) comes back unchanged; off Windows each
    // decodes as Qt's codec decodes it (Windows converts with its own tables).
    std::string all;
    for (int c = 0x01; c <= 0xFF; ++c)
        if (c != 0x98) all.push_back(char(c));
    EXPECT_EQ(AnsiEncode(AnsiDecode(all)), all);
#ifndef _WIN32
    QStringDecoder codec("windows-1251", QStringConverter::Flag::Stateless);
    EXPECT_EQ(FromU16(AnsiDecode(all)), codec.decode(QByteArray::fromStdString(all)));
#endif
}

TEST(InstanceGuard, SecondAcquireInTheSameSessionIsRefused) {
    // Unique names keep the test apart from a running copy of the tool and from other runs.
    const std::u16string name =
        ToU16(QStringLiteral("тест ") + QUuid::createUuid().toString(QUuid::WithoutBraces));
    EXPECT_EQ(platform::AcquireInstanceMutex(name), platform::InstanceGuard::First);
    EXPECT_EQ(platform::AcquireInstanceMutex(name), platform::InstanceGuard::AlreadyRunning);
    const std::u16string other =
        ToU16(QStringLiteral("другая ") + QUuid::createUuid().toString(QUuid::WithoutBraces));
    EXPECT_EQ(platform::AcquireInstanceMutex(other), platform::InstanceGuard::First);
}

#ifdef _WIN32
// The other copy, in a process of its own: this test executable started again with only this
// case selected. It takes the guard named in ZELK_GUARD_NAME, reports, and waits for a line on
// its standard input before it ends without releasing anything.
TEST(InstanceGuardChild, HoldsTheGuardUntilToldToEnd) {
    const QString name = qEnvironmentVariable("ZELK_GUARD_NAME");
    if (name.isEmpty()) GTEST_SKIP() << "runs only as the child of the cross-process case";
    const bool first =
        platform::AcquireInstanceMutex(ToU16(name)) == platform::InstanceGuard::First;
    std::fputs(first ? "guard:F\n" : "guard:X\n", stdout);
    std::fflush(stdout);
    char line[8];
    if (!std::fgets(line, sizeof line, stdin)) return;
}

TEST(InstanceGuard, AnotherProcessBlocksWhileAliveAndNotAfterItEnded) {
    const QString name =
        QStringLiteral("процесс ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZELK_GUARD_NAME"), name);
    child.setProcessEnvironment(env);
    child.start(QString::fromWCharArray(self),
                {QStringLiteral("--gtest_filter=InstanceGuardChild.*")});
    ASSERT_TRUE(child.waitForStarted(10000));
    QByteArray out;
    while (!out.contains("guard:") && child.waitForReadyRead(20000))
        out += child.readAllStandardOutput();
    EXPECT_TRUE(out.contains("guard:F")) << out.constData();
    EXPECT_EQ(platform::AcquireInstanceMutex(ToU16(name)), platform::InstanceGuard::AlreadyRunning);
    child.write("q\n");
    child.closeWriteChannel();
    ASSERT_TRUE(child.waitForFinished(20000));
    // The system released the mutex of the ended copy.
    EXPECT_EQ(platform::AcquireInstanceMutex(ToU16(name)), platform::InstanceGuard::First);
}

#else
TEST(InstanceGuard, AnotherProcessBlocksWhileAliveAndNotAfterItEnded) {
    const std::u16string name =
        ToU16(QStringLiteral("процесс ") + QUuid::createUuid().toString(QUuid::WithoutBraces));
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The other copy: takes the guard, reports, waits for the word, then dies without
        // releasing anything.
        const char got =
            platform::AcquireInstanceMutex(name) == platform::InstanceGuard::First ? 'F' : 'X';
        if (write(fromChild[1], &got, 1) != 1) _exit(2);
        char c;
        if (read(toChild[0], &c, 1) != 1) _exit(3);
        _exit(0);
    }
    char got = 0;
    ASSERT_EQ(read(fromChild[0], &got, 1), 1);
    EXPECT_EQ(got, 'F');
    EXPECT_EQ(platform::AcquireInstanceMutex(name), platform::InstanceGuard::AlreadyRunning);
    ASSERT_EQ(write(toChild[1], "q", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    // The lock file of the dead copy is still there; it does not block.
    EXPECT_EQ(platform::AcquireInstanceMutex(name), platform::InstanceGuard::First);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
}

#endif

namespace {
bool WaitForFile(const QString& path, int ms) {
    const QDateTime end = QDateTime::currentDateTime().addMSecs(ms);
    while (QDateTime::currentDateTime() < end) {
        if (QFile::exists(path) && QFile(path).size() > 0) return true;
        QThread::msleep(20);
    }
    return false;
}
}  // namespace

#ifdef _WIN32
const char kPrintFolder[] = "cd > marker.txt\r\n";
const char kSleep3[] = "ping -n 4 127.0.0.1 > nul\r\n";
#else
const char kPrintFolder[] = "pwd > marker.txt\n";
const char kSleep3[] = "sleep 3\n";
#endif

TEST(StartHidden, RunsTheScriptInTheWorkingFolderWithoutWaiting) {
    TempDir work;
    work.write("update.cmd", kPrintFolder);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    platform::StartHidden(u"cmd /c start .\\\\update.cmd", ToU16(work.path()));
    EXPECT_LT(QDateTime::currentMSecsSinceEpoch() - t0, 2000);
    ASSERT_TRUE(WaitForFile(work.file("marker.txt"), 5000));
    EXPECT_EQ(
        QFileInfo(QString::fromLocal8Bit(work.read("marker.txt").trimmed())).canonicalFilePath(),
        QFileInfo(work.path()).canonicalFilePath());

    // A slow script does not hold the caller up.
    work.write("slow.cmd", kSleep3);
    const qint64 t1 = QDateTime::currentMSecsSinceEpoch();
    platform::StartHidden(u"cmd /c start slow.cmd", ToU16(work.path()));
    EXPECT_LT(QDateTime::currentMSecsSinceEpoch() - t1, 1500);

#ifndef _WIN32
    // The stand-in understands only the update's command line; another form starts nothing.
    work.write("other.cmd", "echo x > other.txt\n");
    platform::StartHidden(u"other.cmd", ToU16(work.path()));
    QThread::msleep(200);
    EXPECT_FALSE(QFile::exists(work.file("other.txt")));
#endif
}

TEST(NativePath, BackslashesBecomeSlashesOffWindows) {
#ifdef _WIN32
    EXPECT_EQ(platform::NativePath(u"data\\IMAGES\\a.png"), u"data\\IMAGES\\a.png");
#else
    EXPECT_EQ(platform::NativePath(u"data\\IMAGES\\a.png"), u"data/IMAGES/a.png");
    EXPECT_EQ(platform::NativePath(u"/tmp/x"), u"/tmp/x");
#endif
}

// The file calls behind a batch of copies, on Windows with the system's own calls: a copy and a
// move never take an existing name, a failed copy leaves nothing, and files flushed together
// are all reported.
TEST(NewFiles, CopyAndMoveNeverReplaceAndAFailedCopyLeavesNothing) {
    TempDir tmp;
    const QString src = tmp.write("src.dwg", QByteArray(300000, 'z')),
                  taken = tmp.write("t", "own");
    const auto native = [](const QString& p) { return ToU16(QDir::toNativeSeparators(p)); };
    EXPECT_FALSE(platform::CopyToNew(native(src), native(taken)).empty());
    EXPECT_FALSE(platform::CopyToNew(native(tmp.file("none")), native(tmp.file("c"))).empty());
    EXPECT_FALSE(platform::CopyToNew(native(tmp.path()), native(tmp.file("d"))).empty());
    EXPECT_FALSE(QFile::exists(tmp.file("c")) || QFile::exists(tmp.file("d")));
    ASSERT_EQ(platform::CopyToNew(native(src), native(tmp.file("copy"))), u"");
    EXPECT_EQ(tmp.read("copy"), QByteArray(300000, 'z'));
    EXPECT_TRUE(platform::SyncFilesTogether({native(tmp.file("copy")), native(taken)}));
    EXPECT_FALSE(platform::SyncFilesTogether({native(tmp.file("none"))}));

    EXPECT_FALSE(platform::MoveToNew(native(tmp.file("copy")), native(taken)).empty());
    EXPECT_EQ(tmp.read("t"), "own");
    const auto id = platform::FileIdentity(native(tmp.file("copy")));
    ASSERT_TRUE(id.has_value());
    ASSERT_EQ(platform::MoveToNew(native(tmp.file("copy")), native(tmp.file("placed"))), u"");
    EXPECT_FALSE(QFile::exists(tmp.file("copy")));
    EXPECT_EQ(tmp.read("placed").size(), 300000);
    // A file keeps its identity under a new name; another file, and none, have others.
    EXPECT_EQ(platform::FileIdentity(native(tmp.file("placed"))), id);
    EXPECT_NE(platform::FileIdentity(native(taken)), id);
    EXPECT_FALSE(platform::FileIdentity(native(tmp.file("copy"))).has_value());

    // Replacing a large file (a catalog): the new one has the name at once, and nothing of the
    // old one is still held once the call is back (off Windows: no handle of it is open).
    QFile large(tmp.file("large.mdb"));
    ASSERT_TRUE(large.open(QIODevice::WriteOnly) && large.resize(qint64(40) << 20));
    large.close();
#ifndef _WIN32
    const auto handles = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    const uint before = handles();
#endif
    ASSERT_EQ(platform::MoveReplacing(native(tmp.file("placed")), native(large.fileName())), u"");
    EXPECT_EQ(QFileInfo(large.fileName()).size(), 300000);
#ifndef _WIN32
    if (QDir(QStringLiteral("/proc/self/fd")).exists()) {
        EXPECT_LE(handles(), before);
    }
#endif

    // A folder's listing: every entry but "." and "..", hidden ones too, a link counted as what
    // it leads to; a missing folder lists nothing.
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("sub")));
    tmp.write(".hidden", "h");
    QStringList expected{".hidden", "large.mdb", "src.dwg", "sub", "t"}, folders{"sub"};
#ifndef _WIN32
    ASSERT_TRUE(QFile::link(tmp.file("sub"), tmp.file("to-sub")));
    expected << "to-sub";
    folders << "to-sub";
#endif
    QStringList listed, listedFolders;
    for (const platform::FolderEntry& e : platform::ListFolder(native(tmp.path()))) {
        listed << FromU16(e.name);
        if (e.isFolder) listedFolders << FromU16(e.name);
    }
    listed.sort();
    listedFolders.sort();
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(listedFolders, folders);
    EXPECT_TRUE(platform::ListFolder(native(tmp.file("none"))).empty());
}
