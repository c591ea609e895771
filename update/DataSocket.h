#pragma once

// The data connection of one transfer, at the level of the system's sockets. Qt's sockets
// report a reset by the server like its orderly close; a download must tell the two apart,
// since only the orderly close ends a file that arrived whole.

#include <QHostAddress>
#include <QTcpServer>
#include <deque>
#include <memory>

#include "core/AppError.h"

namespace update {

// The server reset or aborted the data connection (10053, 10054, 10058).
class DataReset : public AppError {
  public:
    using AppError::AppError;
};

class DataSocket {
  public:
    explicit DataSocket(qintptr descriptor);
    ~DataSocket();
    DataSocket(const DataSocket&) = delete;
    DataSocket& operator=(const DataSocket&) = delete;

    // Null when the connection is already gone (reset by its sender before it was looked at).
    QHostAddress PeerAddress() const;
    // Throws the error a connection that is already gone ended with, if any.
    void ThrowPendingError() const;

    // Waits up to timeoutMs for data and reads at most `size` bytes. Returns the number read,
    // 0 when the server has closed the connection in order, -1 when nothing came in time.
    // Throws DataReset for a reset or an abort by the server and AppError "Socket Error # %d"
    // CR LF "%s" for any other socket error.
    qint64 Read(char* buffer, qint64 size, int timeoutMs);

  private:
    qintptr fd_;
};

// A listener that hands over the system's descriptors of the connections it accepts, in the
// order they arrived, instead of wrapping them in Qt sockets.
class DataListener : public QTcpServer {
  public:
    ~DataListener() override;
    // The next accepted connection, or null when none waits.
    std::unique_ptr<DataSocket> Take();

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    std::deque<qintptr> accepted_;
};

}  // namespace update
