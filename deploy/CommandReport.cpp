#include "deploy/CommandReport.h"

#include <QFileInfo>

#include "catalog/CatalogDb.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/FileSystem.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace deploy {

namespace {

// The success text when the command did everything, otherwise the list of what it could not.
QString ClosingText(const CommandReport& r) {
    if (r.shortfall.isEmpty() && r.nothingToDo)
        return QStringLiteral("Установка не требуется: всё уже на месте, ничего не изменено");
    if (r.shortfall.isEmpty())
        return r.install ? QStringLiteral("Установка произведена успешно")
                         : QStringLiteral("Чистка завершена успешно!");
    return (r.install ? QStringLiteral("Установка выполнена не полностью")
                      : QStringLiteral("Чистка выполнена не полностью")) +
           QStringLiteral(":\n- ") + r.shortfall.join(QStringLiteral("\n- "));
}

QString RowLine(const CommandReport& r, const catalog::TableChange& c) {
    QString where = c.table == catalog::kPinList ? QStringLiteral("списки выводов %1").arg(c.table)
                                                 : QStringLiteral("семейство %1").arg(c.table);
    const QStringList names = GroupsOf(c.table, r.groups, r.codes);
    if (!names.isEmpty())
        where += QStringLiteral(" («%1»)").arg(names.join(QStringLiteral("», «")));
    if (r.nothingToDo)
        return QStringLiteral("- %1: строк ЗЕЛК на месте: %2").arg(where).arg(c.added);
    QString what = QStringLiteral("удалено строк ЗЕЛК: %1").arg(c.removed);
    if (r.install) what += QStringLiteral(", добавлено строк: %1").arg(c.added);
    if (c.dropped) what += QStringLiteral(", таблица удалена");
    return QStringLiteral("- %1: %2").arg(where, what);
}

QString FolderLine(const CommandReport& r, const FolderReport& f) {
    QString folder = fs::FullPath(f.folder);
    while (folder.size() > 3 && (folder.endsWith(u'/') || folder.endsWith(u'\\'))) folder.chop(1);
    const QString where = f.folder.isEmpty() ? QStringLiteral("(папка не задана)")
                                             : QStringLiteral("\"%1\"").arg(folder);
    if (r.nothingToDo) return QStringLiteral("- %1: на месте %2").arg(where).arg(f.skipped);
    if (r.install)
        return QStringLiteral("- %1: скопировано %2, пропущено (уже были) %3, не скопировано %4")
            .arg(where)
            .arg(f.copied)
            .arg(f.skipped)
            .arg(f.failed);
    return QStringLiteral("- %1: удалено %2, не удалено %3")
        .arg(where)
        .arg(f.removed)
        .arg(f.failed);
}

// The details of a closing message: what the command changed in the catalog, in the folders
// and in the menu files.
QString Details(const CommandReport& r, const QString& catalogFile) {
    QStringList out{QStringLiteral("База изделий \"%1\":").arg(catalogFile)};
    if (r.rows.isEmpty())
        out << (r.nothingToDo ? QStringLiteral("- строки ЗЕЛК выбранных групп на месте: файл базы "
                                               "не изменялся после установки")
                              : QStringLiteral("- строки не изменялись"));
    for (const catalog::TableChange& c : r.rows) out << RowLine(r, c);
    out << QStringLiteral("Файлы:");
    for (const FolderReport& f : r.folders) out << FolderLine(r, f);
    out << QStringLiteral("Меню:");
    for (const MenuFileLines& m : r.menus)
        if (r.nothingToDo)
            out << QStringLiteral("- \"%1\": пункт и подменю ЗЕЛК на месте")
                       .arg(fs::FullPath(m.file));
        else
            out << QStringLiteral("- \"%1\": %2 строк: %3")
                       .arg(fs::FullPath(m.file),
                            r.install ? QStringLiteral("добавлено") : QStringLiteral("удалено"))
                       .arg(r.install ? m.after - m.before : m.before - m.after);
    return out.join(u'\n');
}

}  // namespace

QString Names(const QStringList& names) {
    constexpr qsizetype kShown = 5;
    QString out = names.mid(0, kShown).join(QStringLiteral(", "));
    if (names.size() > kShown) out += QStringLiteral(" и ещё %1").arg(names.size() - kShown);
    return out;
}

void Conclude(Context& ctx, const CommandReport& report) {
    const QString catalogFile = ctx.db.CatalogFile();
    const AppState& st = ctx.st;
    QStringList folders{QFileInfo(fs::Native(catalogFile)).absolutePath(),
                        st.path_support,
                        st.path_images,
                        st.path_library,
                        QStringLiteral("data"),
                        st.exeDir};
    if (!st.userDir.isEmpty()) folders << st.userDir;
    fs::SyncFolders(folders);
    Tell(ctx, report);
}

void Tell(Context& ctx, const CommandReport& report) {
    const QString catalogFile = ctx.db.CatalogFile();
    ctx.form.ShowMessageWithDetails(ClosingText(report), Details(report, catalogFile));
}

QStringList GroupsOf(const QString& table, const QStringList& groups, const QStringList& codes) {
    QStringList names;
    for (qsizetype i = 0; i < codes.size() && i < groups.size(); ++i)
        if (codes[i].compare(table, Qt::CaseInsensitive) == 0 && !names.contains(groups[i]))
            names << groups[i];
    return names;
}

QString WhereInCatalog(const QString& table, const QStringList& groups, const QStringList& codes) {
    if (table.isEmpty() || table.contains(u' ')) return table;  // empty, or a step's own name
    if (table.compare(catalog::kPinList, Qt::CaseInsensitive) == 0)
        return QStringLiteral("списки выводов (таблица %1)").arg(catalog::kPinList);
    const QStringList names = GroupsOf(table, groups, codes);
    if (names.isEmpty()) return QStringLiteral("семейство %1").arg(table);
    return QStringLiteral("%1 «%2» (семейство %3)")
        .arg(names.size() == 1 ? QStringLiteral("группа") : QStringLiteral("группы"),
             names.join(QStringLiteral("», «")), table);
}

QString CatalogFailure(catalog::CatalogDb& db, const QString& stopped, const QString& where,
                       const QString& engineText, const QString& state) {
    QString file;
    try {
        file = db.CatalogFile();
    } catch (const AppError&) {
    }
    QString text = stopped;
    if (!where.isEmpty()) text += QStringLiteral(" на шаге: ") + where;
    text += QStringLiteral(".\nБаза изделий: \"%1\".\nОшибка базы данных: %2\n%3")
                .arg(file, engineText.trimmed(), state);
    if (file.isEmpty()) return text;
    const QString backup = db.BackupFile();
    if (!fs::FileExists(backup))
        return text + QStringLiteral("\nРезервной копии базы изделий нет.");
    return text + (db.BackedUpThisRun()
                       ? QStringLiteral("\nРезервная копия базы изделий (какой она была до "
                                        "первого изменения в этом сеансе): \"%1\".")
                       : QStringLiteral("\nРезервная копия базы изделий: \"%1\"."))
                      .arg(backup);
}

void FailWith(const QString& message, const QStringList& shortfall) {
    if (shortfall.isEmpty()) throw AppError(message);
    throw AppError(message + QStringLiteral("\n\nДо этой ошибки команда не смогла:\n- ") +
                   shortfall.join(QStringLiteral("\n- ")));
}

}  // namespace deploy
