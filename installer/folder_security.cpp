// The one place where Setup creates a folder with a security descriptor of
// its own (declared in folders.h). Tests link their own.
#include <windows.h>

#include "folders.h"
#include "setup_state.h"

bool CreateProductFolder(const char* path)
{
    // Windows before 2000 has no text form of security descriptors (and
    // Windows 9x no security at all): the default protection there. Never an
    // unprotected folder where protection exists.
    PSECURITY_DESCRIPTOR descriptor = DescriptorFromSddl(ProductFolderSddl);
    if (!descriptor)
        return GetLastError() == ERROR_PROC_NOT_FOUND && CreateDirectoryA(path, nullptr);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const bool created = CreateDirectoryA(path, &attributes) != FALSE;
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    SetLastError(error); // the caller tells a folder that exists from a failure
    return created;
}
