// Folder creation and reported deletion. Paths given to the folder
// operations end with "\"; they are changed only during the call.
#pragma once

// Makes sure the last folder of `path` exists (a drive root always does).
bool CreateFolderLevel(char* path);
// Makes sure every folder of `path` exists, from the drive root down.
bool CreateFolderPath(char* path);
// Deletes one file (clearing a read-only mark first); a file that is not
// there is no failure; a failure is reported.
bool DeleteFileReported(const char* path);
