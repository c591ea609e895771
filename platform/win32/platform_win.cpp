// The platform services on Windows, with Win32 calls only.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

const wchar_t* Wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

}  // namespace

InstanceGuard AcquireInstanceMutex(const std::u16string& name) {
    // No namespace prefix: the mutex lives in the logon session's namespace. The handle is kept
    // until the process ends; the system closes it then.
    static HANDLE H = nullptr;
    H = CreateMutexW(nullptr, TRUE, Wide(name));
    const DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS) return InstanceGuard::AlreadyRunning;
    return H ? InstanceGuard::First : InstanceGuard::Failed;
}

std::string AnsiEncode(const std::u16string& text) {
    if (text.empty()) return {};
    // A character outside the basic plane is one character: it becomes one default character,
    // not one per half. No "best fit" look-alikes either ("ł" stays unmappable, not "l"): a
    // text either keeps its characters or shows that it lost them, as on every platform.
    std::u16string chars;
    chars.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            chars.push_back(u'\uFFFD');
            ++i;
        } else {
            chars.push_back(c >= 0xD800 && c <= 0xDFFF ? u'\uFFFD' : c);
        }
    }
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(CP_ACP, flags, Wide(chars), int(chars.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, flags, Wide(chars), int(chars.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::u16string AnsiDecode(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(size_t(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

void StartHidden(const std::u16string& commandLine, const std::u16string& workingDir) {
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       workingDir.empty() ? nullptr : Wide(workingDir), &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

std::u16string NativePath(const std::u16string& path) { return path; }

}  // namespace platform
