#pragma once

// What the platforms' user-data sources share (platform/user_data.cpp).

#include <optional>
#include <string>

#include "platform/platform.h"

namespace platform {

std::u16string KeptUserData();  // empty unless a test program said where (KeepUserDataIn)
// The detection mark as the file "install-mark.ini" in `folder` (an INI text in UTF-8).
bool WriteMarkFile(const std::u16string& folder, const MarkValues& values);
std::optional<MarkValues> ReadMarkFile(const std::u16string& folder);
bool RemoveMarkFile(const std::u16string& folder);

}  // namespace platform
