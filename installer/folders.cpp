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

bool IsReservedFolder(const char* folder)
{
    char path[PathSize], windowsDir[PathSize];
    if (!FullLongPath(folder, path))
        return true; // nothing known about it: never a product's folder
    const UINT windowsLength = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (windowsLength == 0 || windowsLength >= sizeof windowsDir)
        windowsDir[0] = '\0';
    static const int shellFolders[] = {
        0x26, 0x2a, 0x2b, 0x2c, // Program Files and Common Files, also the 32-bit ones
        0x28, 0x10, 0x05,       // the user's profile, Desktop and Documents
        0x19, 0x2e,             // the Desktop and Documents of all users
    };
    static const char* const variables[] = {"ProgramW6432", "CommonProgramW6432", "ProgramFiles", "ProgramFiles(x86)",
                                            "CommonProgramFiles", "CommonProgramFiles(x86)", "USERPROFILE"};
    constexpr int Count = sizeof shellFolders / sizeof *shellFolders + sizeof variables / sizeof *variables + 2;
    char places[Count][PathSize];
    const char* list[Count];
    int n = 0;
    SystemFolders(places[0], places[1]);
    n = 2;
    auto getFolderPath = FindFunction<HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR)>(
        GetModuleHandleA("shell32.dll"), "SHGetFolderPathA");
    for (int id : shellFolders) {
        places[n][0] = '\0';
        if (getFolderPath && getFolderPath(nullptr, id, nullptr, 0, places[n]) != S_OK)
            places[n][0] = '\0';
        ++n;
    }
    for (const char* name : variables) {
        const DWORD length = GetEnvironmentVariableA(name, places[n], PathSize);
        if (length == 0 || length >= PathSize)
            places[n][0] = '\0';
        ++n;
    }
    for (int i = 0; i < n; ++i)
        list[i] = places[i];
    return IsReservedDestination(path, windowsDir, list, n);
}

bool FindLinkOnTheWay(const char* path, char* link)
{
    if (!CopyBounded(link, PathSize, path))
        return true; // nothing known about it: never trusted
    // Each level below the drive root, from the top, as far as it exists.
    for (char* separator = FindCharDbcs(link + 3, '\\'); separator; separator = FindCharDbcs(separator + 1, '\\')) {
        *separator = '\0';
        const DWORD attributes = GetFileAttributesA(link);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            break; // the levels below do not exist either
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return true;
        *separator = '\\';
    }
    link[0] = '\0';
    return false;
}

bool IsBelowProgramFiles(const char* folder)
{
    char path[PathSize];
    if (!FullLongPath(folder, path))
        return false;
    char places[5][PathSize];
    int n = 0;
    auto getFolderPath = FindFunction<HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR)>(
        GetModuleHandleA("shell32.dll"), "SHGetFolderPathA");
    static const int ids[] = {0x26, 0x2a}; // Program Files, and the 32-bit one
    for (int id : ids)
        if (getFolderPath && getFolderPath(nullptr, id, nullptr, 0, places[n]) == S_OK)
            ++n;
    static const char* const variables[] = {"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)"};
    for (const char* name : variables) {
        const DWORD length = GetEnvironmentVariableA(name, places[n], PathSize);
        if (length > 0 && length < PathSize)
            ++n;
    }
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
