// The start-up update check and the update download against a local pyftpdlib server, with the
// window replaced by a FakeForm. The suite also runs under English (United States) and German
// regional settings: the dates must read the same under every format.

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>
#include <memory>

#include "FtpTestSupport.h"
#include "core/AppState.h"
#include "support/FakeForm.h"
#include "support/TempDir.h"
#include "update/IdFtp.h"
#include "update/Update.h"

using update::IdFtp;

namespace {

const QString kDownloadError = QStringLiteral(" Ошибка скачивания файла: ");

QString ShortDate(int y, int m, int d) {
    return QLocale::system().toString(QDate(y, m, d), QLocale::ShortFormat);
}
QString Today() { return update::DayMonthYear(QDate::currentDate()); }

class UpdateCheck : public ::testing::Test {
  protected:
    // One server per test process, over a folder the tests fill as they need.
    static void SetUpTestSuite() {
        root_ = new TempDir;
        server_ = new RealFtpServer(root_->path());
    }
    static void TearDownTestSuite() {
        delete server_;
        delete root_;
        server_ = nullptr;
        root_ = nullptr;
    }

    void SetUp() override {
        exe.mkdir("data");
        st.exeDir = exe.path();
        st.BindSettings();
        ftp = std::make_unique<IdFtp>(LocalSettings(server_->port(), 3000));
        ASSERT_TRUE(probeTarget.listen(QHostAddress::LocalHost, 0));
        probe = update::ProbeTarget{QStringLiteral("127.0.0.1"), probeTarget.serverPort(), 1000};
    }

    static void ServerFile(const QString& rel, const QByteArray& bytes) {
        root_->write("autocad/" + rel, bytes);
    }
    static void RemoveServerFile(const QString& rel) {
        QFile::remove(root_->file("autocad/" + rel));
    }
    static void StatusFile(const QString& dateGlobal, const QString& statusbar) {
        QByteArray ini = "[Update]\r\n";
        if (!dateGlobal.isNull()) ini += "date_global=" + dateGlobal.toLatin1() + "\r\n";
        ini += "Statusbar=" + statusbar.toLatin1() + "\r\n";
        ServerFile("status_up.ini", ini);
    }
    // The five update files; returns the package's bytes.
    static QByteArray UpdateFiles() {
        QByteArray package(3 * 1024 * 1024 + 5, '\0');
        QRandomGenerator rng(7);
        for (qsizetype i = 0; i < package.size(); ++i) package[i] = char(rng.bounded(256));
        ServerFile("ZELK_AE_install.7z", package);
        ServerFile("7z/7z.exe", "unpacker");
        ServerFile("7z/7z.dll", "library");
        ServerFile("update.cmd", "echo handed-over > marker.txt\n");
        ServerFile("manual_update.txt", QByteArray());
        return package;
    }

    QString LocalDate() const { return st.Finifile->ReadString("Update", "local_date"); }
    Context Ctx() { return MakeUpdateContext(st, form, ftp.get()); }

    static TempDir* root_;
    static RealFtpServer* server_;

    TempDir exe;
    AppState st;
    FakeForm form;
    std::unique_ptr<IdFtp> ftp;
    QTcpServer probeTarget;  // stands for the public web server
    update::ProbeTarget probe;
};

TempDir* UpdateCheck::root_ = nullptr;
RealFtpServer* UpdateCheck::server_ = nullptr;

}  // namespace

// First start: no settings file, a later date on the server: the update runs to the hand-off.
TEST_F(UpdateCheck, FirstStartDownloadsAndHandsOver) {
    const QByteArray package = UpdateFiles();
    StatusFile("01.01.2030", "New catalog");
    exe.write("ZELK_AE_install.7z", QByteArray(4 * 1024 * 1024, 'o'));  // an earlier update
    exe.write("7z/7z.exe", "older unpacker, longer than the new one");
    Context ctx = Ctx();

    update::StartupUpdateCheck(ctx, probe);

    EXPECT_EQ(form.status, "New catalog");
    EXPECT_EQ(LocalDate(), Today());
    EXPECT_TRUE(form.terminated);
    EXPECT_FALSE(ftp->Connected());
    EXPECT_TRUE(exe.read("ZELK_AE_install.7z") == package);
    EXPECT_EQ(exe.read("7z/7z.exe"), QByteArray("unpacker"));
    EXPECT_EQ(exe.read("7z/7z.dll"), QByteArray("library"));
    EXPECT_EQ(exe.read("update.cmd"), QByteArray("echo handed-over > marker.txt\n"));
    EXPECT_TRUE(QFile::exists(exe.file("manual_update.txt")));
    EXPECT_EQ(exe.read("manual_update.txt"), QByteArray());
    EXPECT_EQ(exe.read("data/status_up.ini"), root_->read(root_->file("autocad/status_up.ini")));
    bool progressShown = false;
    for (const QString& s : form.statusHistory)
        progressShown = progressShown || s.startsWith("Загрузка ZELK_AE_install.7z: ");
    EXPECT_TRUE(progressShown) << form.statusHistory.join(" | ").toStdString();

    // The script that runs is the one just downloaded, in the executable's folder.
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(exe.file("marker.txt")) && timer.elapsed() < 3000) QThread::msleep(20);
    // (cmd's echo keeps the blank before ">>" and ends the line with CR LF)
    EXPECT_EQ(exe.read("marker.txt").trimmed(), QByteArray("handed-over"));
}

// Equal dates (the local one as an earlier version recorded it, in the user's format): no
// update, the connection stays; then the manual update on that connection.
TEST_F(UpdateCheck, EqualDatesThenManualUpdate) {
    UpdateFiles();
    const QString date = ShortDate(2026, 3, 1);
    StatusFile("01.03.2026", "No news");
    st.Finifile->WriteString("Update", "local_date", date);
    Context ctx = Ctx();

    update::StartupUpdateCheck(ctx, probe);
    EXPECT_EQ(form.status, "   Дата обновления: " + date + ", No news");
    EXPECT_FALSE(form.terminated);
    EXPECT_TRUE(ftp->Connected());
    EXPECT_FALSE(QFile::exists(exe.file("ZELK_AE_install.7z")));

    // Meanwhile the server publishes a newer release: the manual update takes its files, signed
    // for it, and its status file.
    StatusFile("01.04.2026", "Newer");
    update::Button9Click(ctx);
    EXPECT_EQ(exe.read("data/status_up.ini"), root_->read(root_->file("autocad/status_up.ini")));
    EXPECT_EQ(form.status, "   Дата обновления: " + date + ", No news");
    EXPECT_EQ(LocalDate(), Today());
    EXPECT_TRUE(form.terminated);
    EXPECT_EQ(exe.read("7z/7z.dll"), QByteArray("library"));
}

TEST_F(UpdateCheck, FailuresShowInStatusBar) {
    Context ctx = Ctx();
    {  // date_global missing: a release that cannot be compared is not taken, on any machine
        StatusFile(QString(), "Hidden");
        update::StartupUpdateCheck(ctx, probe);
        EXPECT_EQ(form.status, kDownloadError + "'' is not a valid date");
        EXPECT_FALSE(QFile::exists(exe.file("data/status_up.ini")));
        EXPECT_EQ(LocalDate(), "");
        EXPECT_FALSE(form.terminated);
        EXPECT_TRUE(ftp->Connected());
    }
    {  // an unreadable local date: shown as stored, then the conversion failure
        st.Finifile->WriteString("Update", "local_date", "garbage");
        StatusFile("01.01.2030", "Hidden");
        form.statusHistory.clear();
        update::StartupUpdateCheck(ctx, probe);
        EXPECT_EQ(form.statusHistory,
                  (QStringList{"   Дата обновления: garbage, ",
                               kDownloadError + "'garbage' is not a valid date"}));
    }
    {  // a signed status file of an older release than the one held is not taken: an old
       // status file cannot be replayed
        exe.write("data/status_up.ini", "[Update]\r\ndate_global=01.01.2030\r\n");
        StatusFile("01.01.2026", "Old");
        update::StartupUpdateCheck(ctx, probe);
        EXPECT_EQ(form.status, kDownloadError +
                                   "подпись файла \"data\\status_up.ini\" не подтверждена: выпуск "
                                   "01.01.2026 старше уже полученного 01.01.2030");
        EXPECT_EQ(exe.read("data/status_up.ini"), "[Update]\r\ndate_global=01.01.2030\r\n");
    }
    {  // the status file missing on the server: the server's reply on one line; the local
       // status file as it was
        const QByteArray before = exe.read("data/status_up.ini");
        RemoveServerFile("status_up.ini");
        update::StartupUpdateCheck(ctx, probe);
        EXPECT_TRUE(form.status.startsWith(kDownloadError)) << form.status.toStdString();
        EXPECT_TRUE(form.status.endsWith(" ") && form.status.size() > kDownloadError.size() + 2);
        EXPECT_FALSE(form.status.contains('\n') || form.status.contains('\r'));
        EXPECT_EQ(exe.read("data/status_up.ini"), before);
    }
    {  // no internet: no FTP conversation at all
        ftp->Disconnect();
        update::ProbeTarget offline{QStringLiteral("127.0.0.1"), ClosedPort(), 1000};
        update::StartupUpdateCheck(ctx, offline);
        EXPECT_EQ(form.status, " Ошибка скачивания файла: отсутствует интернет соединение");
        EXPECT_FALSE(ftp->Connected());
    }
    {  // the probe's name goes to a name server that never answers: the start-up goes on
       // within its limit all the same
        SilentResolver names;
        update::FtpSettings settings = LocalSettings(server_->port(), 3000);
        settings.checkTimeLimitMs = 1500;
        settings.resolver = names.Resolver();
        IdFtp silent(settings);
        Context other = MakeUpdateContext(st, form, &silent);
        QElapsedTimer timer;
        timer.start();
        update::StartupUpdateCheck(other, {"probe.zelk.test", probeTarget.serverPort(), 1000});
        EXPECT_LT(timer.elapsed(), 1800);
        EXPECT_EQ(form.status, " Ошибка скачивания файла: отсутствует интернет соединение");
        EXPECT_GE(names.Queries(), 1);
    }
    {  // the update server refuses the connection
        IdFtp refused(LocalSettings(ClosedPort(), 500));
        Context other = MakeUpdateContext(st, form, &refused);
        update::StartupUpdateCheck(other, probe);
        EXPECT_EQ(form.status, "Ошибка подключения: Socket Error # 10061 Connection refused.");
        // ... and the manual update likewise, with nothing written
        form.status.clear();
        const QString before = LocalDate();
        update::Button9Click(other);
        EXPECT_EQ(form.status, "Ошибка подключения: Socket Error # 10061 Connection refused.");
        EXPECT_EQ(LocalDate(), before);
        EXPECT_FALSE(QFile::exists(exe.file("ZELK_AE_install.7z")));
    }
    EXPECT_FALSE(form.terminated);
}

// A download that fails leaves the recorded date alone, so the update is offered again.
TEST_F(UpdateCheck, FailedDownloadIsNotRecorded) {
    UpdateFiles();
    StatusFile("01.03.2026", "Current");  // as the start-up check found and kept it
    exe.write("data/status_up.ini", root_->read(root_->file("autocad/status_up.ini")));
    RemoveServerFile("7z/7z.dll");
    exe.write("7z/7z.dll", "older library");
    st.Finifile->WriteString("Update", "local_date", "01.01.2020");
    form.status = "before";
    Context ctx = Ctx();

    update::poupdate(ctx);

    EXPECT_TRUE(form.status.startsWith(kDownloadError)) << form.status.toStdString();
    EXPECT_FALSE(form.status.contains("Загрузка"));
    EXPECT_EQ(LocalDate(), "01.01.2020");
    EXPECT_FALSE(form.terminated);
    EXPECT_TRUE(ftp->Connected());
    // The file that arrived before the failure never took its place, and left nothing behind.
    EXPECT_EQ(QDir(exe.file("7z")).entryList(QDir::Files), QStringList{"7z.dll"});
    EXPECT_EQ(exe.read("7z/7z.dll"), QByteArray("older library"));
    EXPECT_FALSE(QFile::exists(exe.file("update.cmd")));

    // The start-up check with a later server date then runs the update again, and the
    // download failure stays in the status bar; the client is disconnected afterwards.
    StatusFile("01.01.2030", "New");
    update::StartupUpdateCheck(ctx, probe);
    EXPECT_TRUE(form.status.startsWith(kDownloadError)) << form.status.toStdString();
    EXPECT_FALSE(ftp->Connected());
    EXPECT_EQ(LocalDate(), "01.01.2020");
}

// The server's date and the recorded one are DD.MM.YYYY under every regional format, and a
// date an earlier version recorded in the user's own format still counts.
TEST_F(UpdateCheck, DatesInEveryRegionalFormat) {
    ServerFile("ZELK_AE_install.7z", "package");
    ServerFile("7z/7z.exe", "unpacker");
    ServerFile("7z/7z.dll", "library");
    ServerFile("update.cmd", "echo handed-over > marker.txt\n");
    ServerFile("manual_update.txt", "notes");
    StatusFile("02.03.2026", "Current");
    const struct {
        QString stored;  // local_date before the start
        bool update;
    } rows[] = {{"", true},
                {"01.03.2026", true},
                {"02.03.2026", false},
                {"03.03.2026", false},
                {ShortDate(2026, 3, 1), true},
                {ShortDate(2026, 3, 2), false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored.toStdString());
        TempDir folder;
        AppState state;
        state.exeDir = folder.path();
        state.BindSettings();
        if (!row.stored.isEmpty()) state.Finifile->WriteString("Update", "local_date", row.stored);
        FakeForm window;
        IdFtp client(LocalSettings(server_->port(), 3000));
        Context c = MakeUpdateContext(state, window, &client);
        update::StartupUpdateCheck(c, probe);
        EXPECT_EQ(window.terminated, row.update) << window.status.toStdString();
        const QString kept = row.stored.isEmpty() ? "09.09.1999" : row.stored;
        EXPECT_EQ(state.Finifile->ReadString("Update", "local_date"), row.update ? Today() : kept);
    }
}

// The repair: a tool folder without data\ gets the update from discovery's update download,
// and a stale status file (the start-up check could not fetch the current one) never refuses
// the release the server signs now.
TEST_F(UpdateCheck, RepairWithoutDataFolder) {
    const QByteArray package = UpdateFiles();
    StatusFile("02.03.2026", "Current");
    const QByteArray current = root_->read(root_->file("autocad/status_up.ini"));
    {  // no data\: the start-up check finds no update due, discovery then runs the update
        QDir(exe.file("data")).removeRecursively();
        st.Finifile->WriteString("Update", "local_date", "02.03.2026");
        Context ctx = Ctx();
        update::StartupUpdateCheck(ctx, probe);
        EXPECT_FALSE(form.terminated);
        update::poupdate(ctx);
        EXPECT_TRUE(form.terminated) << form.status.toStdString();
        EXPECT_TRUE(exe.read("data/status_up.ini").startsWith(current));  // and its [Files]
        EXPECT_TRUE(exe.read("ZELK_AE_install.7z") == package);
    }
    {  // the status file held is of an earlier release, and no check ran
        TempDir folder;
        folder.write("data/status_up.ini", "[Update]\r\ndate_global=01.01.2026\r\n");
        AppState state;
        state.exeDir = folder.path();
        FakeForm window;
        IdFtp client(LocalSettings(server_->port(), 3000));
        Context c = MakeUpdateContext(state, window, &client);
        update::poupdate(c);
        EXPECT_TRUE(window.terminated) << window.status.toStdString();
        EXPECT_TRUE(folder.read("data/status_up.ini").startsWith(current));
        EXPECT_EQ(folder.read("update.cmd"), "echo handed-over > marker.txt\n");
    }
}

// A release published by scripts/sign-update.sh, its status file in UTF-16 and a stray file
// beside it, served as it is: the update arrives and hands over. The script first refuses a
// day that does not exist, and signs nothing then.
TEST_F(UpdateCheck, ReleasePublishedBySignUpdate) {
#ifdef _WIN32
    GTEST_SKIP() << "the maker signs on Linux";
#else
    TempDir pub;
    pub.write("autocad/ZELK_AE_install.7z", "package");
    pub.write("autocad/7z/7z.exe", "unpacker");
    pub.write("autocad/7z/7z.dll", "library");
    pub.write("autocad/update.cmd", "echo published > marker.txt\n");
    pub.write("autocad/manual_update.txt", QByteArray());
    pub.write("autocad/notes.bak", "a note the maker left");
    const auto publish = [&](const QString& date) {
        const QString text = "[Update]\r\ndate_global=" + date + "\r\nStatusbar=Новый выпуск\r\n";
        pub.write(
            "autocad/status_up.ini",
            "\xff\xfe" + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
        QProcess sign;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZELK_SIGNING_KEY", ZELK_SOURCE_DIR "/tests/keys/update-test.key");
        QFile pubKey(ZELK_SOURCE_DIR "/tests/keys/update-test.pub");
        pubKey.open(QIODevice::ReadOnly);
        env.insert("ZELK_UPDATE_PUBLIC_KEY", QString::fromLatin1(pubKey.readAll().split('\n')[1]));
        sign.setProcessEnvironment(env);
        sign.start("bash", {ZELK_SOURCE_DIR "/scripts/sign-update.sh", pub.path()});
        sign.waitForFinished(60000);  // (false also when it has already ended)
        return sign.state() == QProcess::NotRunning && sign.exitStatus() == QProcess::NormalExit &&
               sign.exitCode() == 0;
    };
    EXPECT_FALSE(publish("31.02.2030"));
    EXPECT_FALSE(QFile::exists(pub.file("autocad/update.cmd.minisig")));
    ASSERT_TRUE(publish("01.01.2030"));
    EXPECT_FALSE(QFile::exists(pub.file("autocad/notes.bak.minisig")));

    RealFtpServer published(pub.path(), true);
    ftp = std::make_unique<IdFtp>(LocalSettings(published.port(), 3000));
    Context ctx = Ctx();
    update::StartupUpdateCheck(ctx, probe);
    EXPECT_EQ(form.status, "Новый выпуск");
    EXPECT_TRUE(form.terminated);
    EXPECT_EQ(exe.read("update.cmd"), "echo published > marker.txt\n");
    EXPECT_EQ(exe.read("7z/7z.dll"), "library");
#endif
}
