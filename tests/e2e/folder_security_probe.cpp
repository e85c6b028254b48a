// What installer.exe reads as a folder's security, for the end-to-end tests:
// the SDDL text that the test wrote for the folder's path into
// HKLM\Software\QvTestFolderSecurity, and otherwise the protection of
// Program Files (Administrators' own, others may only read). Wine keeps
// no security of files: every folder reads as its synthesised DACL (SYSTEM,
// the user, Everyone read), which grants the user full control.
#include <windows.h>

#include <sddl.h>

#include <cstring>

#include "folders.h"

DescriptorRead ReadFolderDescriptor(const char* path, unsigned char* descriptor, unsigned long size,
                                    unsigned long* length)
{
    char sddl[1024] = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    DWORD sddlSize = sizeof sddl - 1;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\QvTestFolderSecurity", path, RRF_RT_REG_SZ, nullptr, sddl,
                 &sddlSize);
    PSECURITY_DESCRIPTOR built = nullptr;
    ULONG builtSize = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &built, &builtSize))
        return DescriptorRead::Failed;
    const bool fits = builtSize <= size;
    if (fits) {
        memcpy(descriptor, built, builtSize);
        *length = builtSize;
    }
    LocalFree(built);
    return fits ? DescriptorRead::Read : DescriptorRead::Failed;
}
