#pragma once

// The application object the window tests need, created once per test process, and a window
// whose message boxes and file dialogs answer from the test.

#include <QApplication>
#include <QStringList>
#include <deque>
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

struct TestWindow {
    AppState st;
    catalog::CatalogDb db{st};
    std::unique_ptr<TForm2> form;
    QStringList messages, errors, captions;
    std::deque<QString> fileAnswers;  // each open dialog takes one; an empty text cancels
    QStringList dialogStarts, dialogFilters;

    TestWindow() {
        TestApp();
        form = std::make_unique<TForm2>(st, db, nullptr);
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
