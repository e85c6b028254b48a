#include "restart_delete.h"

#include <windows.h>

#include "script_rules.h"
#include "wininit.h"

namespace {

constexpr DWORD BufferSize = 32768;

} // namespace

bool ScheduleDeletionInWininit(const char* path, const char* wininitPath)
{
    char shortPath[PathSize];
    const DWORD shortLength = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (shortLength == 0 || shortLength >= sizeof shortPath)
        return false;
    // Pending profile writes reach the file first.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, wininitPath);

    // The section is rewritten from the file's own text, so that every line
    // it had stays exactly, several "NUL=" lines included.
    HANDLE file = CreateFileA(wininitPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false; // WININIT.INI is never created
    bool written = false;
    const DWORD oldSize = GetFileSize(file, nullptr);
    HGLOBAL oldMemory = GlobalAlloc(GMEM_FIXED, oldSize + 1);
    const DWORD newCapacity = oldSize + BufferSize;
    HGLOBAL newMemory = GlobalAlloc(GMEM_FIXED, newCapacity);
    char* oldText = static_cast<char*>(oldMemory);
    char* newText = static_cast<char*>(newMemory);
    DWORD read = 0;
    if (oldText && newText && oldSize != INVALID_FILE_SIZE && ReadFile(file, oldText, oldSize, &read, nullptr)
        && read == oldSize) {
        const size_t length = AddRenameDeletion(oldText, oldSize, shortPath, newText, newCapacity);
        DWORD done = 0;
        written = length > 0 && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0
            && WriteFile(file, newText, DWORD(length), &done, nullptr) && done == length && SetEndOfFile(file);
    }
    if (oldMemory)
        GlobalFree(oldMemory);
    if (newMemory)
        GlobalFree(newMemory);
    CloseHandle(file);
    return written;
}

void DeleteAtRestart(const char* path)
{
    if (MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return;
    char wininit[PathSize];
    const UINT length = GetWindowsDirectoryA(wininit, sizeof wininit);
    if (length == 0 || length + sizeof "\\WININIT.INI" > sizeof wininit)
        return;
    lstrcatA(wininit, "\\WININIT.INI");
    ScheduleDeletionInWininit(path, wininit);
}
