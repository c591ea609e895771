#pragma once

// Install's copies of the maker's files: the icons of "data\IMAGES" into the profile's image
// folder and the symbols of "data\ZELK" into the library folder, never replacing a file that
// is there. They are made under temporary names beside their targets on a second thread while
// the catalog changes, go onto the disk at one sync point together with the new menu files,
// and take their names alongside the catalog's commit; should the commit fail, they go again.
// A kill at any moment leaves each target absent or whole.

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "core/FileSystem.h"
#include "core/Worker.h"
#include "deploy/CommandReport.h"

namespace deploy {

// Where the copies come from and go: the tool's folder (absolute), the image folder and the
// library folder (each ending with a backslash; the library may be unknown, empty), and the
// version, which a message names when there is no library folder.
struct CopyPlaces {
    QString tool, images, library, year;

    // The maker's files in the tool's data folder: the icon images and the library files.
    QString ImagesSource() const { return tool + QStringLiteral("\\data\\IMAGES"); }
    QString LibrarySource() const { return tool + QStringLiteral("\\data\\ZELK"); }
};

class CopyBatch {
  public:
    // Starts making the copies on a second thread; once made, they and the staged files `with`
    // (the new menu files) go onto the disk at one sync point.
    CopyBatch(CopyPlaces places, fs::StagedFiles* with);
    // Stops and joins the thread; copies that have no name yet go with the object.
    ~CopyBatch();
    CopyBatch(const CopyBatch&) = delete;
    CopyBatch& operator=(const CopyBatch&) = delete;

    // Waits for the copies and their sync point (raising a sync that failed: nothing is placed
    // then); then the copies take their names on a second thread, while the caller commits the
    // catalog.
    void PlaceAside();
    // Waits until the copies have their names.
    void Finish();
    // After a failed commit: deletes the copies that were given their names. What could not be
    // deleted, for the message ("" for nothing).
    QString TakeBack();

    // After Finish: what was copied where, and what could not be (for the closing message).
    const QList<FolderReport>& Folders() const { return folders_; }
    const QStringList& Shortfall() const { return shortfall_; }

  private:
    void Make(fs::StagedFiles* with);
    void Place();

    const CopyPlaces places_;
    // The batch and the lists below belong to the worker while it runs and to the command's
    // thread once the worker's result has been taken (Finish, TakeBack, the next PlaceAside);
    // never to both.
    fs::FileBatch batch_;
    QList<FolderReport> folders_;
    QStringList shortfall_;
    std::optional<Worker<>> worker_;
};

}  // namespace deploy
