// The one place where Setup reads the security of a folder (declared in
// folders.h). Tests link their own.
#include <windows.h>

#include "folders.h"
#include "setup_state.h"

DescriptorRead ReadFolderDescriptor(const char* path, unsigned char* descriptor, unsigned long size,
                                    unsigned long* length)
{
    // Found at run time: Windows 95, 98 and Me have no file security.
    auto getFileSecurity = FindFunction<BOOL(WINAPI*)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD,
                                                      LPDWORD)>(GetModuleHandleA("advapi32.dll"), "GetFileSecurityA");
    if (!getFileSecurity)
        return DescriptorRead::NoSecurity;
    DWORD needed = 0;
    // The descriptor's own offsets bound what is read of the buffer.
    if (getFileSecurity(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, size, &needed)) {
        *length = size;
        return DescriptorRead::Read;
    }
    return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? DescriptorRead::NoSecurity : DescriptorRead::Failed;
}
