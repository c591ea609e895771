// The real window while a command runs: one handler at a time, a progress window that stays
// up, input that is dropped, and a step run on a second thread with the window kept painted.

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include "app/AppSupport.h"
#include "core/AppError.h"
#include "support/TempDir.h"

namespace {

// Runs statements on a SQLite file; the first column of the last one's first row.
QString Sql(const QString& file, const QStringList& statements) {
    QString answer;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), file);
        db.setDatabaseName(file);
        QSqlQuery q(db);
        for (const QString& s : statements) EXPECT_TRUE(db.open() && q.exec(s)) << s.toStdString();
        answer = q.next() ? q.value(0).toString() : QString();
    }
    QSqlDatabase::removeDatabase(file);
    return answer;
}

// A click as the window system delivers it, taken whenever the running command takes events.
void PostClick(QWidget* w) {
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            w, new QMouseEvent(t, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                               Qt::LeftButton, {}));
}

// The window on a catalog holding a row of the maker, its pin-list table and a row of another
// maker, with the tool's install database and menu files beside it.
class BusyWindow : public ::testing::Test {
  protected:
    TempDir tmp;
    QString cwd = QDir::currentPath(), catalogFile = tmp.file("default_cat.mdb");
    TestWindow w;
    TForm2& f = *w.form;

    void SetUp() override {
        const QString group = QStringLiteral("Автоматические выключатели");
        Sql(tmp.file("ZELK_install.mdb"),
            {"create table _FAMILY_DESCRIPTION (DESC text, FAMILY text)",
             "insert into _FAMILY_DESCRIPTION values ('" + group + "', 'CB')"});
        Sql(catalogFile, {"create table CB (CATALOG text, MANUFACTURER text)",
                          "insert into CB values ('QF-1', 'ЗЕЛК'), ('U-1', 'ABB')",
                          "create table [_PINLIST_ЗЕЛК] (MANUFACTURER text)"});
        tmp.write("data/menu.txt", "**M400\r\n");
        tmp.write("ACE_IEC_MENU.DAT", "**M0\r\n");
        tmp.write("ACE_IEC-60617_MENU.DAT", "**M0\r\n");
        w.st.exeDir = w.st.path_mem = w.st.path_support = tmp.path();
        w.st.BindSettings();
        w.st.fstr = catalog::JetConnectionString("zelk_install.mdb");
        ASSERT_TRUE(QDir::setCurrent(tmp.path()));
        w.db.Reconnect(catalogFile);
        f.ListBox2->addItem(group);
        f.show();
    }
    void TearDown() override { QDir::setCurrent(cwd); }
    QProgressDialog* Progress() const { return f.findChild<QProgressDialog*>(); }
};

// A long Clean (slowed by the hook past the moment its progress window shows): the user tries
// to close that window and the main window, presses Esc, clicks "Установить", "..." and "<<";
// a second Clean is even started from inside the first. Only the first Clean runs, its progress
// window stays up, and the main window is painted while a step runs aside.
TEST_F(BusyWindow, ACommandRunsAloneWithItsProgressWindowUp) {
    bool tried = false, stayedUp = true, painted = false;
    QString aside;  // what the progress window showed while the step ran aside
    Qt::HANDLE ranOn = QThread::currentThreadId();
    w.form->beforeStep = [&](const QString&) {
        QProgressDialog* progress = Progress();
        if (tried) {
            stayedUp = stayedUp && progress->isVisible();
            return;
        }
        if (!progress) QThread::msleep(300);  // slow until the progress window shows
        if (!progress || !progress->isVisible()) return;
        tried = true;
        QCoreApplication::postEvent(progress, new QCloseEvent);
        QCoreApplication::postEvent(progress, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
        QCoreApplication::postEvent(&f, new QCloseEvent);
        for (QPushButton* b : {f.Button5, f.Button8, f.Button4}) PostClick(b);
        QCoreApplication::processEvents();  // as the command's next step does
        stayedUp = progress->isVisible() && f.isVisible();
        int paints = 0;
        QTimer look;  // looks while the step runs aside
        look.setSingleShot(true);
        QObject::connect(&look, &QTimer::timeout, [&] {
            aside = progress->maximum() == 0 ? progress->labelText() : QString();
            paints = w.form->paints;
            f.update();
        });
        look.start(100);
        f.RunAside(QStringLiteral("Чистка: сжатие базы изделий"), [&] {
            ranOn = QThread::currentThreadId();
            QThread::msleep(300);
        });
        painted = w.form->paints > paints && paints > 0;
        f.Button6->click();
    };
    // A click made while the closing message is up comes after the handler: dropped as well.
    w.form->dialogs.message = [&](QWidget*, const QString&, const QString& text) {
        w.messages << text;
        PostClick(f.Button5);
    };
    f.Button6->click();
    QCoreApplication::processEvents();

    EXPECT_TRUE(tried && stayedUp && painted);
    EXPECT_EQ(aside, QStringLiteral("Чистка: сжатие базы изделий"));  // with a busy bar
    EXPECT_NE(ranOn, QThread::currentThreadId());
    EXPECT_FALSE(Progress()->isVisible());
    EXPECT_EQ(w.errors.join("\n").toStdString(), "");
    EXPECT_EQ(w.messages, QStringList({"Чистка завершена успешно!"}));
    EXPECT_TRUE(w.dialogStarts.isEmpty() && f.ListBox1Items().size() == 17);
    EXPECT_EQ(Sql(catalogFile, {"pragma integrity_check"}), "ok");
    EXPECT_EQ(Sql(catalogFile, {"select group_concat(CATALOG) from CB"}), "U-1");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // What the step aside raised comes back.
    EXPECT_THROW(f.RunAside("x", [] { throw AppError(QStringLiteral("Диск заполнен")); }),
                 AppError);
}

}  // namespace
