#pragma once

// The group transfer between the two group lists: items move from one list to the end of the
// other, and the receiving list is then rebuilt in the order of a sorted string list.

#include <QList>
#include <QStringList>

class SortedStringList;

namespace view {

// Appends the items of `from` whose flag in `selected` is set, first to last, to `to`; removes
// them from `from` (the others keep their order); then `to` is assigned to `sorter` and
// replaced by its sorted content. `selected` holds one flag per item of `from` (missing flags
// count as not selected).
void MoveSelected(QStringList& from, const QList<bool>& selected, QStringList& to,
                  SortedStringList& sorter);

// Appends every item of `from` to `to`, clears `from`, and re-sorts `to` through `sorter`.
void MoveAll(QStringList& from, QStringList& to, SortedStringList& sorter);

}  // namespace view
