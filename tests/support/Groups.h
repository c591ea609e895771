#pragma once

// The 17 component groups as the tests expect them: in the order the group list shows them at
// start-up, and in the user's alphabetical order (case ignored) after a transfer.

#include <QStringList>

inline const QStringList kStartOrder = {
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

inline const QStringList kSorted = {
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
