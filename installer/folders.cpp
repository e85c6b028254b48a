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

bool CreateFolderLevel(char* path)
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
        created = CreateDirectoryA(path, nullptr) != FALSE;
        if (!created)
            ShowPathError(path, " のフォルダ作成に失敗しました。");
    }
    path[length - 1] = '\\';
    return created;
}

bool CreateFolderPath(char* path)
{
    if (!(path[0] && path[1] == ':' && path[2] == '\\'))
        return CreateFolderLevel(path); // no drive: one level, relative
    for (char* separator = FindCharDbcs(path + 3, '\\'); separator; separator = FindCharDbcs(separator + 1, '\\')) {
        const char kept = separator[1];
        separator[1] = '\0';
        const bool created = CreateFolderLevel(path);
        separator[1] = kept;
        if (!created)
            return false;
    }
    return true;
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
