#pragma once

// The update server client: a small fixed subset of FTP (RFC 959) on Qt Network sockets:
// anonymous login, binary type, active data connections, whole-file download.
//
// Bounds that hold against any server, broken or hostile:
// - a reply (all its lines) must be complete within readTimeoutMs and stay within
//   kMaxReplyLines lines and kMaxReplyBytes bytes; past either the control connection is
//   closed;
// - a data connection is taken only from the control connection's peer address; a second one
//   from there during a transfer makes the transfer untrusted;
// - a transfer counts only when the server closed the data connection in order, the byte
//   count matches the size a 125/150 reply announced, and it stays within
//   maxTransferBytes;
// - the file arrives in a temporary file beside the target, which replaces the target only
//   after the transfer and the final reply succeeded (and, when asked, the received file passed
//   a check); after a failure the target is as it was.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QFileDevice;

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
};

constexpr int kMaxReplyLines = 1000;
constexpr qsizetype kMaxReplyBytes = 256 * 1024;

class IdFtp {
  public:
    explicit IdFtp(FtpSettings settings = {});
    ~IdFtp();
    IdFtp(const IdFtp&) = delete;
    IdFtp& operator=(const IdFtp&) = delete;

    const FtpSettings& Settings() const;

    bool Connected();
    void Connect();  // throws AppError with the failure's message
    // Called with the bytes received so far while a file arrives.
    using Progress = std::function<void(qint64 received)>;
    // Called with the whole received file (read from its start) before it replaces the target;
    // throwing refuses it.
    using Check = std::function<void(QFileDevice& received)>;
    void Get(const QString& sourceFile, const QString& destFile, bool canOverwrite, bool resume,
             const Progress& progress = {}, const Check& check = {});
    void Disconnect();  // never fails

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace update
