#include <gtest/gtest.h>

#include "state/SortedStringList.h"

namespace {
const QStringList kStartOrder = {
    QStringLiteral("Автоматические выключатели"),
    QStringLiteral("Выключатели"),
    QStringLiteral("Предохранители"),
    QStringLiteral("Пускатели/контакторы двигателей"),
    QStringLiteral("Многопозиционные переключатели"),
    QStringLiteral("Шкафы/аппаратные средства"),
    QStringLiteral("Концевые выключатели"),
    QStringLiteral("Программируемые логические контроллеры"),
    QStringLiteral("Реле перегрузки"),
    QStringLiteral("Кнопки включения"),
    QStringLiteral("Зуммеры, сирены, звонки"),
    QStringLiteral("Светильники, сигнальные лампы"),
    QStringLiteral("Измерительные приборы"),
    QStringLiteral("Сетевые фильтры"),
    QStringLiteral("Короба для прокладки кабелей"),
    QStringLiteral("Соединители/выводы"),
    QStringLiteral("Реле управления"),
};
}  // namespace

TEST(SortedStringList, GroupNamesSortInTheAlphabetOrder) {
    SortedStringList list;
    list.Assign(kStartOrder);
    const QStringList expected = {
        QStringLiteral("Автоматические выключатели"),
        QStringLiteral("Выключатели"),
        QStringLiteral("Зуммеры, сирены, звонки"),
        QStringLiteral("Измерительные приборы"),
        QStringLiteral("Кнопки включения"),
        QStringLiteral("Концевые выключатели"),
        QStringLiteral("Короба для прокладки кабелей"),
        QStringLiteral("Многопозиционные переключатели"),
        QStringLiteral("Предохранители"),
        QStringLiteral("Программируемые логические контроллеры"),
        QStringLiteral("Пускатели/контакторы двигателей"),
        QStringLiteral("Реле перегрузки"),
        QStringLiteral("Реле управления"),
        QStringLiteral("Светильники, сигнальные лампы"),
        QStringLiteral("Сетевые фильтры"),
        QStringLiteral("Соединители/выводы"),
        QStringLiteral("Шкафы/аппаратные средства"),
    };
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
