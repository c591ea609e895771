// Download throughput of the update server client against curl, both in active mode from the
// same local FTP server (pyftpdlib) in one run.
//
// Usage: ftp_download [megabytes=200] [rounds=5]
// Prints each round and then each client's median throughput and the ratio ours / curl
// (the rounds alternate, so load from elsewhere on the machine hits both alike).

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/AppError.h"
#include "update/IdFtp.h"

namespace {

QByteArray Sha256(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 5;
    const qint64 size = megabytes * 1024 * 1024;

    QTemporaryDir root, out;
    QDir().mkpath(root.filePath("autocad"));
    const QString source = root.filePath("autocad/big.bin");
    {
        QFile f(source);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        QByteArray block(1024 * 1024, '\0');
        QRandomGenerator rng(1);
        for (qint64 done = 0; done < size; done += block.size()) {
            rng.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
            f.write(block.constData(), qMin<qint64>(block.size(), size - done));
        }
    }
    const QByteArray expected = Sha256(source);

    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(ZELK_SOURCE_DIR "/tests/update/ftp_server.py"), root.path()});
    QByteArray line;
    while (!line.contains('\n') && server.waitForReadyRead(10000))
        line += server.readAllStandardOutput();
    const int port = line.trimmed().toInt();
    if (port <= 0) {
        std::fprintf(stderr, "the FTP server did not start\n");
        return 1;
    }

    update::FtpSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = quint16(port);
    settings.readTimeoutMs = settings.transferTimeoutMs = settings.listenTimeoutMs = 5000;
    update::IdFtp ftp(settings);

    std::vector<double> oursRuns, curlRuns;
    for (int round = 0; round < rounds; ++round) {
        const QString ours = out.filePath("ours.bin"), theirs = out.filePath("curl.bin");
        try {
            if (!ftp.Connected()) ftp.Connect();
            QElapsedTimer t;
            t.start();
            ftp.Get(QStringLiteral("/autocad/big.bin"), ours, true, false);
            const double mbps = double(size) / (1024.0 * 1024.0) / (t.nsecsElapsed() / 1e9);
            if (Sha256(ours) != expected) {
                std::fprintf(stderr, "our download differs from the source\n");
                return 1;
            }
            oursRuns.push_back(mbps);
            std::printf("round %d: ours %.1f MB/s\n", round + 1, mbps);
        } catch (const AppError& e) {
            std::fprintf(stderr, "our download failed: %s\n", qPrintable(e.message()));
            return 1;
        }
        QFile::remove(ours);

        QElapsedTimer t;
        t.start();
        const int rc = QProcess::execute(
            QStringLiteral("curl"),
            {"-s", "--ftp-port", "127.0.0.1",
             QStringLiteral("ftp://127.0.0.1:%1/autocad/big.bin").arg(port), "-o", theirs});
        const double mbps = double(size) / (1024.0 * 1024.0) / (t.nsecsElapsed() / 1e9);
        if (rc != 0 || Sha256(theirs) != expected) {
            std::fprintf(stderr, "curl failed (exit code %d)\n", rc);
            return 1;
        }
        curlRuns.push_back(mbps);
        std::printf("round %d: curl %.1f MB/s\n", round + 1, mbps);
        QFile::remove(theirs);
    }
    ftp.Disconnect();
    server.kill();
    server.waitForFinished(5000);

    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    const double ours = median(oursRuns), curl = median(curlRuns);
    std::printf(
        "file %lld MB, median of %d rounds: ours %.1f MB/s, curl %.1f MB/s, "
        "ratio ours/curl %.2f\n",
        megabytes, rounds, ours, curl, ours / curl);
    return 0;
}
