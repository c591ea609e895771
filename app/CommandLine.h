#pragma once

// The command line: unattended Install, Clean and a status query for deployment to many
// workstations (a logon script, Group Policy, Intune, Configuration Manager).
//
//   ZELK_AE_install.exe /install [/groups:all|CODE,CODE] [/release:YEAR] [/lang:rus|enu]
//                       [/catalog:PATH] [/project:FILE.wdp] [/log:FILE] [/update]
//   ZELK_AE_install.exe /clean [the same options]
//   ZELK_AE_install.exe /status [/log:FILE]
//   ZELK_AE_install.exe /?
//
// The same words with "--" work everywhere ("--install --log FILE"). The exit codes are those
// of ExitCode.

namespace cli {

enum ExitCode : int {
    kSuccess = 0,         // also when there was nothing to do; /status: installed
    kShortfall = 1,       // done, but not all of it; /status: not installed
    kStopped = 2,         // stopped, the catalog unchanged
    kUsage = 3,           // the command line is wrong
    kNotFound = 4,        // no AutoCAD Electrical installation, or no catalog
    kAnotherCopy = 1618,  // another copy of the tool runs (the window, or a command): retry later
};

// The name of the one copy a logon session runs, the window's or a command's.
inline constexpr char16_t kInstanceName[] = u"уникальная фраза";

// Whether the arguments ask for a command-line run: an argument that starts with "/" or "--"
// (or "-?", "-h"). Without one the tool starts its window.
bool IsCommandLine(int argc, char** argv);

// The command-line run; its exit code.
int Run(int argc, char** argv);

}  // namespace cli
