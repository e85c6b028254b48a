// The right to set the system clock.
#include "clock.h"

bool EnableSystemTimePrivilege()
{
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version; // 148 bytes
    // Outside the NT family the clock can be set without a privilege.
    if (GetVersionExA(&version) && version.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return true;

    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    bool enabled = false;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeSystemtimePrivilege", &privileges.Privileges[0].Luid)) {
        // Success with ERROR_NOT_ALL_ASSIGNED still means the right is missing.
        enabled = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr)
            && GetLastError() == ERROR_SUCCESS;
    }
    CloseHandle(token);
    return enabled;
}
