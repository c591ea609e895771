#pragma once

#include <QCollator>
#include <QStringList>

// Strings kept in ascending order by the user's locale collation, letter case ignored.
// Adding a string that compares equal to one already present leaves the list unchanged.
class SortedStringList {
  public:
    SortedStringList();

    // Adds s at its sorted place unless an equal string is present; returns whether it was added.
    bool Add(const QString& s);
    // Replaces the whole content by items, added one by one from the first to the last.
    void Assign(const QStringList& items);
    void Clear() { items_.clear(); }
    const QStringList& Items() const { return items_; }
    qsizetype Count() const { return items_.size(); }

  private:
    QCollator collator_;
    QStringList items_;
};
