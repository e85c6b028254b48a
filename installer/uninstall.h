// Registration in the list of installed programs, and removal.
#pragma once

#include <windows.h>

// False when the entry could not be written.
bool RegisterUninstall();
// Whether the running program belongs to the installation that the
// Uninstall entry names (or there is none); false after the message.
bool BelongsToInstallation();
// "r": confirm (not in silent mode), copy the installer to the System
// folder, start that copy; in silent mode wait for it. The exit code.
int RunUninstallRequest();
// "x": the copy in the System folder removes the product. The exit code.
int RunUninstallCopy();
bool RunUninstall();
