// The update download and the start-up check against servers that misbehave, broken or
// hostile, on the loopback interface. Every case runs the whole update download (or the
// start-up check) over the files of an earlier update and checks what the user and the files
// are left with: the call ends within the time limit that ends it (plus a tenth), memory stays
// bounded, either every file is the new one whole or every old one is untouched, no temporary
// file is left, no date is recorded and no script runs after a failure, and the progress
// window has come and gone.
//
// The data connection's sender: on loopback every local program connects from 127.0.0.1, the
// address of a server on 127.0.0.1 too. So the cases run the server on 127.0.0.2 (the whole
// 127/8 is loopback on Linux) to show that a connection from another address is closed and
// the server's own still taken, and on 127.0.0.1 to show that a second connection from the
// server's own address makes the transfer untrusted. Those cases answer neither EPSV nor PASV,
// so that their data connections are active.
//
// A scenario's "client" object sets the client up for a case: "lookup": "silent" (the server's
// name goes to a name server that never answers), "start": "refused" (the system does not start
// the update script).

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <psapi.h>
#endif

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "FtpTestSupport.h"
#include "core/AppState.h"
#include "core/FileSystem.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"
#include "support/FakeForm.h"
#include "support/TempDir.h"
#include "update/IdFtp.h"
#include "update/Update.h"

namespace {

constexpr int kLimit = 1000;  // every time limit of the client here
#ifdef _WIN32
constexpr bool kResetMayNotReachAccept = true;
// Wine's Winsock does not always tell a reset from an orderly close; Windows does.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#else
constexpr bool kResetMayNotReachAccept = false;
bool UnderWine() { return false; }
#endif
constexpr qint64 kCap = 4 * 1024 * 1024;   // the transfer bound here
constexpr qint64 kMemoryBound = 64 << 20;  // what one case may add to the peak
const QString kConnectError = QStringLiteral("Ошибка подключения: ");
const QString kDownloadError = QStringLiteral(" Ошибка скачивания файла: ");
const QString kUnverified = QStringLiteral("подпись файла \"%1\" не подтверждена: ");

// The five update files in download order, as the earlier update left them.
const char* const kFiles[] = {"ZELK_AE_install.7z", "7z/7z.exe", "7z/7z.dll", "update.cmd",
                              "manual_update.txt"};
const char* const kServerPaths[] = {"/autocad/ZELK_AE_install.7z", "/autocad/7z/7z.exe",
                                    "/autocad/7z/7z.dll", "/autocad/update.cmd",
                                    "/autocad/manual_update.txt"};
QByteArray OldContent(int i) { return QByteArray("old ") + kFiles[i]; }
QByteArray NewContent(int i) { return QByteArray("content of ") + kServerPaths[i]; }
const QByteArray kNewScript = "echo new-ran >> marker.txt\n";
// A status file that names the release only, as the package carries it.
const QByteArray kStatusOnly = "[Update]\r\ndate_global=02.03.2026\r\n";

qint64 PeakMemory() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    return GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)
               ? qint64(pmc.PeakWorkingSetSize)
               : 0;
#endif
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ')[0].toLongLong() * 1024;
    return 0;
}

struct HostileCase {
    const char* name;
    const char* scenario;  // for the scripted server
    int limitMs;           // the limit whose expiry ends the call; 0: none is waited out
    QString status;        // what the status text begins with
    int replaced;          // 5: the update arrived whole; 0: it failed
    // The user presses "Отмена" this long after the file named so has begun.
    const char* cancelAt = nullptr;
    int cancelAfterMs = -1;
    bool check = false;  // the start-up check runs instead of the update download
    // The status file held before: nullptr, the one the server serves (as the start-up check
    // fetched it); "", none.
    const char* held = nullptr;
    // Called with each status text as it is shown, and the tool's folder.
    void (*onStatus)(const QString& status, TempDir& exe) = nullptr;
    // What the server's record of the conversation (its lines joined by blanks) must match.
    const char* talk = nullptr;
};

// A window whose status bar a case can watch.
class WatchedForm : public FakeForm {
  public:
    std::function<void(const QString&)> watch;
    void SetStatusText(const QString& t) override {
        FakeForm::SetStatusText(t);
        if (watch) watch(t);
    }
};

constexpr int kCheckLimit = 2000;  // the start-up check's time limit here

class HostileServer : public ::testing::Test {
  protected:
    // Runs the update download in a fresh folder `exe` (the earlier update's files in place)
    // and checks the outcome; then runs `after` on the same state and server. Returns the
    // server's conversation.
    QStringList Run(const HostileCase& c, TempDir& exe,
                    const std::function<void(Context&)>& after = {}) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 5; ++i) exe.write(kFiles[i], OldContent(i));
        exe.write("update.cmd", "echo old-ran >> marker.txt\n");
        exe.write("config.ini", "[Update]\r\nlocal_date=01.01.2020\r\n");
        // Part files of a download that was killed, of this version and of an earlier one:
        // gone after any run.
        exe.write("7z/7z.dll.Ab3xY9.zelk-part", "half");
        exe.write("ZELK_AE_install.7z.q7Rt2Z", "half");
        const QByteArray oldScript = exe.read("update.cmd");

        ScriptedFtpServer server(c.scenario);
        // The status file checked at start-up: the release the files must belong to.
        const QByteArray held = c.held                          ? QByteArray(c.held)
                                : server.StatusFile().isEmpty() ? kStatusOnly
                                                                : server.StatusFile();
        exe.mkdir("data");
        if (!held.isEmpty()) exe.write("data/status_up.ini", held);
        update::FtpSettings settings = LocalSettings(server.port(), kLimit);
        if (QByteArray(c.scenario).contains("127.0.0.2")) settings.host = "127.0.0.2";
        settings.maxTransferBytes = kCap;
        settings.checkTimeLimitMs = kCheckLimit;
        // The status file's own limits are shorter than an update file's, so that a signature
        // that needs its file's shows.
        settings.transferTimeoutMs = settings.listenTimeoutMs = kLimit / 2;
        const QJsonObject client =
            QJsonDocument::fromJson(c.scenario).object().value("client").toObject();
        SilentResolver names;
        if (client.value("lookup") == "silent") {
            settings.host = "updates.zelk.test";
            settings.resolver = names.Resolver();
        }
        std::u16string started;
        settings.start = [&](const std::u16string& line, const std::u16string& folder) {
            started = line;
            return client.value("start") == "refused" ? std::u16string(u"запрещено политикой")
                                                      : platform::StartHidden(line, folder);
        };
        update::IdFtp ftp(settings);
        AppState st;
        st.exeDir = exe.path();
        WatchedForm form;
        if (c.onStatus) form.watch = [&](const QString& t) { c.onStatus(t, exe); };
        form.cancelAt = QString::fromUtf8(c.cancelAt);
        form.cancelAfterMs = c.cancelAfterMs;
        Context ctx = MakeUpdateContext(st, form, &ftp);
        QTcpServer probe;  // stands for the public web server
        probe.listen(QHostAddress::LocalHost, 0);

        const qint64 peak = PeakMemory();
        QElapsedTimer timer;
        timer.start();
        if (c.check)
            update::StartupUpdateCheck(ctx,
                                       {QStringLiteral("127.0.0.1"), probe.serverPort(), kLimit});
        else
            update::poupdate(ctx, false);  // as the start-up check runs it
        const qint64 took = timer.elapsed();
        if (client.value("lookup") == "silent") {
            EXPECT_GE(names.Queries(), 1);
        }
        if (c.cancelAfterMs >= 0) {  // the cancel took effect at once
            EXPECT_GE(form.cancelledAtMs, 0);
            EXPECT_LT(timer.msecsSinceReference() + took - form.cancelledAtMs, 250);
            EXPECT_FALSE(ftp.Connected());
        }

        // Winsock (Wine's at least) may drop a data connection that is reset before the client
        // takes it, so that none reaches the client: then the accept limit ends the transfer,
        // with the same outcome for the files.
        const bool droppedBeforeAccept =
            kResetMayNotReachAccept && c.status.contains(QLatin1String("10054")) &&
            form.status == kDownloadError + QLatin1String("Accept timed out.");
        // The limit, plus what the conversation around it takes: a tenth of the limit, and at
        // least 300 ms for the login and the signatures' transfers (under Wine each exchange
        // costs more); a second wait of the limit would still show. A hand-off waits for the
        // command interpreter to say the script started, which under Wine (cmd and start are
        // processes of their own there) takes up to a second.
        const int limit = c.limitMs ? c.limitMs : kLimit;
        const int handOff = UnderWine() && c.replaced == 5 ? 1000 : 0;
        EXPECT_LT(took,
                  limit + handOff + std::max(limit * (droppedBeforeAccept ? 3 : 1) / 10, 300));
        EXPECT_LT(PeakMemory() - peak, kMemoryBound);
        EXPECT_TRUE(form.status.startsWith(c.status) || droppedBeforeAccept)
            << form.status.toStdString();
        const bool success = c.replaced == 5 && c.status.isEmpty();  // and handed over
        EXPECT_TRUE(!success || form.status.isEmpty()) << form.status.toStdString();
        EXPECT_FALSE(form.status.contains(u'\r') || form.status.contains(u'\n'));
        EXPECT_EQ(form.terminated, success);
        EXPECT_EQ(st.handedOff, success);
        // The system folder's command interpreter by its full path, the script by its own.
        if (c.replaced == 5) {
            EXPECT_EQ(started, u"\"" + platform::CommandInterpreter() + u"\" /c start \"\" \"" +
                                   platform::ToU16(fs::Native(exe.file("update.cmd"))) + u"\"");
        }
        for (int i = 0; i < 5; ++i) {
            const QByteArray expected = i == 3 ? (c.replaced > 3 ? kNewScript : oldScript)
                                               : (i < c.replaced ? NewContent(i) : OldContent(i));
            EXPECT_EQ(exe.read(kFiles[i]), expected) << kFiles[i];
        }
        EXPECT_EQ(exe.read("config.ini").contains("local_date=01.01.2020"), !success);
        EXPECT_EQ(exe.read("data/status_up.ini"), held);
        EXPECT_EQ(form.progressOpened, c.check ? 0 : 1);
        EXPECT_FALSE(form.progressOpen);
        QStringList files;
        QDirIterator it(exe.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) files << it.next().mid(exe.path().size());
        files.removeOne("marker.txt");  // the script's, when it ran
        files.sort();
        EXPECT_EQ(files.join(' ').toStdString(),
                  std::string("7z/7z.dll 7z/7z.exe ZELK_AE_install.7z config.ini ") +
                      (held.isEmpty() ? "" : "data/status_up.ini ") +
                      "manual_update.txt update.cmd");
        if (after) after(ctx);
        const QStringList talk = server.Conversation();
        if (c.talk) {
            EXPECT_TRUE(talk.join(' ').contains(QRegularExpression(c.talk)))
                << talk.join(" | ").toStdString();
        }
        return talk;
    }
};

// The server's update script, so that a run shows in marker.txt.
#define SCRIPT \
    R"("retr_by_path": {"/autocad/update.cmd": {"data": "echo new-ran >> marker.txt\n"}})"

const HostileCase kCases[] = {
    {"endless multi-line greeting, a line at a time",
     R"({"greeting": "220-Welcome\nSTREAM:0.3:220-more"})", kLimit,
     kConnectError + "Read timed out.", 0},
    {"endless multi-line greeting, as fast as it goes",
     R"({"greeting": "220-Welcome\nSTREAM:0:220-more and more and more"})", 0,
     kConnectError + "Reply too long.", 0},
    {"blank lines instead of a greeting", R"({"greeting": "STREAM:0.3:"})", kLimit,
     kConnectError + "Read timed out.", 0},
    {"endless data", R"({"retr": {"endless": true}})", 0,
     kDownloadError + "Transfer exceeds the limit of 38 bytes.", 0},
    {"reset after 50 kB, then 226", R"({"retr": {"size": 50000, "reset": true}})", 0,
     kDownloadError + "Socket Error # 10054 Connection reset by peer.", 0},
    {"reset before the client could take the connection",
     R"({"retr": {"size": 50000, "reset": true, "late_pre": true}})", 0,
     kDownloadError + "Socket Error # 10054 Connection reset by peer.", 0},
    {"fewer bytes than announced", R"({"retr": {"size": 50000, "announce": 1000000}})", 0,
     kDownloadError + "Received 50000 bytes of the 1000000 announced.", 0},
    {"more bytes than announced", R"({"retr": {"size": 50000, "announce": 1000}})", 0,
     kDownloadError + "Received more than the 1000 bytes announced.", 0},
    {"stall after 100 kB", R"({"retr": {"size": 300000, "stall_after": 100000}})", kLimit,
     kDownloadError + "Read timed out.", 0},
    {"550 on the third file: the two before it stay beside their old files",
     R"({"retr_by_path": {"/autocad/7z/7z.dll": {"reply": "550 No such file"}}})", 0,
     kDownloadError + "No such file ", 0},
    {"another program reaches the data port first, from the server's address",
     R"({"retr": {"intruder": {"source": "127.0.0.1"}}})", 0,
     kDownloadError + "Unexpected data connection.", 0},
    {"a connection from another address does not stop the wait for the server's",
     R"({"address": "127.0.0.2", "retr": {"mode": "nodata", "intruder": {"source": "127.0.0.1"}}})",
     kLimit, kDownloadError + "Accept timed out.", 0},
    {"a connection from another address is closed, the server's own taken",
     R"({"address": "127.0.0.2", "retr": {"intruder": {"source": "127.0.0.1"}}, )" SCRIPT "}", 0,
     QString(), 5},
    // Signatures: a file whose signature does not hold fails like a broken transfer.
    {"no signature beside the script",
     R"({"retr_by_path": {"/autocad/update.cmd.minisig": {"reply": "550 No such file"}, )"
     R"("/autocad/update.cmd": {"data": "echo new-ran >> marker.txt\n"}}})",
     0, kDownloadError + kUnverified.arg("update.cmd") + "файл подписи не получен: No such file ",
     0},
    {"the package signed by another key",
     R"({"sig_by_path": {"/autocad/ZELK_AE_install.7z": {"key": "other"}}})", 0,
     kDownloadError + kUnverified.arg("ZELK_AE_install.7z") + "подписан другим ключом", 0},
    {"a signature over other bytes, naming the file",
     R"({"sig_by_path": {"/autocad/7z/7z.dll": {"over": "other bytes"}}})", 0,
     kDownloadError + kUnverified.arg("7z\\7z.dll") + "подпись не сходится с содержимым файла", 0},
    {"a signature of another release",
     R"({"sig_by_path": {"/autocad/update.cmd": {"date": "01.02.2026"}}, )" SCRIPT "}", 0,
     kDownloadError + kUnverified.arg("update.cmd") +
         "подпись выпуска 01.02.2026, а ожидался выпуск 02.03.2026",
     0},
    {"an older release's signature with the date rewritten",
     R"({"sig_by_path": {"/autocad/manual_update.txt": {"date": "01.02.2026", "retitle": "02.03.2026"}}, )" SCRIPT
     "}",
     0,
     kDownloadError + kUnverified.arg("manual_update.txt") +
         "доверенный комментарий подписи изменён",
     0},
    {"a signature in minisign's legacy form, over the file itself: refused before the file",
     R"({"sig_by_path": {"/autocad/ZELK_AE_install.7z": {"legacy": true}}, )" SCRIPT "}", 0,
     kDownloadError + kUnverified.arg("ZELK_AE_install.7z") +
         "подпись в прежней форме minisign (без хеша) не принимается",
     0},
    {"a trusted comment separated by a tab",
     R"({"sig_by_path": {"/autocad/update.cmd": {"sep": "\t"}}, )" SCRIPT "}", 0, QString(), 5},
    // The release: each file must be the one the status file held lists.
    {"a mix of two publications of the same day: the script of the other one",
     R"({"listed": {"/autocad/update.cmd": {"data": "echo one-ran >> marker.txt\n"}}, )" SCRIPT "}",
     0,
     kDownloadError + kUnverified.arg("update.cmd") +
         "файл не совпадает с описанным в файле состояния выпуска 02.03.2026",
     0},
    {"a file larger than the status file lists is cut off at that size",
     R"({"listed": {"/autocad/ZELK_AE_install.7z": {"size": 1000}}, "retr": {"size": 50000}})", 0,
     kDownloadError + "Transfer exceeds the limit of 1000 bytes.", 0},
    {"a status file held without the list of files", R"({})", 0,
     kDownloadError + kUnverified.arg("ZELK_AE_install.7z") +
         "файл ZELK_AE_install.7z не описан в файле состояния выпуска 02.03.2026",
     0, nullptr, -1, false, kStatusOnly.constData()},
    {"a replacement that fails puts the files placed before it back, the script last",
     "{" SCRIPT "}", 0, kDownloadError + "Cannot write file ", 0, nullptr, -1, false, nullptr,
     [](const QString& status, TempDir& exe) {
         // The old script's place is taken while the last file arrives, and freed afterwards.
         if (status.startsWith(QStringLiteral("Загрузка manual_update.txt"))) {
             QFile::remove(exe.file("update.cmd"));
             exe.write("update.cmd/in the way", "x");
         } else if (status.startsWith(kDownloadError)) {
             QDir(exe.file("update.cmd")).removeRecursively();
             exe.write("update.cmd", "echo old-ran >> marker.txt\n");
         }
     }},
    {"a cut signature file", R"({"sig_by_path": {"/autocad/7z/7z.exe": {"cut": 60}}})", 0,
     kDownloadError + kUnverified.arg("7z\\7z.exe") + "файл подписи испорчен", 0},
    {"a reset after exactly the size SIZE gave, then 226, completes the file",
     R"({"retr": {"reset": true, "reset_after": 0.1, "size_cmd": true}, "retr_by_path":
         {"/autocad/update.cmd": {"data": "echo new-ran >> marker.txt\n", "reset": true,
                                  "reset_after": 0.1, "size_cmd": true}}})",
     2000, QString(), 5},  // five pauses of the server's before its resets, and the signatures'
                           // transfers: no limit ends it, this bounds it
    {"a reset one byte short of the size SIZE gave",
     R"({"retr": {"size": 20000, "reset": true, "reset_after": 0.1, "size_cmd": 20001},
         "listed": {"/autocad/ZELK_AE_install.7z": {"size": 20001}}})",
     0, kDownloadError + "Socket Error # 10054 Connection reset by peer.", 0},
    {"226 first, then half the file and an orderly close, the size from SIZE",
     R"({"retr": {"size": 25000, "size_cmd": 50000, "final_first": true},
         "listed": {"/autocad/ZELK_AE_install.7z": {"size": 50000}}})",
     0, kDownloadError + "Received 25000 bytes of the 50000 announced.", 0},
    {"SIZE beyond the size the status file lists: nothing is fetched",
     R"({"retr": {"size_cmd": 1000000000}})", 0,
     kDownloadError + "Transfer exceeds the limit of 38 bytes.", 0},
    {"a slow file that never stalls arrives whole: no limit as a whole",
     R"({"retr_by_path": {"/autocad/manual_update.txt": {"trickle": 0.05}, )"
     R"("/autocad/update.cmd": {"data": "echo new-ran >> marker.txt\n"}}})",
     2500, QString(), 5},
    {"cancelled while the third file trickles in",
     R"({"retr_by_path": {"/autocad/7z/7z.dll": {"trickle": 0.3}}})", 1500,
     kDownloadError + "загрузка отменена", 0, "7z.dll", 1000},
    {"cancelled during the login", R"({"replies": {"FEAT": "SILENT"}})", 500,
     kDownloadError + "загрузка отменена", 0, "Подключение", 300},
    {"status file beyond its cap",
     R"({"retr_by_path": {"/autocad/status_up.ini": {"size": 100000}}})", 0,
     kDownloadError + "Transfer exceeds the limit of 65536 bytes.", 0, nullptr, -1, true},
    {"status file beyond its cap by SIZE", R"({"retr": {"size_cmd": 500000000}})", 0,
     kDownloadError + "Transfer exceeds the limit of 65536 bytes.", 0, nullptr, -1, true},
    {"status file trickles in, each byte within the read limit", R"({"retr": {"trickle": 0.3}})",
     kCheckLimit, kDownloadError + "Time limit of 2 s exceeded.", 0, nullptr, -1, true},
    {"endless status file", R"({"retr": {"endless": true}})", 0,
     kDownloadError + "Transfer exceeds the limit of 65536 bytes.", 0, nullptr, -1, true},
    // The release a status file names must exist and be no older than the floor: the status
    // file held (the package carries one), or the tool's own release when none can be read.
    {"a date that does not exist", R"({"date": "31.02.2026"})", 0,
     kDownloadError + "'31.02.2026' is not a valid date", 0, nullptr, -1, true},
    {"a release older than the package's", R"({"date": "01.02.2026"})", 0,
     kDownloadError + kUnverified.arg("data\\status_up.ini") +
         "выпуск 01.02.2026 старше уже полученного 02.03.2026",
     0, nullptr, -1, true, kStatusOnly.constData()},
    {"first start without a status file: a release older than the tool's",
     R"({"date": "31.12.1999"})", 0,
     kDownloadError + kUnverified.arg("data\\status_up.ini") +
         "выпуск 31.12.1999 старше выпуска этой программы " ZELK_RELEASE_DATE,
     0, nullptr, -1, true, ""},
    {"a status file held whose date does not exist: a release older than the tool's",
     R"({"date": "31.12.1999"})", 0,
     kDownloadError + kUnverified.arg("data\\status_up.ini") +
         "выпуск 31.12.1999 старше выпуска этой программы " ZELK_RELEASE_DATE,
     0, nullptr, -1, true, "[Update]\r\ndate_global=31.02.2026\r\n"},
    // Replies however the network cuts them, with the progress window taking its input.
    {"every reply one byte at a time", R"({"pieces": {"bytes": true}, )" SCRIPT "}", 4000,
     QString(), 5},
    {"each line of a reply on its own, with a pause",
     R"({"pieces": {"line_pause": 0.2}, )" SCRIPT "}", 2000, QString(), 5},
    {"both", R"({"pieces": {"bytes": true, "line_pause": 0.2}, )" SCRIPT "}", 5000, QString(), 5},
    // Passive first; the address a server names is not where the data connection goes.
    {"a server that refuses PORT: EPSV",
     R"({"passive": ["EPSV", "PASV"], "replies": {"PORT": "500 Active mode refused"}, )" SCRIPT "}",
     0, QString(), 5, nullptr, -1, false, nullptr, nullptr, "^(?!.*(PASV|PORT)).*EPSV"},
    {"a server that refuses EPSV and PASV: PORT",
     R"({"replies": {"EPSV": "502 No", "PASV": "502 No"}, )" SCRIPT "}", 0, QString(), 5, nullptr,
     -1, false, nullptr, nullptr, "EPSV PASV PORT .*RETR(?!.*(EPSV|PASV))"},
    {"a 227 that names another address: the server's own is used",
     R"({"passive": ["PASV"], "pasv_address": "192.0.2.7", )" SCRIPT "}", 0, QString(), 5, nullptr,
     -1, false, nullptr, nullptr, "^(?!.*PORT).*EPSV PASV"},
    // Limits that fit the file.
    {"no answer to SIZE: a fresh login, and the update gets through",
     R"({"replies": {"SIZE": "SILENT"}, )" SCRIPT "}", 2 * kLimit, QString(), 5, nullptr, -1, false,
     nullptr, nullptr, "^CONN .*SIZE .*CONN (?!.*SIZE)"},
    {"a signature slower than the status file's limit, within its file's",
     R"({"passive": ["EPSV"], "sig_by_path": {"/autocad/update.cmd": {"delay": 0.8}}, )" SCRIPT "}",
     2000, QString(), 5},
    // Name lookup inside the limits, and a hand-off that failed.
    {"a name server that never answers, at start-up", R"({"client": {"lookup": "silent"}})",
     kCheckLimit, kConnectError + "Time limit of 2 s exceeded.", 0, nullptr, -1, true},
    {"a name server that never answers, cancelled", R"({"client": {"lookup": "silent"}})", 500,
     kDownloadError + "загрузка отменена", 0, "Подключение", 300},
    {"the system does not start the script",
     R"({"passive": ["EPSV"], "client": {"start": "refused"}, )" SCRIPT "}", 0,
     " Ошибка запуска обновления: запрещено политикой", 5},
};

// A file of the release with its own signature, served under another name: every pair of the
// status file and the five update files. The signature names the file it was made for.
const std::vector<HostileCase>& Cases() {
    static const std::vector<HostileCase> cases = [] {
        static const char* const paths[] = {"/autocad/status_up.ini", kServerPaths[0],
                                            kServerPaths[1],          kServerPaths[2],
                                            kServerPaths[3],          kServerPaths[4]};
        static std::deque<QByteArray> texts;  // the rows' names and scenarios
        std::vector<HostileCase> all(std::begin(kCases), std::end(kCases));
        for (const char* as : paths)
            for (const char* real : paths) {
                if (as == real) continue;
                const QString shown = as == paths[0]
                                          ? QStringLiteral("data\\status_up.ini")
                                          : QString::fromLatin1(as + 9).replace(u'/', u'\\');
                const char* name =
                    texts.emplace_back(QByteArray(real) + " served as " + as).constData();
                const char* scenario = texts
                                           .emplace_back(QByteArray(R"({"serve_as": {")") + as +
                                                         R"(": ")" + real + R"("}})")
                                           .constData();
                all.push_back({name, scenario, 0,
                               kDownloadError + kUnverified.arg(shown) + "подпись дана файлу " +
                                   QLatin1String(real + 1) + ", а получен " + QLatin1String(as + 1),
                               0, nullptr, -1, as == paths[0]});
            }
        return all;
    }();
    return cases;
}

}  // namespace

TEST_F(HostileServer, EveryCaseEndsInTimeAndKeepsTheOldFiles) {
    std::vector<std::unique_ptr<TempDir>> folders;
    std::vector<bool> ran;
    for (const HostileCase& c : Cases()) {
        folders.push_back(std::make_unique<TempDir>());
        ran.push_back(!(UnderWine() && c.status.contains(QLatin1String("10054"))));
        if (ran.back())
            Run(c, *folders.back());
        else
            std::printf("not under Wine (its Winsock may take a reset for a close): %s\n", c.name);
    }
    // Only the one update that arrived whole has started its script, and that one is the new.
    QElapsedTimer started;
    started.start();
    for (size_t i = 0; i < folders.size(); ++i)
        while (Cases()[i].replaced == 5 && Cases()[i].status.isEmpty() &&
               !QFile::exists(folders[i]->file("marker.txt")) && started.elapsed() < 3000)
            QThread::msleep(20);
    QThread::msleep(300);
    for (size_t i = 0; i < folders.size(); ++i) {
        if (!ran[i]) continue;
        EXPECT_EQ(folders[i]->read("marker.txt").trimmed(),
                  Cases()[i].replaced == 5 && Cases()[i].status.isEmpty() ? "new-ran" : "")
            << Cases()[i].name;
    }
}

// A full disk: the old file stays, the temporary one goes, and the status text says why.
TEST_F(HostileServer, FullDisk) {
    TempDir exe;
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", exe.path()}) != 0)
        GTEST_SKIP() << "needs a small file system of its own (mount as root)";
    Run({"full disk", R"({"retr": {"size": 2000000}})", 0,
         kDownloadError + "нет места на диске: \"" + exe.file("ZELK_AE_install.7z") + "\"", 0},
        exe);
    QProcess::execute("umount", {exe.path()});
}

// Once the script has been started, nothing starts another download or script: neither the
// discovery's nor the button's run of the update download.
TEST_F(HostileServer, OneHandOffPerProcess) {
    TempDir exe;
    QString statusAfter;
    const QStringList talk =
        Run({"hand-off", "{" SCRIPT "}", 0, QString(), 5}, exe, [&](Context& ctx) {
            const QString status = ctx.form.StatusText();
            update::poupdate(ctx);  // as installation discovery runs it
            update::Button9Click(ctx);
            EXPECT_EQ(ctx.form.StatusText(), status);
        });
    EXPECT_EQ(talk.count("CONN"), 1);
    EXPECT_EQ(talk.filter(QRegularExpression("^RETR ")).size(), 10);  // each with its signature
    QElapsedTimer started;
    started.start();
    while (!QFile::exists(exe.file("marker.txt")) && started.elapsed() < 3000) QThread::msleep(20);
    QThread::msleep(300);  // a second script would have run by now
    EXPECT_EQ(exe.read("marker.txt").trimmed(), "new-ran");
}

// A build that trusts the published test key talks to this machine only: its update server and
// probe are loopback addresses, and the maker's server, named by hand, is refused before the
// client looks its name up.
TEST(TestKey, StaysOnThisMachine) {
    if (!ZELK_UPDATE_TEST_KEY) GTEST_SKIP() << "built with the maker's key";
    // The maker's host never: by default the update server is this machine.
    EXPECT_NE(update::FtpSettings().host.toLower(), QStringLiteral(ZELK_MAKER_HOST));
    if (QStringLiteral(ZELK_UPDATE_HOST_ASKED) == QStringLiteral(ZELK_MAKER_HOST)) {
        EXPECT_TRUE(QHostAddress(update::FtpSettings().host).isLoopback());
    }
    update::FtpSettings settings = LocalSettings(ClosedPort(), kLimit);
    settings.host = QStringLiteral(ZELK_MAKER_HOST ".");
    update::IdFtp ftp(settings);
    TempDir exe;
    AppState st;
    st.exeDir = exe.path();
    FakeForm form;
    Context ctx = MakeUpdateContext(st, form, &ftp);
    update::Button9Click(ctx);
    EXPECT_EQ(form.status,
              kConnectError +
                  "сборка с тестовым ключом обновлений не обращается к серверу " ZELK_MAKER_HOST);
    EXPECT_FALSE(ftp.Connected());
    EXPECT_FALSE(form.terminated);
}
