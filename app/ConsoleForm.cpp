#include "app/ConsoleForm.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include "app/ComponentGroups.h"
#include "core/AppError.h"
#include "core/Worker.h"
#include "platform/platform.h"
#include "platform/qt_bridge.h"

namespace cli {

namespace {

#ifdef Q_OS_WIN
const char kLineEnd[] = "\r\n";
#else
const char kLineEnd[] = "\n";
#endif

// A download tells its bytes many times a second: the log takes one such text a second.
bool IsDownloadCount(const QString& status) {
    return status.startsWith(QStringLiteral("Загрузка "));
}

}  // namespace

bool RunLog::Open(const QString& file, QString* why) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    file_.setFileName(file);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (why) *why = file_.errorString();
        return false;
    }
    // A new log starts with the byte-order mark, so that any editor reads it as UTF-8.
    if (file_.size() == 0) file_.write("\xEF\xBB\xBF");
    file_.flush();
    return true;
}

void RunLog::Write(const QString& text) {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QString console;
    for (const QString& line : text.split(u'\n')) {
        const QString clean = QString(line).remove(u'\r');
        if (file_.isOpen()) file_.write((stamp + QLatin1Char(' ') + clean).toUtf8() + kLineEnd);
        console += clean + QLatin1Char('\n');
    }
    if (file_.isOpen()) file_.flush();
    Console(console);
}

void RunLog::Console(const QString& text) {
    QString out = text;
#ifdef Q_OS_WIN
    out.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
#endif
    platform::PrintToConsole(platform::ToU16(out));
}

ConsoleForm::ConsoleForm(RunLog& log) : log_(log), listBox1_(view::kComponentGroups) {}

void ConsoleForm::AnswerOpenDialog(int dialog, const QString& file) {
    if (dialog == 1 || dialog == 2) answer_[dialog - 1] = file;
}

namespace {

// A text that repeats is shown again once a second at most.
bool Due(const QElapsedTimer& last) { return !last.isValid() || last.elapsed() >= 1000; }

}  // namespace

void ConsoleForm::SetStatusText(const QString& text) {
    const bool changed = text != status_;
    status_ = text;
    if (!changed || text.trimmed().isEmpty()) return;
    if (IsDownloadCount(text) && !Due(statusShown_)) return;
    statusShown_.start();
    log_.Write(QStringLiteral("Строка состояния: ") + text.trimmed());
}

void ConsoleForm::ShowMessage(const QString& text) {
    log_.Write(QStringLiteral("Сообщение: ") + text);
}

void ConsoleForm::ShowError(const QString& message) {
    errors_ << message;
    log_.Write(QStringLiteral("Ошибка: ") + ErrorBoxText(message));
}

void ConsoleForm::ShowMessageWithDetails(const QString& text, const QString& details) {
    ShowMessage(text);
    if (!details.isEmpty()) log_.Write(QStringLiteral("Подробности:\n") + details);
}

// As the window does: nothing for a command that ends within half a second; then each new step
// at once, and the same step (a copy's percentage) once a second.
void ConsoleForm::ShowProgress(const QString& text, int step, int steps) {
    if (!command_.isValid() || command_.elapsed() < 500 || text == lastProgress_) return;
    if (step == lastStep_ && !Due(progressShown_)) return;
    lastProgress_ = text;
    lastStep_ = step;
    progressShown_.start();
    log_.Write(steps > 0 ? QStringLiteral("Ход: %1 (шаг %2 из %3)").arg(text).arg(step).arg(steps)
                         : QStringLiteral("Ход: ") + text);
}

// The work runs on a worker while this thread tells, once a second, that it still runs.
void ConsoleForm::RunAside(const QString& text, const std::function<void()>& work) {
    ShowProgress(text, lastStep_ + 1, 0);
    QElapsedTimer running;
    running.start();
    Worker<> worker(work);
    while (!worker.WaitFor(std::chrono::milliseconds(1000)))
        if (command_.isValid() && command_.elapsed() >= 500)
            RunLog::Console(
                QStringLiteral("  … %1 (%2 с)\n").arg(text).arg(running.elapsed() / 1000));
    worker.Get();
}

bool ConsoleForm::ExecuteOpenDialog(int dialog, const QString&) {
    if (dialog != 1 && dialog != 2) return false;
    const QString chosen = std::exchange(answer_[dialog - 1], QString());
    if (chosen.isEmpty()) return false;
    fileName_[dialog - 1] = chosen;
    return true;
}

QString ConsoleForm::OpenDialogFileName(int dialog) const {
    return dialog == 1 || dialog == 2 ? fileName_[dialog - 1] : QString();
}

}  // namespace cli
