#pragma once

// The window as a command-line run has it: its fields and lists held as values, and every text
// the window would show (status texts, messages and their details, error boxes, where a long
// command is) written to the run's log with a time stamp and to the console. No box, no dialog
// and no wait for anyone.

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QStringList>

#include "core/Form.h"

namespace cli {

// Where a command-line run writes what it says: the log file (appended to, in UTF-8 with a
// byte-order mark) and the console the tool was started from.
class RunLog {
  public:
    // Opens the log file `file` (absolute); false, with the reason in `why`, when it cannot.
    bool Open(const QString& file, QString* why);
    // Each line of `text`, time-stamped in the log; on the console as it stands.
    void Write(const QString& text);
    // The console alone (the usage text).
    static void Console(const QString& text);

  private:
    QFile file_;
};

class ConsoleForm : public IForm {
  public:
    // The group list holds every component group, as the window's does at start-up.
    explicit ConsoleForm(RunLog& log);

    // The file the next open-file dialog `dialog` (1: project template, 2: catalog) is
    // answered with; without one a dialog counts as cancelled.
    void AnswerOpenDialog(int dialog, const QString& file);
    void SetListBox2Items(const QStringList& items) { listBox2_ = items; }
    // A command starts: where it is shows once it has run half a second.
    void StartCommand() { command_.start(); }
    // The error boxes shown so far.
    const QStringList& Errors() const { return errors_; }

    QString ComboBox1Text() const override { return comboBox1_; }
    void SetComboBox1Text(const QString& text) override { comboBox1_ = text; }
    void SetComboBox1Items(const QStringList&) override {}
    QString ComboBox2Text() const override { return comboBox2_; }
    void SetComboBox2Text(const QString& text) override { comboBox2_ = text; }
    QString ComboBox3Text() const override { return {}; }
    QString Edit1Text() const override { return edit1_; }
    void SetEdit1Text(const QString& text) override { edit1_ = text; }
    QString Edit2Text() const override { return edit2_; }
    void SetEdit2Text(const QString& text) override { edit2_ = text; }
    QStringList ListBox1Items() const override { return listBox1_; }
    void SetListBox1Items(const QStringList& items) override { listBox1_ = items; }
    QStringList ListBox2Items() const override { return listBox2_; }
    QString StatusText() const override { return status_; }
    void SetStatusText(const QString& text) override;
    void ShowMessage(const QString& text) override;
    void ShowError(const QString& message) override;
    void ShowMessageWithDetails(const QString& text, const QString& details) override;
    void ShowProgress(const QString& text, int step, int steps) override;
    void RunAside(const QString& text, const std::function<void()>& work) override;
    bool ExecuteOpenDialog(int dialog, const QString& filter) override;
    QString OpenDialogFileName(int dialog) const override;
    void Terminate() override {}  // (the run ends by itself once the update took over)

  private:
    RunLog& log_;
    QString comboBox1_, comboBox2_, edit1_, edit2_, status_;
    QStringList listBox1_, listBox2_, errors_;
    QString answer_[2], fileName_[2];
    QElapsedTimer command_, progressShown_, statusShown_;
    QString lastProgress_;
    int lastStep_ = -1;
};

}  // namespace cli
