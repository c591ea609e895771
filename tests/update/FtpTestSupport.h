#pragma once

// Test helpers for the update module: the Qt application object, local FTP servers started as
// child processes on the loopback interface, and a Context around a FakeForm.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

#include "core/Context.h"
#include "update/IdFtp.h"

// A child process that prints its port on its first line of output. A Windows test (under
// Wine, which cannot start this machine's programs) has it started by the server bridge
// (tests/update/server_bridge.py) whose port is in ZELK_SERVER_BRIDGE.
class ServerProcess {
  public:
    ServerProcess(const QString& script, const QStringList& args);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    quint16 port() const { return port_; }
    // Stops the server and returns every line it printed after the port.
    QStringList StopAndLog();

  protected:
    // Takes the next line of output (without its end), waiting up to `ms` for it.
    QByteArray TakeLine(int ms);

  private:
    // Reads output until `done` holds, the output ends or `ms` pass.
    void ReadUntil(const std::function<bool()>& done, int ms);
    void Stop();

#ifdef _WIN32
    QTcpSocket bridge_;
#else
    QProcess process_;
#endif
    quint16 port_ = 0;
    QByteArray output_;
};

// The real server: pyftpdlib, anonymous and read-only over `root`, which it publishes as the
// maker does (or, `asPublished`, serves as it is).
class RealFtpServer : public ServerProcess {
  public:
    explicit RealFtpServer(const QString& root, bool asPublished = false);
};

// The scripted server (tests/update/ftp_script_server.py) with a JSON scenario.
class ScriptedFtpServer : public ServerProcess {
  public:
    explicit ScriptedFtpServer(const QByteArray& scenarioJson);
    // The commands received ("CMD " stripped) and "CONN" for each control connection.
    QStringList Conversation() { return StopAndLog(); }
    // The status file it serves, as the maker signed it (empty when the scenario makes it
    // otherwise).
    const QByteArray& StatusFile() const { return status_; }

  private:
    QByteArray status_;
};

// The system's resolver when its name server never answers: it takes the name and gives no
// answer until it is stopped. Counts the names it was asked.
class SilentResolver {
  public:
    update::Resolver Resolver() const;
    int Queries() const { return *queries_; }

  private:
    std::shared_ptr<std::atomic<int>> queries_ = std::make_shared<std::atomic<int>>(0);
};

// Client settings for a local server with short limits.
update::FtpSettings LocalSettings(quint16 port, int limitMs = 400);

// A loopback port where nothing listens.
quint16 ClosedPort();

// The bytes the scripted server sends for "size": n.
QByteArray PatternBytes(int size);

// Milliseconds since `timer` started.
inline qint64 Ms(const QElapsedTimer& timer) { return timer.elapsed(); }

// A Context for the update module: the update code never touches the catalog connection,
// so it stands on storage of no particular type.
inline Context MakeUpdateContext(AppState& st, IForm& form, update::IdFtp* ftp) {
    alignas(std::max_align_t) static unsigned char noCatalog[256];
    return Context{st, form, *reinterpret_cast<catalog::CatalogDb*>(noCatalog), ftp, {}};
}
