// The path rules of the setup script, as plain text operations: where the
// script is, the default and previous destination, and what a file, shortcut
// or registry entry means. Every result is bounded by its buffer: a result
// that would not fit is refused, never cut into another path.
#pragma once

#include <cstddef>

constexpr size_t PathSize = 260;

// The script's file name: the installer's file name with its last three
// characters replaced by "INF" (SETUP.EXE reads SETUP.INF, INSTALL reads
// INSTINF). False for a name shorter than three characters.
bool ScriptFileName(const char* installerName, char* out, size_t size);

// The proposed destination: "<programs folder>\<folder>\", where the
// programs folder is the one Windows gives this program (`programFiles`,
// "C:\Program Files (x86)" for a 32-bit program on 64-bit Windows) or, when
// that is empty, "<drive>:\Program Files" for a Windows folder on a drive
// (else "c:"). A folder that starts with "\" goes to the root of the Windows
// drive instead, and loses that "\" in `folder` itself.
bool DefaultDestination(const char* windowsDir, const char* programFiles, char* folder, char* out, size_t size);

// Whether a relative path stays inside the folder it is appended to: no ".."
// step (a part made of dots and spaces only, with two dots or more), no
// colon (drive or stream), no leading "\" or "/". Both "\" and "/" separate.
bool IsContainedPath(const char* path);
// Whether a full path ("X:\..." with "\" or "/") names the drive root once
// its "." and ".." parts are resolved: "C:\.\", "C:\x\..\", "C:\\" are "C:\".
bool IsDriveRootPath(const char* path);
// Whether a text can name a file, a folder and a registry key of its own:
// none of \ / : * ? " < > | or control characters, and not dots and spaces only.
bool IsPlainName(const char* name);

// Whether the "Folder" value names a folder of its own under the programs
// folder (or, after a leading "\\", under the drive root): parts separated
// by "\\", each a plain name, so none is "." or "..", and none is empty.
bool IsFolderName(const char* folder);

// Where a file of the System folder really is. A 32-bit program on 64-bit
// Windows that names the System folder reaches SysWOW64 (`wow64Dir`, empty
// elsewhere): what it hands to a 64-bit process (Explorer, Windows at
// restart) must name that place. Any other path is copied as it is.
bool RealSystemPath(const char* path, const char* systemDir, const char* wow64Dir, char* out, size_t size);

// Whether a full path lies below `folder` (not the folder itself); letters
// compare without regard to case, a trailing "\" does not count.
bool IsStrictlyBelow(const char* path, const char* folder);

// Folders that are no product's own: a destination there would mix the
// product with Windows or with the user's files, and the uninstaller would
// sweep them. `windowsDir` refuses itself and everything below it; each of
// `places` (empty ones are skipped) refuses itself only. All paths are full
// and long; a trailing "\" and the case of letters do not matter.
bool IsReservedDestination(const char* destination, const char* windowsDir, const char* const* places, int count);

// The protection of a folder that Setup creates for a product, as in
// Program Files: SYSTEM and Administrators full control, Users read and
// execute, and as since Windows 8 ALL APPLICATION PACKAGES and ALL
// RESTRICTED APPLICATION PACKAGES (S-1-15-2-1, S-1-15-2-2) read and execute
// too, so that programs in an AppContainer may load the product's files;
// inherited by everything in it, nothing from the parent. Only
// administrators can then replace the program or the script that the
// elevated uninstaller trusts.
extern const char ProductFolderSddl[];

// The folder of a registered uninstaller, from its UninstallString, quoted
// ("C:\A\X.EXE" /r) or not (C:\A\X.EXE /r), into `destination`.
void PreviousDestination(const char* uninstallString, char* destination, size_t size);

enum class EntryKind {
    End,         // an empty value: the list ends here
    Destination, // a file under the destination (or the Windows folder)
    System,      // a file in the System folder: never removed
    TooLong,     // the target path would not fit: reported and skipped
    Outside,     // the entry would write or delete outside its folder
};

struct InstallEntry {
    char source[PathSize];  // empty: delete the target instead of copying
    char target[PathSize];
    size_t relativePart;    // where the entry's own sub-path starts in target
};

// Parses the value of a file entry ("source", "source,target",
// "source,w!name", "source,s!name", ",target"). The part appended to the
// folder (target, or source without one) must be a contained path.
EntryKind ParseInstallEntry(const char* value, const char* destination, const char* windowsDir,
                            const char* systemDir, InstallEntry* entry);

enum class GroupKind { End, Shortcut, TooLong, BadCaption };

// Parses a shortcut entry ("caption,file[,arguments]"): End for an empty
// value, one without a comma or with an empty caption; BadCaption for a
// caption that is no plain name (it becomes a file name).
GroupKind ParseGroupEntry(const char* value, const char* destination, char* caption, size_t captionSize,
                          char* target, size_t targetSize);

enum class RegRoot { None, CurrentUser, LocalMachine, ClassesRoot };

// Whether a program may delete the key `keyPath` (and everything below it)
// of `root`. Under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER only
// SOFTWARE\<vendor> itself or a key below it, where the vendor is none of
// Microsoft, Classes, Policies, Wow6432Node, Clients, RegisteredApplications,
// ODBC, Description; under HKEY_CLASSES_ROOT only a product's own file type
// or ProgID, never a type or protocol of Windows (.exe, .reg, .htm, .js,
// http, mailto, ms-..., exefile, JSFile, ...) nor a shared container (CLSID,
// Interface, TypeLib, AppID, Installer, MIME, PROTOCOLS, Local Settings, ...).
// What of a file type's key may go is decided at removal, by what it holds. Key names compare without regard to case; empty names
// ("a\\b", a trailing "\") do not count.
bool IsDeletableKey(RegRoot root, const char* keyPath);

// The root and key path of a "Reg" value: a root name followed by exactly
// one "\", then a key that IsDeletableKey allows. None otherwise.
RegRoot ParseRegValue(const char* value, const char** keyPath);
