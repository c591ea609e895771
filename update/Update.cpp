#include "update/Update.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
#include <vector>

#include "core/AppError.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "core/IniFile.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"
#include "update/DataSocket.h"
#include "update/IdFtp.h"
#include "update/Signature.h"
#include "update/TcpConnect.h"

namespace update {

namespace {

const QString kNoInternet =
    QStringLiteral(" Ошибка скачивания файла: отсутствует интернет соединение");
const QString kConnectError = QStringLiteral("Ошибка подключения: ");
const QString kDownloadError = QStringLiteral(" Ошибка скачивания файла: ");
const QString kUpdateDate = QStringLiteral("   Дата обновления: ");
const QString kHandOffError = QStringLiteral(" Ошибка запуска обновления: ");
const QString kFirstDate = QStringLiteral("09.09.1999");

constexpr bool kTrustsTestKey = ZELK_UPDATE_TEST_KEY;

const QString kSection = QStringLiteral("Update");
const QString kLocalDate = QStringLiteral("local_date");
const QString kStatusFile = QStringLiteral("data\\status_up.ini");

struct Download {
    const char* server;
    const char* local;  // below the executable's folder
};
const Download kDownloads[] = {
    {"/autocad/ZELK_AE_install.7z", "ZELK_AE_install.7z"},
    {"/autocad/7z/7z.exe", "7z\\7z.exe"},
    {"/autocad/7z/7z.dll", "7z\\7z.dll"},
    {"/autocad/update.cmd", "update.cmd"},
    {"/autocad/manual_update.txt", "manual_update.txt"},
};

// A failure's message as the status bar shows it: on one line, each line break (and any other
// control character a server may have sent) shown as a blank.
QString ErrorText(const std::exception& e) {
    const auto* app = dynamic_cast<const AppError*>(&e);
    QString text = app ? app->message() : QString::fromLocal8Bit(e.what());
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = u' ';
    return text;
}

// A date text in the user's short date format, as earlier versions recorded "local_date": the
// order of day, month and year and the separator come from the format; day and month may have
// one or two digits, a year of one or two digits lies within fifty years of today. Other forms
// the format may use (month names) are read by the locale itself. Invalid when it does not
// convert.
QDate UserDate(const QString& text) {
    const QLocale locale = QLocale::system();
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    QString order;
    QChar separator;
    for (const QChar c : format) {
        if (c == u'd' || c == u'M' || c == u'y') {
            const QChar key = c.toLower();
            if (!order.contains(key)) order += key;
        } else if (separator.isNull() && !order.isEmpty() && !c.isLetter() && c != u'\'') {
            separator = c;
        }
    }
    const QString trimmed = text.trimmed();
    if (order.size() == 3 && !separator.isNull()) {
        const QStringList parts = trimmed.split(separator);
        bool ok = parts.size() == 3;
        int day = 0, month = 0, year = 0;
        int yearDigits = 0;
        for (int i = 0; ok && i < 3; ++i) {
            const QString& p = parts[i];
            ok = !p.isEmpty() && p.size() <= (order[i] == u'y' ? 4 : 2);
            for (const QChar c : p) ok = ok && c >= u'0' && c <= u'9';
            if (!ok) break;
            const int v = p.toInt();
            if (order[i] == u'd') day = v;
            if (order[i] == u'm') month = v;
            if (order[i] == u'y') {
                year = v;
                yearDigits = int(p.size());
            }
        }
        if (ok) {
            if (yearDigits <= 2) {
                const int now = QDate::currentDate().year();
                year += now / 100 * 100;
                if (year > now + 50) year -= 100;
                if (year <= now - 50) year += 100;
            }
            const QDate date(year, month, day);
            if (date.isValid()) return date;
        }
    }
    const QDate date = locale.toDate(trimmed, QLocale::ShortFormat);
    return trimmed.isEmpty() ? QDate() : date;
}

// "local_date": the fixed form the tool writes, or the user's short date format an earlier
// version wrote.
QDate LocalDate(const QString& text) {
    QDate date = ParseDayMonthYear(text);
    if (!date.isValid()) date = UserDate(text);
    if (!date.isValid()) NotADate(text);
    return date;
}

// "date_global": the server writes DD.MM.YYYY.
QDate ServerDate(const QString& text) {
    const QDate date = ParseDayMonthYear(text);
    if (!date.isValid()) NotADate(text);
    return date;
}

QString Today() { return DayMonthYear(QDate::currentDate()); }

// Removes the part files a killed download left beside the update's files: "<name>.XXXXXX",
// with or without the marker of this version's part files.
void RemovePartFiles(const QString& exeDir) {
    QStringList targets{kStatusFile};
    for (const Download& d : kDownloads) targets << QLatin1String(d.local);
    for (const QString& target : targets) {
        const QString path = exeDir + target;
        fs::RemoveStagedLeftovers(path);
        const QFileInfo file(fs::Native(path));
        const QString head = file.fileName() + u'.';
        for (const QString& name : fs::ListFiles(file.absolutePath())) {
            if (name.size() != head.size() + 6 || !name.startsWith(head, Qt::CaseInsensitive))
                continue;
            bool random = true;
            for (const QChar c : name.mid(head.size()))
                random = random && c.unicode() < 128 && c.isLetterOrNumber();
            if (random) fs::DeleteFile(file.absolutePath() + u'\\' + name);
        }
    }
}

// Shows which file is arriving and how far it has got; repaints a few times a second at most.
class DownloadStatus {
  public:
    DownloadStatus(IForm& form, QString name) : form_(form), name_(std::move(name)) { Show(0); }
    void Show(qint64 bytes) {
        const QString text =
            QStringLiteral("Загрузка %1: %2 МБ")
                .arg(name_, QLocale::system().toString(double(bytes) / (1024.0 * 1024.0), 'f', 1));
        if (text == shown_ || (timer_.isValid() && timer_.elapsed() < 100)) return;
        form_.SetStatusText(text);
        shown_ = text;
        timer_.start();
    }

  private:
    IForm& form_;
    QString name_;
    QString shown_;
    QElapsedTimer timer_;
};

// The progress window of the update download, where the form has one: it shows which file is
// arriving and how far it has got, and its "Отмена" ends the download at once, since every
// wait of the client looks at it.
class DownloadWindow {
  public:
    DownloadWindow(IForm& form, IdFtp& ftp) : window_(form.OpenProgress()), ftp_(ftp) {
        if (!window_) return;
        ftp_.SetWatch([this] {
            if (window_->CancelRequested()) throw Cancelled();
        });
        Show(QStringLiteral("Подключение к серверу обновлений"), -1, -1);
    }
    ~DownloadWindow() {
        if (window_) ftp_.SetWatch({});
    }
    DownloadWindow(const DownloadWindow&) = delete;
    DownloadWindow& operator=(const DownloadWindow&) = delete;

    void Show(const QString& item, qint64 done, qint64 total) {
        if (!window_) return;
        window_->ShowProgress(item, done, total);
    }

  private:
    std::unique_ptr<IProgressWindow> window_;
    IdFtp& ftp_;
};

// The start-up check's time limit, which began before the probe; lifted when the check has its
// status file (or ends).
class CheckTimeLimit {
  public:
    CheckTimeLimit(IdFtp& ftp, const QDeadlineTimer& startup) : ftp_(ftp) {
        ftp_.SetDeadline(startup, ftp_.Settings().checkTimeLimitMs);
    }
    ~CheckTimeLimit() { Lift(); }
    CheckTimeLimit(const CheckTimeLimit&) = delete;
    CheckTimeLimit& operator=(const CheckTimeLimit&) = delete;
    void Lift() { ftp_.SetTimeLimit(-1); }

  private:
    IdFtp& ftp_;
};

// A file of the update that has arrived whole and passed its checks, and where it goes.
struct Arrival {
    QString target;
    std::unique_ptr<PartFile> part;
};

// Where an old file waits while the update's files take their places.
const QString kAsideSuffix = QStringLiteral(".zelk-old");

// How long a data connection of the update download may take to open and stay silent: the
// update files' limit, for their signatures too.
class DataTimeout {
  public:
    explicit DataTimeout(IdFtp& ftp) : ftp_(ftp) {
        ftp_.SetDataTimeout(ftp_.Settings().stallTimeoutMs);
    }
    ~DataTimeout() { ftp_.SetDataTimeout(-1); }
    DataTimeout(const DataTimeout&) = delete;
    DataTimeout& operator=(const DataTimeout&) = delete;

  private:
    IdFtp& ftp_;
};

// Starts the downloaded update script: the system folder's command interpreter by its full
// path, the script by its full quoted path, in the tool's folder. The reason when it did not
// start, else the empty text.
QString HandOff(const IdFtp& ftp, const QString& exeDir) {
    const QString script = fs::Native(exeDir + QStringLiteral("update.cmd"));
    const std::u16string line =
        platform::ToU16(QStringLiteral("\"%1\" /c start \"\" \"%2\"")
                            .arg(platform::FromU16(platform::CommandInterpreter()), script));
    const std::u16string folder = platform::ToU16(fs::Native(exeDir));
    const auto& start = ftp.Settings().start;
    QString reason =
        platform::FromU16(start ? start(line, folder) : platform::StartHidden(line, folder));
    for (QChar& c : reason)
        if (c.unicode() < 0x20) c = u' ';
    return reason.trimmed();
}

// The one place where the update's files take the place of the old ones, once all of them
// have arrived whole, as one step: each is first put on the disk, the old files are moved
// aside, and then each new file takes its place, the script last. Should one of them fail, the
// ones placed before it go and every old file comes back, so the folder holds either the whole
// update or what it held before; a script in place means every other file of it is there too.
void PutInPlace(std::vector<Arrival>& arrivals) {
    for (const Arrival& a : arrivals) a.part->Finish();
    std::stable_partition(arrivals.begin(), arrivals.end(), [](const Arrival& a) {
        return !a.target.endsWith(QLatin1String("update.cmd"));
    });
    struct Moved {
        QString target, aside;
        bool had = false;  // an old file was there
    };
    // The system's reason when a file cannot be moved; empty when it moved.
    const auto move = [](const QString& from, const QString& to) {
        return platform::FromU16(platform::MoveReplacing(platform::ToU16(fs::Native(from)),
                                                         platform::ToU16(fs::Native(to))));
    };
    std::vector<Moved> moved;
    size_t placed = 0;
    const auto restore = [&] {
        for (size_t i = 0; i < moved.size(); ++i) {
            if (moved[i].had)
                move(moved[i].aside, moved[i].target);
            else if (i < placed)
                fs::DeleteFile(moved[i].target);
        }
    };
    try {
        for (const Arrival& a : arrivals) {
            Moved m{a.target, a.target + kAsideSuffix};
            // An old file a killed run left aside goes back first, if its place is empty.
            if (fs::FileExists(m.aside) && !fs::FileExists(m.target)) move(m.aside, m.target);
            fs::DeleteFile(m.aside);
            m.had = fs::FileExists(m.target);
            const QString refused = m.had ? move(m.target, m.aside) : QString();
            if (!refused.isEmpty())
                throw AppError(QStringLiteral("Cannot write file \"%1\". %2")
                                   .arg(fs::FullPath(m.target), refused));
            moved.push_back(m);
        }
        for (const Arrival& a : arrivals) {
            a.part->Replace();
            ++placed;
        }
    } catch (...) {
        restore();
        throw;
    }
    for (const Moved& m : moved)
        if (m.had) fs::DeleteFile(m.aside);
}

// The test key's secret half is published: a build that trusts it never talks to the maker's
// server, where anyone on the way could sign an update script for it. Such a build is made
// with loopback hosts; this holds even where a host was set by hand.
void RefuseTestKeyOnMakersHost(QString host) {
    if (!kTrustsTestKey) return;
    if (host.endsWith(u'.')) host.chop(1);
    if (host.compare(QStringLiteral(ZELK_MAKER_HOST), Qt::CaseInsensitive) == 0)
        throw AppError(
            QStringLiteral("сборка с тестовым ключом обновлений не обращается к серверу %1")
                .arg(host));
}

// The update replaces the tool's own files. Where its folder takes no writes (installed for
// every user under Program Files or on a network share) it cannot, and is left to whoever
// installed the tool: the status bar says so, and no network is touched.
bool UpdateSkipped(Context& ctx) {
    if (ctx.st.userDir.isEmpty()) return false;
    ctx.form.SetStatusText(
        QStringLiteral(" Обновление пропущено: папка программы \"%1\" закрыта для записи, "
                       "программу обновляет тот, кто её установил")
            .arg(fs::FullPath(ctx.st.exeDir)));
    return true;
}

}  // namespace

[[noreturn]] void NotADate(const QString& text) {
    throw AppError(QStringLiteral("'%1' is not a valid date").arg(text));
}

QDate ParseDayMonthYear(const QString& text) {
    const QString t = text.trimmed();
    if (t.size() != 10 || t[2] != u'.' || t[5] != u'.') return QDate();
    for (int i : {0, 1, 3, 4, 6, 7, 8, 9})
        if (t[i] < u'0' || t[i] > u'9') return QDate();
    return QDate(t.mid(6, 4).toInt(), t.mid(3, 2).toInt(), t.left(2).toInt());
}

QString DayMonthYear(const QDate& date) {
    return QStringLiteral("%1.%2.%3")
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.year(), 4, 10, QLatin1Char('0'));
}

bool CheckInternetConnection(const QString& host, int port, int timeoutMs) {
    return CheckInternetConnection(host, port, timeoutMs, Waits{});
}

bool CheckInternetConnection(const QString& host, int port, int timeoutMs, const Waits& waits) {
    if (port < 0 || port > 65535) return false;
    try {
        const std::unique_ptr<NativeSocket> socket =
            ConnectWithLimit(host, quint16(port), timeoutMs, waits);
        // Looked at without waiting: a connection the server has already closed is no
        // connection.
        char byte = 0;
        return socket->Read(&byte, 1, 0) != 0;
    } catch (const std::exception&) {
        return false;
    }
}

// Drops a connection still open and logs in again; a failure shows in the status bar.
// Returns whether the client is connected now.
static bool LogInAnew(IdFtp& ftp, IForm& form) {
    if (ftp.Connected()) ftp.Disconnect();
    try {
        RefuseTestKeyOnMakersHost(ftp.Settings().host);
        ftp.Connect();
    } catch (const Cancelled&) {
        throw;
    } catch (const std::exception& e) {
        form.SetStatusText(kConnectError + ErrorText(e));
    }
    return ftp.Connected();
}

void StartupUpdateCheck(Context& ctx, const ProbeTarget& probe) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;
    if (UpdateSkipped(ctx)) return;
    RemovePartFiles(st.exeDir);
    // The probe, the login and the status file within one time limit, name lookups included,
    // the file within its cap: whatever the network and the server do, the start-up goes on
    // soon and memory stays bounded.
    const FtpSettings client = ctx.ftp ? ctx.ftp->Settings() : FtpSettings();
    const QDeadlineTimer startup(client.checkTimeLimitMs);
    const Waits probeWaits{[&] {
                               if (startup.hasExpired()) throw AppError(kNoInternet);
                           },
                           kPollMs, client.resolver};
    if (!CheckInternetConnection(probe.host, probe.port, probe.timeoutMs, probeWaits)) {
        form.SetStatusText(kNoInternet);
        return;
    }
    if (!ctx.ftp) return;
    IdFtp& ftp = *ctx.ftp;
    CheckTimeLimit limit(ftp, startup);
    if (!LogInAnew(ftp, form)) return;

    try {
        const QString statusFile = st.exeDir + kStatusFile;
        // A tool folder whose data folder is gone gets it back with the status file; the
        // repair itself is discovery's (its update download).
        fs::CreateFolder(st.exeDir + QStringLiteral("data"));
        GetSignedStatusFile(ftp, QStringLiteral("/autocad/status_up.ini"), statusFile, kStatusFile);
        limit.Lift();

        IniFile& settings = st.Settings();
        const QString stored = settings.ReadString(kSection, kLocalDate);
        if (!stored.isEmpty()) form.SetStatusText(kUpdateDate + stored + QStringLiteral(", "));
        if (settings.ReadString(kSection, kLocalDate).isEmpty())
            settings.WriteString(kSection, kLocalDate, kFirstDate);
        const QDate localDate = LocalDate(settings.ReadString(kSection, kLocalDate));

        const IniFile status(statusFile);
        const QDate globalDate =
            ServerDate(status.ReadString(kSection, QStringLiteral("date_global")));
        form.SetStatusText(form.StatusText() +
                           status.ReadString(kSection, QStringLiteral("Statusbar")));

        if (localDate < globalDate) {
            poupdate(ctx, false);  // the status file has just arrived
            ftp.Disconnect();
        }
    } catch (const std::exception& e) {
        form.SetStatusText(kDownloadError + ErrorText(e));
    }
}

void poupdate(Context& ctx, bool refreshStatus) {
    AppState& st = ctx.st;
    IForm& form = ctx.form;
    if (st.handedOff) return;  // the update script already runs; the tool is ending
    st.BindSettings();
    if (UpdateSkipped(ctx) || !ctx.ftp) return;
    IdFtp& ftp = *ctx.ftp;

    const QString statusBefore = form.StatusText();
    RemovePartFiles(st.exeDir);
    try {
        DownloadWindow window(form, ftp);
        const DataTimeout dataTimeout(ftp);
        if (!LogInAnew(ftp, form)) return;
        // A tool folder without its data folder (the repair) gets it back first, with the
        // status file that names the release the server signs now.
        fs::CreateFolder(st.exeDir + QStringLiteral("data"));
        if (refreshStatus)
            GetSignedStatusFile(ftp, QStringLiteral("/autocad/status_up.ini"),
                                st.exeDir + kStatusFile, kStatusFile);
        fs::CreateFolder(st.exeDir + QStringLiteral("7z"));
        SignedFiles files(ftp, st.exeDir + kStatusFile);
        // Every file arrives beside its old one first; the old files stay until all have come.
        std::vector<Arrival> parts;
        int number = 0;
        for (const Download& item : kDownloads) {
            const QString local = QString::fromLatin1(item.local);
            const QString shown =
                QStringLiteral("%1 (%2 из %3)").arg(local).arg(++number).arg(std::size(kDownloads));
            DownloadStatus status(form, local);
            window.Show(shown, -1, -1);
            parts.push_back({st.exeDir + local, std::make_unique<PartFile>(st.exeDir + local)});
            files.Receive(QString::fromLatin1(item.server), *parts.back().part, local,
                          [&](qint64 received, qint64 total) {
                              status.Show(received);
                              window.Show(shown, received, total);
                          });
        }
        // (every file of the update passed its signature check: one that did not stopped it)
        form.SetStatusText(statusBefore);
        PutInPlace(parts);
        // Recorded only now that the whole update is in place: a failed download leaves the
        // previous date, so the next start-up offers the update again. The script finds it
        // there.
        const QString dateBefore = st.Finifile->ReadString(kSection, kLocalDate);
        st.Finifile->WriteString(kSection, kLocalDate, Today());
        // The script just downloaded into the executable's folder is the one that runs, even
        // when the tool was started from another current directory.
        const QString failed = HandOff(ftp, st.exeDir);
        if (!failed.isEmpty()) {
            // Nothing runs the update: the tool stays, and the next start offers it again.
            try {
                st.Finifile->WriteString(kSection, kLocalDate, dateBefore);
            } catch (const AppError&) {
                // the status text says what matters: the update did not start
            }
            form.SetStatusText(kHandOffError + failed);
            return;
        }
        st.handedOff = true;
        form.Terminate();
    } catch (const std::exception& e) {
        form.SetStatusText(kDownloadError + ErrorText(e));
    }
}

void Button9Click(Context& ctx) { poupdate(ctx, true); }

}  // namespace update
