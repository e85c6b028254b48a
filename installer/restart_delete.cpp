#include "restart_delete.h"

#include <windows.h>

#include "script_rules.h"
#include "setup_state.h"
#include "wininit.h"

namespace {

constexpr DWORD BufferSize = 32768;

} // namespace

bool SetDeletionInWininit(const char* path, const char* wininitPath, bool deleted)
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
        const size_t length = RewriteRenameSection(oldText, oldSize, shortPath, deleted, newText, newCapacity);
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

namespace {

// The WININIT.INI of the Windows folder.
void SetDeletionAtStart(const char* path, bool deleted)
{
    char wininit[PathSize];
    const UINT length = GetWindowsDirectoryA(wininit, sizeof wininit);
    if (length > 0 && length + sizeof "\\WININIT.INI" <= sizeof wininit) {
        lstrcatA(wininit, "\\WININIT.INI");
        SetDeletionInWininit(path, wininit, deleted);
    }
}

} // namespace

void DeleteAtRestart(const char* path)
{
    if (!MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        SetDeletionAtStart(path, true);
}

void KeepAtRestart(const char* path)
{
    if (GetVersion() & 0x80000000) { // the Windows 95 family
        SetDeletionAtStart(path, false);
        return;
    }
    // The lists are read and written in UTF-16: other programs' names stay
    // exactly as they are, whatever their characters. A list left empty
    // goes, as tools read its presence as "a restart is pending".
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    auto query = FindFunction<LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD)>(advapi,
                                                                                           "RegQueryValueExW");
    auto set = FindFunction<LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD)>(advapi, "RegSetValueExW");
    auto remove = FindFunction<LONG(WINAPI*)(HKEY, LPCWSTR)>(advapi, "RegDeleteValueW");
    WCHAR name[PathSize + 4] = L"\\??\\";
    HKEY key;
    if (!query || !set || !remove || !MultiByteToWideChar(CP_ACP, 0, path, -1, name + 4, PathSize)
        || RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                         KEY_QUERY_VALUE | KEY_SET_VALUE, &key)
            != ERROR_SUCCESS)
        return;
    static const WCHAR* const values[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
    for (const WCHAR* value : values) {
        DWORD type, size = 0;
        if (query(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ)
            continue;
        HANDLE heap = GetProcessHeap();
        auto list = static_cast<char16_t*>(HeapAlloc(heap, 0, size + sizeof(WCHAR)));
        if (list && query(key, value, nullptr, &type, reinterpret_cast<BYTE*>(list), &size) == ERROR_SUCCESS
            && type == REG_MULTI_SZ) {
            const size_t units = size / sizeof(WCHAR);
            const size_t kept = WithoutPendingDeletion(list, units, reinterpret_cast<const char16_t*>(name));
            if (kept != units && kept > 1)
                set(key, value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), DWORD(kept * sizeof(WCHAR)));
            else if (kept != units)
                remove(key, value);
        }
        if (list)
            HeapFree(heap, 0, list);
    }
    RegCloseKey(key);
}
