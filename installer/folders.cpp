#include "folders.h"

#include <cstring>

#include "dbcs_path.h"
#include "setup_state.h"

namespace {

bool IsDriveRoot(const char* path)
{
    return strlen(path) == 3 && path[1] == ':' && path[2] == '\\';
}

} // namespace

bool CreateFolderLevel(char* path, bool protect)
{
    if (IsDriveRoot(path))
        return true;
    const size_t length = strlen(path);
    if (length == 0)
        return false;
    path[length - 1] = '\0';
    bool created;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        created = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!created)
            ShowPathError(path, " - 同じ名前のファイルが既に存在するのでフォルダが作成できません。");
    } else {
        created = protect ? CreateProductFolder(path) : CreateDirectoryA(path, nullptr) != FALSE;
        if (!created)
            ShowPathError(path, " のフォルダ作成に失敗しました。");
    }
    path[length - 1] = '\\';
    return created;
}

bool CreateFolderPath(char* path, bool protect)
{
    if (!(path[0] && path[1] == ':' && path[2] == '\\'))
        return CreateFolderLevel(path, protect); // no drive: one level, relative
    for (char* separator = FindCharDbcs(path + 3, '\\'); separator; separator = FindCharDbcs(separator + 1, '\\')) {
        const char kept = separator[1];
        separator[1] = '\0';
        const bool created = CreateFolderLevel(path, protect);
        separator[1] = kept;
        if (!created)
            return false;
    }
    return true;
}

bool FullLongPath(const char* path, char* out)
{
    char full[PathSize];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || !CopyBounded(out, PathSize, full))
        return false;
    auto getLongPath = FindFunction<DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD)>(GetModuleHandleA("kernel32.dll"),
                                                                         "GetLongPathNameA");
    for (size_t cut = length; getLongPath && cut > 3;) {
        char head[PathSize], longHead[PathSize];
        memcpy(head, full, cut);
        head[cut] = '\0';
        const DWORD longLength = getLongPath(head, longHead, sizeof longHead);
        if (longLength > 0 && longLength < sizeof longHead)
            return CopyBounded(out, PathSize, longHead) && AppendBounded(out, PathSize, full + cut);
        do // back to the "\" before the last name
            --cut;
        while (cut > 3 && !(full[cut] == '\\' && !IsTrailByteAt(full, cut)));
    }
    return true;
}

namespace {

// Shell folders by CSIDL, then the 64-bit Program Files folders that a
// 32-bit program on 64-bit Windows gets from no shell call: HKLM's own
// values, read in the 64-bit view. Never the environment, which whoever
// starts Setup can set. Unknown places are left out; the count is returned.
int CollectPlaces(const int* ids, int idCount, const char* const* values, int valueCount, char (*places)[PathSize])
{
    int n = 0;
    auto getFolderPath = FindFunction<HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR)>(
        GetModuleHandleA("shell32.dll"), "SHGetFolderPathA");
    for (int i = 0; getFolderPath && i < idCount; ++i)
        if (getFolderPath(nullptr, ids[i], nullptr, 0, places[n]) == S_OK)
            ++n;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_READ | KEY_WOW64_64KEY, &key)
        != ERROR_SUCCESS)
        return n;
    for (int i = 0; i < valueCount; ++i) {
        DWORD type, size = PathSize - 1;
        if (RegQueryValueExA(key, values[i], nullptr, &type, reinterpret_cast<BYTE*>(places[n]), &size)
                == ERROR_SUCCESS
            && type == REG_SZ) {
            places[n][size] = '\0';
            ++n;
        }
    }
    RegCloseKey(key);
    return n;
}

// Program Files and the 32-bit one, then Common Files and the 32-bit one,
// then the user's and everyone's own folders.
const int ShellPlaces[] = {
    0x26, 0x2a, 0x2b, 0x2c, // Program Files and Common Files, also the 32-bit ones
    0x28, 0x10, 0x05,       // the user's profile, Desktop and Documents
    0x19, 0x2e,             // the Desktop and Documents of all users
};
const char* const RegistryPlaces[] = {"ProgramFilesDir", "CommonFilesDir"};

} // namespace

bool IsReservedFolder(const char* folder)
{
    char path[PathSize], windowsDir[PathSize];
    if (!FullLongPath(folder, path))
        return true; // nothing known about it: never a product's folder
    const UINT windowsLength = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (windowsLength == 0 || windowsLength >= sizeof windowsDir)
        windowsDir[0] = '\0';
    constexpr int Count = sizeof ShellPlaces / sizeof *ShellPlaces + 4;
    char places[Count][PathSize];
    const char* list[Count];
    SystemFolders(places[0], places[1]);
    const int n = 2 + CollectPlaces(ShellPlaces, Count - 4, RegistryPlaces, 2, places + 2);
    for (int i = 0; i < n; ++i)
        list[i] = places[i];
    return IsReservedDestination(path, windowsDir, list, n);
}

bool IsNameSurrogate(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    // The reparse point's tag; none that can be read (0) counts as a link.
    DWORD tag = 0;
    auto getInformation = FindFunction<BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)>(
        GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx");
    if (getInformation) {
        HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr);
        FILE_ATTRIBUTE_TAG_INFO information;
        if (file != INVALID_HANDLE_VALUE) {
            if (getInformation(file, FileAttributeTagInfo, &information, sizeof information))
                tag = information.ReparseTag;
            CloseHandle(file);
        }
    } else {
        // Before Vista the tag comes with what FindFirstFile finds.
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(path, &found);
        if (search != INVALID_HANDLE_VALUE) {
            tag = found.dwReserved0;
            FindClose(search);
        }
    }
    return tag == 0 || (tag & 0x20000000 /* name surrogate */);
}

bool FindLinkOnTheWay(const char* path, char* link)
{
    if (!CopyBounded(link, PathSize, path))
        return true; // nothing known about it: never trusted
    // Each level below the drive root, from the top, as far as it exists.
    for (char* separator = FindCharDbcs(link + 3, '\\'); separator; separator = FindCharDbcs(separator + 1, '\\')) {
        *separator = '\0';
        if (GetFileAttributesA(link) == INVALID_FILE_ATTRIBUTES)
            break; // the levels below do not exist either
        if (IsNameSurrogate(link))
            return true;
        *separator = '\\';
    }
    link[0] = '\0';
    return false;
}

const char LinkMessage[] = " はジャンクションまたはシンボリックリンクのため、インストール先にできません。";
const char RenameableMessage[] = " は管理者以外のユーザーが名前を変えられるフォルダです。Program Files など、管理者だけが変更できるフォルダの中を指定してください。";

bool KeepsOthersOutOfFolder(const char* path, FolderUse use)
{
    unsigned char descriptor[4096];
    unsigned long length = 0;
    switch (ReadFolderDescriptor(path, descriptor, sizeof descriptor, &length)) {
    case DescriptorRead::NoSecurity: return true;
    case DescriptorRead::Read: return KeepsOthersOut(descriptor, length, use);
    default: return false;
    }
}

bool FindRenameableFolder(const char* destination, char* folder)
{
    // "C:\x\..\Tools\" is C:\Tools, whether or not C:\x exists.
    if (!FullLongPath(destination, folder) || !EnsureTrailingBackslash(folder, PathSize) || folder[1] != ':')
        return true; // nothing known about it: never trusted
    // Each level below the drive root, from the top, as far as it exists;
    // the parent of each (the drive root first) lets nobody else delete or
    // rename it, and each but the destination is Administrators' own.
    char* parentEnd = folder + 2;
    for (char* separator = FindCharDbcs(folder + 3, '\\'); separator;
         parentEnd = separator, separator = FindCharDbcs(separator + 1, '\\')) {
        char* cut = parentEnd == folder + 2 ? parentEnd + 1 : parentEnd; // "C:\" keeps its "\"
        const char kept = *cut;
        *cut = '\0';
        const bool parentKeeps = KeepsOthersOutOfFolder(folder, FolderUse::Parent);
        *cut = kept;
        *separator = '\0';
        const DWORD attributes = GetFileAttributesA(folder);
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        if (!parentKeeps || (exists && separator[1] && !KeepsOthersOutOfFolder(folder, FolderUse::OnTheWay)))
            return true;
        *separator = '\\';
        if (!exists)
            break; // Setup makes the levels below, with its own protection
    }
    folder[0] = '\0';
    return false;
}

bool IsBelowProgramFiles(const char* folder)
{
    char path[PathSize];
    if (!FullLongPath(folder, path))
        return false;
    char places[3][PathSize];
    const int n = CollectPlaces(ShellPlaces, 2, RegistryPlaces, 1, places);
    for (int i = 0; i < n; ++i) {
        char place[PathSize];
        if (FullLongPath(places[i], place) && place[0] && IsStrictlyBelow(path, place))
            return true;
    }
    return false;
}

bool VolumeKeepsAcls(const char* path)
{
    char full[PathSize];
    const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length < 3 || length >= sizeof full || full[1] != ':')
        return false;
    full[3] = '\0';
    DWORD flags = 0;
    return GetVolumeInformationA(full, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
        && (flags & FILE_PERSISTENT_ACLS);
}

bool DeleteFileReported(const char* path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true; // nothing to delete
    FindClose(search);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path))
        return true;
    ShowPathError(path, "の削除に失敗しました。このファイルをスキップして処理を続行します。");
    return false;
}
