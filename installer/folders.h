// Folder creation and reported deletion. Paths given to the folder
// operations end with "\"; they are changed only during the call.
#pragma once

#include "descriptor_rules.h"

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
// Whether `path` (no "\" at its end) is a junction, a symbolic link or
// another reparse point that stands for another name. Reparse points that
// keep the file where it is (cloud placeholders, deduplication) are not.
bool IsNameSurrogate(const char* path);
// Whether a folder path (ending "\") leads through a junction or symbolic
// link: the folder itself or one of its existing folders below the drive
// root (the root itself is not looked at). The first such folder, without
// its "\", goes to `link`.
bool FindLinkOnTheWay(const char* path, char* link);
// What follows the path of such a link in the message.
extern const char LinkMessage[];
// What ReadFolderDescriptor found.
enum class DescriptorRead {
    Read,       // the descriptor is in the buffer
    NoSecurity, // Windows keeps none (95, 98, Me): there is no other account
    Failed,     // it could not be read (or does not fit): never trusted
};
// The owner and DACL of an existing folder (no "\" at its end, except a
// drive root), self-relative, into `descriptor` (`size` bytes), its length
// into `length`. The program links the real one (GetFileSecurity); tests
// link their own, as Wine keeps no security of files.
DescriptorRead ReadFolderDescriptor(const char* path, unsigned char* descriptor, unsigned long size,
                                    unsigned long* length);
// Whether a folder (no "\" at its end, except a drive root) keeps every
// account but Administrators, SYSTEM and TrustedInstaller out, as `use`
// says (descriptor_rules.h). Where Windows keeps no security, true.
bool KeepsOthersOutOfFolder(const char* path, FolderUse use);
// Whether another account could rename or replace a folder on the way to a
// destination (full path ending "\"), spelt canonically: an existing folder
// below the drive root (the destination itself aside) that is not
// Administrators' own or that another account may delete or change, or a
// folder whose parent lets another account delete what it holds. That
// folder, without its "\", goes to `folder`.
bool FindRenameableFolder(const char* destination, char* folder);
// What follows such a folder in the message.
extern const char RenameableMessage[];
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
