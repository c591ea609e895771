// What the tool keeps for the user on Windows, and the console of a command-line run, with
// Win32 calls only.

#include "platform/win32/win32.h"
// (after windows.h)
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/user_data.h"

namespace platform {

namespace {

const wchar_t kMarkKey[] = L"Software\\ZELK\\AE_install";
const wchar_t kMakerKey[] = L"Software\\ZELK";

using win32::FromWide;
using win32::Wide;

}  // namespace

std::u16string UserDataFolder() {
    if (const std::u16string kept = KeptUserData(); !kept.empty()) return kept;
    wchar_t path[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return {};
    std::u16string folder = FromWide(path, wcslen(path));
    if (folder.empty()) return {};
    if (folder.back() == u'\\') folder.pop_back();
    return folder + u"\\ZELK\\AE_install";
}

bool Writable(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (attributes & FILE_ATTRIBUTE_READONLY) return false;
        // Opened for writing and closed again: neither its content nor its time changes.
        const HANDLE h = CreateFileW(Wide(path), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        CloseHandle(h);
        return true;
    }
    // A folder's rights are told only by trying: a new hidden file that goes when it is closed.
    std::u16string folder = path;
    if (folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
    for (unsigned n = 0; n < 8; ++n) {
        const std::string tag =
            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount() + n);
        const std::u16string probe =
            folder + u"~zelk-write-test-" + std::u16string(tag.begin(), tag.end()) + u".tmp";
        const HANDLE h = CreateFileW(
            Wide(probe), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

std::optional<std::pair<std::int64_t, std::int64_t>> FileSizeAndTime(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) return std::nullopt;
    const auto join = [](DWORD high, DWORD low) {
        return std::int64_t((std::uint64_t(high) << 32) | low);
    };
    return std::pair<std::int64_t, std::int64_t>(
        join(data.nFileSizeHigh, data.nFileSizeLow),
        join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
}

bool WriteInstallMark(const MarkValues& values) {
    if (const std::u16string kept = KeptUserData(); !kept.empty())
        return WriteMarkFile(kept, values);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kMarkKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const auto& [name, value] : values) {
        const DWORD bytes = DWORD((value.size() + 1) * sizeof(char16_t));
        ok = RegSetValueExW(key, Wide(name), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS &&
             ok;
    }
    RegCloseKey(key);
    return ok;
}

std::optional<MarkValues> ReadInstallMark() {
    if (const std::u16string kept = KeptUserData(); !kept.empty()) return ReadMarkFile(kept);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMarkKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD count = 0, nameMax = 0, dataMax = 0;
    MarkValues out;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &nameMax, &dataMax, nullptr, nullptr) == ERROR_SUCCESS) {
        std::vector<wchar_t> name(nameMax + 1);
        std::vector<wchar_t> data(dataMax / sizeof(wchar_t) + 2);
        for (DWORD i = 0; i < count; ++i) {
            DWORD nameLength = DWORD(name.size());
            DWORD dataBytes = DWORD((data.size() - 1) * sizeof(wchar_t));
            DWORD type = 0;
            if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &dataBytes) != ERROR_SUCCESS)
                continue;
            if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
            size_t length = dataBytes / sizeof(wchar_t);
            data[length] = L'\0';
            length = wcslen(data.data());  // without the terminating character
            out.emplace_back(FromWide(name.data(), nameLength), FromWide(data.data(), length));
        }
    }
    RegCloseKey(key);
    return out;
}

bool RemoveInstallMark() {
    if (const std::u16string kept = KeptUserData(); !kept.empty()) return RemoveMarkFile(kept);
    const LONG r = RegDeleteKeyW(HKEY_CURRENT_USER, kMarkKey);
    if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return false;
    // The maker's key goes too once it holds nothing else.
    HKEY maker = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kMakerKey, 0, KEY_READ, &maker) == ERROR_SUCCESS) {
        DWORD keys = 1, values = 1;
        RegQueryInfoKeyW(maker, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(maker);
        if (keys == 0 && values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, kMakerKey);
    }
    return true;
}

namespace {

// The standard output this program was given (a file or a pipe when its caller redirected it),
// or else the console of the process that started it.
HANDLE ConsoleOutput() {
    static const HANDLE out = [] {
        const HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
        if (given && given != INVALID_HANDLE_VALUE && GetFileType(given) != FILE_TYPE_UNKNOWN)
            return given;
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return INVALID_HANDLE_VALUE;
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }();
    return out;
}

}  // namespace

void PrintToConsole(const std::u16string& text) {
    const HANDLE out = ConsoleOutput();
    if (out == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.c_str(), DWORD(text.size()), &written, nullptr);
        return;
    }
    // A file or a pipe gets UTF-8.
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, Wide(text), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    std::string bytes(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide(text), int(text.size()), bytes.data(), n, nullptr,
                        nullptr);
    WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

void InitComponentObjects() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

}  // namespace platform
