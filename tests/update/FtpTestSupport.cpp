#include "FtpTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <chrono>
#include <stdexcept>
#include <thread>

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
    port_ = quint16(TakeLine(10000).trimmed().toUInt());
    if (!port_) throw std::runtime_error("server printed no port");
}

QByteArray ServerProcess::TakeLine(int ms) {
    ReadUntil([this] { return output_.contains('\n'); }, ms);
    const qsizetype lf = output_.indexOf('\n');
    if (lf < 0) return {};
    const QByteArray line = output_.left(lf);
    output_.remove(0, lf + 1);
    return line;
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

RealFtpServer::RealFtpServer(const QString& root, bool asPublished)
    : ServerProcess(
          Script("ftp_server.py"),
          asPublished ? QStringList{root, QStringLiteral("--as-published")} : QStringList{root}) {}

ScriptedFtpServer::ScriptedFtpServer(const QByteArray& scenarioJson)
    : ServerProcess(Script("ftp_script_server.py"), {QString::fromUtf8(scenarioJson)}) {
    const QByteArray line = TakeLine(10000).trimmed();
    if (!line.startsWith("STATUS")) throw std::runtime_error("server printed no status file");
    status_ = QByteArray::fromHex(line.mid(6).trimmed());
}

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

update::Resolver SilentResolver::Resolver() const {
    return [queries = queries_](const QString&, std::stop_token stop) {
        ++*queries;
        while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::vector<QHostAddress>{};
    };
}
