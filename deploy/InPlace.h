#pragma once

// Install's look before it changes anything: whether everything it would write is in place
// already, so that an Install run at every logon writes nothing when nothing changed.

#include <QStringList>
#include <optional>

struct AppState;
struct Context;

namespace deploy {

struct CommandReport;
struct CopyPlaces;
struct InstallMark;

// Whether an Install of `groups` (the selection) would change nothing. It would not when:
// - the catalog has both extra tables, and for each family of the selection its maker rows are
//   exactly the install database's: as many, and each install row's CATALOG among them; and so
//   are the pin lists;
// - every file of the data folders lies in its folder (`places`) with the same content, no
//   temporary file of a killed run is left there, and the image folders Install makes exist;
// - the menu files and the copy of the submenu block hold what the menu edit would write.
// `mark` (the last Install's) spares the counting and the reading when it names this catalog
// and these families and every file concerned is as it was when the mark was written
// (InstalledState). Reads only. `found` gets the family codes (st.socr is set as Install sets
// it), what was found and the menu files, for the closing message; `state` the files' state.
bool NothingToInstall(Context& ctx, const QStringList& groups, const CopyPlaces& places,
                      const std::optional<InstallMark>& mark, CommandReport& found, QString& state);

// Whether every file of the data folders lies in its folder (`places`) with the same content.
bool DataFilesInPlace(const CopyPlaces& places);

// Whether the mark says that the families `codes` are installed in `catalogFile`, and every
// file concerned is as it was when it was written (`state`, InstalledState).
bool MarkCovers(const std::optional<InstallMark>& mark, const QString& catalogFile,
                const QString& state, const QStringList& codes);

// The state (size and time) of every file an Install of the tool's data into `places` leaves
// as it is found: the catalog file, the install database, the data files and their copies, the
// menu files (from `avocadmenu` as Install starts its edit) and the copy of the submenu block;
// one text, for InstallMark::state.
QString InstalledState(const AppState& st, const CopyPlaces& places, const QString& catalogFile,
                       const QString& avocadmenu);

}  // namespace deploy
