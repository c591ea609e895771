#include "app/CommandLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <optional>

#include "app/ComponentGroups.h"
#include "app/ConsoleForm.h"
#include "app/GroupTransfer.h"
#include "app/StartUp.h"
#include "catalog/CatalogDb.h"
#include "catalog/Transfer.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "deploy/Clean.h"
#include "deploy/Install.h"
#include "deploy/InstallMark.h"
#include "platform/platform.h"
#include "state/Discovery.h"
#include "state/ProjectTemplate.h"
#include "state/Releases.h"
#include "state/Selection.h"
#include "update/IdFtp.h"
#include "update/Update.h"

namespace cli {

namespace {

enum class Command { None, Install, Clean, Status, Help };

struct Options {
    Command command = Command::None;
    QString groups = QStringLiteral("all");
    QString release, lang, catalog, project, log;
    bool update = false;
    QString error;  // what is wrong with the command line
};

// Options of the installers IT departments know (Windows Installer, Inno Setup): a command-line
// run never shows a window or waits for anyone anyway, so they are taken and change nothing.
const QStringList kQuietWords{
    "quiet", "qn", "passive", "silent", "verysilent", "suppressmsgboxes", "norestart"};
const QStringList kValueWords{"groups", "release", "lang", "catalog", "project", "log"};

QString UsageText() {
    return QStringLiteral(
        "ZELK_AE_install: установка компонентов ЗЕЛК в AutoCAD Electrical без окна.\n"
        "\n"
        "  ZELK_AE_install.exe /install [параметры]   установить (если всё уже на месте, ничего\n"
        "                                             не меняет)\n"
        "  ZELK_AE_install.exe /clean [параметры]     убрать строки, файлы и меню ЗЕЛК, сжать "
        "базу\n"
        "  ZELK_AE_install.exe /status [/log:ФАЙЛ]    что установлено: код 0 — установлено, 1 — "
        "нет\n"
        "  ZELK_AE_install.exe /?                     эта справка\n"
        "\n"
        "Параметры:\n"
        "  /groups:all | /groups:КОД,КОД   группы по кодам семейств (CB, FU, ...); по умолчанию "
        "все\n"
        "  /release:ГОД                    выпуск AutoCAD Electrical (2016 и позже)\n"
        "  /lang:rus | /lang:enu           язык профиля\n"
        "  /catalog:ПУТЬ                   файл базы изделий (*.mdb)\n"
        "  /project:ФАЙЛ.wdp               шаблон проекта\n"
        "  /log:ФАЙЛ                       дописывать журнал в файл (UTF-8)\n"
        "  /update                         сначала проверить обновление на сервере ЗЕЛК\n"
        "  /quiet /qn /passive /silent /verysilent /suppressmsgboxes /norestart\n"
        "                                  принимаются и ничего не меняют\n"
        "Без /release, /lang и /catalog программа находит установку сама, как при запуске окна.\n"
        "Те же слова можно писать через \"--\": --install --groups CB,FU --log ФАЙЛ.\n"
        "Без команды запускается окно программы.\n"
        "\n"
        "Коды завершения: 0 — успешно (и когда делать нечего), 1 — выполнено не полностью,\n"
        "2 — остановлено, база изделий не изменена, 3 — ошибка в командной строке,\n"
        "4 — не найдена установка AutoCAD Electrical или база изделий,\n"
        "1618 — уже работает другая копия программы (окно или команда), повторите позже.\n");
}

// A path given on the command line, against the folder the tool was started from.
QString Absolute(const QString& startDir, const QString& path) {
    return QDir::toNativeSeparators(
        QDir::cleanPath(QDir(startDir).absoluteFilePath(QDir::fromNativeSeparators(path))));
}

// "/name", "/name:value", "/name=value", "--name", "--name=value", "--name value".
Options Parse(const QStringList& args, const QString& startDir) {
    Options o;
    const auto fail = [&o](const QString& error) {
        if (o.error.isEmpty()) o.error = error;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        QString body;
        const bool dashed = a.startsWith(QLatin1String("--"));
        if (dashed)
            body = a.mid(2);
        else if (a.startsWith(u'/') || a == QLatin1String("-?") || a == QLatin1String("-h"))
            body = a.mid(1);
        else {
            fail(QStringLiteral("непонятный параметр \"%1\"").arg(a));
            continue;
        }
        const qsizetype at = body.indexOf(QRegularExpression(QStringLiteral("[:=]")));
        const QString name = (at < 0 ? body : body.left(at)).toLower();
        std::optional<QString> value;
        if (at >= 0) value = body.mid(at + 1);
        if (kValueWords.contains(name) && !value && dashed && i + 1 < args.size())
            value = args[++i];

        Command command = Command::None;
        if (name == QLatin1String("install")) command = Command::Install;
        if (name == QLatin1String("clean")) command = Command::Clean;
        if (name == QLatin1String("status")) command = Command::Status;
        if (name == QLatin1String("?") || name == QLatin1String("h") ||
            name == QLatin1String("help"))
            command = Command::Help;
        if (command != Command::None || kQuietWords.contains(name) ||
            name == QLatin1String("update")) {
            if (value) fail(QStringLiteral("у параметра \"%1\" не бывает значения").arg(a));
            if (name == QLatin1String("update")) o.update = true;
            if (command == Command::None) continue;
            if (o.command != Command::None && o.command != command)
                fail(
                    QStringLiteral("команда может быть только одна: /install, /clean или "
                                   "/status"));
            o.command = command;
            continue;
        }
        if (!kValueWords.contains(name)) {
            fail(QStringLiteral("неизвестный параметр \"%1\"").arg(a));
            continue;
        }
        if (!value || value->trimmed().isEmpty()) {
            fail(QStringLiteral("у параметра \"%1\" нет значения").arg(a));
            continue;
        }
        const QString v = value->trimmed();
        if (name == QLatin1String("groups")) {
            o.groups = v;
            static const QRegularExpression codes(
                QStringLiteral("^[A-Za-z0-9_-]+(,[A-Za-z0-9_-]+)*$"));
            if (!codes.match(v).hasMatch())
                fail(QStringLiteral("группы в \"%1\": all или коды семейств через запятую "
                                    "(например CB,FU)")
                         .arg(a));
        } else if (name == QLatin1String("release")) {
            o.release = v;
            if (!state::IsReleaseYear(v))
                fail(QStringLiteral("выпуск в \"%1\": год 2016 или позже").arg(a));
        } else if (name == QLatin1String("lang")) {
            o.lang = v.toLower();
            if (o.lang != QLatin1String("rus") && o.lang != QLatin1String("enu"))
                fail(QStringLiteral("язык в \"%1\": rus или enu").arg(a));
        } else if (name == QLatin1String("catalog")) {
            o.catalog = Absolute(startDir, v);
        } else if (name == QLatin1String("project")) {
            o.project = Absolute(startDir, v);
        } else {
            o.log = Absolute(startDir, v);
        }
    }
    if (o.error.isEmpty() && o.command == Command::None)
        fail(QStringLiteral("не указана команда: /install, /clean или /status"));
    return o;
}

int Finish(RunLog& log, int code, const QString& meaning) {
    log.Write(QStringLiteral("Код завершения: %1 (%2)").arg(code).arg(meaning));
    return code;
}

int Status(RunLog& log) {
    const std::optional<deploy::InstallMark> mark = deploy::ReadInstallMark();
    if (!mark) {
        log.Write(QStringLiteral("Компоненты ЗЕЛК не установлены: отметки об установке нет"));
        return Finish(log, kShortfall, QStringLiteral("не установлено"));
    }
    log.Write(QStringLiteral("Компоненты ЗЕЛК установлены:\n") +
              deploy::MarkLines(*mark).join(u'\n'));
    return Finish(log, kSuccess, QStringLiteral("установлено"));
}

// The selection: every group, or the groups whose family code (in the install database's
// group table) is one of `spec`, moved over as the window's transfer buttons move them. Unknown
// codes go to `unknown`.
QStringList SelectGroups(Context& ctx, const QString& spec, QStringList& unknown) {
    QStringList from = view::kComponentGroups, groups;
    if (spec.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        view::MoveAll(from, groups, *ctx.st.sort);
        return groups;
    }
    catalog::FamilyLookup(ctx.db, ctx.st, view::kComponentGroups);
    QList<bool> selected(from.size(), false);
    for (const QString& code : spec.split(u',')) {
        bool known = false;
        for (qsizetype i = 0; i < ctx.st.socr.size() && i < selected.size(); ++i)
            if (ctx.st.socr[i].compare(code, Qt::CaseInsensitive) == 0) known = selected[i] = true;
        if (!known) unknown << code;
    }
    view::MoveSelected(from, selected, groups, *ctx.st.sort);
    return groups;
}

// The profile of the release and language chosen: its support folder exists.
bool InstallationFound(const AppState& st) {
    const QString ver = state::LatestRelease(st.userprofile, st.year);
    return state::IsReleaseYear(st.year) && !ver.isEmpty() &&
           (st.language == QLatin1String("rus") || st.language == QLatin1String("enu")) &&
           fs::FolderExists(state::SupportFolder(st.userprofile, st.year, ver, st.language));
}

int RunCommand(const Options& o, RunLog& log) {
    if (platform::AcquireInstanceMutex(kInstanceName) == platform::InstanceGuard::AlreadyRunning) {
        log.Write(
            QStringLiteral("Программа уже работает: открыто её окно или выполняется другая "
                           "команда"));
        return Finish(log, kAnotherCopy, QStringLiteral("повторите позже"));
    }
    // The tool's own files are named relative to its folder, as in the window.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    platform::InitComponentObjects();

    AppState st;
    catalog::CatalogDb db(st);
    update::IdFtp ftp;
    ConsoleForm form(log);
    Context ctx{st, form, db, &ftp, {}};
    // Only /update touches the network, also where discovery would fetch a missing data file.
    if (o.update) ctx.poupdate = [&ctx] { update::poupdate(ctx); };
    view::StartUp(ctx, QCoreApplication::applicationDirPath(), o.update);
    if (st.handedOff)
        return Finish(log, kAnotherCopy,
                      QStringLiteral("запущено обновление программы; команда не выполнена, "
                                     "повторите её после обновления"));
    if (!st.userDir.isEmpty())
        log.Write(QStringLiteral("Папка программы закрыта для записи: настройки пользователя в "
                                 "\"%1config.ini\"")
                      .arg(st.userDir));

    // The choices, in the order a user makes them in the window. A choice that fails stops the
    // run (the command would work on what was chosen before).
    const auto choose = [&](const std::function<void()>& handler) {
        const qsizetype before = form.Errors().size();
        RunGuarded(form, handler);
        return form.Errors().size() == before;
    };
    const auto notChosen = [&] {
        return Finish(log, kStopped, QStringLiteral("остановлено, база изделий не изменена"));
    };
    if (!o.release.isEmpty()) {
        form.SetComboBox1Text(o.release);
        RunGuarded(form, [&] { state::ComboBox1Change(ctx); });
    }
    if (!o.lang.isEmpty()) {
        form.SetComboBox2Text(o.lang);
        RunGuarded(form, [&] { state::ComboBox2Change(ctx); });
    }
    if (!o.catalog.isEmpty()) {
        if (!fs::FileExists(o.catalog)) {
            log.Write(QStringLiteral("Не найден файл базы изделий \"%1\"").arg(o.catalog));
            return Finish(log, kNotFound, QStringLiteral("база изделий не найдена"));
        }
        form.AnswerOpenDialog(2, o.catalog);
        if (!choose([&] { state::Button8Click(ctx); })) return notChosen();
    } else if (!o.release.isEmpty() || !o.lang.isEmpty()) {
        // The release's default catalog (its absence is told below): one that could not be
        // stored leaves the settings on the catalog of another choice.
        const QString wanted =
            state::DefaultCatalog(st.userprofile, form.ComboBox1Text(), form.ComboBox2Text());
        if (!wanted.isEmpty() && st.LastCatalog() != wanted) return notChosen();
    }
    if (!o.project.isEmpty()) {
        if (!fs::FileExists(o.project)) {
            log.Write(QStringLiteral("Ошибка в командной строке: не найден шаблон проекта \"%1\"")
                          .arg(o.project));
            return Finish(log, kUsage, QStringLiteral("ошибка в командной строке"));
        }
        form.AnswerOpenDialog(1, o.project);
        if (!choose([&] { state::Button7Click(ctx); })) return notChosen();
    }

    if (!InstallationFound(st)) {
        log.Write(
            QStringLiteral("Не найдена установка AutoCAD Electrical: нет профиля выпуска "
                           "\"%1\" на языке \"%2\" в папке \"%3\" (выпуск и язык задают "
                           "/release и /lang)")
                .arg(st.year, st.language, fs::FullPath(state::RoamingAutodesk(st.userprofile))));
        return Finish(log, kNotFound, QStringLiteral("не найдена установка AutoCAD Electrical"));
    }
    const QString catalogFile = st.LastCatalog();
    if (catalogFile.isEmpty() || !fs::FileExists(catalogFile)) {
        log.Write(catalogFile.isEmpty()
                      ? QStringLiteral("Не найдена база изделий: её путь задаёт /catalog")
                      : QStringLiteral("Не найден файл базы изделий \"%1\"").arg(catalogFile));
        return Finish(log, kNotFound, QStringLiteral("база изделий не найдена"));
    }
    if (o.command == Command::Clean && !db.CatalogReady()) {
        log.Write(QStringLiteral("Не удалось открыть базу изделий \"%1\"").arg(catalogFile));
        return Finish(log, kStopped, QStringLiteral("остановлено, база изделий не изменена"));
    }

    QStringList unknown, groups;
    try {
        groups = SelectGroups(ctx, o.groups, unknown);
    } catch (const AppError& e) {
        form.ShowError(e.message());
        return Finish(log, kStopped, QStringLiteral("остановлено, база изделий не изменена"));
    }
    if (!unknown.isEmpty()) {
        QStringList known;
        for (const QString& c : st.socr)
            if (!known.contains(c)) known << c;
        log.Write(QStringLiteral("Ошибка в командной строке: неизвестный код группы: %1 (коды "
                                 "групп: %2)")
                      .arg(unknown.join(QStringLiteral(", ")), known.join(QStringLiteral(", "))));
        RunLog::Console(UsageText());
        return Finish(log, kUsage, QStringLiteral("ошибка в командной строке"));
    }
    form.SetListBox2Items(groups);

    deploy::CommandResult result;
    form.StartCommand();
    RunGuarded(form, [&] {
        if (o.command == Command::Install)
            deploy::Install(ctx, &result);
        else
            deploy::Clean(ctx, &result);
    });
    using End = deploy::CommandResult::End;
    switch (result.end) {
        case End::Done:
            return Finish(log, kSuccess, QStringLiteral("успешно"));
        case End::NothingToDo:
            return Finish(log, kSuccess, QStringLiteral("nothing to do: всё уже на месте"));
        case End::Shortfall:
            return Finish(log, kShortfall, QStringLiteral("выполнено не полностью"));
        case End::Refused:
            return Finish(log, kNotFound,
                          QStringLiteral("не найдена установка AutoCAD Electrical или база "
                                         "изделий"));
        case End::None:
            break;
    }
    // A failure whose outcome is not known to leave everything as it was is no plain stop.
    return result.changed
               ? Finish(log, kShortfall, QStringLiteral("остановлено, выполнено не полностью"))
               : Finish(log, kStopped, QStringLiteral("остановлено, база изделий не изменена"));
}

}  // namespace

bool IsCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a.startsWith('/') || a.startsWith("--") || a == "-?" || a == "-h") return true;
    }
    return false;
}

int Run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString startDir = QDir::currentPath();
    const QStringList args = QCoreApplication::arguments().mid(1);
    Options o = Parse(args, startDir);
    RunLog log;
    QString why;
    // (a log that opens takes a usage error too)
    if (!o.log.isEmpty() && !log.Open(o.log, &why) && o.error.isEmpty())
        o.error = QStringLiteral("не удаётся открыть журнал \"%1\": %2").arg(o.log, why);
    if (!o.error.isEmpty()) {
        log.Write(QStringLiteral("Ошибка в командной строке: ") + o.error);
        RunLog::Console(QStringLiteral("\n") + UsageText());
        return Finish(log, kUsage, QStringLiteral("ошибка в командной строке"));
    }
    if (o.command == Command::Help) {
        RunLog::Console(UsageText());
        return kSuccess;
    }
    log.Write(QStringLiteral("ZELK_AE_install %1").arg(args.join(u' ')));
    if (o.command == Command::Status) return Status(log);
    return RunCommand(o, log);
}

}  // namespace cli
