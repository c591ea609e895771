#include "core/SortedStringList.h"

#include <QLocale>
#include <algorithm>

SortedStringList::SortedStringList() : collator_(QLocale::system()) {
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

bool SortedStringList::Add(const QString& s) {
    auto it = std::lower_bound(
        items_.begin(), items_.end(), s,
        [this](const QString& a, const QString& b) { return collator_.compare(a, b) < 0; });
    if (it != items_.end() && collator_.compare(*it, s) == 0) return false;
    items_.insert(it, s);
    return true;
}

void SortedStringList::Assign(const QStringList& items) {
    items_.clear();
    for (const QString& s : items) Add(s);
}
