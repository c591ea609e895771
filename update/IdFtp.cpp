#include "update/IdFtp.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStringList>
#include <exception>
#include <initializer_list>

#include "core/AppError.h"
#include "core/FileSystem.h"
#include "update/DataSocket.h"
#include "update/TcpConnect.h"

// Everything here runs on the window's thread and blocks it. The connections are the system's
// sockets, waited on one at a time: what arrives on them is read by the client alone, while
// the progress window's watcher may let the window process its events between two waits.

namespace update {

namespace {

const QString kUsername = QStringLiteral("anonymous");
const QString kPassword;  // anonymous login with an empty password
const QString kClientName = QStringLiteral("Indy 10.6.2.5298");
constexpr qsizetype kMaxLineLength = 16384;

const QString kReadTimedOut = QStringLiteral("Read timed out.");
const QString kClosedGracefully = QStringLiteral("Connection Closed Gracefully.");
const QString kNotConnected = QStringLiteral("Not Connected.");
const QString kReplyTooLong = QStringLiteral("Reply too long.");
constexpr qint64 kPullChunk = 16 * 1024;

// The server closed (or reset) the control connection while we waited for it.
class ConnectionClosed : public AppError {
  public:
    ConnectionClosed() : AppError(kClosedGracefully) {}
};

// No reply (or not all of it) within ReadTimeout; the control connection is closed.
class ReplyTimedOut : public AppError {
  public:
    ReplyTimedOut() : AppError(kReadTimedOut) {}
};

// The server hung up instead of answering "HOST ": Connect starts over without it.
struct HostHangup {};

struct Reply {
    int code = 0;      // 0 when the first three characters are not digits
    QString codeText;  // the first three characters of the first line
    QStringList text;  // one entry per line
};

bool ThreeDigits(const QString& s) {
    return s.size() >= 3 && s[0].isDigit() && s[1].isDigit() && s[2].isDigit() &&
           s[0].unicode() < 128 && s[1].unicode() < 128 && s[2].unicode() < 128;
}

// Leading and trailing blanks and control characters off.
QString TrimLine(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20) ++b;
    while (e > b && s[e - 1].unicode() <= 0x20) --e;
    return s.mid(b, e - b);
}

QString ReplyMessage(const Reply& r) {
    QString m;
    for (const QString& e : r.text) m += e + QStringLiteral("\r\n");
    return m;
}

QString FirstWord(const QString& line) { return TrimLine(line).section(u' ', 0, 0); }

// What one reply may still take: its time limit runs for the reply as a whole, and its lines
// and bytes (empty lines included) are counted against the caps.
struct ReplyBudget {
    QDeadlineTimer deadline;
    int lines = 0;
    qsizetype bytes = 0;
};

// The size a 125/150 reply announces, "(1234 bytes)" as most servers write it; -1 for none.
qint64 AnnouncedSize(const Reply& r) {
    static const QRegularExpression size(QStringLiteral("\\((\\d{1,18})\\s+bytes?\\)"),
                                         QRegularExpression::CaseInsensitiveOption);
    qint64 announced = -1;
    for (const QString& entry : r.text) {
        auto it = size.globalMatch(entry);
        while (it.hasNext()) announced = it.next().captured(1).toLongLong();
    }
    return announced;
}

bool SameHost(const QHostAddress& a, const QHostAddress& b) {
    return !a.isNull() && a.isEqual(b, QHostAddress::TolerantConversion);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The part file of a download

PartFile::PartFile(const QString& target)
    : file_(target, fs::kPartSuffix), shown_(fs::FullPath(target)) {
    if (!file_.Open())
        throw AppError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(shown_, file_.ErrorString()));
}

void PartFile::Write(const char* bytes, qint64 n) {
    if (!file_.Write(bytes, n)) Fail(n);
}

QFileDevice& PartFile::Written() {
    QFileDevice* written = file_.Written();
    if (!written) Fail(1);
    return *written;
}

void PartFile::Finish() {
    if (!file_.Finish()) Fail(1);
}

void PartFile::Replace() {
    if (!file_.Replace())
        throw AppError(
            QStringLiteral("Cannot write file \"%1\". %2").arg(shown_, file_.ErrorString()));
}

void PartFile::Fail(qint64 wanted) {
    const QStorageInfo disk(QFileInfo(fs::Native(shown_)).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() < wanted)
        throw AppError(QStringLiteral("нет места на диске: \"%1\"").arg(shown_));
    throw AppError(QStringLiteral("Cannot write file \"%1\". %2").arg(shown_, file_.ErrorString()));
}

// ---------------------------------------------------------------------------------------------
// The control connection

struct IdFtp::Impl {
    FtpSettings s;
    std::unique_ptr<NativeSocket> sock;
    bool peerClosed = false;     // the server closed (or reset) the control connection
    QHostAddress serverAddress;  // the control connection's peer
    QByteArray in;               // received, not yet read
    bool utf8 = false;
    // How this connection's data connections are made: found out on the first transfer.
    enum class DataMode { Unknown, Extended, Passive, Active } dataMode = DataMode::Unknown;
    // The server left a "SIZE" unanswered once: it is not asked again.
    bool sizeSilent = false;
    int dataTimeoutMs = -1;

    Reply last;
    Reply greeting;
    QString serverDescription;
    QStringList capabilities;
    QString systemDescription;
    QString timeZone;

    // The caller's deadline for everything (SetTimeLimit) and its watcher (SetWatch).
    QDeadlineTimer deadline = QDeadlineTimer::Forever;
    int limitMs = -1;
    std::function<void()> watch;

    explicit Impl(FtpSettings settings) : s(std::move(settings)) {}

    // A wait of `ms` as far as the caller's deadline allows, in slices a watcher can look
    // between.
    int Bound(qint64 ms) const {
        qint64 left = qMax<qint64>(ms, 0);
        if (!deadline.isForever()) left = qMin(left, deadline.remainingTime());
        if (watch) left = qMin<qint64>(left, kPollMs);
        return int(left);
    }

    // Between two slices of a wait: the caller's deadline, then its watcher. Either ends the
    // conversation where it stands, so the control connection is closed.
    void Look() {
        if (deadline.hasExpired()) {
            CloseControl();
            throw AppError(
                QStringLiteral("Time limit of %1 s exceeded.").arg((limitMs + 999) / 1000));
        }
        if (!watch) return;
        try {
            watch();
        } catch (...) {
            CloseControl();
            throw;
        }
    }

    // What a connect, a lookup or a data connection's wait looks at between its slices.
    Waits MakeWaits() {
        return Waits{[this] { Look(); }, kPollMs, s.resolver};
    }

    // Waits up to `ms` for the control connection and moves what has arrived into the input, a
    // bounded piece at a time; a close or a reset by the server is noted.
    void Pull(int ms) {
        char buffer[kPullChunk];
        qint64 n = 0;
        try {
            n = sock->Read(buffer, sizeof buffer, ms);
        } catch (const DataReset&) {
            peerClosed = true;
            return;
        }
        if (n == 0) peerClosed = true;
        if (n > 0) in.append(buffer, n);
    }

    void CloseControl() {
        sock.reset();
        peerClosed = false;
        in.clear();
    }

    bool Connected() {
        if (!sock) return false;
        // A poll without waiting: pulls in what has arrived and notices a close by the server.
        try {
            if (!peerClosed) Pull(0);
        } catch (const AppError&) {
            peerClosed = true;
        }
        return !peerClosed || !in.isEmpty();
    }

    QString Decode(const QByteArray& bytes) const {
        return utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    }
    QByteArray Encode(const QString& text) const { return utf8 ? text.toUtf8() : text.toLatin1(); }

    // Characters in the first n bytes of the input.
    qsizetype CharCount(qsizetype n) const {
        if (!utf8) return n;
        qsizetype chars = 0;
        for (qsizetype i = 0; i < n; ++i)
            if ((static_cast<unsigned char>(in[i]) & 0xC0) != 0x80) ++chars;
        return chars;
    }

    // A reply that broke its bounds leaves the control connection out of step with the server:
    // it is closed, without "QUIT".
    [[noreturn]] void FailReply(const QString& message) {
        CloseControl();
        throw AppError(message);
    }

    // One line up to LF, within what is left of the reply's budget.
    QString ReadRawLine(ReplyBudget& budget) {
        for (;;) {
            const qsizetype lf = in.indexOf('\n');
            qsizetype end = lf < 0 ? in.size() : lf;
            if (end > 0 && in[end - 1] == '\r') --end;
            if (CharCount(end) > kMaxLineLength)
                FailReply(QStringLiteral("Max line length exceeded."));
            if (budget.bytes + (lf < 0 ? in.size() : lf + 1) > kMaxReplyBytes)
                FailReply(kReplyTooLong);
            if (lf >= 0) {
                if (++budget.lines > kMaxReplyLines) FailReply(kReplyTooLong);
                budget.bytes += lf + 1;
                const QByteArray line = in.left(lf);
                in.remove(0, lf + 1);
                return Decode(line);
            }
            if (!sock) throw AppError(kNotConnected);
            // Closed or reset by the server: what it sent before has counted.
            if (peerClosed) throw ConnectionClosed();
            Look();
            const qint64 left = budget.deadline.remainingTime();
            if (left == 0) {
                CloseControl();
                throw ReplyTimedOut();
            }
            Pull(Bound(left));
        }
    }

    // The next line that is not empty once trimmed.
    QString ReadLine(ReplyBudget& budget) {
        for (;;) {
            const QString line = TrimLine(ReadRawLine(budget));
            if (!line.isEmpty()) return line;
        }
    }

    Reply ReadReply() {
        ReplyBudget budget{QDeadlineTimer(qMax(s.readTimeoutMs, 0))};
        Reply r;
        const QString first = ReadLine(budget);
        r.codeText = first.left(3);
        r.code = ThreeDigits(first) ? r.codeText.toInt() : 0;
        r.text << first.mid(4);
        if (first.size() > 3 && first[3] == u'-') {
            for (;;) {
                const QString line = ReadLine(budget);
                const bool ownCode = line.startsWith(r.codeText);
                r.text << (ownCode ? line.mid(4) : line);
                if (ownCode && ThreeDigits(line) && (line.size() == 3 || line[3] == u' ')) break;
            }
        }
        last = r;
        return r;
    }

    void Send(const QString& command) {
        if (!sock) throw AppError(kNotConnected);
        if (peerClosed) throw ConnectionClosed();
        const QByteArray line = Encode(command) + "\r\n";
        const QDeadlineTimer limit(qMax(s.readTimeoutMs, 0));
        for (qint64 sent = 0; sent < line.size();) {
            Look();
            if (limit.hasExpired()) throw AppError(QStringLiteral("Write timed out."));
            try {
                sent += sock->Write(line.constData() + sent, line.size() - sent,
                                    Bound(limit.remainingTime()));
            } catch (const DataReset&) {
                peerClosed = true;
                throw ConnectionClosed();
            }
        }
    }

    void Check(const Reply& r, std::initializer_list<int> accepted) {
        if (accepted.size() == 0) return;
        for (int code : accepted)
            if (r.code == code) return;
        if (r.code == 421) CloseControl();  // the server is closing: no "QUIT"
        throw AppError(ReplyMessage(r));
    }

    Reply Command(const QString& command, std::initializer_list<int> accepted) {
        Send(command);
        Reply r = ReadReply();
        Check(r, accepted);
        return r;
    }

    bool HasCapability(const QString& word) const {
        for (const QString& line : capabilities)
            if (FirstWord(line).compare(word, Qt::CaseInsensitive) == 0) return true;
        return false;
    }

    bool WantsSiteZone() const {
        static const char* const kServers[] = {"Serv-U ", "BPFTP Server ", "TitanFTP server ",
                                               "Titan FTP Server "};
        for (const char* prefix : kServers)
            if (serverDescription.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
                return true;
        for (const QString& line : capabilities) {
            const QString trimmed = TrimLine(line);
            if (FirstWord(trimmed).compare(QLatin1String("SITE"), Qt::CaseInsensitive) != 0)
                continue;
            const QStringList facts = trimmed.section(u' ', 1).split(u';');
            for (const QString& fact : facts)
                if (TrimLine(fact).compare(QLatin1String("ZONE"), Qt::CaseInsensitive) == 0)
                    return true;
        }
        return false;
    }

    void Disconnect() {
        if (Connected()) {
            try {
                Send(QStringLiteral("QUIT"));
                if (in.isEmpty() && !peerClosed) Pull(100);
                if (!in.isEmpty()) ReadReply();
            } catch (const AppError&) {
                // leaving anyway
            }
        }
        CloseControl();
    }

    void ConnectOnce(bool sendHost) {
        utf8 = false;
        last = greeting = Reply();
        serverDescription.clear();
        capabilities.clear();
        systemDescription.clear();
        timeZone.clear();
        in.clear();
        peerClosed = false;
        dataMode = DataMode::Unknown;

        try {
            Look();
            // The lookup and the connect look at the caller's deadline and watch as they wait:
            // the deadline's end is told as such.
            sock = ConnectWithLimit(s.host, s.port, s.connectTimeoutMs, MakeWaits());
            serverAddress = sock->PeerAddress();
            Reply g = ReadReply();
            if (g.code >= 100 && g.code < 200) g = ReadReply();
            Check(g, {220});
            greeting = g;
            serverDescription = g.text.value(0);
        } catch (...) {
            CloseControl();
            throw;
        }

        if (sendHost) {
            QString host = s.host;
            QHostAddress literal;
            if (literal.setAddress(host) &&
                literal.isEqual(serverAddress, QHostAddress::TolerantConversion))
                host = u'[' + host + u']';
            bool hungUp = false;
            try {
                Send(QStringLiteral("HOST ") + host);
                ReadReply();  // any code: a server without HOST says so and logs in all the same
            } catch (const ConnectionClosed&) {
                hungUp = true;
            } catch (...) {
                Disconnect();
                throw;
            }
            if (hungUp) {
                CloseControl();
                throw HostHangup();
            }
        }

        try {
            const Reply user = Command(QStringLiteral("USER ") + kUsername, {230, 232, 331});
            if (user.code == 331) {
                const Reply pass = Command(QStringLiteral("PASS ") + kPassword, {230, 332});
                if (pass.code == 332) throw AppError(ReplyMessage(pass));  // no account set up
            }
            const Reply feat = Command(QStringLiteral("FEAT"), {});
            if ((feat.code == 211 || feat.code == 221) && feat.text.size() >= 2)
                capabilities = feat.text.mid(1, feat.text.size() - 2);
            if (HasCapability(QStringLiteral("CLNT")))
                Command(QStringLiteral("CLNT ") + kClientName, {});
            if (HasCapability(QStringLiteral("UTF8"))) utf8 = true;
            Command(QStringLiteral("TYPE I"), {200});
            const Reply syst = Command(QStringLiteral("SYST"), {});
            systemDescription = syst.code == 500 ? QStringLiteral("Unknown") : syst.text.value(0);
            if (WantsSiteZone()) {
                const Reply zone = Command(QStringLiteral("SITE ZONE"), {});
                if (zone.code == 210) timeZone = zone.text.value(0);
            }
            Command(QStringLiteral("TYPE I"), {200});
        } catch (...) {
            Disconnect();
            throw;
        }
    }

    // The first data connection from the server's host within ListenTimeout; a connection
    // from any other address is closed at once and the wait goes on. One that was reset before
    // it could be looked at may have been the server's, so its reset ends the transfer.
    std::unique_ptr<NativeSocket> AcceptData(DataListener& listener, const QHostAddress& server) {
        const QDeadlineTimer limit(qMax(ListenMs(), 0));
        for (;;) {
            while (std::unique_ptr<NativeSocket> c = listener.Take()) {
                const QHostAddress from = c->PeerAddress();
                if (SameHost(from, server)) return c;
                if (from.isNull()) c->ThrowPendingError();
            }
            Look();
            const qint64 left = limit.remainingTime();
            if (left == 0) throw AppError(QStringLiteral("Accept timed out."));
            bool timedOut = false;
            if (!listener.waitForNewConnection(Bound(left), &timedOut) && !timedOut &&
                listener.serverError() != QAbstractSocket::SocketTimeoutError)
                throw AppError(SocketErrorMessage(listener.serverError(), listener.errorString()));
        }
    }

    // Whether another connection from the server's host (or from nobody knows where, already
    // gone) has come in meanwhile: then the one read may not have been the server's own, and
    // the transfer is not trusted.
    static bool AnotherDataConnection(DataListener& listener, const QHostAddress& server) {
        listener.waitForNewConnection(0);
        bool another = false;
        while (std::unique_ptr<NativeSocket> c = listener.Take()) {
            const QHostAddress from = c->PeerAddress();
            another = another || from.isNull() || SameHost(from, server);
        }
        return another;
    }

    // Reads the data connection to the server's orderly close into `part` (or to its reset,
    // once exactly the announced size has arrived). `stallMs`: how long it may stay silent.
    void ReceiveData(NativeSocket& data, PartFile& part, qint64 announced, qint64 cap, int stallMs,
                     const Progress& progress) {
        QByteArray buffer(256 * 1024, Qt::Uninitialized);
        qint64 received = 0;
        QDeadlineTimer stall(qMax(stallMs, 0));
        if (progress) progress(0, announced);
        for (;;) {
            Look();
            const qint64 left = stall.remainingTime();
            if (left == 0) throw AppError(kReadTimedOut);
            qint64 n = 0;
            try {
                n = data.Read(buffer.data(), buffer.size(), Bound(left));
            } catch (const DataReset&) {
                if (announced >= 0 && received == announced) break;
                throw;
            }
            if (n < 0) continue;  // nothing in this slice
            if (n == 0) break;
            stall.setRemainingTime(qMax(stallMs, 0));
            received += n;
            if (received > cap)
                throw AppError(QStringLiteral("Transfer exceeds the limit of %1 bytes.").arg(cap));
            if (announced >= 0 && received > announced)
                throw AppError(
                    QStringLiteral("Received more than the %1 bytes announced.").arg(announced));
            part.Write(buffer.constData(), n);
            if (progress) progress(received, announced);
        }
        if (announced >= 0 && received != announced)
            throw AppError(QStringLiteral("Received %1 bytes of the %2 announced.")
                               .arg(received)
                               .arg(announced));
    }

    // The file's size as "SIZE" (RFC 3659) gives it; -1 when the server does not answer it.
    // A server that stays silent may still answer late, where the next reply is awaited: the
    // connection is not trusted any more, so the client logs in afresh and asks no more SIZE.
    qint64 AskSize(const QString& sourceFile) {
        if (sizeSilent) return -1;
        Reply r;
        try {
            r = Command(QStringLiteral("SIZE ") + sourceFile, {});
        } catch (const ReplyTimedOut&) {
            sizeSilent = true;
            Login();
            return -1;
        }
        if (r.code == 421) Check(r, {213});  // the server is closing
        if (r.code != 213) return -1;
        const QString value = TrimLine(r.text.value(0));
        if (value.isEmpty() || value.size() > 18) return -1;
        for (const QChar c : value)
            if (c < u'0' || c > u'9') return -1;
        return value.toLongLong();
    }

    // Connect's whole conversation; once more without "HOST " when the server hung up on it.
    void Login() {
        CloseControl();
        try {
            ConnectOnce(true);
        } catch (const HostHangup&) {
            ConnectOnce(false);
        }
    }

    int ListenMs() const { return dataTimeoutMs >= 0 ? dataTimeoutMs : s.listenTimeoutMs; }

    // A passive data connection, to the control connection's peer on the port the server
    // names: EPSV (RFC 2428) first, then PASV, whose address is ignored (a server behind a
    // router names its private address; a hostile one names another host). Null when the
    // server refuses both: then this connection's transfers are active.
    std::unique_ptr<NativeSocket> OpenPassive() {
        if (dataMode == DataMode::Active) return nullptr;
        int port = 0;
        if (dataMode != DataMode::Passive) {
            const Reply r = Command(QStringLiteral("EPSV"), {});
            if (r.code == 421) Check(r, {229});
            port = r.code == 229 ? ExtendedPort(r) : 0;
            dataMode = port ? DataMode::Extended : DataMode::Passive;
        }
        if (!port) {
            const Reply r = Command(QStringLiteral("PASV"), {});
            if (r.code == 421) Check(r, {227});
            port = r.code == 227 ? PassivePort(r) : 0;
            if (!port) {
                dataMode = DataMode::Active;
                return nullptr;
            }
        }
        return ConnectWithLimit(serverAddress, quint16(port), ListenMs(), MakeWaits());
    }

    // The port of "229 ... (|||port|)"; 0 when there is none.
    static int ExtendedPort(const Reply& r) {
        static const QRegularExpression form(QStringLiteral("\\((.)\\1\\1(\\d{1,5})\\1\\)"));
        const QRegularExpressionMatch m = form.match(r.text.join(u' '));
        const int port = m.hasMatch() ? m.captured(2).toInt() : 0;
        return port > 0 && port < 65536 ? port : 0;
    }

    // The port of "227 ... (h1,h2,h3,h4,p1,p2)"; 0 when there is none.
    static int PassivePort(const Reply& r) {
        static const QRegularExpression form(
            QStringLiteral("(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3}),(\\d{1,3})"));
        const QRegularExpressionMatch m = form.match(r.text.join(u' '));
        if (!m.hasMatch()) return 0;
        for (int i = 1; i <= 6; ++i)
            if (m.captured(i).toInt() > 255) return 0;
        const int port = m.captured(5).toInt() * 256 + m.captured(6).toInt();
        return port > 0 ? port : 0;
    }
};

IdFtp::IdFtp(FtpSettings settings) : d(std::make_unique<Impl>(std::move(settings))) {}

IdFtp::~IdFtp() { d->CloseControl(); }  // at the end of the process: no "QUIT"

const FtpSettings& IdFtp::Settings() const { return d->s; }

bool IdFtp::Connected() { return d->Connected(); }

void IdFtp::Connect() {
    if (d->Connected()) throw AppError(QStringLiteral("Already connected."));
    d->Login();
}

void IdFtp::Get(const QString& sourceFile, const QString& destFile, bool canOverwrite,
                bool /*resume: never asked for; the whole file is always fetched*/,
                const Progress& progress, const TransferLimits& limits, const Check& check) {
    if (!canOverwrite && fs::FileExists(destFile))
        throw AppError(QStringLiteral("Destination file already exists."));
    PartFile part(destFile);
    Receive(sourceFile, part, progress, limits);
    if (check) check(part.Written());
    part.Finish();
    part.Replace();
}

void IdFtp::Receive(const QString& sourceFile, PartFile& part, const Progress& progress,
                    const TransferLimits& limits) {
    if (!d->sock) throw AppError(kNotConnected);
    const qint64 cap = limits.maxBytes >= 0 ? limits.maxBytes : d->s.maxTransferBytes;
    const int stallMs = limits.stallMs >= 0     ? limits.stallMs
                        : d->dataTimeoutMs >= 0 ? d->dataTimeoutMs
                                                : d->s.transferTimeoutMs;

    qint64 announced = d->AskSize(sourceFile);
    if (announced > cap)
        throw AppError(QStringLiteral("Transfer exceeds the limit of %1 bytes.").arg(cap));
    const QHostAddress server = d->serverAddress;

    // A failure of the transfer gives way to the final reply's; the user's cancel ends it all.
    std::exception_ptr failure;
    bool transferStarted = false;
    {
        // An active transfer listens until the final reply, so that a second data connection
        // shows.
        std::unique_ptr<DataListener> listener;
        try {
            std::unique_ptr<NativeSocket> data = d->OpenPassive();
            if (!data) {
                listener = std::make_unique<DataListener>();
                const QHostAddress local(d->sock->LocalAddress().toIPv4Address());
                listener->setListenBacklogSize(1);
                if (!listener->listen(local, 0))
                    throw AppError(
                        SocketErrorMessage(listener->serverError(), listener->errorString()));
                const quint32 ip = local.toIPv4Address();
                const quint16 port = listener->serverPort();
                d->Command(QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
                               .arg((ip >> 24) & 0xFF)
                               .arg((ip >> 16) & 0xFF)
                               .arg((ip >> 8) & 0xFF)
                               .arg(ip & 0xFF)
                               .arg(port >> 8)
                               .arg(port & 0xFF),
                           {200});
            }
            const Reply retr = d->Command(QStringLiteral("RETR ") + sourceFile, {125, 150, 154});
            transferStarted = true;
            if (announced < 0) announced = AnnouncedSize(retr);
            if (!data) data = d->AcceptData(*listener, server);
            d->ReceiveData(*data, part, announced, cap, stallMs, progress);
        } catch (const Cancelled&) {
            d->CloseControl();  // out of step with the server: no "QUIT"
            throw;
        } catch (const AppError&) {
            failure = std::current_exception();
        }

        // The final reply, once the server has taken on the transfer; its failure wins.
        if (transferStarted && d->sock) {
            try {
                const Reply r = d->ReadReply();
                d->Check(r, {226, 225, 250});
            } catch (const Cancelled&) {
                throw;
            } catch (const AppError&) {
                failure = std::current_exception();
            }
        }
        if (!failure && listener && Impl::AnotherDataConnection(*listener, server))
            failure =
                std::make_exception_ptr(AppError(QStringLiteral("Unexpected data connection.")));
    }
    if (failure) std::rethrow_exception(failure);
}

void IdFtp::Disconnect() { d->Disconnect(); }

void IdFtp::SetTimeLimit(int ms) {
    SetDeadline(ms < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(ms), ms);
}

void IdFtp::SetDeadline(const QDeadlineTimer& deadline, int limitMs) {
    d->limitMs = limitMs;
    d->deadline = deadline;
}

void IdFtp::SetWatch(std::function<void()> watch) { d->watch = std::move(watch); }

void IdFtp::SetDataTimeout(int ms) { d->dataTimeoutMs = ms; }

}  // namespace update
