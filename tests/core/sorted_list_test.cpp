#include <gtest/gtest.h>

#include "core/SortedStringList.h"
#include "support/Groups.h"

TEST(SortedStringList, GroupNamesSortInTheAlphabetOrder) {
    SortedStringList list;
    list.Assign(kStartOrder);
    const QStringList& expected = kSorted;
    EXPECT_EQ(list.Items(), expected);
    // Assigning again replaces the content; the order does not depend on the input order.
    QStringList reversed(expected.rbegin(), expected.rend());
    list.Assign(reversed);
    EXPECT_EQ(list.Items(), expected);
    list.Assign({});
    EXPECT_EQ(list.Count(), 0);
}

TEST(SortedStringList, CaseDuplicatesKeepTheFirstAndCaseDoesNotOrder) {
    SortedStringList list;
    list.Assign({QStringLiteral("реле"), QStringLiteral("Автомат"), QStringLiteral("РЕЛЕ"),
                 QStringLiteral("автомат"), QStringLiteral("б"), QStringLiteral("Б")});
    EXPECT_EQ(list.Items(), QStringList({QStringLiteral("Автомат"), QStringLiteral("б"),
                                         QStringLiteral("реле")}));
    EXPECT_FALSE(list.Add(QStringLiteral("Реле")));
    EXPECT_TRUE(list.Add(QStringLiteral("ВЕКТОР")));
    EXPECT_EQ(list.Items().indexOf(QStringLiteral("ВЕКТОР")), 2);

    list.Assign({"beta", "Alpha", "ALPHA", "gamma", "Beta"});
    EXPECT_EQ(list.Items(), QStringList({"Alpha", "beta", "gamma"}));
}
