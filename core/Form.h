#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// A window that shows a long transfer while it runs, with a button "Отмена" that cancels it.
// It is open as long as the object lives and blocks the input of the tool's other windows.
class IProgressWindow {
  public:
    virtual ~IProgressWindow() = default;
    // What is being fetched and how far it has got: `done` bytes of `total` (total < 0: not
    // known; done < 0: nothing to count yet).
    virtual void ShowProgress(const QString& item, qint64 done, qint64 total) = 0;
    // Takes the user's input; true once the user has cancelled (the button, or closing the
    // window).
    virtual bool CancelRequested() = 0;
};

// What the modules below the window see of it: its fields and lists, its status bar, its
// message boxes and file dialogs, and the request to end the application. The real window
// (app/view) implements it; tests drive the modules with the real window offscreen or a fake.
class IForm {
  public:
    virtual ~IForm() = default;

    // Version and language fields. Setting the text from code runs no handler.
    virtual QString ComboBox1Text() const = 0;
    virtual void SetComboBox1Text(const QString& text) = 0;
    // The version field's items; replacing them keeps the field's text and runs no handler.
    virtual void SetComboBox1Items(const QStringList& items) = 0;
    virtual QString ComboBox2Text() const = 0;
    virtual void SetComboBox2Text(const QString& text) = 0;
    // The hidden unit chooser; nothing sets it, so it reads empty.
    virtual QString ComboBox3Text() const = 0;

    // Project template field.
    virtual QString Edit1Text() const = 0;
    virtual void SetEdit1Text(const QString& text) = 0;

    // Catalog field. This setter only changes what the field shows; code that sets the field
    // goes through SetEdit2 (state/Selection.h), which runs Edit2Change when the text changes.
    virtual QString Edit2Text() const = 0;
    virtual void SetEdit2Text(const QString& text) = 0;

    // Group lists.
    virtual QStringList ListBox1Items() const = 0;
    virtual void SetListBox1Items(const QStringList& items) = 0;
    virtual QStringList ListBox2Items() const = 0;

    // The text of the status bar's single panel; a set is shown at once (repainted).
    virtual QString StatusText() const = 0;
    virtual void SetStatusText(const QString& text) = 0;

    // A plain message box: the text, one OK button, the application's title as caption.
    virtual void ShowMessage(const QString& text) = 0;
    // The error box: stop icon, OK, the application's title; text as ErrorBoxText gives it.
    virtual void ShowError(const QString& message) = 0;

    // A plain message box whose details (what a command changed) the user can unfold; the text
    // stays that of ShowMessage.
    virtual void ShowMessageWithDetails(const QString& text, const QString& details) {
        static_cast<void>(details);
        ShowMessage(text);
    }
    // Where a long command is (`step` of `steps`, and a text). Once the command has run half a
    // second the window shows it, keeps itself painted and takes no input until the command
    // ends; a second command cannot start meanwhile.
    virtual void ShowProgress(const QString& text, int step, int steps) {
        static_cast<void>(text);
        static_cast<void>(step);
        static_cast<void>(steps);
    }

    // Runs `work` on a second thread (a Worker) while a progress window shows `text` with no
    // steps (an indeterminate bar): for a long step that cannot say how far it is, such as a
    // compaction. The window stays painted and takes no input meanwhile; returns once the work
    // has ended, raising what it raised. `work` touches neither the window nor the catalog
    // connection and names files by absolute paths. Without a window it simply runs `work`.
    virtual void RunAside(const QString& text, const std::function<void()>& work) {
        ShowProgress(text, 0, 0);
        work();
    }

    // The two open-file dialogs: 1 is OpenDialog1 (project template), 2 is OpenDialog2
    // (catalog). Execute returns whether the user confirmed; the dialog keeps its last
    // confirmed file name, which FileName returns (empty when none was ever confirmed).
    virtual bool ExecuteOpenDialog(int dialog, const QString& filter) = 0;
    virtual QString OpenDialogFileName(int dialog) const = 0;

    // Asks the application to end; takes effect once control is back in the event loop.
    virtual void Terminate() = 0;

    // Opens the progress window of a download; null where the form has none.
    virtual std::unique_ptr<IProgressWindow> OpenProgress() { return nullptr; }
};
