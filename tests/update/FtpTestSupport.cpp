#include "FtpTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "update/DataSocket.h"

namespace {

// Qt's sockets want an application object on the main thread.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc_, argv_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

  private:
    int argc_ = 1;
    char name_[12] = "test_update";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QString Script(const char* name) {
    return QStringLiteral(ZELK_SOURCE_DIR "/tests/update/") + QLatin1String(name);
}

}  // namespace

ServerProcess::ServerProcess(const QString& script, const QStringList& args) {
#ifdef _WIN32
    const quint16 bridgePort = quint16(qEnvironmentVariableIntValue("ZELK_SERVER_BRIDGE"));
    if (!bridgePort) throw std::runtime_error("ZELK_SERVER_BRIDGE names no server bridge");
    bridge_.connectToHost(QHostAddress::LocalHost, bridgePort);
    if (!bridge_.waitForConnected(5000)) throw std::runtime_error("server bridge unreachable");
    bridge_.write(QJsonDocument(QJsonArray::fromStringList(QStringList{script} + args))
                      .toJson(QJsonDocument::Compact) +
                  '\n');
    bridge_.waitForBytesWritten(5000);
#else
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardErrorFile(QProcess::nullDevice());
    // Debian's interpreter, where python3-pyftpdlib lives.
    process_.start(QStringLiteral("/usr/bin/python3"), QStringList{script} + args);
    if (!process_.waitForStarted(5000)) throw std::runtime_error("server did not start");
#endif
    ReadUntil([this] { return output_.contains('\n'); }, 10000);
    const qsizetype lf = output_.indexOf('\n');
    if (lf < 0) throw std::runtime_error("server printed no port");
    port_ = quint16(output_.left(lf).trimmed().toUInt());
    output_.remove(0, lf + 1);
}

void ServerProcess::ReadUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
#ifdef _WIN32
        bridge_.waitForReadyRead(200);
        output_ += bridge_.readAll();
        if (bridge_.state() != QAbstractSocket::ConnectedState) break;
#else
        process_.waitForReadyRead(200);
        output_ += process_.readAllStandardOutput();
        if (process_.state() != QProcess::Running) break;
#endif
    }
}

void ServerProcess::Stop() {
#ifdef _WIN32
    if (bridge_.state() == QAbstractSocket::ConnectedState) {
        // The bridge ends the server, sends what is left of its output, and closes.
        bridge_.write("stop\n");
        bridge_.waitForBytesWritten(5000);
        ReadUntil([] { return false; }, 5000);
        bridge_.abort();
    }
#else
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    output_ += process_.readAllStandardOutput();
#endif
}

ServerProcess::~ServerProcess() { Stop(); }

QStringList ServerProcess::StopAndLog() {
    Stop();
    QStringList lines;
    for (const QByteArray& raw : output_.split('\n')) {
        if (raw.isEmpty()) continue;
        QString line = QString::fromUtf8(raw);
        if (line.startsWith(QLatin1String("CMD "))) line = line.mid(4);
        lines << line;
    }
    return lines;
}

RealFtpServer::RealFtpServer(const QString& root)
    : ServerProcess(Script("ftp_server.py"), {root}) {}

ScriptedFtpServer::ScriptedFtpServer(const QByteArray& scenarioJson)
    : ServerProcess(Script("ftp_script_server.py"), {QString::fromUtf8(scenarioJson)}) {}

update::FtpSettings LocalSettings(quint16 port, int limitMs) {
    update::FtpSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port;
    s.connectTimeoutMs = limitMs;
    s.readTimeoutMs = limitMs;
    s.transferTimeoutMs = limitMs;
    s.listenTimeoutMs = limitMs;
    s.stallTimeoutMs = limitMs;
    return s;
}

quint16 ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray PatternBytes(int size) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i) b[i] = char(i % 251);
    return b;
}

namespace {

#ifdef _WIN32
void CloseUdp(qintptr s) { closesocket(SOCKET(s)); }
bool Readable(qintptr s, int ms) {
    fd_set r;
    FD_ZERO(&r);
    FD_SET(SOCKET(s), &r);
    timeval t{0, ms * 1000};
    return select(0, &r, nullptr, nullptr, &t) > 0;
}
#else
void CloseUdp(qintptr s) { ::close(int(s)); }
bool Readable(qintptr s, int ms) {
    pollfd p{int(s), POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}
#endif

qintptr UdpSocket() {
    update::StartSockets();
    return qintptr(::socket(AF_INET, SOCK_DGRAM, 0));
}

sockaddr_in Loopback(quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A DNS query (RFC 1035) for the A record of `name`.
QByteArray Query(const QString& name) {
    QByteArray q("\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
    for (const QString& label : name.split(u'.', Qt::SkipEmptyParts))
        q += char(label.size()) + label.toLatin1();
    q += QByteArray("\x00\x00\x01\x00\x01", 5);
    return q;
}

}  // namespace

SilentNameServer::SilentNameServer() {
    socket_ = UdpSocket();
    sockaddr_in a = Loopback(0);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("name server: no port");
#ifdef _WIN32
    int len = sizeof a;
#else
    socklen_t len = sizeof a;
#endif
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
}

SilentNameServer::~SilentNameServer() { CloseUdp(socket_); }

update::Resolver SilentNameServer::Resolver() const {
    const quint16 port = port_;
    return [port](const QString& host, std::stop_token stop) {
        const qintptr s = UdpSocket();
        const QByteArray query = Query(host);
        const sockaddr_in to = Loopback(port);
        ::sendto(s, query.constData(), int(query.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
        // The answer never comes; a resolver gives up only when it is stopped.
        while (!stop.stop_requested() && !Readable(s, 50)) {
        }
        CloseUdp(s);
        return std::vector<QHostAddress>{};
    };
}

int SilentNameServer::Queries() {
    char buffer[512];
    while (Readable(socket_, 0) && ::recv(socket_, buffer, sizeof buffer, 0) > 0) ++queries_;
    return queries_;
}
