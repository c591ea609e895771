#pragma once

// The application object the window tests need, created once per test process, and a window
// whose message boxes and file dialogs answer from the test.

#include <QApplication>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

#include "app/view.h"
#include "catalog/CatalogDb.h"
#include "core/AppState.h"

inline QApplication& TestApp() {
    static int argc = 1;
    static char arg0[] = "test_app";
    static char* argv[] = {arg0, nullptr};
    // Never destroyed: Qt's own statics outlive the tests.
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        view::ProvideFonts();
        return a;
    }();
    return *app;
}

// The real window with a hook the product does not carry: `beforeStep` runs before each
// progress step of a command (to slow it down, or to act while it runs); `paints` counts paints.
class HookedForm : public TForm2 {
  public:
    using TForm2::TForm2;
    std::function<void()> beforeStep;
    int paints = 0;
    void ShowProgress(const QString& text, int step, int steps) override {
        if (beforeStep) beforeStep();
        TForm2::ShowProgress(text, step, steps);
    }
    void paintEvent(QPaintEvent* e) override { ++paints, TForm2::paintEvent(e); }
};

struct TestWindow {
    AppState st;
    catalog::CatalogDb db{st};
    std::unique_ptr<HookedForm> form;
    QStringList messages, errors, captions;
    std::deque<QString> fileAnswers;  // each open dialog takes one; an empty text cancels
    QStringList dialogStarts, dialogFilters;

    TestWindow() {
        TestApp();
        form = std::make_unique<HookedForm>(st, db, nullptr);
        form->dialogs.message = [this](QWidget*, const QString& caption, const QString& text) {
            captions << caption;
            messages << text;
        };
        form->dialogs.error = [this](QWidget*, const QString& caption, const QString& text) {
            captions << caption;
            errors << text;
        };
        form->dialogs.openFile = [this](QWidget*, const QString& start, const QString& filter) {
            dialogStarts << start;
            dialogFilters << filter;
            if (fileAnswers.empty()) return QString();
            QString a = fileAnswers.front();
            fileAnswers.pop_front();
            return a;
        };
    }
};
