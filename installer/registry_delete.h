// Deleting a registry key with everything below it: the script's "Reg"
// keys, the Uninstall entry, the service's keys and event source.
#pragma once

#include <windows.h>

// Deletes parent\path and all its subkeys. On the NT family each key is
// opened one name at a time from `parent`, never through a registry link
// (one on the way leaves the whole path alone), with only the rights that
// deleting needs, and deleted through that handle
// (NtDeleteKey), never again by name: a key that cannot be opened is left,
// and a link is deleted as itself, never what it leads to. Windows 95 and 98
// (no NtDeleteKey) delete by name. Errors are not reported.
void DeleteKeyTree(HKEY parent, const char* path);
