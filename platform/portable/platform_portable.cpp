// Placeholder portable platform until written.
#include "platform/platform.h"
namespace platform {
InstanceGuard AcquireInstanceMutex(const std::u16string&) { return InstanceGuard::First; }
std::string AnsiEncode(const std::u16string& t) { return std::string(t.begin(), t.end()); }
std::u16string AnsiDecode(const std::string& b) { return std::u16string(b.begin(), b.end()); }
void StartHidden(const std::u16string&, const std::u16string&) {}
std::u16string NativePath(const std::u16string& p) {
    std::u16string r = p;
    for (auto& c : r) if (c == u'\\') c = u'/';
    return r;
}
}  // namespace platform
