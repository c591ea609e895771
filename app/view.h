#pragma once

// The main window Form2: the component groups, the version, language, project template and
// catalog fields, the command buttons and the status bar, and the wiring of their events to
// the handlers of the modules.

#include <QElapsedTimer>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>

#include "core/Context.h"
#include "core/Form.h"
#include "update/Update.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QProgressDialog;
class QPushButton;

namespace catalog {
class CatalogDb;
}
namespace update {
class IdFtp;
}

namespace view {

// The application's title: the caption of the plain message boxes and of the error box.
inline const QString kAppTitle = QStringLiteral("ZELK_AE_install");

// A file dialog filter written as "description|pattern|description|pattern" in Qt's form
// "description (pattern);;...". Patterns separated by ';' become space-separated; an entry
// without a pattern is left out.
QString QtFileFilter(const QString& filter);

// Makes the window's fonts available: Tahoma, and Times New Roman for the command buttons.
// Off Windows, Wine's Tahoma is added when the system lacks it, and Times New Roman falls back
// to its metric twin Liberation Serif.
void ProvideFonts();

// The maker's logo, 145 x 44 pixels, drawn at run time.
QPixmap MakerLogo();

// Gives a message box `details` behind a button "Подробнее" (it reads "Скрыть" while they show),
// in a field wide enough for a path and of a fixed height, so that the box, which sizes itself
// when they show, holds all of the field.
void AddDetails(QMessageBox& box, const QString& details);

}  // namespace view

class TForm2 : public QWidget, public IForm {
    Q_OBJECT

  public:
    TForm2(AppState& st, catalog::CatalogDb& db, update::IdFtp* ftp, QWidget* parent = nullptr);
    ~TForm2() override;

    // The creation handler: binds the settings file beside the executable, creates the shared
    // lists, runs the start-up update check and installation discovery. Errors are shown in
    // the error box and end only the step that raised them.
    void FormCreate(const update::ProbeTarget& probe = {});
    // The executable's folder used by FormCreate (default: the running executable's folder).
    void SetExecutableFolder(const QString& folder) { exeFolder_ = folder; }

    // The size constraint: the outer size is held at no less than 700 x 580.
    static QSize FormConstrainedResize(const QSize& outer);

    Context& ctx() { return ctx_; }

    // Message boxes and file dialogs go through these; tests replace them.
    struct Dialogs {
        std::function<void(QWidget* parent, const QString& caption, const QString& text)> message;
        std::function<void(QWidget* parent, const QString& caption, const QString& text)> error;
        // Returns the chosen file, or an empty text when the user cancelled.
        std::function<QString(QWidget* parent, const QString& startFile, const QString& filter)>
            openFile;
    };
    Dialogs dialogs;

    // IForm
    QString ComboBox1Text() const override;
    void SetComboBox1Text(const QString& text) override;
    void SetComboBox1Items(const QStringList& items) override;
    QString ComboBox2Text() const override;
    void SetComboBox2Text(const QString& text) override;
    QString ComboBox3Text() const override;
    QString Edit1Text() const override;
    void SetEdit1Text(const QString& text) override;
    QString Edit2Text() const override;
    void SetEdit2Text(const QString& text) override;
    QStringList ListBox1Items() const override;
    void SetListBox1Items(const QStringList& items) override;
    QStringList ListBox2Items() const override;
    QString StatusText() const override;
    void SetStatusText(const QString& text) override;
    void ShowMessage(const QString& text) override;
    void ShowError(const QString& message) override;
    void ShowMessageWithDetails(const QString& text, const QString& details) override;
    void ShowProgress(const QString& text, int step, int steps) override;
    void RunAside(const QString& text, const std::function<void()>& work) override;
    bool ExecuteOpenDialog(int dialog, const QString& filter) override;
    QString OpenDialogFileName(int dialog) const override;
    void Terminate() override;
    std::unique_ptr<IProgressWindow> OpenProgress() override;

    // Controls, named as the window names them.
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QComboBox* ComboBox1;
    QComboBox* ComboBox2;
    QComboBox* ComboBox3;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QListWidget* ListBox1;
    QListWidget* ListBox2;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button7;
    QPushButton* Button8;
    QPushButton* Button9;
    QLabel* StatusBar1;

  public slots:
    void Button1Click();  // ">"
    void Button2Click();  // ">>"
    void Button3Click();  // "<"
    void Button4Click();  // "<<"
    void Button5Click();  // "Установить"
    void Button6Click();  // "Почистить"
    void Button7Click();  // project template "..."
    void Button8Click();  // catalog "..."
    void Button9Click();  // "Ручное обновление"
    void ComboBox1Change();
    void ComboBox2Change();

  protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

  private:
    class Busy;

    void CreateControls();
    void WireEvents();
    // Runs a handler body with the wait cursor; an error it raises goes to the error box. While
    // it runs the window takes no input and no other handler starts.
    void RunHandler(const std::function<void()>& body);
    // Whether `e` is input that the window drops while a handler runs.
    bool DropsInput(QObject* receiver, const QEvent* e) const;
    void ApplySizeConstraint();
    void ApplyWindowsFrame();
    SortedStringList& SharedSort();
    QWidget* BoxOwner();

    // Shows where a long command is once it has run half a second (no steps: a busy bar);
    // whether the progress window is up.
    bool ShowStep(const QString& text, int step, int steps);
    void HideProgress();

    AppState& st_;
    Context ctx_;
    int busy_ = 0;                         // handlers and steps aside running, nested
    QElapsedTimer handlerClock_;           // runs while a handler runs
    QProgressDialog* progress_ = nullptr;  // where a long command is
    QString messageDetails_;               // of the message box about to be shown
    QString exeFolder_;
    QString dialogFileName_[2];
    bool centred_ = false;
};
