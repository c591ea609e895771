// The entry point: the single-instance guard, the application with its visual style, the main
// window and the message loop.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QStyleFactory>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/view.h"
#include "catalog/CatalogDb.h"
#include "core/AppState.h"
#include "platform/platform.h"
#include "update/IdFtp.h"

namespace {

const QString kStyleName = QStringLiteral("Sapphire Kamri");

// Message boxes need a screen; on the screenless platforms a message goes to stderr instead.
bool Headless() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void PlainMessage(const QString& text) {
    if (Headless()) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, view::kAppTitle, text, QMessageBox::Ok);
    box.exec();
}

// Applies the named visual style shipped inside the program; reports a missing one and goes on
// with the default look.
void ApplyStyle(QApplication& app, const QString& name) {
    QFile qss(QStringLiteral(":/styles/") + name + QStringLiteral(".qss"));
    if (!qss.open(QIODevice::ReadOnly)) {
        const QString text =
            QStringLiteral("Style '%s' not found").replace(QLatin1String("%s"), name);
        if (Headless()) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
            return;
        }
        QMessageBox box(QMessageBox::Critical, view::kAppTitle, text, QMessageBox::Close);
        box.exec();
        return;
    }
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
    app.setStyleSheet(QString::fromUtf8(qss.readAll()));
}

}  // namespace

int main(int argc, char* argv[]) {
    // A command word runs the command without the window (deployment to many workstations).
    if (cli::IsCommandLine(argc, argv)) return cli::Run(argc, argv);

    // 1-2. One copy per logon session.
    if (platform::AcquireInstanceMutex(cli::kInstanceName) ==
        platform::InstanceGuard::AlreadyRunning) {
        QApplication app(argc, argv);
        PlainMessage(QStringLiteral("Программа уже работает!"));
        return 0;
    }

    // 3. The application, and the component-object runtime for the database engine.
    Q_INIT_RESOURCE(styles);
    platform::InitComponentObjects();
    QApplication app(argc, argv);
    QApplication::setApplicationName(view::kAppTitle);
    // The tool's own files are named relative to its folder: wherever it was started from, it
    // works in its own folder.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    view::ProvideFonts();

    // 5. The visual style, before any window exists.
    ApplyStyle(app, kStyleName);

    // 4, 6. The main window is a top-level window, the one the taskbar shows.
    AppState st;
    catalog::CatalogDb db(st);
    update::IdFtp ftp;
    TForm2 Form2(st, db, &ftp);
    if (Headless()) {
        // No one can answer a box on a screenless platform: messages go to stderr and the file
        // dialogs count as cancelled.
        auto print = [](QWidget*, const QString&, const QString& text) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        };
        Form2.dialogs.message = print;
        Form2.dialogs.error = print;
        Form2.dialogs.openFile = [](QWidget*, const QString&, const QString&) { return QString(); };
    }
    Form2.FormCreate();
    // The update script has taken over: the tool ends now, without its window.
    if (st.handedOff) return 0;

    // 7-8.
    Form2.show();
    app.exec();
    return 0;
}
