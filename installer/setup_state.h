// The installer's one process-wide state, shared by all its parts.
#pragma once

#include <windows.h>

#include "script_rules.h"

struct SetupState {
    HINSTANCE instance;
    bool newShell;                   // Windows 4.0 or later: shell links, desktop shortcut, note 1012
    char ownPath[PathSize];          // the running program
    char sourceFolder[PathSize];     // the installer's folder (or the "x" path's), ending "\"
    char installerName[PathSize];
    char scriptName[PathSize];
    char scriptPath[PathSize];
    char title[100];
    char folder[100];
    bool resident;                   // "TSR"
    char destination[PathSize];      // ends with "\" once validated
    bool destinationExisted;         // the destination's folder was there when it was checked
    bool destinationMade;            // the copy phase made the destination's folder
    bool takeOverDestination;        // the destination is someone else's: made the product's own first
    bool destinationRefused;         // the copy phase refused the folder: nothing was installed
    char previousDestination[PathSize]; // the earlier installation's folder, or empty
    bool previousFolderMade;         // Setup made that folder (FolderMadeBySetup of its entry)
    int installCount;
    int groupCount;
    InstallEntry entry;              // the current file entry
    char caption[PathSize];          // the current shortcut entry
    char groupTarget[PathSize];
    char* groupCaptions;             // uninstall: the "Group" captions, each ended by a zero, then an empty one
    bool startMenu;                  // wizard choices
    bool desktop;
    HWND messageOwner;               // owns error messages: the current page or the uninstall window
    HWND sheet;                      // the wizard frame
    int copyStep;
    bool copyError;
    unsigned long long copiedBytes;  // what the copy phase wrote, for the list of installed programs
    bool copyDone;                   // the copy phase ran to its end
    bool silent;                     // "/S": no window; messages go to the log
    HANDLE logFile;                  // "/LOG=": the log, opened once (inheritable), or nullptr
    HANDLE requestProcess;           // the copy: the uninstall request, or nullptr
    HANDLE resultPipe;               // the silent copy: where the request reads the result, or nullptr
};

extern SetupState g_setup;

// Reads the script, proposes the destination and counts the entries. False
// (after the message) when the script is missing or broken.
bool LoadSetupScript();
// The message for a missing or broken script, with no owner.
void ShowBrokenScript();
// Reads one value of the script (default empty), bounded by `size`.
void ReadScriptValue(const char* section, const char* key, char* out, DWORD size);
// Fills g_setup.entry for entry n (-1 the installer, 0 the script, 1.. the
// numbered entries).
EntryKind LoadInstallEntry(int n);
// Fills g_setup.caption and g_setup.groupTarget for shortcut entry n.
GroupKind LoadGroupEntry(int n);

// The System folder and, for a 32-bit program on 64-bit Windows, the real
// place of what it sees there (SysWOW64; empty elsewhere).
void SystemFolders(char* systemDir, char* wow64Dir);

// A function of a loaded DLL, or nullptr where this Windows lacks it.
template <typename Function> Function FindFunction(HMODULE module, const char* name)
{
    FARPROC function = module ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(function));
}

// A security descriptor from its text form (LocalFree it), or nullptr:
// where Windows has none of that form (before 2000) with the last error
// ERROR_PROC_NOT_FOUND, else where the text fails.
PSECURITY_DESCRIPTOR DescriptorFromSddl(const char* sddl);

// The Uninstall entries of the list of installed programs, below
// HKEY_LOCAL_MACHINE; the product's is this followed by its Title.
extern const char UninstallKey[];
// The value of that entry that records whether Setup made the destination.
extern const char FolderMadeValue[];

// Whether this is Windows Vista or later, asked of what the system has (a
// function that only Vista and later export), never of the version number,
// which a compatibility mode makes older.
bool IsVistaOrLater();

// The exit code of a run that got to its end: success or failure. (No
// run ends with 3010: nothing of the product waits for a restart; only the
// uninstall copy's own file does, which asks nothing of the user.)
int OutcomeExitCode(bool succeeded);

// A message box owned by the message owner: `path` followed by `message`,
// the system's default caption, the error icon.
void ShowPathError(const char* path, const char* message);
