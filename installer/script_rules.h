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

// The proposed destination: "<drive>:\Program Files\<folder>\" for a Windows
// folder on a drive (else "c:\..."); a folder that starts with "\" goes to
// the drive root instead, and loses that "\" in `folder` itself.
bool DefaultDestination(const char* windowsDir, char* folder, char* out, size_t size);

// The folder of a registered uninstaller, from its UninstallString, quoted
// ("C:\A\X.EXE" /r) or not (C:\A\X.EXE /r), into `destination`.
void PreviousDestination(const char* uninstallString, char* destination, size_t size);

enum class EntryKind {
    End,         // an empty value: the list ends here
    Destination, // a file under the destination (or the Windows folder)
    System,      // a file in the System folder: never removed
    TooLong,     // the target path would not fit: reported and skipped
};

struct InstallEntry {
    char source[PathSize];  // empty: delete the target instead of copying
    char target[PathSize];
    size_t relativePart;    // where the entry's own sub-path starts in target
};

// Parses the value of a file entry ("source", "source,target",
// "source,w!name", "source,s!name", ",target").
EntryKind ParseInstallEntry(const char* value, const char* destination, const char* windowsDir,
                            const char* systemDir, InstallEntry* entry);

enum class GroupKind { End, Shortcut, TooLong };

// Parses a shortcut entry ("caption,file[,arguments]"): End for an empty
// value, one without a comma or with an empty caption.
GroupKind ParseGroupEntry(const char* value, const char* destination, char* caption, size_t captionSize,
                          char* target, size_t targetSize);

enum class RegRoot { None, CurrentUser, LocalMachine, ClassesRoot };

// The root and key path of a "Reg" value. None for an unknown root, and for
// a value that names a root alone (or a root and backslashes): deleting that
// would empty the whole root.
RegRoot ParseRegValue(const char* value, const char** keyPath);
