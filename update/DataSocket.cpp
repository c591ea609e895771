#include "update/DataSocket.h"

#include <QDeadlineTimer>
#include <QString>

#include "core/AppError.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace update {

namespace {

#ifdef _WIN32
using Native = SOCKET;
int LastError() { return WSAGetLastError(); }
bool Retry(int e) { return e == WSAEWOULDBLOCK || e == WSAEINTR; }
int PollOne(Native s, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &limit);
}
void CloseNative(Native s) { closesocket(s); }
#else
using Native = int;
int LastError() { return errno; }
bool Retry(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }
int PollOne(Native s, int timeoutMs) {
    pollfd p{};
    p.fd = s;
    p.events = POLLIN;
    return ::poll(&p, 1, timeoutMs);
}
void CloseNative(Native s) { ::close(s); }
#endif

// The error in the form the user sees socket errors: the Windows Sockets number and text.
QString SocketError(int e) {
    struct Known {
        int native;
        int code;
        const char* text;
    };
#ifdef _WIN32
    static const Known kKnown[] = {
        {WSAECONNRESET, 10054, "Connection reset by peer."},
        {WSAECONNABORTED, 10053, "Software caused connection abort."},
        {WSAESHUTDOWN, 10058, "Cannot send after socket shutdown."},
        {WSAETIMEDOUT, 10060, "Connection timed out."},
    };
#else
    static const Known kKnown[] = {
        {ECONNRESET, 10054, "Connection reset by peer."},
        {ECONNABORTED, 10053, "Software caused connection abort."},
        {ESHUTDOWN, 10058, "Cannot send after socket shutdown."},
        {ETIMEDOUT, 10060, "Connection timed out."},
    };
#endif
    for (const Known& k : kKnown)
        if (k.native == e)
            return QStringLiteral("Socket Error # %1\r\n%2").arg(k.code).arg(QLatin1String(k.text));
    return QStringLiteral("Socket Error # %1\r\n%2").arg(e).arg(qt_error_string(e));
}

// A reset or an abort by the server, or a shut-down connection.
bool EndedByServer(int e) {
#ifdef _WIN32
    return e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAESHUTDOWN;
#else
    return e == ECONNRESET || e == ECONNABORTED || e == ESHUTDOWN;
#endif
}

[[noreturn]] void ThrowSocketError(int e) {
    if (EndedByServer(e)) throw DataReset(SocketError(e));
    throw AppError(SocketError(e));
}

}  // namespace

DataSocket::DataSocket(qintptr descriptor) : fd_(descriptor) {}

DataSocket::~DataSocket() { CloseNative(Native(fd_)); }

QHostAddress DataSocket::PeerAddress() const {
    sockaddr_storage a{};
#ifdef _WIN32
    int len = sizeof a;
#else
    socklen_t len = sizeof a;
#endif
    if (::getpeername(Native(fd_), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr*>(&a));
}

void DataSocket::ThrowPendingError() const {
    int e = 0;
#ifdef _WIN32
    int len = sizeof e;
#else
    socklen_t len = sizeof e;
#endif
    if (::getsockopt(Native(fd_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&e), &len) == 0 &&
        e != 0)
        ThrowSocketError(e);
}

qint64 DataSocket::Read(char* buffer, qint64 size, int timeoutMs) {
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    const int chunk = int(qMin<qint64>(size, 1 << 20));
    for (;;) {
        const int ready = PollOne(Native(fd_), int(qMax<qint64>(deadline.remainingTime(), 0)));
        if (ready < 0) {
            const int e = LastError();
            if (Retry(e)) continue;
            ThrowSocketError(e);
        }
        if (ready == 0) return -1;
        const auto n = ::recv(Native(fd_), buffer, chunk, 0);
        if (n >= 0) return qint64(n);
        const int e = LastError();
        if (!Retry(e)) ThrowSocketError(e);
        if (deadline.hasExpired()) return -1;
    }
}

DataListener::~DataListener() {
    for (qintptr d : accepted_) CloseNative(Native(d));
}

std::unique_ptr<DataSocket> DataListener::Take() {
    if (accepted_.empty()) return nullptr;
    auto s = std::make_unique<DataSocket>(accepted_.front());
    accepted_.pop_front();
    return s;
}

void DataListener::incomingConnection(qintptr descriptor) { accepted_.push_back(descriptor); }

}  // namespace update
