// Making an existing folder the product's own (declared in folders.h): the
// earlier installation's folder, before a service's program goes into it.
#include <windows.h>
#include <aclapi.h>

#include "dbcs_path.h"
#include "folders.h"
#include "setup_state.h"

namespace {

struct SecurityApi {
    DWORD(WINAPI* setNamed)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
    BOOL(WINAPI* getOwner)(PSECURITY_DESCRIPTOR, PSID*, LPBOOL);
    BOOL(WINAPI* getDacl)(PSECURITY_DESCRIPTOR, LPBOOL, PACL*, LPBOOL);
};

// Administrators may take any file, and give it to themselves.
void EnableOwnershipPrivileges()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    static const char* const names[] = {"SeTakeOwnershipPrivilege", "SeRestorePrivilege"};
    for (const char* name : names) {
        TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

// Gives `path` the owner and DACL of `descriptor`.
bool SetOwnerAndDacl(const SecurityApi& api, const char* path, PSECURITY_DESCRIPTOR descriptor,
                     SECURITY_INFORMATION protection)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted, present;
    char name[PathSize];
    return api.getOwner(descriptor, &owner, &defaulted) && owner
        && api.getDacl(descriptor, &present, &dacl, &defaulted) && present && dacl
        && CopyBounded(name, sizeof name, path)
        && api.setNamed(name, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | protection,
                        owner, nullptr, dacl, nullptr)
        == ERROR_SUCCESS;
}

// Everything below `folder` (no "\" at its end) owned by Administrators and
// inheriting only; false at the first failure or link.
bool ResetTree(const SecurityApi& api, const char* folder, PSECURITY_DESCRIPTOR inherit)
{
    char pattern[PathSize];
    if (!CopyBounded(pattern, sizeof pattern, folder) || !AppendBounded(pattern, sizeof pattern, "\\*.*"))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES;
    bool done = true;
    do {
        if (!lstrcmpA(found.cFileName, ".") || !lstrcmpA(found.cFileName, ".."))
            continue;
        char path[PathSize];
        // A link would carry the change to what it leads to: never followed.
        done = !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && CopyBounded(path, sizeof path, folder)
            && AppendBounded(path, sizeof path, "\\") && AppendBounded(path, sizeof path, found.cFileName)
            && SetOwnerAndDacl(api, path, inherit, UNPROTECTED_DACL_SECURITY_INFORMATION)
            && (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || ResetTree(api, path, inherit));
    } while (done && FindNextFileA(search, &found));
    FindClose(search);
    return done;
}

} // namespace

bool ProtectExistingFolder(const char* path)
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    const SecurityApi api = {
        FindFunction<decltype(SecurityApi::setNamed)>(advapi, "SetNamedSecurityInfoA"),
        FindFunction<decltype(SecurityApi::getOwner)>(advapi, "GetSecurityDescriptorOwner"),
        FindFunction<decltype(SecurityApi::getDacl)>(advapi, "GetSecurityDescriptorDacl"),
    };
    if (!api.setNamed || !api.getOwner || !api.getDacl)
        return false;
    // The folder: Administrators' own, with the product's protected DACL.
    // Below it: Administrators' own, with an empty DACL that is not
    // protected, so that only what the folder hands down applies.
    char folderSddl[256] = "O:BA";
    lstrcpynA(folderSddl + 4, ProductFolderSddl, sizeof folderSddl - 4);
    PSECURITY_DESCRIPTOR folder = nullptr, inherit = nullptr;
    bool done = false;
    if ((folder = DescriptorFromSddl(folderSddl)) != nullptr && (inherit = DescriptorFromSddl("O:BAD:AI")) != nullptr) {
        EnableOwnershipPrivileges();
        done = SetOwnerAndDacl(api, path, folder, PROTECTED_DACL_SECURITY_INFORMATION)
            && ResetTree(api, path, inherit);
    }
    if (folder)
        LocalFree(folder);
    if (inherit)
        LocalFree(inherit);
    return done;
}
