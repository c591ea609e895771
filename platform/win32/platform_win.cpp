// The platform services on Windows, with Win32 calls only.

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace platform {

using win32::Wide;

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

std::u16string CommandInterpreter() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    std::u16string path(reinterpret_cast<const char16_t*>(folder), n > 0 && n <= MAX_PATH ? n : 0);
    if (path.empty()) path = u"C:\\Windows\\System32";
    return path + u"\\cmd.exe";
}

namespace {

// The system's text for a Win32 error code, without its closing full stop.
std::u16string ErrorText(DWORD err) {
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

}  // namespace

std::u16string StartHidden(const std::u16string& commandLine, const std::u16string& workingDir) {
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        workingDir.empty() ? nullptr : Wide(workingDir), &si, &pi))
        return ErrorText(GetLastError());  // a missing program, a policy that blocks it, ...
    CloseHandle(pi.hThread);
    // "cmd /c start" ends as soon as the script runs on its own; a script that could not be
    // started shows in its exit code. One that has not ended by then is taken as started.
    std::u16string reason;
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, 3000) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(pi.hProcess, &code) && code != 0) {
        reason = u"командный процессор завершился с кодом ";
        for (const char c : std::to_string(code)) reason += char16_t(c);
    }
    CloseHandle(pi.hProcess);
    return reason;
}

std::u16string MoveReplacing(const std::u16string& from, const std::u16string& to) {
    if (MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return ErrorText(GetLastError());
}

namespace {

// The attributes SetFileAttributesW takes, of those a file has.
DWORD Settable(DWORD attributes) {
    const DWORD settable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_TEMPORARY;
    const DWORD kept = attributes & settable;
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Clears the read-only attribute of a file that has it; false when that fails.
bool ClearReadOnly(const std::u16string& path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return true;
    return SetFileAttributesW(Wide(path), Settable(attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)));
}

}  // namespace

std::u16string CopyToNew(const std::u16string& from, const std::u16string& to) {
    // The system's copy: attributes and times as Explorer keeps them; refuses an existing `to`.
    if (CopyFileW(Wide(from), Wide(to), TRUE)) {
        // All but the read-only attribute, which an unpacked archive or a copy from a CD leaves
        // on the maker's files: the copy is flushed through a handle that writes, and once
        // placed in AutoCAD Electrical's folders it is one of the user's ordinary files, which
        // they update and delete as any other (and which Clean deletes).
        if (ClearReadOnly(to, GetFileAttributesW(Wide(to)))) return {};
    }
    const DWORD err = GetLastError();
    if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) {
        // What an unfinished copy may have left (read-only when its source is).
        SetFileAttributesW(Wide(to), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Wide(to));
    }
    return ErrorText(err);
}

std::u16string DeleteOwnFile(const std::u16string& path) {
    if (DeleteFileW(Wide(path))) return {};
    DWORD err = GetLastError();
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (err != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & FILE_ATTRIBUTE_READONLY))
        return ErrorText(err);
    if (!ClearReadOnly(path, attributes)) return ErrorText(GetLastError());
    if (DeleteFileW(Wide(path))) return {};
    err = GetLastError();
    SetFileAttributesW(Wide(path), Settable(attributes));  // it stays as it was
    return ErrorText(err);
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const std::u16string& path) {
    const HANDLE h =
        CreateFileW(Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>(
        info.dwVolumeSerialNumber, (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

std::vector<FolderEntry> ListFolder(const std::u16string& folder) {
    std::vector<FolderEntry> out;
    std::u16string pattern = folder;
    if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/') pattern += u'\\';
    pattern += u'*';
    // A long path is passed in the form that lifts the old length limit (which takes
    // backslashes only).
    if (pattern.size() >= MAX_PATH && pattern.rfind(u"\\\\?\\", 0) != 0) {
        for (char16_t& c : pattern)
            if (c == u'/') c = u'\\';
        if (pattern.size() > 2 && pattern[1] == u':')
            pattern.insert(0, u"\\\\?\\");
        else if (pattern.rfind(u"\\\\", 0) == 0)
            pattern.replace(0, 2, u"\\\\?\\UNC\\");
    }
    WIN32_FIND_DATAW d;
    const HANDLE h = FindFirstFileExW(Wide(pattern), FindExInfoBasic, &d, FindExSearchNameMatch,
                                      nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(d.cFileName));
        if (name == u"." || name == u"..") continue;
        out.push_back({name, (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(h, &d));
    FindClose(h);
    return out;
}

std::u16string MoveToNew(const std::u16string& from, const std::u16string& to) {
    if (MoveFileExW(Wide(from), Wide(to), 0)) return {};
    return ErrorText(GetLastError());
}

bool SyncFilesTogether(const std::vector<std::u16string>& paths) {
    // Each file's data and metadata go to the device without the device being told to empty
    // its cache (NtFlushBuffersFileEx with FLUSH_FLAGS_NO_SYNC, Windows 8 on); one full flush at
    // the end then empties the device's cache once for all of them. Before Windows 8, each file
    // is flushed in full.
    struct IoStatus {
        union {
            LONG status;
            void* pointer;
        };
        ULONG_PTR information;
    };
    using FlushEx = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, IoStatus*);
    constexpr ULONG kNoSync = 0x2;  // FLUSH_FLAGS_NO_SYNC
    static const FlushEx flushEx = reinterpret_cast<FlushEx>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtFlushBuffersFileEx")));
    bool ok = true;
    HANDLE last = INVALID_HANDLE_VALUE;
    for (const std::u16string& p : paths) {
        const HANDLE h = CreateFileW(Wide(p), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            ok = false;
            continue;
        }
        IoStatus io{};
        const bool written = flushEx && flushEx(h, kNoSync, nullptr, 0, &io) >= 0;
        if (!written) ok = FlushFileBuffers(h) != 0 && ok;
        if (last != INVALID_HANDLE_VALUE) CloseHandle(last);
        last = h;
    }
    if (last != INVALID_HANDLE_VALUE) {
        ok = FlushFileBuffers(last) != 0 && ok;
        CloseHandle(last);
    }
    return ok;
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
