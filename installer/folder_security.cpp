// The one place where Setup creates a folder with a security descriptor of
// its own (declared in folders.h). Tests link their own.
#include <windows.h>

#include "folders.h"
#include "setup_state.h"

bool CreateProductFolder(const char* path)
{
    // Found at run time: Windows before 2000 has no text form of security
    // descriptors (and Windows 9x no security at all).
    auto convert = FindFunction<BOOL(WINAPI*)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG)>(
        GetModuleHandleA("advapi32.dll"), "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!convert)
        return CreateDirectoryA(path, nullptr) != FALSE;
    // Never an unprotected folder where protection exists.
    if (!convert(ProductFolderSddl, 1 /* SDDL_REVISION_1 */, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const bool created = CreateDirectoryA(path, &attributes) != FALSE;
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error); // the caller tells a folder that exists from a failure
    return created;
}
