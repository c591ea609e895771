#pragma once

// The update server client: a small fixed subset of FTP (RFC 959) on the system's sockets:
// anonymous login, binary type, whole-file download. Data connections are passive where the
// server offers them (EPSV, RFC 2428, then PASV), since behind a router the client's own
// address cannot be reached; the client connects to the control connection's peer address
// and ignores the address a 227 reply names. Only a server that refuses both gets an active
// data connection (PORT).
//
// Bounds that hold against any server, broken or hostile:
// - a reply (all its lines) must be complete within readTimeoutMs and stay within
//   kMaxReplyLines lines and kMaxReplyBytes bytes; past either the control connection is
//   closed;
// - a reply is read from the bytes alone, however the network cuts it and whatever the window
//   does meanwhile;
// - a passive data connection goes to the control connection's peer address only; an active
//   one is taken only from there, and a second one from there during a transfer makes the
//   transfer untrusted;
// - a transfer counts only when the server closed the data connection in order (or reset it
//   after exactly the announced size), the byte count matches the size announced (by SIZE,
//   asked before each download, or else by the 125/150 reply), and it stays within its cap;
// - the file arrives in a temporary file beside the target, which replaces the target only
//   after the transfer and the final reply succeeded (and, when asked, the received file passed
//   a check); after a failure the target is as it was;
// - a caller may bound everything the client does by one deadline, and may watch every wait
//   (at least every kPollMs) to cancel it at once.

#include <QDeadlineTimer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/AppError.h"
#include "core/FileSystem.h"
#include "update/TcpConnect.h"

namespace update {

struct FtpSettings {
    QString host = QStringLiteral(ZELK_UPDATE_HOST);
    quint16 port = 2121;
    int connectTimeoutMs = 1000;
    int readTimeoutMs = 5000;
    int transferTimeoutMs = 1000;
    int listenTimeoutMs = 1000;
    // Upper bound of one download, far above any update package (tens of megabytes).
    qint64 maxTransferBytes = qint64(1) << 30;
    // How long the data connection of an update file (shown in the progress window, where the
    // user may cancel) may stay silent before it fails with "Read timed out."; the download has
    // no limit as a whole.
    int stallTimeoutMs = 30000;
    // The start-up check's conversation (login and status file) as a whole, and the status
    // file's size cap.
    int checkTimeLimitMs = 15000;
    qint64 statusMaxBytes = 64 * 1024;
    // How host names are looked up; empty: the system's resolver.
    Resolver resolver;
    // How the update script is started: the command line and its folder in, the reason it did
    // not start out (empty: it started). Empty: the system's (platform::StartHidden).
    std::function<std::u16string(const std::u16string&, const std::u16string&)> start;
};

constexpr int kMaxReplyLines = 1000;
constexpr qsizetype kMaxReplyBytes = 256 * 1024;
// How often a watched client looks up from its waits.
constexpr int kPollMs = 50;

// The user cancelled: thrown by a watcher (IdFtp::SetWatch) to end what the client is doing.
class Cancelled : public AppError {
  public:
    Cancelled() : AppError(QStringLiteral("загрузка отменена")) {}
};

// The bytes of one download, in a temporary file beside the target ("<name>.XXXXXX.zelk-part",
// which a later run recognises when a kill left it behind). The target is replaced
// only by Replace(); until then, and whenever the object goes without it, the target stays as
// it was and the temporary file goes. Failures throw AppError: "Cannot create file \"%s\". %s",
// "Cannot write file \"%s\". %s", or the full disk.
class PartFile {
  public:
    explicit PartFile(const QString& target);
    void Write(const char* bytes, qint64 n);
    QFileDevice& Written();  // what has arrived, read from its start (before Finish)
    void Finish();           // every byte on the disk, the temporary file closed
    void Replace();          // in the target's place, in one step
    const QString& Target() const { return shown_; }

  private:
    [[noreturn]] void Fail(qint64 wanted);

    fs::AtomicFile file_;
    QString shown_;
};

// What one download may take: its size (-1: maxTransferBytes) and how long its data
// connection may stay silent (-1: transferTimeoutMs).
struct TransferLimits {
    qint64 maxBytes = -1;
    int stallMs = -1;
};

class IdFtp {
  public:
    explicit IdFtp(FtpSettings settings = {});
    ~IdFtp();
    IdFtp(const IdFtp&) = delete;
    IdFtp& operator=(const IdFtp&) = delete;

    const FtpSettings& Settings() const;

    bool Connected();
    void Connect();  // throws AppError with the failure's message
    // Called with the bytes received so far and the size announced (-1: none) while a file
    // arrives.
    using Progress = std::function<void(qint64 received, qint64 total)>;
    // Called with the whole received file (read from its start) before it replaces the target;
    // throwing refuses it.
    using Check = std::function<void(QFileDevice& received)>;
    // A download into destFile, which is replaced only when the whole file has arrived (and
    // passed `check`, when given).
    void Get(const QString& sourceFile, const QString& destFile, bool canOverwrite, bool resume,
             const Progress& progress = {}, const TransferLimits& limits = {},
             const Check& check = {});
    // The same into a part file that the caller checks, finishes and puts in place.
    void Receive(const QString& sourceFile, PartFile& part, const Progress& progress = {},
                 const TransferLimits& limits = {});
    void Disconnect();  // never fails

    // Bounds everything the client does from now on by one deadline `ms` away (-1: none):
    // every wait ends by then, and what is running fails with "Time limit of %d s exceeded."
    // and closes the control connection.
    void SetTimeLimit(int ms);
    // The same with a deadline that began earlier; `limitMs` is the whole limit the message
    // names.
    void SetDeadline(const QDeadlineTimer& deadline, int limitMs);
    // Called at least every kPollMs while the client waits, and after each piece of data; it
    // may throw Cancelled, which ends what is running at once and closes the control
    // connection without "QUIT". Empty: nobody watches.
    void SetWatch(std::function<void()> watch);
    // How long a data connection may take to open and stay silent, from now on, for a download
    // that names no limit of its own (a file and its signature alike); -1: the settings'
    // ListenTimeout and TransferTimeout.
    void SetDataTimeout(int ms);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace update
