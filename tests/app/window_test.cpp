#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include "app/AppSupport.h"
#include "app/DownloadDialog.h"
#include "core/AppError.h"
#include "support/CurrentDir.h"
#include "support/Groups.h"
#include "support/SqlFile.h"
#include "support/TempDir.h"

namespace {

struct Expected {
    const char* name;
    const char* kind;
    QRect geometry;
    QString text;
    QString family;  // empty: the window's default font
    int px;
    bool bold;
};

QString Text(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    return QString();
}

QStringList ComboItems(QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}

void Select(QListWidget* list, std::initializer_list<int> rows) {
    for (int r : rows) list->item(r)->setSelected(true);
}

int SelectedCount(QListWidget* list) { return int(list->selectedItems().size()); }

void Type(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
    }
}

// A click as the window system delivers it, taken whenever the running command takes events.
void PostClick(QWidget* w) {
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            w, new QMouseEvent(t, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                               Qt::LeftButton, {}));
}

}  // namespace

TEST(MainWindow, ControlsFollowTheLayout) {
    TestWindow w;
    TForm2& f = *w.form;
    f.show();

    EXPECT_EQ(f.windowTitle(),
              QStringLiteral("ЗЕЛК : установка компонентов для AutoCAD Electrical"));
    EXPECT_TRUE(f.isWindow());
    EXPECT_EQ(f.objectName(), "Form2");
    EXPECT_EQ(f.font().family(), "Tahoma");
    EXPECT_EQ(f.font().pixelSize(), 11);

    const QString tahoma = QStringLiteral("Tahoma"), times = QStringLiteral("Times New Roman");
    const Expected table[] = {
        {"Image1", "QLabel", {529, 8, 145, 44}, "", "", 11, false},
        {"Label2",
         "QLabel",
         {19, 71, 165, 19},
         QStringLiteral("Версия программы:"),
         tahoma,
         16,
         true},
        {"ComboBox1", "QComboBox", {191, 71, 78, 27}, "", tahoma, 16, false},
        {"Label4",
         "QLabel",
         {314, 78, 291, 19},
         QStringLiteral("Выберите файл шаблона проекта:"),
         tahoma,
         16,
         true},
        {"Label3",
         "QLabel",
         {37, 104, 148, 19},
         QStringLiteral("Язык программы:"),
         tahoma,
         16,
         true},
        {"ComboBox2", "QComboBox", {191, 104, 78, 27}, "", tahoma, 16, false},
        {"Edit1", "QLineEdit", {314, 104, 217, 27}, "", tahoma, 16, false},
        {"Button7", "QPushButton", {537, 103, 34, 28}, "...", tahoma, 19, false},
        {"Label1",
         "QLabel",
         {8, 185, 330, 19},
         QStringLiteral("Выберите компоненты для установки: "),
         tahoma,
         16,
         true},
        {"ListBox1", "QListWidget", {8, 210, 289, 287}, "", tahoma, 13, false},
        {"Button1", "QPushButton", {313, 251, 57, 25}, ">", tahoma, 19, true},
        {"Button2", "QPushButton", {313, 311, 57, 25}, ">>", tahoma, 19, true},
        {"Button3", "QPushButton", {313, 377, 57, 25}, "<", tahoma, 19, true},
        {"Button4", "QPushButton", {313, 434, 57, 25}, "<<", tahoma, 19, true},
        {"ListBox2", "QListWidget", {384, 210, 288, 287}, "", tahoma, 13, false},
        {"Label5",
         "QLabel",
         {8, 514, 177, 19},
         QStringLiteral("Путь к базе изделий:"),
         tahoma,
         16,
         true},
        {"Edit2", "QLineEdit", {191, 514, 447, 27}, "", tahoma, 16, false},
        {"Button8", "QPushButton", {638, 514, 34, 27}, "...", tahoma, 19, false},
        {"Button9",
         "QPushButton",
         {200, 549, 208, 24},
         QStringLiteral("Ручное обновление"),
         times,
         19,
         false},
        {"Button5",
         "QPushButton",
         {427, 549, 110, 24},
         QStringLiteral("Установить"),
         times,
         19,
         false},
        {"Button6",
         "QPushButton",
         {559, 549, 112, 24},
         QStringLiteral("Почистить"),
         times,
         19,
         false},
        {"Label6",
         "QLabel",
         {12, 140, 173, 19},
         QStringLiteral("Единица измерения:"),
         tahoma,
         16,
         true},
        {"ComboBox3", "QComboBox", {191, 137, 217, 27}, "", tahoma, 16, false},
    };
    const bool tahomaInstalled = QFontInfo(QFont(tahoma)).family() == tahoma;
    for (const Expected& e : table) {
        SCOPED_TRACE(e.name);
        QWidget* c = f.findChild<QWidget*>(QString::fromLatin1(e.name));
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->inherits(e.kind));
        EXPECT_EQ(c->geometry(), e.geometry);
        EXPECT_EQ(Text(c), e.text);
        if (!e.family.isEmpty()) {
            EXPECT_EQ(c->font().family(), e.family);
        }
        EXPECT_EQ(c->font().pixelSize(), e.px);
        EXPECT_EQ(c->font().bold(), e.bold);
        const bool hidden =
            e.name == QLatin1String("Label6") || e.name == QLatin1String("ComboBox3");
        EXPECT_EQ(c->isVisible(), !hidden);
        EXPECT_EQ(c->isEnabled(), e.name != QLatin1String("ComboBox3"));
        // The ink of every caption lies inside its control (measured when Tahoma is there).
        if (tahomaInstalled && e.family == tahoma && !e.text.isEmpty()) {
            EXPECT_LT(QFontMetrics(c->font()).tightBoundingRect(e.text).right(),
                      e.geometry.width());
        }
    }

    // Lists, fields and choosers.
    EXPECT_EQ(f.ListBox1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(f.ListBox2->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(f.ListBox1Items(), kStartOrder);
    EXPECT_TRUE(f.ListBox2Items().isEmpty());
    EXPECT_TRUE(f.Edit1->isReadOnly());
    EXPECT_TRUE(f.Edit2->isReadOnly());
    EXPECT_EQ(ComboItems(f.ComboBox1), QStringList({"2017", "2016"}));
    EXPECT_EQ(ComboItems(f.ComboBox2), QStringList({"rus", "enu"}));
    EXPECT_EQ(ComboItems(f.ComboBox3),
              QStringList({QStringLiteral("метр"), QStringLiteral("дюйм")}));
    for (QComboBox* c : {f.ComboBox1, f.ComboBox2, f.ComboBox3}) EXPECT_TRUE(c->isEditable());
    EXPECT_EQ(f.ComboBox3Text(), "");
    const QPixmap logo = f.Image1->pixmap();
    EXPECT_EQ(logo.size(), QSize(145, 44));

    // Fixed size: 679 x 598 inside, widened only as far as the outer width of 700 needs.
    const int frameWidth = f.frameGeometry().width() - f.width();
    EXPECT_EQ(f.height(), 598);
    EXPECT_EQ(f.width(), std::max(679, 700 - frameWidth));
    EXPECT_GE(f.frameGeometry().width(), 700);
    EXPECT_GE(f.frameGeometry().height(), 580);
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_EQ(TForm2::FormConstrainedResize(QSize(600, 400)), QSize(700, 580));
    EXPECT_EQ(TForm2::FormConstrainedResize(QSize(800, 637)), QSize(800, 637));
    // The status bar spans the bottom edge.
    EXPECT_EQ(f.StatusBar1->geometry(), QRect(0, f.height() - 19, f.width(), 19));
    EXPECT_TRUE(f.StatusBar1->isVisible());
    // Centred on the screen.
    if (QScreen* s = f.screen()) {
        EXPECT_LE((f.geometry().center() - s->availableGeometry().center()).manhattanLength(), 4);
    }

    // Keyboard order, starting on the first list.
    EXPECT_EQ(f.focusWidget(), f.ListBox1);
    const QStringList expectedOrder = {"ListBox1",  "ListBox2", "Button1",   "Button2",
                                       "Button3",   "Button4",  "Button5",   "ComboBox1",
                                       "ComboBox2", "Button6",  "Edit1",     "Button7",
                                       "Edit2",     "Button8",  "ComboBox3", "Button9"};
    QStringList chain;
    QWidget* w0 = f.ListBox1;
    for (QWidget* x = w0; chain.size() < expectedOrder.size(); x = x->nextInFocusChain()) {
        if (expectedOrder.contains(x->objectName()) && !chain.contains(x->objectName()))
            chain << x->objectName();
        if (x->nextInFocusChain() == w0) break;
    }
    EXPECT_EQ(chain, expectedOrder);
    for (QWidget* x : {static_cast<QWidget*>(f.Image1), static_cast<QWidget*>(f.Label1),
                       static_cast<QWidget*>(f.StatusBar1)})
        EXPECT_EQ(x->focusPolicy(), Qt::NoFocus);
}

TEST(MainWindow, GroupTransfersFollowTheirRules) {
    TestWindow w;
    TForm2& f = *w.form;
    // No creation handler has run: the transfer buttons still have a sorted list to use.

    // "<" with nothing selected re-sorts all of ListBox1.
    f.Button3->click();
    EXPECT_EQ(f.ListBox1Items(), kSorted);
    EXPECT_TRUE(f.ListBox2Items().isEmpty());

    // ">>" on the start-up list, then "<<": the sorted order, not the start-up order.
    f.SetListBox1Items(kStartOrder);
    Select(f.ListBox1, {2, 5});
    f.Button2->click();
    EXPECT_TRUE(f.ListBox1Items().isEmpty());
    EXPECT_EQ(f.ListBox2Items(), kSorted);
    EXPECT_EQ(SelectedCount(f.ListBox2), 0);
    f.Button4->click();
    EXPECT_EQ(f.ListBox1Items(), kSorted);
    EXPECT_TRUE(f.ListBox2Items().isEmpty());

    // ">" with groups 17 and 1 selected; the other 15 keep their start-up order.
    f.SetListBox1Items(kStartOrder);
    Select(f.ListBox1, {16, 0});
    f.Button1->click();
    EXPECT_EQ(f.ListBox2Items(), QStringList({QStringLiteral("Автоматические выключатели"),
                                              QStringLiteral("Реле управления")}));
    EXPECT_EQ(f.ListBox1Items(), kStartOrder.mid(1, 15));
    EXPECT_EQ(SelectedCount(f.ListBox1) + SelectedCount(f.ListBox2), 0);

    // ">" with nothing selected moves nothing.
    f.Button1->click();
    EXPECT_EQ(f.ListBox1Items(), kStartOrder.mid(1, 15));
    EXPECT_EQ(f.ListBox2Items().size(), 2);

    // "<" moves the one selected group back and re-sorts all of ListBox1, unmoved groups too.
    f.ListBox2->item(1)->setSelected(true);  // "Реле управления"
    f.Button3->click();
    EXPECT_EQ(f.ListBox2Items(), QStringList({QStringLiteral("Автоматические выключатели")}));
    QStringList back = kSorted;
    back.removeOne(QStringLiteral("Автоматические выключатели"));
    EXPECT_EQ(f.ListBox1Items(), back);
    EXPECT_EQ(SelectedCount(f.ListBox1) + SelectedCount(f.ListBox2), 0);

    // Entries differing only in letter case end as one: the first of the assigned list.
    f.Button4->click();
    f.SetListBox1Items({QStringLiteral("реле"), QStringLiteral("Автомат"), QStringLiteral("РЕЛЕ"),
                        QStringLiteral("автомат")});
    f.Button2->click();
    EXPECT_EQ(f.ListBox2Items(), QStringList({QStringLiteral("Автомат"), QStringLiteral("реле")}));
    f.SetListBox1Items({"beta", "Alpha", "BETA"});
    f.ListBox2->clear();
    f.Button4->click();
    EXPECT_EQ(f.ListBox1Items(), QStringList({"Alpha", "beta"}));
}

TEST(MainWindow, OnlyUserEditsOfTheChoosersRunTheirHandlers) {
    TestWindow w;
    TForm2& f = *w.form;
    f.SetComboBox1Text("2016");
    f.SetComboBox2Text("enu");
    EXPECT_EQ(f.ComboBox1Text(), "2016");
    EXPECT_EQ(f.ComboBox2Text(), "enu");
    EXPECT_TRUE(w.messages.isEmpty());
    EXPECT_TRUE(w.st.year.isEmpty());
    EXPECT_TRUE(w.st.language.isEmpty());
    f.SetEdit2Text("C:\\x.mdb");
    f.SetEdit1Text("C:\\p.wdp");
    EXPECT_EQ(f.Edit2Text(), "C:\\x.mdb");
    EXPECT_EQ(f.Edit1Text(), "C:\\p.wdp");

    // The user types into the version field: the version handler runs with the typed text.
    TempDir dir;
    f.SetExecutableFolder(dir.path());
    w.st.exeDir = dir.path();
    w.st.BindSettings();
    f.ComboBox1->lineEdit()->clear();
    Type(f.ComboBox1->lineEdit(), "2017");
    EXPECT_EQ(f.ComboBox1Text(), "2017");
    EXPECT_EQ(w.st.year, "2017");
    EXPECT_EQ(w.messages.size(), 4);  // one run per edit
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(f.ComboBox1->lineEdit(), &enter);
    EXPECT_EQ(w.messages.size(), 4);  // Enter runs nothing more
    EXPECT_EQ(w.captions.value(0), view::kAppTitle);

    // A choice from the list runs the language handler.
    {
        const QSignalBlocker b(f.ComboBox2);
        f.ComboBox2->setCurrentIndex(0);
    }
    emit f.ComboBox2->textActivated(f.ComboBox2->currentText());
    EXPECT_EQ(w.st.language, "rus");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // the wait cursor is gone again
}

TEST(MainWindow, BoxesDialogsAndStatusBar) {
    TestWindow w;
    TForm2& f = *w.form;
    f.ShowError(QStringLiteral("Нет доступа"));
    f.ShowMessage(QStringLiteral("Готово"));
    EXPECT_EQ(w.errors, QStringList({QStringLiteral("Нет доступа.")}));
    EXPECT_EQ(w.messages, QStringList({QStringLiteral("Готово")}));
    EXPECT_EQ(w.captions, QStringList({view::kAppTitle, view::kAppTitle}));

    f.SetStatusText(QStringLiteral("   Дата обновления: 01.01.2024, "));
    EXPECT_EQ(f.StatusText(), QStringLiteral("   Дата обновления: 01.01.2024, "));

    // Filters in the "description|pattern" form become Qt's; a pattern-less entry is dropped.
    EXPECT_EQ(view::QtFileFilter(QStringLiteral("Файл проекта wdp|*.wdp")),
              QStringLiteral("Файл проекта wdp (*.wdp)"));
    EXPECT_EQ(
        view::QtFileFilter(QStringLiteral("Файлы базы данных изделий|*.mdb|Microsoft Access")),
        QStringLiteral("Файлы базы данных изделий (*.mdb)"));
    EXPECT_EQ(view::QtFileFilter("Bases|*.mdb;*.accdb|All|*.*"),
              "Bases (*.mdb *.accdb);;All (*.*)");

    // Each dialog keeps its last confirmed file; a cancel keeps it too.
    EXPECT_EQ(f.OpenDialogFileName(1), "");
    w.fileAnswers = {"/data/a.wdp", "", "/data/b.mdb"};
    EXPECT_TRUE(f.ExecuteOpenDialog(1, QStringLiteral("Файл проекта wdp|*.wdp")));
    EXPECT_EQ(w.dialogFilters.value(0), QStringLiteral("Файл проекта wdp (*.wdp)"));
    EXPECT_FALSE(f.ExecuteOpenDialog(1, QStringLiteral("Файл проекта wdp|*.wdp")));
    // The names come back in the system's own separators.
    const QString a = QDir::toNativeSeparators("/data/a.wdp");
    EXPECT_EQ(f.OpenDialogFileName(1), a);
    EXPECT_EQ(w.dialogStarts.value(1), a);  // the dialog opens on its last file
    EXPECT_TRUE(f.ExecuteOpenDialog(2, "x|*.mdb"));
    EXPECT_EQ(f.OpenDialogFileName(2), QDir::toNativeSeparators("/data/b.mdb"));
    EXPECT_EQ(f.OpenDialogFileName(1), a);

    // Once the update script has taken over, no box holds the ending tool.
    w.st.handedOff = true;
    f.ShowError(QStringLiteral("Ошибка"));
    f.ShowMessage(QStringLiteral("Сообщение"));
    EXPECT_EQ(w.errors.size() + w.messages.size(), 2);
}

// The closing message's details: behind "Подробнее", which reads "Скрыть" while they show, and
// in a field the box holds whole (its last lines can be scrolled to and read).
TEST(MainWindow, DetailsShowWholeInTheirBox) {
    TestApp();
    QStringList lines;
    for (int i = 0; i < 40; ++i)
        lines << QStringLiteral(
                     "- \"C:/Users/Пользователь/AppData/Roaming/Autodesk/AutoCAD "
                     "Electrical 2017/R21.0/rus/Support/Images\": скопировано %1")
                     .arg(i);
    QMessageBox box(QMessageBox::NoIcon, view::kAppTitle, QStringLiteral("Готово"),
                    QMessageBox::Ok);
    view::AddDetails(box, lines.join(u'\n'));
    QAbstractButton* more = nullptr;
    for (QAbstractButton* b : box.buttons())
        if (box.buttonRole(b) == QMessageBox::ActionRole) more = b;
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->text(), QStringLiteral("Подробнее"));
    box.show();
    more->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(more->text(), QStringLiteral("Скрыть"));
    const QTextEdit* field = box.findChild<QTextEdit*>();
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isVisible());
    const QRect inBox(field->mapTo(&box, QPoint(0, 0)), field->size());
    EXPECT_TRUE(box.rect().contains(inBox))
        << "field " << inBox.y() << "+" << inBox.height() << " in a box " << box.height();
    EXPECT_GE(field->width(), 520);
    box.close();
}

// The progress window of the update download: what it shows, and its cancel.
TEST(MainWindow, DownloadDialogShowsProgressAndCancels) {
    TestWindow w;
    const auto dec = [](double v) { return QLocale::system().toString(v, 'f', 1); };
    struct Row {
        qint64 done, total;
        QString bytes;
        int maximum, value;  // of the bar; 0 and -1: busy, the total unknown
    };
    const Row rows[] = {
        {-1, -1, QString(), 0, -1},
        {512, -1, QStringLiteral("Получено 512 Б"), 0, -1},
        {1536, 4096, "Получено " + dec(1.5) + " КБ из " + dec(4.0) + " КБ", 1000, 375},
        {3565158, -1, "Получено " + dec(3.4) + " МБ", 0, -1},
        {0, 0, QStringLiteral("Получено 0 Б из 0 Б"), 1, 1},
    };
    std::unique_ptr<IProgressWindow> opened = w.form->OpenProgress();
    auto* window = dynamic_cast<view::DownloadDialog*>(opened.get());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowModality(), Qt::ApplicationModal);
    for (const Row& r : rows) {
        window->ShowProgress(QStringLiteral("update.cmd (4 из 5)"), r.done, r.total);
        EXPECT_EQ(window->FileLabel->text(), QStringLiteral("update.cmd (4 из 5)"));
        EXPECT_EQ(window->BytesLabel->text(), r.bytes) << r.done;
        EXPECT_EQ(window->Bar->maximum(), r.maximum) << r.done;
        EXPECT_EQ(window->Bar->value(), r.value) << r.done;
    }
    EXPECT_FALSE(window->CancelRequested());
    EXPECT_EQ(window->CancelButton->text(), QStringLiteral("Отмена"));
    window->CancelButton->click();
    EXPECT_TRUE(window->CancelRequested());
    opened.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Closing the window (or Esc) cancels too; the window stays until the download has ended.
    opened = w.form->OpenProgress();
    window = static_cast<view::DownloadDialog*>(opened.get());
    QCloseEvent closing;  // as the window system sends it for the title bar's close button
    QApplication::sendEvent(window, &closing);
    EXPECT_FALSE(closing.isAccepted());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->CancelRequested());
    opened = w.form->OpenProgress();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(static_cast<view::DownloadDialog*>(opened.get()), &esc);
    EXPECT_TRUE(opened->CancelRequested());
}

TEST(MainWindow, CreationHandlerBindsSettingsAndListsBeforeLaterSteps) {
    TestWindow w;
    TForm2& f = *w.form;
    TempDir dir;
    const QByteArray oldProfile = qgetenv("USERPROFILE"), oldPublic = qgetenv("PUBLIC");
    qputenv("USERPROFILE", dir.mkdir("profile").toLocal8Bit());
    qputenv("PUBLIC", dir.mkdir("public").toLocal8Bit());
    dir.write("tool/config.ini",
              "[BASE]\r\nPATH=" + dir.file("missing.mdb").toLocal8Bit() + "\r\n");
    f.SetExecutableFolder(dir.file("tool"));
    // The probe goes to a closed local port, so the check ends at once without a connection.
    f.FormCreate(update::ProbeTarget{QStringLiteral("127.0.0.1"), 1, 200});
    qputenv("USERPROFILE", oldProfile);
    qputenv("PUBLIC", oldPublic);

    EXPECT_TRUE(w.st.exeDir.endsWith(QLatin1Char('/')) || w.st.exeDir.endsWith(QLatin1Char('\\')));
    ASSERT_TRUE(w.st.Finifile);
    EXPECT_EQ(w.st.Finifile->ReadString("BASE", "PATH"), dir.file("missing.mdb"));
    ASSERT_TRUE(w.st.sort.has_value());
    ASSERT_TRUE(w.st.tablelist.has_value());
    EXPECT_EQ(*w.st.tablelist, kStartOrder);
    EXPECT_FALSE(f.StatusText().isEmpty());
    EXPECT_EQ(f.Edit2Text(), "");  // a remembered catalog that is gone is not restored
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    f.Button2->click();
    EXPECT_EQ(f.ListBox2Items(), kSorted);
}

// The window on a catalog holding a row of the maker, its pin-list table and a row of another
// maker, with the tool's install database and menu files beside it.
class BusyWindow : public ::testing::Test {
  protected:
    TempDir tmp;
    CurrentDirGuard cwd;
    QString catalogFile = tmp.file("default_cat.mdb");
    TestWindow w;
    TForm2& f = *w.form;

    void SetUp() override {
        const QString group = QStringLiteral("Автоматические выключатели");
        RawSql(tmp.file("ZELK_install.mdb"),
               {"create table _FAMILY_DESCRIPTION (DESC text, FAMILY text)",
                "insert into _FAMILY_DESCRIPTION values ('" + group + "', 'CB')"});
        RawSql(catalogFile, {"create table CB (CATALOG text, MANUFACTURER text)",
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
    w.form->beforeStep = [&] {
        QProgressDialog* progress = Progress();
        if (tried) return void(stayedUp = stayedUp && progress->isVisible());
        if (!progress) QThread::msleep(300);  // slow until the progress window shows
        if (!progress || !progress->isVisible()) return;
        tried = true;
        QCoreApplication::postEvent(progress, new QCloseEvent);
        QCoreApplication::postEvent(progress, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
        QCoreApplication::postEvent(&f, new QCloseEvent);
        for (QPushButton* b : {f.Button5, f.Button8, f.Button4}) PostClick(b);
        QCoreApplication::processEvents();  // as the command's next step does
        stayedUp = progress->isVisible() && f.isVisible();
        int paints = -1;  // when the look was taken
        QTimer look;      // looks while the step runs aside
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
        // (offscreen under Wine the window is never exposed, so nothing is painted at all)
        painted = paints >= 0 && (w.form->paints > paints || !f.windowHandle()->isExposed());
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
    EXPECT_EQ(RawSql(catalogFile, {"select group_concat(CATALOG) from CB"}), "U-1");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // What the step aside raised comes back.
    EXPECT_THROW(f.RunAside("x", [] { throw AppError(QStringLiteral("Диск заполнен")); }),
                 AppError);
}
