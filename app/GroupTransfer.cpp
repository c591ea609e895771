#include "app/GroupTransfer.h"

#include "core/SortedStringList.h"

namespace view {

namespace {
void Resort(QStringList& to, SortedStringList& sorter) {
    sorter.Assign(to);
    to = sorter.Items();
}
}  // namespace

void MoveSelected(QStringList& from, const QList<bool>& selected, QStringList& to,
                  SortedStringList& sorter) {
    QStringList kept;
    for (qsizetype i = 0; i < from.size(); ++i) {
        if (i < selected.size() && selected[i])
            to.append(from[i]);
        else
            kept.append(from[i]);
    }
    from = kept;
    Resort(to, sorter);
}

void MoveAll(QStringList& from, QStringList& to, SortedStringList& sorter) {
    to.append(from);
    from.clear();
    Resort(to, sorter);
}

}  // namespace view
