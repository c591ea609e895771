#pragma once

#include <QString>

#include "core/AppError.h"

// The message of the AppError that `f` raises; empty when it raises none.
template <class F>
QString ErrorOf(F&& f) {
    try {
        f();
    } catch (const AppError& e) {
        return e.message().isEmpty() ? QStringLiteral("(empty message)") : e.message();
    }
    return {};
}
