#pragma once

// The update server client: a small fixed subset of FTP (RFC 959) on Qt Network sockets:
// anonymous login, binary type, active data connections, whole-file download.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace update {

struct FtpSettings {
    QString host = QStringLiteral(ZELK_UPDATE_HOST);
    quint16 port = 2121;
    int connectTimeoutMs = 1000;
    int readTimeoutMs = 5000;
    int transferTimeoutMs = 1000;
    int listenTimeoutMs = 1000;
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
    // Called with the bytes received so far while a file arrives.
    using Progress = std::function<void(qint64 received)>;
    void Get(const QString& sourceFile, const QString& destFile, bool canOverwrite, bool resume,
             const Progress& progress = {});
    void Disconnect();  // never fails

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace update
