// Registration in the list of installed programs, and removal.
#pragma once

#include <windows.h>

void RegisterUninstall();
// "r": confirm, copy the installer to the System folder, start that copy.
void RunUninstallRequest();
// "x": the copy in the System folder removes the product.
void RunUninstallCopy();
bool RunUninstall();
void DeleteKeyTree(HKEY parent, const char* path);
bool CleanFolderTree(char* folder);
