#pragma once

// A stand-in for the window: fields, lists and status bar held as plain values; message boxes
// and file dialogs recorded and answered from queues the test fills.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "core/Form.h"

class FakeForm : public IForm {
  public:
    QString comboBox1, comboBox2, comboBox3, edit1, edit2, status;
    QStringList listBox1, listBox2;
    QStringList comboBox1Items{QStringLiteral("2017"), QStringLiteral("2016")};
    QStringList messages;  // plain message boxes, in order
    QStringList errors;    // error boxes, in order
    QStringList statusHistory;
    QStringList details;   // the details of each message box shown with them
    QStringList progress;  // every progress text, in order
    bool terminated = false;

    // Answers for the dialogs: each Execute pops one; an empty optional means "cancel".
    std::map<int, std::deque<std::optional<QString>>> dialogAnswers;
    std::map<int, QString> dialogFileName;
    std::map<int, QStringList> dialogFilters;
    // Called when a message box is shown (a test can look at the state at that moment).
    std::function<void(const QString&)> onMessage;

    // The progress window: the items it showed (each once, in order), how often it opened and
    // whether one is open. It answers that the user cancelled once `cancelAfterMs` have passed
    // since an item containing `cancelAt` showed (-1: never); `cancelledAtMs` is the moment of
    // the first such answer (QElapsedTimer::msecsSinceReference).
    QStringList progressItems;
    int progressOpened = 0;
    bool progressOpen = false;
    QString cancelAt;
    qint64 cancelAfterMs = -1;
    qint64 cancelledAtMs = -1;

    QString ComboBox1Text() const override { return comboBox1; }
    void SetComboBox1Text(const QString& t) override { comboBox1 = t; }
    void SetComboBox1Items(const QStringList& items) override { comboBox1Items = items; }
    QString ComboBox2Text() const override { return comboBox2; }
    void SetComboBox2Text(const QString& t) override { comboBox2 = t; }
    QString ComboBox3Text() const override { return comboBox3; }
    QString Edit1Text() const override { return edit1; }
    void SetEdit1Text(const QString& t) override { edit1 = t; }
    QString Edit2Text() const override { return edit2; }
    void SetEdit2Text(const QString& t) override { edit2 = t; }
    QStringList ListBox1Items() const override { return listBox1; }
    void SetListBox1Items(const QStringList& items) override { listBox1 = items; }
    QStringList ListBox2Items() const override { return listBox2; }
    QString StatusText() const override { return status; }
    void SetStatusText(const QString& t) override {
        status = t;
        statusHistory << t;
    }
    void ShowMessage(const QString& t) override {
        messages << t;
        if (onMessage) onMessage(t);
    }
    void ShowError(const QString& m) override { errors << m; }
    void ShowMessageWithDetails(const QString& t, const QString& d) override {
        details << d;
        ShowMessage(t);
    }
    void ShowProgress(const QString& t, int step, int steps) override {
        progress << QStringLiteral("%1 [%2/%3]").arg(t).arg(step).arg(steps);
    }
    bool ExecuteOpenDialog(int dialog, const QString& filter) override {
        dialogFilters[dialog] << filter;
        auto& q = dialogAnswers[dialog];
        if (q.empty()) return false;
        std::optional<QString> a = q.front();
        q.pop_front();
        if (!a) return false;
        dialogFileName[dialog] = *a;
        return true;
    }
    QString OpenDialogFileName(int dialog) const override {
        auto it = dialogFileName.find(dialog);
        return it == dialogFileName.end() ? QString() : it->second;
    }
    void Terminate() override { terminated = true; }

    class FakeProgress : public IProgressWindow {
      public:
        explicit FakeProgress(FakeForm& f) : f_(f) {
            ++f_.progressOpened;
            f_.progressOpen = true;
        }
        ~FakeProgress() override { f_.progressOpen = false; }
        void ShowProgress(const QString& item, qint64, qint64) override {
            if (f_.progressItems.isEmpty() || f_.progressItems.last() != item)
                f_.progressItems << item;
            if (!since_.isValid() && !f_.cancelAt.isEmpty() && item.contains(f_.cancelAt))
                since_.start();
        }
        bool CancelRequested() override {
            // Like the real window, which takes the user's input here.
            QCoreApplication::processEvents();
            if (f_.cancelAfterMs < 0 || !since_.isValid() || since_.elapsed() < f_.cancelAfterMs)
                return false;
            if (f_.cancelledAtMs < 0) {
                QElapsedTimer now;
                now.start();
                f_.cancelledAtMs = now.msecsSinceReference();
            }
            return true;
        }

      private:
        FakeForm& f_;
        QElapsedTimer since_;
    };
    std::unique_ptr<IProgressWindow> OpenProgress() override {
        return std::make_unique<FakeProgress>(*this);
    }
};
