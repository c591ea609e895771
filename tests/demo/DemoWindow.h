#pragma once

// What a test of the real window (offscreen) in this process needs: the one application
// object, the environment of the demo's profile, and the tool's folder as current directory.

#include <QApplication>
#include <QDir>
#include <QString>

#include "app/view.h"
#include "support/CurrentDir.h"

namespace {

class EnvGuard {
  public:
    EnvGuard(const char* name, const QString& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value.toLocal8Bit());
    }
    ~EnvGuard() { had_ ? qputenv(name_, old_) : qunsetenv(name_); }

  private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

inline QApplication& App() {
    static int argc = 1;
    static char arg0[] = "test_demo";
    static char* argv[] = {arg0, nullptr};
    // Never destroyed: Qt's own statics outlive the tests.
    static QApplication* app = [] {
        if (auto* running = qobject_cast<QApplication*>(QCoreApplication::instance()))
            return running;
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new QApplication(argc, argv);
        view::ProvideFonts();
        return a;
    }();
    return *app;
}

}  // namespace
