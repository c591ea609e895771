#pragma once

#include <QDir>
#include <QString>

// Puts the process's current directory back at the end of a test; made with a folder, it goes
// there first.
class CurrentDirGuard {
  public:
    CurrentDirGuard() : saved_(QDir::currentPath()) {}
    explicit CurrentDirGuard(const QString& dir) : CurrentDirGuard() { QDir::setCurrent(dir); }
    ~CurrentDirGuard() { QDir::setCurrent(saved_); }
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

  private:
    QString saved_;
};
