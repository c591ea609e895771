#pragma once

// What the operating system provides to the tool. On Windows these are Win32 calls
// (platform/win32, standard C++ and Win32 headers only); elsewhere a portable stand-in with
// the same observable behaviour (platform/portable). Text crosses this boundary as UTF-16.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

enum class InstanceGuard {
    First,           // this copy now owns the named mutex
    AlreadyRunning,  // another copy in this logon session owns it
    Failed           // the mutex could not be created; the guard is not in force
};

// Creates the named single-instance mutex with initial ownership; it is held until the
// process ends.
InstanceGuard AcquireInstanceMutex(const std::u16string& name);

// The system's ANSI code page (Windows-1251 off Windows). Characters the code page cannot
// represent become its default character.
std::string AnsiEncode(const std::u16string& text);
std::u16string AnsiDecode(const std::string& bytes);

// Starts a command line with its window hidden, without waiting for what it starts;
// workingDir is the new process's current directory (empty: the caller's). Returns the
// reason when it did not start (the system refused the program, or the command interpreter
// could not start the script and said so by its exit code within a few seconds), the empty
// text when it did.
// On Windows the command line is given to CreateProcess as it stands; elsewhere the stand-in
// understands "<interpreter> /c start [\"\"] <script>", where the interpreter is "cmd" or a
// path ending in "cmd.exe" and the script may be quoted, and runs the script detached.
std::u16string StartHidden(const std::u16string& commandLine, const std::u16string& workingDir);

// The full path of the system folder's command interpreter (cmd.exe), so that no cmd.exe in the
// tool's or the current folder is taken for it. Elsewhere a name the stand-in of StartHidden
// understands.
std::u16string CommandInterpreter();

// Pushes what the system still holds of a written file onto the disk, so that a full disk or a
// failing device shows here and not after the file has replaced another. `fd` is the open
// descriptor where the system has one (off Windows), `path` names the same file.
bool SyncFile(int fd, const std::u16string& path);

// For a large file written in order: starts putting onto the disk the `window` bytes written
// last to the open file `fd` (which now holds `written` bytes), and waits for the window
// before them and lets the file cache forget it. The copy then passes through a few windows of
// memory while the disk works alongside; SyncFile still makes it durable. Nothing where the
// system has no such calls (Windows).
void WriteBehind(int fd, std::int64_t written, std::int64_t window);
// Whether WriteBehind does anything here.
bool WritesBehind();

// Pushes onto the disk, in one call, everything written to the file system that holds
// `folder`: the contents of its files and the entries of its folders. False where the system
// offers no such call (Windows, where each file is flushed through its own handle instead) or
// where it fails.
bool SyncFileSystem(const std::u16string& folder);

// Puts the file `from` in the place of `to` in one step, replacing an existing `to`; when it
// fails, both stay as they were. Returns the system's reason on failure, the empty text on
// success.
std::u16string MoveReplacing(const std::u16string& from, const std::u16string& to);

// What tells a file from every other while it exists: the same pair for each name of the
// file, another for a file that has taken its name since. Nothing when it cannot be looked at.
std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const std::u16string& path);

// Copies the file `from` to the new file `to`, which must not exist yet; nothing is left at
// `to` when the copy fails. The copy is the tool's own: writable by its owner whatever the
// source's read-only attribute (Windows) or write bits (elsewhere) are, with the source's other
// attributes or permission bits as a system copy gives them. Returns the system's reason on
// failure, the empty text on success.
std::u16string CopyToNew(const std::u16string& from, const std::u16string& to);

// Deletes a file of the tool's own making (a temporary copy, a copy it placed), also when it is
// read-only: on Windows its read-only attribute is cleared first (a file that still cannot be
// deleted gets it back); elsewhere a file's own bits never stand in the way. Refuses a folder.
// Returns the system's reason on failure, the empty text on success.
std::u16string DeleteOwnFile(const std::u16string& path);

// One entry of a folder: its name, and whether it is a folder (a link counts as what it leads
// to).
struct FolderEntry {
    std::u16string name;
    bool isFolder = false;
};
// The entries of `folder` in no particular order ("." and ".." left out, hidden and system ones
// included); nothing when it cannot be listed.
std::vector<FolderEntry> ListFolder(const std::u16string& folder);

// Gives the file `from` the name `to` in one step unless a file of that name exists by then;
// when it fails, both stay as they were. Returns the system's reason on failure, the empty
// text on success.
std::u16string MoveToNew(const std::u16string& from, const std::u16string& to);

// Pushes the written files `paths` onto the disk together: the contents of each are written
// out, then the disk is told once to make all of it durable (Windows, from Windows 8 on); where
// that is not offered, each file is flushed on its own. False when one of them could not be.
bool SyncFilesTogether(const std::vector<std::u16string>& paths);

// Gives a native top-level window (a Windows HWND) a title bar with the system menu, minimise
// and maximise, on a single border that cannot be dragged to another size. Nothing elsewhere.
void ShowFixedFrameWithMaximise(std::uintptr_t nativeWindow);

// Maps a path written with backslashes to the file system's native form (identity on Windows).
std::u16string NativePath(const std::u16string& path);

// ---- what the tool keeps for the user, and the console of a command-line run

// The folder that takes what the tool writes for the user when its own folder takes no writes
// (installed under Program Files or on a network share): the user's roaming application data
// folder + "\ZELK\AE_install" on Windows, elsewhere the user's configuration folder
// (XDG_CONFIG_HOME, else ~/.config) + "/ZELK/AE_install". No trailing separator; not created
// here. Empty when the system names no such folder.
std::u16string UserDataFolder();

// Whether `path` can be written: for a folder, whether it takes a new file; for a file, whether
// it can be opened for writing. Nothing is left changed by the look.
bool Writable(const std::u16string& path);

// The size of a file and the time it was last written (in the system's own units), looked at
// in one call; nothing when it cannot be looked at.
std::optional<std::pair<std::int64_t, std::int64_t>> FileSizeAndTime(const std::u16string& path);

// The detection mark: what Install recorded for the user, as names and values. On Windows the
// string values of the registry key HKEY_CURRENT_USER\Software\ZELK\AE_install; elsewhere the
// file "install-mark.ini" in UserDataFolder(). Writing sets the mark's values (false when
// it cannot be written); reading gives nothing when there is no mark; removing is true when no
// mark is left.
using MarkValues = std::vector<std::pair<std::u16string, std::u16string>>;
bool WriteInstallMark(const MarkValues& values);
std::optional<MarkValues> ReadInstallMark();
bool RemoveInstallMark();

// A test program keeps what the tool records for the user away from the user's own: from then
// on UserDataFolder() is `folder`, and the detection mark is the file "install-mark.ini" in it
// on every system (never the user's registry).
void KeepUserDataIn(const std::u16string& folder);

// Writes text to the console the tool was started from: on Windows, where a program with a
// window has no console of its own, the standard output it was given or else the console of the
// process that started it (attached on first use); elsewhere the standard output. Nothing when
// there is none.
void PrintToConsole(const std::u16string& text);

// Readies this thread for the component objects the database engine of Windows builds uses.
// Nothing elsewhere.
void InitComponentObjects();

}  // namespace platform
