#include "registry_delete.h"

#include <cstring>

#include "dbcs_path.h"
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

namespace {

// Opens parent\path one name at a time, none of them through a registry
// link: the keys on the way with the rights to look, the last with those
// that deleting it needs. Null where a name cannot be opened or is a link
// on the way (what it leads to is someone else's).
HKEY OpenWithoutLinks(HKEY parent, const char* path)
{
    char name[256];
    HKEY key = parent;
    for (const char* p = path; *p;) {
        const char* end = FindCharDbcs(p, '\\');
        const size_t length = end ? size_t(end - p) : strlen(p);
        if (length == 0 || length >= sizeof name) {
            if (key != parent)
                RegCloseKey(key);
            return nullptr;
        }
        memcpy(name, p, length);
        name[length] = '\0';
        p += length + (end ? 1 : 0);
        const bool last = !*p;
        HKEY next;
        const LONG opened = RegOpenKeyExA(key, name, REG_OPTION_OPEN_LINK,
                                          last ? DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE
                                               : KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                                          &next);
        if (key != parent)
            RegCloseKey(key);
        if (opened != ERROR_SUCCESS)
            return nullptr;
        key = next;
        if (!last && IsRegistryLink(key)) {
            RegCloseKey(key);
            return nullptr;
        }
    }
    return key == parent ? nullptr : key;
}

} // namespace

void DeleteKeyTree(HKEY parent, const char* path)
{
    const DeleteKeyByHandle deleteKey = NtDeleteKeyFunction();
    if (!deleteKey) {
        // Windows 95 and 98: by name, also when the open failed.
        HKEY key;
        if (RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            DeleteSubkeys(key);
            RegCloseKey(key);
        }
        RegDeleteKeyA(parent, path);
        return;
    }
    HKEY key = OpenWithoutLinks(parent, path);
    if (!key)
        return; // nothing else of that name is ever deleted instead
    // A link has no subkeys of its own: only the link itself goes.
    if (!IsRegistryLink(key))
        DeleteSubkeys(key);
    deleteKey(key);
    RegCloseKey(key);
}
