#pragma once

// The TCP connect with a time limit, shared by the update server client and the connectivity
// probe, the name lookup before it, and the socket error texts in the form the user sees them.

#include <QAbstractSocket>
#include <QHostAddress>
#include <QString>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

namespace update {

class NativeSocket;

// How a host name becomes IPv4 addresses. It runs on a worker thread and may block; it may
// look at the stop token where it waits. Empty: the system's resolver (getaddrinfo), which
// cannot be interrupted. Tests give a resolver of their own.
using Resolver = std::function<std::vector<QHostAddress>(const QString& host, std::stop_token)>;

// Called at least every `sliceMs` while a connect or a lookup waits; it ends the wait by
// throwing (the caller's deadline, or the user's "Отмена").
struct Waits {
    std::function<void()> look;
    int sliceMs = 125;
    Resolver resolver;
};

// The first IPv4 address of `host` (an address literal stands for itself). The lookup runs on a
// worker thread while this thread waits in slices and calls waits.look between them, so that
// a resolver that never answers holds nobody past the caller's deadline or cancel; a lookup
// left behind so is joined later (at the latest when the process ends). Throws AppError
// "Socket Error # 11001" CR LF "Host not found." when the name has no IPv4 address.
QHostAddress LookUp(const QString& host, const Waits& waits);

// Looks `host` up (not bounded by the limit), then connects within `timeoutMs`. Throws
// AppError: "Connect timed out." when the limit is used up, "Socket Error # %d" CR LF "%s" for
// a socket error (11001 "Host not found." for a name that does not resolve to IPv4), or what
// waits.look throws.
std::unique_ptr<NativeSocket> ConnectWithLimit(const QString& host, quint16 port, int timeoutMs,
                                               const Waits& waits = {});
// The same to an address already looked up.
std::unique_ptr<NativeSocket> ConnectWithLimit(const QHostAddress& address, quint16 port,
                                               int timeoutMs, const Waits& waits = {});

// "Socket Error # %d" CR LF "%s" with the Windows Sockets number and text of a Qt socket
// error; an error without such a number gives Qt's own text.
QString SocketErrorMessage(QAbstractSocket::SocketError error, const QString& qtText);

}  // namespace update
