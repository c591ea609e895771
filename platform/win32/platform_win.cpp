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
    // A copy that finds the mutex taken owns nothing and lets its handle go at once.
    static HANDLE H [[maybe_unused]] = nullptr;
    const HANDLE h = CreateMutexW(nullptr, TRUE, Wide(name));
    const DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS) {
        if (h) CloseHandle(h);
        return InstanceGuard::AlreadyRunning;
    }
    if (!h) return InstanceGuard::Failed;
    H = h;
    return InstanceGuard::First;
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

std::u16string MoveReplacing(const std::u16string& from, const std::u16string& to) {
    if (MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    const DWORD err = GetLastError();
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string reason;
    if (n && text) reason.assign(reinterpret_cast<const char16_t*>(text), n);
    if (text) LocalFree(text);
    while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r' ||
                               reason.back() == u' ' || reason.back() == u'.'))
        reason.pop_back();
    if (reason.empty()) {
        const std::string code = "Windows error " + std::to_string(err);
        reason.assign(code.begin(), code.end());
    }
    return reason;
}

bool SyncFile(int, const std::u16string& path) {
    // Flushing any handle of a file writes all of the file's cached data.
    const HANDLE h = CreateFileW(Wide(path), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = FlushFileBuffers(h) != 0;
    CloseHandle(h);
    return ok;
}

// Windows writes behind on its own; the file is flushed through SyncFile.
void WriteBehind(int, std::int64_t, std::int64_t) {}
bool WritesBehind() { return false; }

// Windows flushes a whole volume only for administrators; the tool flushes each file.
bool SyncFileSystem(const std::u16string&) { return false; }

void ShowFixedFrameWithMaximise(std::uintptr_t nativeWindow) {
    const HWND h = reinterpret_cast<HWND>(nativeWindow);
    const LONG_PTR style = GetWindowLongPtrW(h, GWL_STYLE);
    const LONG_PTR wanted = (style | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX) &
                            ~LONG_PTR(WS_THICKFRAME);
    if (wanted == style) return;
    SetWindowLongPtrW(h, GWL_STYLE, wanted);
    SetWindowPos(h, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::u16string NativePath(const std::u16string& path) { return path; }

}  // namespace platform
