#pragma once

// The connectivity probe, the start-up update check and the update download with its
// hand-off to the update script.

#include <QString>

struct Context;

namespace update {

struct ProbeTarget {
    QString host = QStringLiteral(ZELK_PROBE_HOST);
    int port = 80;
    int timeoutMs = 1000;
};

bool CheckInternetConnection(const QString& host, int port, int timeoutMs);

// The start-up update check: the second step of the window's creation handler.
void StartupUpdateCheck(Context& ctx, const ProbeTarget& probe = {});

// The update download: five files into the executable's folder, today's date recorded,
// the update script started, the application asked to end. Never fails to its caller.
// `refreshStatus`: the signed status file is fetched first, so that the files are those of the
// release the server announces now (the manual update may come long after the start-up check,
// or after one that could not fetch it).
void poupdate(Context& ctx, bool refreshStatus = false);

void Button9Click(Context& ctx);  // manual update

}  // namespace update
