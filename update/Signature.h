#pragma once

// Only the maker can publish an update. Beside every file the update fetches, the server holds
// a detached signature "<name>.minisig" in minisign's format (Ed25519 with the maker's key over
// the file, or over its BLAKE2b-512 hash), whose trusted comment names the release:
// "date_global=DD.MM.YYYY", the date of the status file the file belongs to. A file is taken
// (replaces the old one) only when its signature holds against the public key built into the
// tool (ZELK_UPDATE_PUBLIC_KEY) and names the release being fetched; otherwise the download
// fails like a broken transfer and the old file stays.

#include <QString>

#include "update/IdFtp.h"

namespace update {

// Fetches the status file and its signature. The status file names its own release: the
// date in its signature must be the "date_global" inside it, and not earlier than that of the
// status file it replaces (an older status file cannot be replayed).
void GetSignedStatusFile(IdFtp& ftp, const QString& server, const QString& dest,
                         const QString& shown);

// The files of one release, each fetched with its signature and taken only when that holds.
class SignedFiles {
  public:
    // `statusFile`: the status file held, checked when it arrived; its "date_global" is the
    // release the files must belong to.
    SignedFiles(IdFtp& ftp, const QString& statusFile);

    // Fetches `server` into `part`, which the caller puts in place once every file of the
    // update has arrived and passed; `shown` names the file in messages. Throws AppError.
    void Receive(const QString& server, PartFile& part, const QString& shown,
                 const IdFtp::Progress& progress = {}, const TransferLimits& limits = {});
    int Checked() const { return checked_; }  // files that passed so far

  private:
    IdFtp& ftp_;
    QString release_;
    int checked_ = 0;
};

}  // namespace update
