#pragma once

// The connectivity probe, the start-up update check and the update download with its
// hand-off to the update script.

#include <QDate>
#include <QString>

#include "update/TcpConnect.h"

struct Context;

namespace update {

struct ProbeTarget {
    QString host = QStringLiteral(ZELK_PROBE_HOST);
    int port = 80;
    int timeoutMs = 1000;
};

bool CheckInternetConnection(const QString& host, int port, int timeoutMs);
// The same with its name lookup (not bounded by `timeoutMs`) and its connect watched by
// waits.look, which may end them by throwing; that too gives false.
bool CheckInternetConnection(const QString& host, int port, int timeoutMs, const Waits& waits);

// A date written "DD.MM.YYYY" (two digits, two digits, four digits, blanks around ignored), the
// form of the server's dates and of the date the tool records, on every machine whatever its
// regional settings; an invalid date when the text is not of that form or names no real day.
QDate ParseDayMonthYear(const QString& text);
// Refuses a date text that is not one.
[[noreturn]] void NotADate(const QString& text);
QString DayMonthYear(const QDate& date);

// The start-up update check: the second step of the window's creation handler.
void StartupUpdateCheck(Context& ctx, const ProbeTarget& probe = {});

// The update download: five files into the executable's folder, today's date recorded,
// the update script started, the application asked to end. Never fails to its caller.
// `refreshStatus`: the signed status file is fetched first, so that the files are those of the
// release the server announces now (the manual update and discovery's repair may come long
// after the start-up check, or after one that could not fetch it); only the start-up check,
// which has just fetched it, goes without.
void poupdate(Context& ctx, bool refreshStatus = true);

void Button9Click(Context& ctx);  // manual update

}  // namespace update
