#pragma once

// The demo's set-up for tests: the data package the build made, and a simulated AutoCAD
// Electrical (Russian) installation laid out by the same generator scripts/demo.sh uses.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

#include "support/Groups.h"

namespace demo {

// The data package folder, with a trailing '/'.
inline QString PackageDir() { return QStringLiteral(ZELK_PACKAGE_DIR "/"); }

// The 17 component groups, in the order the group list shows them at start-up.
inline QStringList GroupNames() { return kStartOrder; }

inline QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Copies the files below `from` into `to`, keeping the folder layout.
inline bool CopyTree(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + QLatin1Char('/') + QDir(from).relativeFilePath(src);
        QDir().mkpath(QFileInfo(dst).absolutePath());
        if (!QFile::copy(src, dst)) return false;
    }
    return true;
}

// The paths of a laid-out demo below `root` (no trailing '/'), of one release year with its
// release folder.
struct Layout {
    QString root;
    QString year = "2017";
    QString release = "R21.0";
    QString userprofile() const { return root + "/USERPROFILE"; }
    QString publicprofile() const { return root + "/PUBLIC"; }
    QString tool() const { return root + "/tool"; }
    QString support() const {
        return userprofile() + "/AppData/Roaming/Autodesk/AutoCAD Electrical " + year + "/" +
               release + "/rus/Support";
    }
    QString images() const { return support() + "/Images"; }
    QString library() const {
        return publicprofile() + "/Documents/Autodesk/Acade " + year + "/Libs/iec2";
    }
    QString catalog() const {
        return userprofile() + "/Documents/Acade " + year +
               "/AeData/ru-RU/Catalogs/default_cat.mdb";
    }
};

// Runs the generator's demo mode into `root` and puts the data package into root/tool, as
// scripts/demo.sh does (the executable itself is not needed there by the tests). Returns the
// generator's complaint, empty on success.
inline QString LayOut(const Layout& l) {
    QProcess p;
    p.start(QStringLiteral(ZELK_DATAGEN_PATH),
            {"--demo-profile", QStringLiteral(ZELK_SOURCE_DIR "/data-src"), l.root, "--release",
             l.year});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QString::fromLocal8Bit(p.readAllStandardError()) + p.errorString();
    QDir().mkpath(l.tool());
    if (!CopyTree(QStringLiteral(ZELK_PACKAGE_DIR), l.tool()))
        return "cannot copy the data package";
    return {};
}

}  // namespace demo
