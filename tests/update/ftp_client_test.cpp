// The update server client against a scripted server (replies a real server gives only on
// its own terms) and against a real FTP server (pyftpdlib) on the loopback interface.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
using Socket = SOCKET;
inline void CloseSocket(Socket s) { ::closesocket(s); }
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using Socket = int;
inline void CloseSocket(Socket s) { ::close(s); }
#endif

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <functional>
#include <vector>

#include "FtpTestSupport.h"
#include "core/AppError.h"
#include "support/TempDir.h"
#include "update/IdFtp.h"
#include "update/Update.h"

using update::IdFtp;

namespace {

constexpr int kLimit = 400;   // every time limit of the client in these tests
constexpr int kMargin = 700;  // what a timed wait may take beyond its limit

QString FailureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const AppError& e) {
        return e.message();
    }
    return QStringLiteral("<no failure>");
}

const QStringList kLogin = {"CONN", "HOST [127.0.0.1]", "USER anonymous", "PASS ",
                            "FEAT", "TYPE I",           "SYST",           "TYPE I"};

// A loopback listener whose accept queue is full: a further connect gets no answer.
class FullBacklog {
  public:
    FullBacklog() {
#ifdef _WIN32
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
#endif
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 0);
#ifdef _WIN32
        int len = sizeof a;
#else
        socklen_t len = sizeof a;
#endif
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        // The queue of a backlog of 0 holds one connection; fill it.
        const Socket c = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers_.push_back(c);
    }
    ~FullBacklog() {
        for (Socket c : fillers_) CloseSocket(c);
        CloseSocket(listener_);
    }
    quint16 port() const { return port_; }

  private:
    Socket listener_;
    quint16 port_ = 0;
    std::vector<Socket> fillers_;
};

}  // namespace

TEST(FtpClient, LoginConversationAndDisconnect) {
    ScriptedFtpServer server(R"({})");
    IdFtp ftp(LocalSettings(server.port(), kLimit));
    EXPECT_FALSE(ftp.Connected());
    ftp.Disconnect();  // nothing to do, no failure
    ftp.Connect();
    EXPECT_TRUE(ftp.Connected());
    EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Already connected.");
    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected());
    ftp.Connect();  // a new control connection and a new login
    EXPECT_TRUE(ftp.Connected());
    ftp.Disconnect();
    EXPECT_EQ(server.Conversation(), kLogin + QStringList{"QUIT"} + kLogin + QStringList{"QUIT"});
}

TEST(FtpClient, LoginVariants) {
    {  // a 120 greeting first; HOST refused; CLNT and SITE ZONE announced
        ScriptedFtpServer server(R"({"greeting": "120 Ready in a moment\n220 Ready",
            "replies": {"HOST": "502 Command not implemented",
                        "FEAT": "211-Extensions:\n clnt\n SITE ZONE;PSWD\n211 END"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        EXPECT_TRUE(ftp.Connected());
        EXPECT_EQ(server.Conversation(),
                  (QStringList{"CONN", "HOST [127.0.0.1]", "USER anonymous", "PASS ", "FEAT",
                               "CLNT Indy 10.6.2.5298", "TYPE I", "SYST", "SITE ZONE", "TYPE I"}));
    }
    {  // 230 to USER: no PASS; a Serv-U greeting asks for the zone; FEAT refused
        ScriptedFtpServer server(R"({"greeting": "220 Serv-U FTP Server v15 ready",
            "replies": {"USER": "230 Welcome", "FEAT": "500 Unknown"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        EXPECT_EQ(server.Conversation(),
                  (QStringList{"CONN", "HOST [127.0.0.1]", "USER anonymous", "FEAT", "TYPE I",
                               "SYST", "SITE ZONE", "TYPE I"}));
    }
    {  // hang-up on HOST: a second conversation without it
        ScriptedFtpServer server(R"({"first": {"HOST": "HANGUP"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        EXPECT_TRUE(ftp.Connected());
        QStringList second = kLogin;
        second.removeAt(1);
        EXPECT_EQ(server.Conversation(), QStringList({"CONN", "HOST [127.0.0.1]"}) + second);
    }
}

TEST(FtpClient, LoginFailures) {
    {  // 421 greeting: its text, closed without a word
        ScriptedFtpServer server(R"({"greeting": "421 Too many users"})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Too many users\r\n");
        EXPECT_FALSE(ftp.Connected());
        EXPECT_EQ(server.Conversation(), QStringList{"CONN"});
    }
    {  // 332 to PASS: no account is configured; the login ends with QUIT
        ScriptedFtpServer server(R"({"replies": {"PASS": "332-Need account\n for login\n332 "}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Need account\r\nfor login\r\n\r\n");
        EXPECT_FALSE(ftp.Connected());
        EXPECT_EQ(server.Conversation(),
                  (QStringList{"CONN", "HOST [127.0.0.1]", "USER anonymous", "PASS ", "QUIT"}));
    }
    {  // TYPE refused
        ScriptedFtpServer server(R"({"replies": {"TYPE": "504 Not for this type"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Not for this type\r\n");
        EXPECT_FALSE(ftp.Connected());
    }
    {  // the server hangs up on connect
        ScriptedFtpServer server(R"({"greeting": "HANGUP"})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Connection Closed Gracefully.");
        EXPECT_FALSE(ftp.Connected());
    }
    {  // refused
        IdFtp ftp(LocalSettings(ClosedPort(), kLimit));
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Socket Error # 10061\r\nConnection refused.");
        EXPECT_FALSE(ftp.Connected());
    }
    {  // a name that does not resolve
        update::FtpSettings s = LocalSettings(ClosedPort(), kLimit);
        s.host.clear();
        IdFtp ftp(s);
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Socket Error # 11001\r\nHost not found.");
    }
}

TEST(FtpClient, TimeLimits) {
    QElapsedTimer timer;
    {  // a control connection that stays silent
        ScriptedFtpServer server(R"({"greeting": "SILENT"})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        timer.start();
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Read timed out.");
        EXPECT_GE(Ms(timer), kLimit - 50);
        EXPECT_LT(Ms(timer), kLimit + kMargin);
        EXPECT_FALSE(ftp.Connected());
    }
    {  // no answer to the TCP connect
        FullBacklog full;
        IdFtp ftp(LocalSettings(full.port(), kLimit));
        timer.start();
        EXPECT_EQ(FailureOf([&] { ftp.Connect(); }), "Connect timed out.");
        EXPECT_GE(Ms(timer), kLimit - 50);
        EXPECT_LT(Ms(timer), kLimit + kMargin);
        EXPECT_FALSE(ftp.Connected());
    }
}

TEST(FtpClient, ConnectivityProbe) {
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(update::CheckInternetConnection("127.0.0.1", ClosedPort(), 1000));
    EXPECT_LT(Ms(timer), 500);  // a refusal needs no waiting
    EXPECT_FALSE(update::CheckInternetConnection("", 80, 1000));
    EXPECT_FALSE(update::CheckInternetConnection("127.0.0.1", 70000, 1000));
    {
        QTcpServer listener;  // the system completes the connect before anyone accepts
        ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
        EXPECT_TRUE(update::CheckInternetConnection("127.0.0.1", listener.serverPort(), 1000));
        EXPECT_TRUE(update::CheckInternetConnection("localhost", listener.serverPort(), 1000));
    }
    FullBacklog full;
    timer.start();
    EXPECT_FALSE(update::CheckInternetConnection("127.0.0.1", full.port(), kLimit));
    EXPECT_GE(Ms(timer), kLimit - 50);
    EXPECT_LT(Ms(timer), kLimit + kMargin);
}

TEST(FtpClient, GetFromScriptedServer) {
    TempDir dir;
    const QString dest = dir.file("got.bin");
    {  // bytes arrive whole, an existing longer file is replaced, progress is reported
        ScriptedFtpServer server(R"({"retr": {"mode": "data", "size": 300000}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        dir.write("got.bin", QByteArray(400000, 'x'));
        qint64 last = -1;
        int calls = 0;
        ftp.Get("/autocad/file.bin", dest, true, false, [&](qint64 n, qint64 total) {
            EXPECT_EQ(total, -1);  // the server answers no SIZE and announces nothing
            EXPECT_GT(n, last);
            last = n;
            ++calls;
        });
        EXPECT_EQ(dir.read(dest), PatternBytes(300000));
        EXPECT_EQ(last, 300000);
        EXPECT_GE(calls, 1);
        EXPECT_TRUE(ftp.Connected());
        const QStringList talk = server.Conversation();
        ASSERT_EQ(talk.size(), kLogin.size() + 5);
        EXPECT_EQ(talk[kLogin.size()], "SIZE /autocad/file.bin");
        // Neither passive form answered: active.
        EXPECT_EQ(talk.mid(kLogin.size() + 1, 2), (QStringList{"EPSV", "PASV"}));
        EXPECT_TRUE(QRegularExpression("^PORT 127,0,0,1,\\d+,\\d+$")
                        .match(talk[kLogin.size() + 3])
                        .hasMatch())
            << talk[kLogin.size() + 3].toStdString();
        EXPECT_EQ(talk.last(), "RETR /autocad/file.bin");
    }
    {  // 550 to RETR: its text; the local file as it was, nothing else left; still connected
        ScriptedFtpServer server(R"({"replies": {"RETR": "550 No such file"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        dir.write("got.bin", "old contents");
        EXPECT_EQ(FailureOf([&] { ftp.Get("/x", dest, true, false); }), "No such file\r\n");
        EXPECT_EQ(dir.read(dest), QByteArray("old contents"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"got.bin"});
        EXPECT_TRUE(ftp.Connected());
        // the next transfer on the same login
        EXPECT_EQ(FailureOf([&] { ftp.Get("/y", dest, true, false); }), "No such file\r\n");
    }
    {  // an empty file with 226
        ScriptedFtpServer server(R"({"retr": {"mode": "data", "data": ""}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        dir.write("got.bin", "old");
        ftp.Get("/empty", dest, true, false);
        EXPECT_TRUE(QFile::exists(dest));
        EXPECT_EQ(dir.read(dest), QByteArray());
    }
    {  // a local file that cannot be created: nothing is sent
        ScriptedFtpServer server(R"({})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        const QString bad = dir.file("missing/folder/file.bin");
        const QString msg = FailureOf([&] { ftp.Get("/x", bad, true, false); });
        EXPECT_TRUE(msg.startsWith("Cannot create file \"" +
                                   QDir::toNativeSeparators(dir.file("missing/folder/file.bin")) +
                                   "\". "))
            << msg.toStdString();
        EXPECT_GT(msg.size(), QString("Cannot create file \"\". ").size() + bad.size());
        EXPECT_TRUE(ftp.Connected());
        EXPECT_EQ(server.Conversation(), kLogin);
    }
}

TEST(FtpClient, GetFailures) {
    TempDir dir;
    const QString dest = dir.file("got.bin");
    QElapsedTimer timer;
    {  // no data connection: accept time limit, then the final reply (accepted) is read
        ScriptedFtpServer server(R"({"retr": {"mode": "nodata"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        timer.start();
        EXPECT_EQ(FailureOf([&] { ftp.Get("/x", dest, true, false); }), "Accept timed out.");
        EXPECT_LT(Ms(timer), kLimit + kMargin);
        EXPECT_TRUE(ftp.Connected());
    }
    {  // ... and a refused final reply replaces the accept failure
        ScriptedFtpServer server(
            R"({"retr": {"mode": "nodata", "final": "425 Can't open data connection."}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        EXPECT_EQ(FailureOf([&] { ftp.Get("/x", dest, true, false); }),
                  "Can't open data connection.\r\n");
    }
    {  // a silent data connection
        ScriptedFtpServer server(R"({"retr": {"mode": "silent"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        timer.start();
        EXPECT_EQ(FailureOf([&] { ftp.Get("/x", dest, true, false); }), "Read timed out.");
        EXPECT_LT(Ms(timer), kLimit + kMargin);
        EXPECT_TRUE(ftp.Connected());
        EXPECT_EQ(dir.read(dest), QByteArray());
    }
    {  // 421 to RETR: the connection closes at once, without QUIT
        ScriptedFtpServer server(R"({"replies": {"RETR": "421 Shutting down"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        EXPECT_EQ(FailureOf([&] { ftp.Get("/x", dest, true, false); }), "Shutting down\r\n");
        EXPECT_FALSE(ftp.Connected());
        ftp.Disconnect();
        EXPECT_FALSE(server.Conversation().contains("QUIT"));
    }
    {  // the server drops the connection after a reply: Connected notices it, no QUIT follows
        ScriptedFtpServer server(R"({"replies": {"RETR": "550 Bye\nHANGUP"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        EXPECT_EQ(FailureOf([&] { ftp.Get("/x", dest, true, false); }), "Bye\r\n");
        timer.start();
        while (ftp.Connected() && Ms(timer) < 2000) QThread::msleep(10);
        EXPECT_FALSE(ftp.Connected());
        ftp.Disconnect();
        EXPECT_FALSE(server.Conversation().contains("QUIT"));
    }
    {  // ... but while reply text from it waits unread, it still counts as connected
        ScriptedFtpServer server(R"({"replies": {"RETR": "550 Bye\n226 Unread\nHANGUP"}})");
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        EXPECT_EQ(FailureOf([&] { ftp.Get("/x", dest, true, false); }), "Bye\r\n");
        QThread::msleep(100);
        EXPECT_TRUE(ftp.Connected());
        ftp.Disconnect();
        EXPECT_FALSE(ftp.Connected());
    }
}

TEST(FtpClient, ReplyReading) {
    TempDir dir;
    const QString dest = dir.file("got.bin");
    auto retrFailure = [&](const QByteArray& scenario) {
        ScriptedFtpServer server(scenario);
        IdFtp ftp(LocalSettings(server.port(), kLimit));
        ftp.Connect();
        return FailureOf([&] { ftp.Get("/x", dest, true, false); });
    };
    // multi-line, blank lines skipped, lines trimmed, LF alone ends a line
    EXPECT_EQ(retrFailure(R"({"replies": {"RETR":
        "RAW:550-First line\r\n\r\n   second line  \t\n550-third\n550 last\r\n"}})"),
              "First line\r\nsecond line\r\nthird\r\nlast\r\n");
    // a line "550" alone ends the reply; "5501" does not
    EXPECT_EQ(retrFailure(R"({"replies": {"RETR": "550-a\n5501 b\n550"}})"), "a\r\n b\r\n\r\n");
    // the longest line allowed, and one character more
    const QString longest = QString(16380, 'x');
    EXPECT_EQ(retrFailure(R"({"replies": {"RETR": "550 )" + longest.toUtf8() + R"("}})"),
              longest + "\r\n");
    EXPECT_EQ(retrFailure(R"({"replies": {"RETR": "550 )" + longest.toUtf8() + R"(y"}})"),
              "Max line length exceeded.");
    // UTF-8 after a FEAT that lists UTF8; single bytes as characters otherwise
    const QString cyr = QStringLiteral("Файл не найден");
    EXPECT_EQ(retrFailure(R"({"replies": {"RETR": "550 )" + cyr.toUtf8() + R"("}})"), cyr + "\r\n");
    EXPECT_EQ(
        retrFailure(R"({"replies": {"FEAT": "211 none", "RETR": "550 )" + cyr.toUtf8() + R"("}})"),
        QString::fromLatin1(cyr.toUtf8()) + "\r\n");
}

// Against a real server: login, byte-exact downloads of an empty and a multi-megabyte file,
// replacement of existing files, the server's refusal of a missing file.
TEST(FtpClient, RealServerDownloads) {
    TempDir root, local;
    QByteArray big(5 * 1024 * 1024 + 17, '\0');
    QRandomGenerator rng(42);
    for (qsizetype i = 0; i < big.size(); ++i) big[i] = char(rng.bounded(256));
    root.write("autocad/big.7z", big);
    root.write("autocad/empty.txt", QByteArray());
    root.write("autocad/7z/7z.dll", "dll");

    RealFtpServer server(root.path());
    IdFtp ftp(LocalSettings(server.port(), 3000));
    ftp.Connect();
    ASSERT_TRUE(ftp.Connected());

    local.write("big.7z", QByteArray(6 * 1024 * 1024, 'o'));
    ftp.Get("/autocad/big.7z", local.file("big.7z"), true, false);
    EXPECT_TRUE(local.read("big.7z") == big);
    local.write("empty.txt", "old text");
    ftp.Get("/autocad/empty.txt", local.file("empty.txt"), true, false);
    EXPECT_TRUE(QFile::exists(local.file("empty.txt")));
    EXPECT_EQ(local.read("empty.txt"), QByteArray());
    ftp.Get("/autocad/7z/7z.dll", local.file("7z.dll"), true, false);
    EXPECT_EQ(local.read("7z.dll"), QByteArray("dll"));

    const QString msg = FailureOf([&] { ftp.Get("/autocad/none", local.file("n"), true, false); });
    EXPECT_TRUE(msg.endsWith("\r\n") && msg.size() > 2) << msg.toStdString();
    EXPECT_TRUE(ftp.Connected());
    ftp.Disconnect();
    EXPECT_FALSE(ftp.Connected());
}
