#pragma once

// Shared pieces of the deployment tests: the current directory put back after a test, menu
// files written in a chosen encoding and with chosen line ends, and the maker's submenu lines.

#include <QDir>
#include <QStringList>
#include <ostream>

#include "support/CurrentDir.h"
#include "support/TempDir.h"
#include "support/TextBytes.h"

// The maker's submenu of n lines: the head "**M400" first, then entries and sub-submenus.
inline QStringList MakerBlock(int n) {
    QStringList b{QStringLiteral("**M400")};
    for (int i = 1; i < n; ++i) {
        if (i % 25 == 0)
            b << QStringLiteral("**M4%1").arg(i / 25, 2, 10, QLatin1Char('0'));
        else if (i % 7 == 0)
            b << QString();
        else
            b << QStringLiteral("Автоматы ЗЕЛК серия %1|IMAGES\\zelk_%1.png|zelk_%1").arg(i);
    }
    return b;
}
