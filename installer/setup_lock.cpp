#include "setup_lock.h"

#include <windows.h>

#include "messages.h"
#include "setup_state.h"

namespace {

// The mutex in a private namespace that only administrators at high
// integrity can make or open (Vista and later): a user cannot take its name
// first and so keep every Setup of the product from running. Null where any
// step is missing or fails (Wine has no boundary descriptors).
// `made` tells whether this call made the namespace.
HANDLE PrivateSetupMutex(const char* name, SECURITY_ATTRIBUTES* inherited, bool* made)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll"), advapi = GetModuleHandleA("advapi32.dll");
    auto createBoundary = FindFunction<HANDLE(WINAPI*)(LPCWSTR, ULONG)>(kernel, "CreateBoundaryDescriptorW");
    auto addSid = FindFunction<BOOL(WINAPI*)(HANDLE*, PSID)>(kernel, "AddSIDToBoundaryDescriptor");
    auto addLabel = FindFunction<BOOL(WINAPI*)(HANDLE*, PSID)>(kernel, "AddIntegrityLabelToBoundaryDescriptor");
    auto createNamespace = FindFunction<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)>(
        kernel, "CreatePrivateNamespaceW");
    auto openNamespace = FindFunction<HANDLE(WINAPI*)(LPVOID, LPCWSTR)>(kernel, "OpenPrivateNamespaceW");
    auto convertSid = FindFunction<BOOL(WINAPI*)(LPCSTR, PSID*)>(advapi, "ConvertStringSidToSidA");
    if (!createBoundary || !addSid || !addLabel || !createNamespace || !openNamespace || !convertSid)
        return nullptr;
    HANDLE boundary = createBoundary(L"QuorvaneSetup", 0);
    PSID administrators = nullptr, high = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HANDLE space = nullptr;
    if (boundary && convertSid("S-1-5-32-544", &administrators) && convertSid("S-1-16-12288", &high)
        && addSid(&boundary, administrators) && addLabel(&boundary, high)
        && (descriptor = DescriptorFromSddl("D:(A;;GA;;;BA)")) != nullptr) {
        SECURITY_ATTRIBUTES onlyAdministrators = {sizeof onlyAdministrators, descriptor, FALSE};
        space = createNamespace(&onlyAdministrators, boundary, L"QuorvaneSetup");
        *made = space != nullptr;
        if (!space && GetLastError() == ERROR_ALREADY_EXISTS)
            space = openNamespace(boundary, L"QuorvaneSetup");
    }
    LocalFree(administrators);
    LocalFree(high);
    LocalFree(descriptor);
    // The namespace stays open as long as the process: so does the mutex.
    // The caller reads the mutex's own error.
    if (!space)
        return nullptr;
    char full[sizeof g_setup.title + 48] = "QuorvaneSetup\\";
    lstrcatA(full, name);
    return CreateMutexA(inherited, FALSE, full);
}

} // namespace

// One Setup of a product at a time, for all users: a mutex named after the
// Title. The uninstall copy inherits the request's handle. False (after the
// message) when another Setup holds it, also one that this user may not
// open (an elevated one, while this is not).
bool OnlySetupOfProduct()
{
    char name[sizeof g_setup.title + 32];
    lstrcpyA(name, "Global\\Setup ");
    lstrcatA(name, g_setup.title);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    bool made;
    HANDLE mutex = PrivateSetupMutex(name + 7, &inherited, &made);
    DWORD error = GetLastError();
    if (!mutex) {
        // Before Vista, or where the namespace cannot be had: the name.
        mutex = CreateMutexA(&inherited, FALSE, name);
        error = GetLastError();
    }
    if (!mutex && error != ERROR_ACCESS_DENIED) {
        // Windows without session namespaces (before Windows 2000).
        mutex = CreateMutexA(&inherited, FALSE, name + 7);
        error = GetLastError();
    }
    if (mutex && error != ERROR_ALREADY_EXISTS)
        return true; // held until the process ends
    char text[sizeof g_setup.title + 64];
    lstrcpyA(text, g_setup.title);
    lstrcatA(text, "のセットアップは既に実行中です。");
    Tell(nullptr, text, nullptr, MB_ICONHAND | MB_OK);
    return false;
}

bool KeepSetupLock()
{
    char name[sizeof g_setup.title + 32] = "Setup ";
    lstrcatA(name, g_setup.title);
    bool made = false;
    // Not inherited: the copy starts nothing that takes part in the removal.
    // Its handles stay open until it ends.
    const HANDLE mutex = PrivateSetupMutex(name, nullptr, &made);
    // No namespace where Windows has none; where it has, a mutex that
    // cannot be had there belongs to a Setup this copy cannot open.
    return mutex || GetLastError() != ERROR_ACCESS_DENIED;
}
