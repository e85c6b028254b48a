// The autostart shortcut "Quorvane.lnk" in the user's Startup folder.
#pragma once

#include <windows.h>

// The shortcut's full path. False, with no path, when the Startup folder
// cannot be read or the path would not fit: no file may then be tested,
// written or deleted.
bool GetStartupShortcutPath(char* buffer, int capacity);
// Whether a file at `path` can be opened for reading.
bool ShortcutExists(const char* path);
// Writes a shell link; every text may be null. The caller has initialised
// COM on its thread. Returns the result of saving the link.
HRESULT CreateShortcut(const char* linkPath, const char* target, const char* description, const char* arguments,
                       const char* workingDirectory, const char* iconPath, int iconIndex, int showCommand);
