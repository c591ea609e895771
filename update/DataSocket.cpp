#include "update/DataSocket.h"

#include <QDeadlineTimer>
#include <QString>
#include <utility>

#include "core/AppError.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace update {

namespace {

enum class Wait { Read, Write };

#ifdef _WIN32
using Native = SOCKET;
const Native kNoSocket = INVALID_SOCKET;
int LastError() { return WSAGetLastError(); }
bool Retry(int e) { return e == WSAEWOULDBLOCK || e == WSAEINTR; }
bool InProgress(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }
constexpr int kSendFlags = 0;
// Readable (or writable); a failed connect shows as an exception, which counts as ready. (A
// read does not look at exceptions: they also tell urgent data, which no recv would take, and
// the wait would end at once again and again.)
int PollOne(Native s, int timeoutMs, Wait wait) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const bool write = wait == Wait::Write;
    return select(0, write ? nullptr : &ready, write ? &ready : nullptr, write ? &failed : nullptr,
                  &limit);
}
void CloseNative(Native s) { closesocket(s); }
bool MakeNonBlocking(Native s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
#else
using Native = int;
const Native kNoSocket = -1;
int LastError() { return errno; }
bool Retry(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }
bool InProgress(int e) { return e == EINPROGRESS || e == EINTR; }
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer is an error, not a signal
int PollOne(Native s, int timeoutMs, Wait wait) {
    pollfd p{};
    p.fd = s;
    p.events = wait == Wait::Read ? POLLIN : POLLOUT;
    return ::poll(&p, 1, timeoutMs);
}
void CloseNative(Native s) { ::close(s); }
bool MakeNonBlocking(Native s) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(s, F_SETFD, FD_CLOEXEC) == 0;
}
#endif

// The error in the form the user sees socket errors: the Windows Sockets number and text.
QString SocketError(int e) {
#ifdef _WIN32
    return WinsockMessage(e, qt_error_string(e));
#else
    static const std::pair<int, int> kCodes[] = {
        {ECONNRESET, 10054},    {ECONNABORTED, 10053}, {ESHUTDOWN, 10058},   {EPIPE, 10058},
        {ETIMEDOUT, 10060},     {ECONNREFUSED, 10061}, {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065},
        {EADDRNOTAVAIL, 10049}, {EACCES, 10013},       {ENOBUFS, 10055},
    };
    for (const auto& [native, code] : kCodes)
        if (native == e) return WinsockMessage(code);
    return WinsockMessage(e, qt_error_string(e));
#endif
}

// A reset or an abort by the server, or a shut-down connection.
bool EndedByServer(int e) {
#ifdef _WIN32
    return e == WSAECONNRESET || e == WSAECONNABORTED || e == WSAESHUTDOWN;
#else
    return e == ECONNRESET || e == ECONNABORTED || e == ESHUTDOWN || e == EPIPE;
#endif
}

[[noreturn]] void ThrowSocketError(int e) {
    if (EndedByServer(e)) throw DataReset(SocketError(e));
    throw AppError(SocketError(e));
}

// Waits up to timeoutMs until the socket is ready; false when the time ran out.
bool WaitReady(Native s, int timeoutMs, Wait wait) {
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    for (;;) {
        const int ready = PollOne(s, int(qMax<qint64>(deadline.remainingTime(), 0)), wait);
        if (ready > 0) return true;
        if (ready == 0) return false;
        const int e = LastError();
        if (!Retry(e)) ThrowSocketError(e);
    }
}

QHostAddress Address(Native s, bool peer) {
    sockaddr_storage a{};
#ifdef _WIN32
    int len = sizeof a;
#else
    socklen_t len = sizeof a;
#endif
    auto* at = reinterpret_cast<sockaddr*>(&a);
    if ((peer ? ::getpeername(s, at, &len) : ::getsockname(s, at, &len)) != 0)
        return QHostAddress();
    return QHostAddress(at);
}

int PendingError(Native s) {
    int e = 0;
#ifdef _WIN32
    int len = sizeof e;
#else
    socklen_t len = sizeof e;
#endif
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&e), &len) != 0)
        return LastError();
    return e;
}

}  // namespace

void StartSockets() {
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    static_cast<void>(started);
#endif
}

NativeSocket::NativeSocket(qintptr descriptor) : fd_(descriptor) {}

NativeSocket::~NativeSocket() { CloseNative(Native(fd_)); }

std::unique_ptr<NativeSocket> NativeSocket::StartConnect(const QHostAddress& address,
                                                         quint16 port) {
    StartSockets();
    const Native s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kNoSocket) throw AppError(SocketError(LastError()));
    auto socket = std::make_unique<NativeSocket>(qintptr(s));
    if (!MakeNonBlocking(s)) throw AppError(SocketError(LastError()));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int e = LastError();
        if (!InProgress(e)) throw AppError(SocketError(e));
    }
    return socket;
}

bool NativeSocket::WaitConnected(int timeoutMs) {
    if (!WaitReady(Native(fd_), timeoutMs, Wait::Write)) return false;
    if (const int e = PendingError(Native(fd_))) throw AppError(SocketError(e));
    return true;
}

QHostAddress NativeSocket::PeerAddress() const { return Address(Native(fd_), true); }

QHostAddress NativeSocket::LocalAddress() const { return Address(Native(fd_), false); }

void NativeSocket::ThrowPendingError() const {
    if (const int e = PendingError(Native(fd_))) ThrowSocketError(e);
}

qint64 NativeSocket::Read(char* buffer, qint64 size, int timeoutMs) {
    const QDeadlineTimer deadline(qMax(timeoutMs, 0));
    const int chunk = int(qMin<qint64>(size, 1 << 20));
    for (;;) {
        if (!WaitReady(Native(fd_), int(qMax<qint64>(deadline.remainingTime(), 0)), Wait::Read))
            return -1;
        const auto n = ::recv(Native(fd_), buffer, chunk, 0);
        if (n >= 0) return qint64(n);
        const int e = LastError();
        if (!Retry(e)) ThrowSocketError(e);
        if (deadline.hasExpired()) return -1;
    }
}

qint64 NativeSocket::Write(const char* bytes, qint64 size, int timeoutMs) {
    if (!WaitReady(Native(fd_), timeoutMs, Wait::Write)) return 0;
    const auto n = ::send(Native(fd_), bytes, int(qMin<qint64>(size, 1 << 20)), kSendFlags);
    if (n >= 0) return qint64(n);
    const int e = LastError();
    if (!Retry(e)) ThrowSocketError(e);
    return 0;
}

DataListener::~DataListener() {
    for (qintptr d : accepted_) CloseNative(Native(d));
}

std::unique_ptr<NativeSocket> DataListener::Take() {
    if (accepted_.empty()) return nullptr;
    auto s = std::make_unique<NativeSocket>(accepted_.front());
    accepted_.pop_front();
    return s;
}

void DataListener::incomingConnection(qintptr descriptor) { accepted_.push_back(descriptor); }

QString WinsockMessage(int code, const QString& otherwise) {
    static const std::pair<int, const char*> kTexts[] = {
        {10013, "Permission denied."},
        {10047, "Address family not supported by protocol family."},
        {10048, "Address already in use."},
        {10049, "Cannot assign requested address."},
        {10051, "Network is unreachable."},
        {10053, "Software caused connection abort."},
        {10054, "Connection reset by peer."},
        {10055, "No buffer space available."},
        {10058, "Cannot send after socket shutdown."},
        {10060, "Connection timed out."},
        {10061, "Connection refused."},
        {10065, "No route to host."},
        {11001, "Host not found."},
    };
    QString text = otherwise;
    for (const auto& [known, said] : kTexts)
        if (known == code) text = QLatin1String(said);
    return QStringLiteral("Socket Error # %1\r\n%2").arg(code).arg(text);
}

}  // namespace update
