#pragma once

// Only the maker can publish an update. Beside every file the update fetches, the server holds
// a detached signature "<name>.minisig" in minisign's format (Ed25519 with the maker's key over
// the file's BLAKE2b-512 hash), whose trusted comment names the file and its release:
// "date_global=DD.MM.YYYY file=autocad/<name>" (words separated by blanks or tabs), the date
// being that of the status file the file belongs to. The status file lists, in its section
// [Files], the size and BLAKE2b-256 hash of each of the five update files of its release
// ("7z/7z.exe=SIZE HASH"), so that the files of one publication cannot be mixed with those of
// another of the same date. A file is taken (replaces the old one) only when its signature holds
// against the public key built into the tool (ZELK_UPDATE_PUBLIC_KEY), names the path it was
// fetched from and the release being fetched, and the file is the one the status file lists;
// otherwise the download fails like a broken transfer and the old file stays.

#include <QString>

#include "update/IdFtp.h"

namespace update {

// The release the tool was built for (a build setting): the oldest release it takes when it
// holds no status file it can read.
inline const QString kBuiltRelease = QStringLiteral(ZELK_RELEASE_DATE);

// Fetches the status file and its signature. The status file names its own release: the
// date in its signature must be the "date_global" inside it, a date that exists, and not
// earlier than that of the status file it replaces (an older status file cannot be replayed)
// or, when none is held, than the release the tool was built for.
void GetSignedStatusFile(IdFtp& ftp, const QString& server, const QString& dest,
                         const QString& shown);

// The files of one release, each fetched with its signature and taken only when that holds and
// the file is the one the status file lists.
class SignedFiles {
  public:
    // `statusFile`: the status file held, checked when it arrived; its "date_global" is the
    // release the files must belong to, its [Files] the files themselves.
    SignedFiles(IdFtp& ftp, const QString& statusFile);

    // Fetches `server` (a path below "/autocad/") into `part`, which the caller puts in place
    // once every file of the update has arrived and passed; `shown` names the file in messages.
    // The size the status file lists caps the download. Throws AppError.
    void Receive(const QString& server, PartFile& part, const QString& shown,
                 const IdFtp::Progress& progress = {});

  private:
    IdFtp& ftp_;
    QString statusFile_;
    QString release_;
};

}  // namespace update
