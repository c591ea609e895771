#pragma once

// QString <-> platform text helpers (header-only, used by the Qt-based modules).
#include <QString>
#include <string>

namespace platform {
inline std::u16string ToU16(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size()));
}
inline QString FromU16(const std::u16string& s) {
    return QString::fromUtf16(s.data(), qsizetype(s.size()));
}
}  // namespace platform
