#include "registry_delete.h"

#include "setup_state.h"

namespace {

using DeleteKeyByHandle = LONG(WINAPI*)(HANDLE);

DeleteKeyByHandle NtDeleteKeyFunction()
{
    return FindFunction<DeleteKeyByHandle>(GetModuleHandleA("ntdll.dll"), "NtDeleteKey");
}

// Whether a key opened with REG_OPTION_OPEN_LINK is a registry link: what
// it leads to belongs to someone else.
bool IsRegistryLink(HKEY key)
{
    DWORD type = 0;
    return RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS
        && type == REG_LINK;
}

// Deletes every subkey of an open key; a subkey that cannot be deleted is
// passed over and the walk goes on.
void DeleteSubkeys(HKEY key)
{
    char last[256] = "";
    DWORD index = 0;
    char name[256];
    while (RegEnumKeyA(key, index, name, sizeof name) == ERROR_SUCCESS) {
        if (lstrcmpiA(name, last) == 0) {
            ++index; // that subkey could not be deleted: go on past it
            continue;
        }
        DeleteKeyTree(key, name);
        lstrcpyA(last, name);
    }
}

} // namespace

void DeleteKeyTree(HKEY parent, const char* path)
{
    const DeleteKeyByHandle deleteKey = NtDeleteKeyFunction();
    HKEY key;
    const bool opened = RegOpenKeyExA(parent, path, deleteKey ? REG_OPTION_OPEN_LINK : 0, KEY_ALL_ACCESS, &key)
        == ERROR_SUCCESS;
    if (!deleteKey) {
        // Windows 95 and 98: by name, also when the open failed.
        if (opened) {
            DeleteSubkeys(key);
            RegCloseKey(key);
        }
        RegDeleteKeyA(parent, path);
        return;
    }
    if (!opened)
        return; // nothing else of that name is ever deleted instead
    // A link has no subkeys of its own: only the link itself goes.
    if (!IsRegistryLink(key))
        DeleteSubkeys(key);
    deleteKey(key);
    RegCloseKey(key);
}
