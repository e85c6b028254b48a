#include "shortcut.h"

#include <objbase.h>
#include <shlobj.h>

#include "../res/product.h"

namespace {

const char ShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

const char* OrEmpty(const char* text)
{
    return text ? text : "";
}

} // namespace

bool GetStartupShortcutPath(char* buffer, int capacity)
{
    if (capacity <= 0)
        return false;
    buffer[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, ShellFoldersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char value[MAX_PATH + 1];
    DWORD size = MAX_PATH;
    DWORD type;
    LONG result = RegQueryValueExA(key, "Startup", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return false;
    value[size] = '\0';
    // A REG_EXPAND_SZ value may hold %USERPROFILE% and the like.
    char folder[MAX_PATH];
    if (type == REG_EXPAND_SZ) {
        DWORD length = ExpandEnvironmentStringsA(value, folder, sizeof folder);
        if (length == 0 || length > sizeof folder)
            return false;
    } else {
        lstrcpynA(folder, value, sizeof folder);
    }
    // Only an absolute path ("C:\..." or "\\server\...") names a folder;
    // anything else would put the shortcut wherever the current folder is.
    const bool absolute = (folder[0] && folder[1] == ':' && folder[2] == '\\')
        || (folder[0] == '\\' && folder[1] == '\\');
    const char fileName[] = "\\" PRODUCT_NAME ".lnk";
    const int folderLength = lstrlenA(folder);
    if (!absolute || folderLength + int(sizeof fileName) > capacity)
        return false;
    CopyMemory(buffer, folder, folderLength);
    CopyMemory(buffer + folderLength, fileName, sizeof fileName);
    return true;
}

bool ShortcutExists(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

HRESULT CreateShortcut(const char* linkPath, const char* target, const char* description, const char* arguments,
                       const char* workingDirectory, const char* iconPath, int iconIndex, int showCommand)
{
    IShellLinkA* link;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      reinterpret_cast<void**>(&link));
    if (FAILED(result))
        return result;
    IPersistFile* file;
    result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (FAILED(result)) {
        link->Release();
        return result;
    }
    link->SetPath(OrEmpty(target));
    link->SetDescription(OrEmpty(description));
    link->SetArguments(OrEmpty(arguments));
    link->SetWorkingDirectory(OrEmpty(workingDirectory));
    link->SetIconLocation(OrEmpty(iconPath), iconIndex);
    link->SetShowCmd(showCommand);
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH) == 0)
        result = E_INVALIDARG; // a path that does not fit is never cut
    else
        result = file->Save(widePath, TRUE);
    file->Release();
    link->Release();
    return result;
}
