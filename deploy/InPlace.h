#pragma once

// Install's look before it changes anything: whether everything it would write is in place
// already, so that an Install run at every logon writes nothing when nothing changed.

#include <QStringList>
#include <optional>

struct Context;

namespace deploy {

struct CommandReport;
struct CopyPlaces;
struct InstallMark;

// Whether an Install of `groups` (the selection) would change nothing. It would not when:
// - the catalog has both extra tables, and for each family of the selection its maker rows are
//   exactly the install database's: as many, and each install row's CATALOG among them; and so
//   are the pin lists. `mark` (the last Install's) spares the counting when it names this
//   catalog and these families and the catalog file and the install database are as they were
//   when it was written;
// - every file of the data folders lies in its folder (`places`) with the same content, no
//   temporary file of a killed run is left there, and the image folders Install makes exist;
// - the menu files and the copy of the submenu block hold what the menu edit would write.
// Reads only. `found` gets the family codes (st.socr is set as Install sets it), what was found
// and the menu files, for the closing message.
bool NothingToInstall(Context& ctx, const QStringList& groups, const CopyPlaces& places,
                      const std::optional<InstallMark>& mark, CommandReport& found);

}  // namespace deploy
