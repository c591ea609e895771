#pragma once

// The update client's connections at the level of the system's sockets. Nothing here is tied
// to an event loop: the window may process its events at any moment of a conversation (the
// progress window does, to take "Отмена"), and what arrives on a connection stays where only
// the client reads it. Qt's sockets also report a reset by the server like its orderly close;
// a download must tell the two apart, since only the orderly close ends a file that arrived
// whole.

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <deque>
#include <memory>

#include "core/AppError.h"

namespace update {

// Windows Sockets' start-up call, once per process, before the first socket or name lookup of
// the client (Qt makes it for its own sockets only). Nothing elsewhere.
void StartSockets();

// A socket error as the user sees it: "Socket Error # <code>" and the Windows Sockets text of
// the code (`otherwise` for a code without one here).
QString WinsockMessage(int code, const QString& otherwise = {});

// The server reset or aborted the connection (10053, 10054, 10058).
class DataReset : public AppError {
  public:
    using AppError::AppError;
};

// One TCP connection: the control connection, or a data connection (accepted or made).
class NativeSocket {
  public:
    explicit NativeSocket(qintptr descriptor);
    ~NativeSocket();
    NativeSocket(const NativeSocket&) = delete;
    NativeSocket& operator=(const NativeSocket&) = delete;

    // Starts a connect to an IPv4 address without waiting; WaitConnected then waits for it.
    // Throws AppError "Socket Error # %d" CR LF "%s" when no socket can be made.
    static std::unique_ptr<NativeSocket> StartConnect(const QHostAddress& address, quint16 port);
    // Waits up to timeoutMs for the connect: true once connected, false while it is still
    // under way. Throws AppError "Socket Error # %d" CR LF "%s" when it failed (10061
    // "Connection refused." and the like).
    bool WaitConnected(int timeoutMs);

    // Null when the connection is already gone (reset by its sender before it was looked at).
    QHostAddress PeerAddress() const;
    QHostAddress LocalAddress() const;
    // Throws the error a connection that is already gone ended with, if any.
    void ThrowPendingError() const;

    // Waits up to timeoutMs for data and reads at most `size` bytes. Returns the number read,
    // 0 when the peer has closed the connection in order, -1 when nothing came in time.
    // Throws DataReset for a reset or an abort by the peer and AppError "Socket Error # %d"
    // CR LF "%s" for any other socket error.
    qint64 Read(char* buffer, qint64 size, int timeoutMs);
    // Waits up to timeoutMs to hand over some of `bytes`; returns how many the system took
    // (0 when none in time). Throws like Read.
    qint64 Write(const char* bytes, qint64 size, int timeoutMs);

  private:
    qintptr fd_;
};

// A listener that hands over the system's descriptors of the connections it accepts, in the
// order they arrived, instead of wrapping them in Qt sockets.
class DataListener : public QTcpServer {
  public:
    ~DataListener() override;
    // The next accepted connection, or null when none waits.
    std::unique_ptr<NativeSocket> Take();

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    std::deque<qintptr> accepted_;
};

}  // namespace update
