#include "update/TcpConnect.h"

#include <QDeadlineTimer>
#include <QUrl>
#include <chrono>
#include <utility>

#include "core/AppError.h"
#include "core/Worker.h"
#include "update/DataSocket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace update {

namespace {

using Lookup = Worker<std::vector<QHostAddress>>;

// The system's resolver, IPv4 only.
std::vector<QHostAddress> SystemLookUp(const QString& host) {
    StartSockets();
    QByteArray name = QUrl::toAce(host);
    if (name.isEmpty()) name = host.toUtf8();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<QHostAddress> addresses;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET && a->ai_addr) addresses.emplace_back(a->ai_addr);
    ::freeaddrinfo(found);
    return addresses;
}

// Lookups that nobody waits for any more: a resolver that does not answer cannot be
// interrupted, so its worker is kept here and joined once it has ended, at the latest when the
// process ends. Used from the window's thread only.
class LeftLookups {
  public:
    ~LeftLookups() {
        for (auto& lookup : left_) lookup->Stop();
    }
    void Leave(std::unique_ptr<Lookup> lookup) {
        std::erase_if(left_, [](const std::unique_ptr<Lookup>& l) { return l->Done(); });
        left_.push_back(std::move(lookup));
    }

  private:
    std::vector<std::unique_ptr<Lookup>> left_;
};

LeftLookups& Left() {
    static LeftLookups left;
    return left;
}

}  // namespace

QString SocketErrorMessage(QAbstractSocket::SocketError error, const QString& qtText) {
    static const std::pair<QAbstractSocket::SocketError, int> kCodes[] = {
        {QAbstractSocket::ConnectionRefusedError, 10061},
        {QAbstractSocket::HostNotFoundError, 11001},
        {QAbstractSocket::RemoteHostClosedError, 10054},
        {QAbstractSocket::SocketAccessError, 10013},
        {QAbstractSocket::SocketResourceError, 10055},
        {QAbstractSocket::SocketTimeoutError, 10060},
        {QAbstractSocket::NetworkError, 10051},
        {QAbstractSocket::AddressInUseError, 10048},
        {QAbstractSocket::SocketAddressNotAvailableError, 10049},
        {QAbstractSocket::UnsupportedSocketOperationError, 10047},
    };
    for (const auto& [known, code] : kCodes)
        if (known == error) return WinsockMessage(code);
    return qtText;
}

QHostAddress LookUp(const QString& host, const Waits& waits) {
    QHostAddress literal;
    if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv4Protocol)
        return literal;
    // (Windows' resolver takes an empty name for this machine.)
    if (host.trimmed().isEmpty())
        throw AppError(SocketErrorMessage(QAbstractSocket::HostNotFoundError, QString()));
    Resolver resolve = waits.resolver;
    if (!resolve) resolve = [](const QString& name, std::stop_token) { return SystemLookUp(name); };
    auto lookup = std::make_unique<Lookup>(
        [resolve, host](std::stop_token token) { return resolve(host, std::move(token)); });
    try {
        while (!lookup->WaitFor(std::chrono::milliseconds(qMax(waits.sliceMs, 1))))
            if (waits.look) waits.look();
    } catch (...) {
        Left().Leave(std::move(lookup));
        throw;
    }
    std::vector<QHostAddress> addresses;
    try {
        addresses = lookup->Get();
    } catch (...) {
        // a resolver that failed found nothing
    }
    for (const QHostAddress& a : addresses)
        if (a.protocol() == QAbstractSocket::IPv4Protocol) return a;
    throw AppError(SocketErrorMessage(QAbstractSocket::HostNotFoundError, QString()));
}

std::unique_ptr<NativeSocket> ConnectWithLimit(const QHostAddress& address, quint16 port,
                                               int timeoutMs, const Waits& waits) {
    std::unique_ptr<NativeSocket> socket = NativeSocket::StartConnect(address, port);
    const QDeadlineTimer limit(qMax(timeoutMs, 0));
    for (;;) {
        const qint64 left = limit.remainingTime();
        if (socket->WaitConnected(int(qMin<qint64>(left, qMax(waits.sliceMs, 1))))) return socket;
        if (limit.hasExpired()) throw AppError(QStringLiteral("Connect timed out."));
        if (waits.look) waits.look();
    }
}

std::unique_ptr<NativeSocket> ConnectWithLimit(const QString& host, quint16 port, int timeoutMs,
                                               const Waits& waits) {
    return ConnectWithLimit(LookUp(host, waits), port, timeoutMs, waits);
}

}  // namespace update
