#pragma once

// A scratch folder removed at the end of the test, and small file helpers for fixtures.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

class TempDir {
  public:
    TempDir() { dir_.setAutoRemove(true); }
    // Folder path with a trailing '/'.
    QString path() const { return dir_.path() + '/'; }
    QString file(const QString& rel) const { return dir_.path() + '/' + rel; }
    // Creates the folders of rel (with '/' separators) and returns its full path.
    QString mkdir(const QString& rel) const {
        QDir().mkpath(file(rel));
        return file(rel);
    }
    QString write(const QString& rel, const QByteArray& bytes) const {
        const QString p = QFileInfo(rel).isAbsolute() ? rel : file(rel);
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return p;
    }
    QByteArray read(const QString& rel) const {
        QFile f(QFileInfo(rel).isAbsolute() ? rel : file(rel));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return f.readAll();
    }

  private:
    QTemporaryDir dir_;
};
