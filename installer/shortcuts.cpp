#include "shortcuts.h"

#include <objbase.h>
#include <shlobj.h>
#include <ddeml.h>

#include "dbcs_path.h"
#include "folders.h"
#include "setup_state.h"

namespace {

const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const PlaceNames[] = {"Programs", "Desktop", "Startup"};

DWORD g_ddeInstance;
HCONV g_conversation;

// The folder of a place, ending "\"; false when the shell does not name
// one. A REG_EXPAND_SZ value may hold %USERPROFILE% and the like; only an
// absolute path ("C:\..." or "\\server\...") names a folder, anything else
// would put the links wherever the current folder is.
bool PlaceFolder(ShortcutPlace place, char* folder)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ShellFoldersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char value[PathSize];
    DWORD size = PathSize - 1;
    DWORD type;
    const LONG result = RegQueryValueExA(key, PlaceNames[place], nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size <= 1)
        return false;
    value[size] = '\0';
    if (type == REG_EXPAND_SZ) {
        const DWORD length = ExpandEnvironmentStringsA(value, folder, PathSize);
        if (length == 0 || length > PathSize)
            return false;
    } else {
        lstrcpynA(folder, value, PathSize);
    }
    const bool absolute = (folder[0] && folder[1] == ':' && folder[2] == '\\')
        || (folder[0] == '\\' && folder[1] == '\\');
    return absolute && EnsureTrailingBackslash(folder, PathSize);
}

// The items of a place: the shortcut entries for Programs when the script
// has any, otherwise the first file entry under the Title.
struct ShortcutItem {
    char name[PathSize];
    char target[PathSize];
};

bool LoadItem(bool fromGroup, int n, ShortcutItem* item)
{
    if (fromGroup) {
        if (LoadGroupEntry(n) != GroupKind::Shortcut)
            return false;
        lstrcpynA(item->name, g_setup.caption, PathSize);
        lstrcpynA(item->target, g_setup.groupTarget, PathSize);
        return true;
    }
    if (LoadInstallEntry(1) == EntryKind::TooLong)
        return false;
    lstrcpynA(item->name, g_setup.title, PathSize);
    lstrcpynA(item->target, g_setup.entry.target, PathSize);
    return item->target[0] != '\0';
}

void SaveLink(const char* folder, const ShortcutItem& item)
{
    IShellLinkA* link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return;
    char target[PathSize];
    lstrcpynA(target, item.target, PathSize);
    if (char* comma = FindCharDbcs(target, ',')) {
        *comma = '\0';
        link->SetArguments(comma + 1);
    }
    link->SetPath(target);
    link->SetWorkingDirectory(g_setup.destination);
    char linkPath[PathSize];
    IPersistFile* file;
    if (CopyBounded(linkPath, sizeof linkPath, folder) && AppendBounded(linkPath, sizeof linkPath, item.name)
        && AppendBounded(linkPath, sizeof linkPath, ".lnk")
        && SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        WCHAR widePath[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH))
            file->Save(widePath, TRUE);
        file->Release();
    }
    link->Release();
}

// Removes the links that the script's "Group" section names (read before
// the script itself was deleted), then the folder if nothing else is in it:
// a file of the user's own stays, and so does a folder that is a junction or
// symbolic link (nothing in it is ours).
void RemoveNamedLinks(const char* folder)
{
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    for (const char* name = g_setup.groupCaptions; name && *name; name += lstrlenA(name) + 1) {
        char link[PathSize];
        if (CopyBounded(link, sizeof link, folder) && AppendBounded(link, sizeof link, "\\")
            && AppendBounded(link, sizeof link, name) && AppendBounded(link, sizeof link, ".lnk"))
            DeleteFileA(link);
    }
    RemoveDirectoryA(folder);
}

void ShellLinkShortcuts(ShortcutPlace place, bool remove)
{
    char folder[PathSize];
    if (!PlaceFolder(place, folder))
        return; // the shell names no such folder: nothing is made or removed
    const bool fromGroup = place == Programs && g_setup.groupCount > 0;
    if (fromGroup) {
        if (!AppendBounded(folder, sizeof folder, g_setup.title))
            return;
        if (remove) {
            RemoveNamedLinks(folder);
            return;
        }
        if (!AppendBounded(folder, sizeof folder, "\\"))
            return;
        CreateFolderLevel(folder);
    } else if (remove) {
        char link[PathSize];
        if (CopyBounded(link, sizeof link, folder) && AppendBounded(link, sizeof link, g_setup.title)
            && AppendBounded(link, sizeof link, ".lnk"))
            DeleteFileA(link);
        return;
    }
    const int count = fromGroup ? g_setup.groupCount : 1;
    if (FAILED(CoInitialize(nullptr)))
        return;
    ShortcutItem item;
    for (int n = 1; n <= count; ++n) {
        if (LoadItem(fromGroup, n, &item))
            SaveLink(folder, item);
    }
    CoUninitialize();
}

HDDEDATA CALLBACK DdeCallback(UINT type, UINT, HCONV conversation, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    if (type == XTYP_DISCONNECT && conversation == g_conversation)
        g_conversation = nullptr;
    return nullptr;
}

void ConnectToProgman()
{
    if (g_conversation)
        return;
    if (!g_ddeInstance && DdeInitializeA(&g_ddeInstance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
        g_ddeInstance = 0;
        return;
    }
    HSZ service = DdeCreateStringHandleA(g_ddeInstance, "PROGMAN", CP_WINANSI);
    g_conversation = DdeConnect(g_ddeInstance, service, service, nullptr);
    DdeFreeStringHandle(g_ddeInstance, service);
}

bool Command(char* out, int size, const char* a, const char* b = "", const char* c = "")
{
    out[0] = '\0';
    return AppendBounded(out, size_t(size), a) && AppendBounded(out, size_t(size), b)
        && AppendBounded(out, size_t(size), c);
}

void AddItem(const char* target, const char* caption)
{
    char command[PathSize];
    if (BuildAddItemCommand(target, caption, command, sizeof command))
        ProgmanExecute(command);
}

void ProgmanShortcuts(ShortcutPlace place, bool remove)
{
    ConnectToProgman();
    char command[PathSize];
    if (place == Startup) {
        ProgmanExecute("[ShowGroup(\"スタートアップ\",1)]");
        if (remove) {
            if (Command(command, sizeof command, "[DeleteItem(\"", g_setup.title, "\")]"))
                ProgmanExecute(command);
            return;
        }
        ShortcutItem item;
        const bool fromGroup = g_setup.groupCount > 0;
        if (LoadItem(fromGroup, 1, &item))
            AddItem(item.target, fromGroup ? item.name : g_setup.title);
        return;
    }
    if (remove) {
        if (Command(command, sizeof command, "[DeleteGroup(\"", g_setup.title, "\",0)]"))
            ProgmanExecute(command);
        return;
    }
    if (Command(command, sizeof command, "[CreateGroup(\"", g_setup.title, "\",0)]"))
        ProgmanExecute(command);
    ShortcutItem item;
    if (g_setup.groupCount > 0) {
        for (int n = 1; n <= g_setup.groupCount; ++n) {
            if (LoadItem(true, n, &item))
                AddItem(item.target, item.name);
        }
        return;
    }
    if (LoadItem(false, 1, &item))
        AddItem(item.target, g_setup.title);
    // The uninstall item: the installed copy of the installer with "/r".
    if (LoadInstallEntry(-1) != EntryKind::TooLong) {
        char target[PathSize], caption[PathSize];
        if (Command(target, sizeof target, g_setup.entry.target, ",/r")
            && Command(caption, sizeof caption, g_setup.entry.source, "の削除"))
            AddItem(target, caption);
    }
}

} // namespace

bool BuildAddItemCommand(const char* target, const char* caption, char* command, int size)
{
    char path[PathSize];
    if (!CopyBounded(path, sizeof path, target))
        return false;
    const char* arguments = nullptr;
    if (char* comma = FindCharDbcs(path, ',')) {
        *comma = '\0';
        arguments = comma + 1;
    }
    char shortPath[PathSize];
    const DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath)
        lstrcpynA(shortPath, path, sizeof shortPath); // not there yet: the long form
    return Command(command, size, "[AddItem(\"", shortPath) && (!arguments || (AppendBounded(command, size, " ")
                                                                              && AppendBounded(command, size, arguments)))
        && AppendBounded(command, size, "\",\"") && AppendBounded(command, size, caption)
        && AppendBounded(command, size, "\")]");
}

bool ProgmanExecute(const char* command)
{
    if (!g_conversation)
        return false;
    DdeClientTransaction(reinterpret_cast<BYTE*>(const_cast<char*>(command)), DWORD(lstrlenA(command) + 1),
                         g_conversation, nullptr, CF_TEXT, XTYP_EXECUTE, 10000, nullptr);
    return true;
}

void CreateShortcuts(ShortcutPlace place, bool remove)
{
    if (g_setup.newShell)
        ShellLinkShortcuts(place, remove);
    else
        ProgmanShortcuts(place, remove);
}
