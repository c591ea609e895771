#pragma once

// The 17 component groups of the group lists, in the order the list shows them at start-up.
// Each is also the key of its group in the install database's group table.

#include <QStringList>

namespace view {

inline const QStringList kComponentGroups = {
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

}  // namespace view
