// Folder creation and reported deletion. Paths given to the folder
// operations end with "\"; they are changed only during the call.
#pragma once

// Makes sure the last folder of `path` exists (a drive root always does).
// With `protect`, a folder that has to be made gets the protection of a
// product folder (CreateProductFolder); one that exists keeps its own.
bool CreateFolderLevel(char* path, bool protect = false);
// Makes sure every folder of `path` exists, from the drive root down.
bool CreateFolderPath(char* path, bool protect = false);
// Creates one folder (no "\" at its end) with the protection of a product
// folder, ProductFolderSddl, where Windows knows security descriptors, and
// with the default protection elsewhere. The program links the real one;
// tests link their own.
bool CreateProductFolder(const char* path);
// Whether a folder path (ending "\") leads through a junction or symbolic
// link: the folder itself or one of its existing folders below the drive
// root (the root itself is not looked at). The first such folder, without
// its "\", goes to `link`.
bool FindLinkOnTheWay(const char* path, char* link);
// What follows the path of such a link in the message.
constexpr char LinkMessage[] = " はジャンクションまたはシンボリックリンクのため、インストール先にできません。";
// Whether a folder (full path, ending "\" or not) lies below one of the
// Program Files folders (either view), where only administrators may
// create folders.
bool IsBelowProgramFiles(const char* folder);
// Whether the volume of a full path keeps access control lists (NTFS; not
// FAT or exFAT).
bool VolumeKeepsAcls(const char* path);
// Makes an existing folder (no "\" at its end) a product folder: owned by
// Administrators, with ProductFolderSddl, and everything in it reset to
// inherit that (owned by Administrators, nothing of its own). False when
// any step fails, or a junction or symbolic link lies below it.
bool ProtectExistingFolder(const char* path);
// Deletes one file (clearing a read-only mark first); a file that is not
// there is no failure; a failure is reported.
bool DeleteFileReported(const char* path);
// The full path in its long form, as far as it exists: "C:\PROGRA~1\..\x"
// is "C:\x", "C:\WINDOW~1\new" is "C:\Windows\new".
bool FullLongPath(const char* path, char* out);
// Whether a folder (full path, ending "\\" or not) is no product's own: the
// Windows folder or below it, the System folder, Program Files or Common
// Files (both views), the user's profile, Desktop or Documents themselves.
// Short names, "." and ".." are resolved first.
bool IsReservedFolder(const char* folder);
