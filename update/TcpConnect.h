#pragma once

// The TCP connect with a time limit, shared by the update server client and the connectivity
// probe, and the socket error texts in the form the user sees them.

#include <QAbstractSocket>
#include <QString>

class QTcpSocket;

namespace update {

// Resolves `host` to an IPv4 address (on the calling thread, not bounded by the limit), then
// connects within `timeoutMs`. Throws AppError: "Connect timed out." when the limit is used
// up, "Socket Error # %d" CR LF "%s" for a socket error (11001 "Host not found." for a name
// that does not resolve to IPv4).
void ConnectWithLimit(QTcpSocket& socket, const QString& host, quint16 port, int timeoutMs);

// "Socket Error # %d" CR LF "%s" with the Windows Sockets number and text of a Qt socket
// error; an error without such a number gives Qt's own text.
QString SocketErrorMessage(QAbstractSocket::SocketError error, const QString& qtText);

}  // namespace update
