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
// Deletes one file (clearing a read-only mark first); a file that is not
// there is no failure; a failure is reported.
bool DeleteFileReported(const char* path);
// Whether a folder (full path, ending "\\" or not) is no product's own: the
// Windows folder or below it, the System folder, Program Files or Common
// Files (both views), the user's profile, Desktop or Documents themselves.
// Short names, "." and ".." are resolved first.
bool IsReservedFolder(const char* folder);
