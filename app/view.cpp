#include "app/view.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFont>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QProgressDialog>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QTextEdit>
#include <algorithm>
#include <chrono>
#include <iterator>

#include "app/ComponentGroups.h"
#include "app/DownloadDialog.h"
#include "app/GroupTransfer.h"
#include "app/StartUp.h"
#include "core/AppError.h"
#include "core/Worker.h"
#include "deploy/Clean.h"
#include "deploy/Install.h"
#include "platform/platform.h"
#include "state/ProjectTemplate.h"
#include "state/Selection.h"
#include "update/Update.h"

namespace {

constexpr int kClientWidth = 679;
constexpr int kClientHeight = 598;
constexpr int kMinOuterWidth = 700;
constexpr int kMinOuterHeight = 580;
constexpr int kStatusBarHeight = 19;
// A command shows its progress window once it has run this long.
constexpr int kProgressAfterMs = 500;
// How often the window is painted while a step runs aside.
constexpr std::chrono::milliseconds kPaintEvery{20};

const QString kCaption = QStringLiteral("ЗЕЛК : установка компонентов для AutoCAD Electrical");

QFont PixelFont(const QString& family, int px, bool bold = false) {
    QFont f(family);
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}
QFont Tahoma(int px, bool bold = false) { return PixelFont(QStringLiteral("Tahoma"), px, bold); }
QFont TimesNewRoman(int px) { return PixelFont(QStringLiteral("Times New Roman"), px); }

template <class W>
W* Place(QWidget* parent, const char* name, int x, int y, int w, int h) {
    W* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int w, int h,
                  const QString& text) {
    QLabel* label = Place<QLabel>(parent, name, x, y, w, h);
    label->setText(text);
    label->setFont(Tahoma(16, true));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int x, int y, int w, int h,
                     const QStringList& items) {
    QComboBox* combo = Place<QComboBox>(parent, name, x, y, w, h);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);  // typed text never becomes an item
    combo->setCompleter(nullptr);                 // the field holds what the user typed
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setEditText(QString());
    combo->setFont(Tahoma(16));
    return combo;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w, int h) {
    QLineEdit* edit = Place<QLineEdit>(parent, name, x, y, w, h);
    edit->setReadOnly(true);
    edit->setFont(Tahoma(16));
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, int x, int y, int w, int h,
                        const QString& text, const QFont& font) {
    QPushButton* button = Place<QPushButton>(parent, name, x, y, w, h);
    button->setText(text);
    button->setFont(font);
    button->setAutoDefault(false);
    return button;
}

QStringList Items(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

void Fill(QListWidget* list, const QStringList& items) {
    list->clear();
    list->addItems(items);
}

// The wait cursor while a handler runs; modal boxes and dialogs put the arrow back meanwhile.
class CursorOverride {
  public:
    explicit CursorOverride(Qt::CursorShape shape) { QApplication::setOverrideCursor(shape); }
    ~CursorOverride() { QApplication::restoreOverrideCursor(); }
    CursorOverride(const CursorOverride&) = delete;
    CursorOverride& operator=(const CursorOverride&) = delete;
};

}  // namespace

namespace view {

QString QtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(u';', Qt::SkipEmptyParts))
            if (!p.trimmed().isEmpty()) patterns << p.trimmed();
        if (patterns.isEmpty()) continue;
        const QString description = parts[i].trimmed();
        entries << (description.isEmpty()
                        ? patterns.join(u' ')
                        : description + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    return entries.join(QStringLiteral(";;"));
}

void ProvideFonts() {
#if !defined(Q_OS_WIN)
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive)) {
        const QDir wine(QStringLiteral("/usr/share/wine/fonts"));
        for (const QString& file : wine.entryList({QStringLiteral("tahoma*.ttf")}, QDir::Files))
            QFontDatabase::addApplicationFont(wine.filePath(file));
    }
    if (!QFontDatabase::families().contains(QStringLiteral("Times New Roman"), Qt::CaseInsensitive))
        QFont::insertSubstitution(QStringLiteral("Times New Roman"),
                                  QStringLiteral("Liberation Serif"));
#endif
}

QPixmap MakerLogo() {
    QPixmap logo(145, 44);
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, 44);
    bg.setColorAt(0.0, QColor(0x3a, 0x5f, 0x86));
    bg.setColorAt(1.0, QColor(0x1f, 0x3a, 0x58));
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0.5, 0.5, 144, 43), 6, 6);
    p.fillPath(frame, bg);
    p.setPen(QPen(QColor(0x9d, 0xb8, 0xd3), 1));
    p.drawPath(frame);
    // A lightning bolt in a circle: the mark before the name.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf2, 0xf5, 0xf8));
    p.drawEllipse(QPointF(22, 22), 15, 15);
    const QPointF bolt[] = {{25, 9}, {14, 24}, {21, 24}, {18, 35}, {30, 19}, {23, 19}, {27, 9}};
    p.setBrush(QColor(0xe8, 0xa3, 0x17));
    p.drawPolygon(bolt, int(std::size(bolt)));
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(26);
    f.setBold(true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    p.setFont(f);
    p.setPen(QColor(0xf2, 0xf5, 0xf8));
    p.drawText(QRectF(42, 0, 100, 44), Qt::AlignCenter, QStringLiteral("ЗЕЛК"));
    return logo;
}

void AddDetails(QMessageBox& box, const QString& details) {
    box.setDetailedText(details);
    // Wide enough for a path on one line. Its height is fixed: the box works out its own height
    // when the details show from the field's least height, and a field that may grow beyond
    // that would be cut off at the box's lower edge.
    if (QTextEdit* field = box.findChild<QTextEdit*>()) {
        field->setMinimumWidth(520);
        field->setFixedHeight(200);
    }
    for (QAbstractButton* b : box.buttons()) {
        if (box.buttonRole(b) != QMessageBox::ActionRole) continue;
        b->setText(QStringLiteral("Подробнее"));
        // The box names the button anew on each click; the Russian name follows it.
        QObject::connect(b, &QAbstractButton::clicked, &box, [b, shown = false]() mutable {
            shown = !shown;
            QMetaObject::invokeMethod(
                b,
                [b, shown] {
                    b->setText(shown ? QStringLiteral("Скрыть") : QStringLiteral("Подробнее"));
                },
                Qt::QueuedConnection);
        });
    }
}

}  // namespace view

TForm2::TForm2(AppState& st, catalog::CatalogDb& db, update::IdFtp* ftp, QWidget* parent)
    : QWidget(parent), st_(st), ctx_{st, *this, db, ftp, {}} {
    ctx_.poupdate = [this] { update::poupdate(ctx_); };
    exeFolder_ = QCoreApplication::applicationDirPath();

    dialogs.message = [this](QWidget* owner, const QString& caption, const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
        // What the command changed, behind "Подробнее".
        if (!messageDetails_.isEmpty()) view::AddDetails(box, messageDetails_);
        box.exec();
    };
    dialogs.error = [](QWidget* owner, const QString& caption, const QString& text) {
        QMessageBox::critical(owner, caption, text, QMessageBox::Ok);
    };
    dialogs.openFile = [](QWidget* owner, const QString& startFile, const QString& filter) {
        return QFileDialog::getOpenFileName(owner, QStringLiteral("Открыть"), startFile, filter);
    };

    setObjectName(QStringLiteral("Form2"));
    // Title bar with the system menu, minimise, maximise and close.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(kCaption);
    setFont(Tahoma(11));
    setFixedSize(kClientWidth, kClientHeight);
    QPixmap icon(32, 32);
    icon.fill(Qt::transparent);
    {
        QPainter p(&icon);
        p.drawPixmap(0, 0,
                     view::MakerLogo()
                         .copy(3, 3, 38, 38)
                         .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    setWindowIcon(icon);

    CreateControls();
    WireEvents();
}

TForm2::~TForm2() = default;

void TForm2::CreateControls() {
    Image1 = Place<QLabel>(this, "Image1", 529, 8, 145, 44);
    Image1->setPixmap(view::MakerLogo());

    Label2 = MakeLabel(this, "Label2", 19, 71, 165, 19, QStringLiteral("Версия программы:"));
    ComboBox1 = MakeCombo(this, "ComboBox1", 191, 71, 78, 27, {"2017", "2016"});
    Label4 = MakeLabel(this, "Label4", 314, 78, 291, 19,
                       QStringLiteral("Выберите файл шаблона проекта:"));
    Label3 = MakeLabel(this, "Label3", 37, 104, 148, 19, QStringLiteral("Язык программы:"));
    ComboBox2 = MakeCombo(this, "ComboBox2", 191, 104, 78, 27, {"rus", "enu"});
    Edit1 = MakeEdit(this, "Edit1", 314, 104, 217, 27);
    Button7 = MakeButton(this, "Button7", 537, 103, 34, 28, QStringLiteral("..."), Tahoma(19));
    Label1 = MakeLabel(this, "Label1", 8, 185, 330, 19,
                       QStringLiteral("Выберите компоненты для установки: "));

    ListBox1 = Place<QListWidget>(this, "ListBox1", 8, 210, 289, 287);
    ListBox1->setFont(Tahoma(13));
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->addItems(view::kComponentGroups);

    Button1 = MakeButton(this, "Button1", 313, 251, 57, 25, QStringLiteral(">"), Tahoma(19, true));
    Button2 = MakeButton(this, "Button2", 313, 311, 57, 25, QStringLiteral(">>"), Tahoma(19, true));
    Button3 = MakeButton(this, "Button3", 313, 377, 57, 25, QStringLiteral("<"), Tahoma(19, true));
    Button4 = MakeButton(this, "Button4", 313, 434, 57, 25, QStringLiteral("<<"), Tahoma(19, true));

    ListBox2 = Place<QListWidget>(this, "ListBox2", 384, 210, 288, 287);
    ListBox2->setFont(Tahoma(13));
    ListBox2->setSelectionMode(QAbstractItemView::SingleSelection);

    Label5 = MakeLabel(this, "Label5", 8, 514, 177, 19, QStringLiteral("Путь к базе изделий:"));
    Edit2 = MakeEdit(this, "Edit2", 191, 514, 447, 27);
    Button8 = MakeButton(this, "Button8", 638, 514, 34, 27, QStringLiteral("..."), Tahoma(19));
    Button9 = MakeButton(this, "Button9", 200, 549, 208, 24, QStringLiteral("Ручное обновление"),
                         TimesNewRoman(19));
    Button5 = MakeButton(this, "Button5", 427, 549, 110, 24, QStringLiteral("Установить"),
                         TimesNewRoman(19));
    Button6 = MakeButton(this, "Button6", 559, 549, 112, 24, QStringLiteral("Почистить"),
                         TimesNewRoman(19));

    StatusBar1 = Place<QLabel>(this, "StatusBar1", 0, kClientHeight - kStatusBarHeight,
                               kClientWidth, kStatusBarHeight);
    StatusBar1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StatusBar1->setTextFormat(Qt::PlainText);

    // Present but never shown or enabled: the unit of measurement and its chooser.
    Label6 = MakeLabel(this, "Label6", 12, 140, 173, 19, QStringLiteral("Единица измерения:"));
    Label6->hide();
    ComboBox3 = MakeCombo(this, "ComboBox3", 191, 137, 217, 27,
                          {QStringLiteral("метр"), QStringLiteral("дюйм")});
    ComboBox3->setEnabled(false);
    ComboBox3->hide();

    for (QLabel* label : {Image1, Label1, Label2, Label3, Label4, Label5, Label6, StatusBar1})
        label->setFocusPolicy(Qt::NoFocus);

    // Keyboard order.
    QWidget* const order[] = {ListBox1, ListBox2,  Button1,   Button2, Button3, Button4,
                              Button5,  ComboBox1, ComboBox2, Button6, Edit1,   Button7,
                              Edit2,    Button8,   ComboBox3, Button9};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
    ListBox1->setFocus();
}

void TForm2::WireEvents() {
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TForm2::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm2::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &TForm2::Button7Click);
    connect(Button8, &QPushButton::clicked, this, &TForm2::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &TForm2::Button9Click);
    // Only what the user does runs the change handlers: a choice from the list, or an edit of
    // the typed text. Text set from code emits neither.
    connect(ComboBox1, &QComboBox::textActivated, this, &TForm2::ComboBox1Change);
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, &TForm2::ComboBox1Change);
    connect(ComboBox2, &QComboBox::textActivated, this, &TForm2::ComboBox2Change);
    connect(ComboBox2->lineEdit(), &QLineEdit::textEdited, this, &TForm2::ComboBox2Change);
    // Enter in the typed text would pick the matching item a second time; the text has already
    // been handled as it was typed.
    ComboBox1->lineEdit()->installEventFilter(this);
    ComboBox2->lineEdit()->installEventFilter(this);
}

void TForm2::FormCreate(const update::ProbeTarget& probe) {
    CursorOverride wait(Qt::WaitCursor);
    view::StartUp(ctx_, exeFolder_, true, probe);
}

void TForm2::ApplyWindowsFrame() {
    // Qt gives a window of fixed size no maximise box; the window has one.
    if (QGuiApplication::platformName() == QLatin1String("windows"))
        platform::ShowFixedFrameWithMaximise(quintptr(winId()));
}

QSize TForm2::FormConstrainedResize(const QSize& outer) {
    return outer.expandedTo(QSize(kMinOuterWidth, kMinOuterHeight));
}

void TForm2::ApplySizeConstraint() {
    // The client area is 679 x 598; when the window's frame leaves the outer size below the
    // minimum, the client area grows by the difference.
    QSize frame = frameGeometry().size() - geometry().size();
    frame = frame.expandedTo(QSize(0, 0));
    const QSize client = FormConstrainedResize(QSize(kClientWidth, kClientHeight) + frame) - frame;
    if (client != size()) setFixedSize(client);
}

bool TForm2::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::Show:
            if (!centred_) {
                centred_ = true;
                ApplyWindowsFrame();
                ApplySizeConstraint();
                if (QScreen* s = screen()) {
                    const QRect area = s->availableGeometry();
                    move(area.center() - QPoint(width() / 2, height() / 2));
                }
            }
            break;
        case QEvent::Move:
        case QEvent::WindowStateChange:
            // The frame is known only once the window system has decorated the window.
            ApplySizeConstraint();
            break;
        default:
            break;
    }
    return QWidget::event(e);
}

bool TForm2::eventFilter(QObject* watched, QEvent* e) {
    if (busy_ > 0 && DropsInput(watched, e)) {
        e->ignore();  // (a close refused)
        return true;
    }
    if (e->type() == QEvent::KeyPress &&
        (watched == ComboBox1->lineEdit() || watched == ComboBox2->lineEdit())) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return QWidget::eventFilter(watched, e);
}

void TForm2::resizeEvent(QResizeEvent* e) {
    StatusBar1->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);
    QWidget::resizeEvent(e);
}

// While a handler runs (and a step it runs aside) the window is busy: the wait cursor shows,
// the clock of the progress window runs, and the window takes no input. The user's clicks, keys
// and wheel turns on the main window and on the command's progress window are dropped where
// they arrive, and so is a request to close either: the progress window has no close button,
// and neither Esc nor Alt+F4 takes it away while the command goes on behind it. The input of
// the boxes, file dialogs and download window a handler opens is theirs as always.
class TForm2::Busy {
  public:
    explicit Busy(TForm2& form) : form_(form), outermost_(form.busy_++ == 0) {
        if (!outermost_) return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        form_.handlerClock_.start();
        qApp->installEventFilter(&form_);
    }
    ~Busy() {
        if (outermost_) {
            form_.HideProgress();
            // Clicks and keys that arrived while the handler ran without taking events wait in
            // the system's queue: they are taken and dropped here, before the window is free.
            QCoreApplication::processEvents();
            qApp->removeEventFilter(&form_);
            form_.handlerClock_.invalidate();
            QApplication::restoreOverrideCursor();
        }
        --form_.busy_;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

  private:
    TForm2& form_;
    bool outermost_;
};

bool TForm2::DropsInput(QObject* receiver, const QEvent* e) const {
    switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Close:
            break;
        default:
            return false;  // (a release whose press was dropped does nothing)
    }
    if (!receiver->isWidgetType()) return false;
    const QWidget* window = static_cast<QWidget*>(receiver)->window();
    return window == this || (progress_ && window == progress_);
}

// Every handler of the window comes through here, so one handler runs at a time. A handler
// that would start while another runs can only have been let in by the running one (a box, a
// file dialog or a progress step takes events meanwhile): it is dropped, not queued behind the
// running one. The click was aimed at the window as it was before the command changed the
// catalog, the files and the fields; run afterwards it would act on a state the user never saw
// (an Install queued behind a Clean would put back at once what the Clean took out). The user
// clicks again once the command has said how it ended.
void TForm2::RunHandler(const std::function<void()>& body) {
    if (busy_ > 0) return;
    const Busy busy(*this);
    RunGuarded(*this, body);
}

// A command that has run half a second shows where it is in a progress window of its own, in
// front of the main window, which is painted each time the command says where it is.
void TForm2::ShowProgress(const QString& text, int step, int steps) {
    if (ShowStep(text, step, steps)) QCoreApplication::processEvents();
}

bool TForm2::ShowStep(const QString& text, int step, int steps) {
    if (!handlerClock_.isValid() || handlerClock_.elapsed() < kProgressAfterMs) return false;
    if (!progress_) {
        progress_ = new QProgressDialog(this);
        progress_->setObjectName(QStringLiteral("CommandProgress"));
        // A title and no close button: the window goes when the command has ended.
        progress_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        progress_->setWindowTitle(view::kAppTitle);
        progress_->setWindowModality(Qt::WindowModal);
        progress_->setCancelButton(nullptr);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setMinimumDuration(0);
        progress_->setMinimumWidth(420);
    }
    if (progress_->labelText() != text) progress_->setLabelText(text);
    if (steps > 0) {
        progress_->setRange(0, steps);
        progress_->setValue(std::clamp(step, 0, steps));
    } else if (progress_->maximum() != 0) {
        progress_->setRange(0, 0);  // nothing says how far: the bar moves to and fro
    }
    if (!progress_->isVisible()) progress_->show();
    return true;
}

// The step runs on a second thread while this one keeps the window painted and its progress
// window up (busy, as the other steps show theirs: once the command has run half a second);
// the input that arrives meanwhile is dropped as during any handler.
void TForm2::RunAside(const QString& text, const std::function<void()>& work) {
    const Busy busy(*this);
    ShowStep(text, 0, 0);
    Worker<> worker([&work] { work(); });
    while (!worker.WaitFor(kPaintEvery)) {
        ShowStep(text, 0, 0);
        QCoreApplication::processEvents();
    }
    worker.Get();
}

void TForm2::HideProgress() {
    if (progress_ && progress_->isVisible()) progress_->hide();
}

SortedStringList& TForm2::SharedSort() {
    if (!st_.sort) st_.sort.emplace();
    return *st_.sort;
}

// ---- group transfer

void TForm2::Button1Click() {
    RunHandler([this] {
        QStringList from = Items(ListBox1), to = Items(ListBox2);
        QList<bool> selected;
        for (int i = 0; i < ListBox1->count(); ++i) selected << ListBox1->item(i)->isSelected();
        SortedStringList lst;
        view::MoveSelected(from, selected, to, lst);
        // The sending list loses its selected items in place, so it keeps its scroll position.
        for (int i = ListBox1->count() - 1; i >= 0; --i)
            if (selected[i]) delete ListBox1->takeItem(i);
        ListBox1->clearSelection();
        Fill(ListBox2, to);
    });
}

void TForm2::Button2Click() {
    RunHandler([this] {
        QStringList from = Items(ListBox1), to = Items(ListBox2);
        view::MoveAll(from, to, SharedSort());
        ListBox1->clear();
        Fill(ListBox2, to);
    });
}

void TForm2::Button3Click() {
    RunHandler([this] {
        QStringList from = Items(ListBox2), to = Items(ListBox1);
        QList<bool> selected;
        for (int i = 0; i < ListBox2->count(); ++i) selected << ListBox2->item(i)->isSelected();
        view::MoveSelected(from, selected, to, SharedSort());
        for (int i = ListBox2->count() - 1; i >= 0; --i)
            if (selected[i]) delete ListBox2->takeItem(i);
        ListBox2->clearSelection();
        Fill(ListBox1, to);
    });
}

void TForm2::Button4Click() {
    RunHandler([this] {
        QStringList from = Items(ListBox2), to = Items(ListBox1);
        view::MoveAll(from, to, SharedSort());
        ListBox2->clear();
        Fill(ListBox1, to);
    });
}

// ---- the other modules' handlers

void TForm2::Button5Click() {
    RunHandler([this] { deploy::Install(ctx_); });
}
void TForm2::Button6Click() {
    RunHandler([this] { deploy::Clean(ctx_); });
}
void TForm2::Button7Click() {
    RunHandler([this] { state::Button7Click(ctx_); });
}
void TForm2::Button8Click() {
    RunHandler([this] { state::Button8Click(ctx_); });
}
void TForm2::Button9Click() {
    RunHandler([this] { update::Button9Click(ctx_); });
}
void TForm2::ComboBox1Change() {
    RunHandler([this] { state::ComboBox1Change(ctx_); });
}
void TForm2::ComboBox2Change() {
    RunHandler([this] { state::ComboBox2Change(ctx_); });
}

// ---- IForm

QString TForm2::ComboBox1Text() const { return ComboBox1->currentText(); }
void TForm2::SetComboBox1Text(const QString& text) {
    const QSignalBlocker block(ComboBox1), blockEdit(ComboBox1->lineEdit());
    ComboBox1->setEditText(text);
}
void TForm2::SetComboBox1Items(const QStringList& items) {
    const QSignalBlocker block(ComboBox1), blockEdit(ComboBox1->lineEdit());
    const QString text = ComboBox1->currentText();
    ComboBox1->clear();
    ComboBox1->addItems(items);
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(text);
}
QString TForm2::ComboBox2Text() const { return ComboBox2->currentText(); }
void TForm2::SetComboBox2Text(const QString& text) {
    const QSignalBlocker block(ComboBox2), blockEdit(ComboBox2->lineEdit());
    ComboBox2->setEditText(text);
}
QString TForm2::ComboBox3Text() const { return ComboBox3->currentText(); }
QString TForm2::Edit1Text() const { return Edit1->text(); }
// A long path shows from its start, as a field shows any text it is given.
void TForm2::SetEdit1Text(const QString& text) {
    Edit1->setText(text);
    Edit1->setCursorPosition(0);
}
QString TForm2::Edit2Text() const { return Edit2->text(); }
void TForm2::SetEdit2Text(const QString& text) {
    Edit2->setText(text);
    Edit2->setCursorPosition(0);
}
QStringList TForm2::ListBox1Items() const { return Items(ListBox1); }
void TForm2::SetListBox1Items(const QStringList& items) { Fill(ListBox1, items); }
QStringList TForm2::ListBox2Items() const { return Items(ListBox2); }
QString TForm2::StatusText() const { return StatusBar1->text(); }
void TForm2::SetStatusText(const QString& text) {
    StatusBar1->setText(text);
    StatusBar1->repaint();
}

// Boxes raised by the creation handler, before the window is first shown, stand on their own in
// the middle of the screen; later ones belong to the window.
QWidget* TForm2::BoxOwner() { return isVisible() ? this : nullptr; }

void TForm2::ShowMessageWithDetails(const QString& text, const QString& details) {
    messageDetails_ = details;
    ShowMessage(text);
    messageDetails_.clear();
}

// After the hand-off to the update script the tool is ending: no box may hold it.
void TForm2::ShowMessage(const QString& text) {
    if (st_.handedOff) return;
    HideProgress();
    CursorOverride arrow(Qt::ArrowCursor);
    dialogs.message(BoxOwner(), view::kAppTitle, text);
}

void TForm2::ShowError(const QString& message) {
    if (st_.handedOff) return;
    HideProgress();
    CursorOverride arrow(Qt::ArrowCursor);
    dialogs.error(BoxOwner(), view::kAppTitle, ErrorBoxText(message));
}

bool TForm2::ExecuteOpenDialog(int dialog, const QString& filter) {
    if (dialog != 1 && dialog != 2) return false;
    QString& remembered = dialogFileName_[dialog - 1];
    CursorOverride arrow(Qt::ArrowCursor);
    const QString start = remembered.isEmpty() ? QDir::currentPath() : remembered;
    const QString chosen = dialogs.openFile(BoxOwner(), start, view::QtFileFilter(filter));
    if (chosen.isEmpty()) return false;
    remembered = QDir::toNativeSeparators(chosen);
    return true;
}

QString TForm2::OpenDialogFileName(int dialog) const {
    if (dialog != 1 && dialog != 2) return QString();
    return dialogFileName_[dialog - 1];
}

void TForm2::Terminate() { QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection); }

std::unique_ptr<IProgressWindow> TForm2::OpenProgress() {
    return std::make_unique<view::DownloadDialog>(BoxOwner());
}
