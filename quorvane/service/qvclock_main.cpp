// qvclock.exe: the clock service, run by the service control manager.
#include <windows.h>

#include "clock_service.h"
#include "machine_settings.h"

namespace {

const DWORD SearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

// A DLL loaded by name later comes from the System folder only, never from
// the program's folder or the current one.
void LoadLibrariesFromSystemOnly()
{
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    SetDirectories set = kernel ? reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(
                                      GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                : nullptr;
    if (set)
        set(SearchSystem32);
}

} // namespace

int main()
{
    LoadLibrariesFromSystemOnly();
    char name[] = CLOCK_SERVICE_NAME;
    SERVICE_TABLE_ENTRYA services[] = {{name, ClockServiceMain}, {nullptr, nullptr}};
    // Started any other way than by the service control manager, it does nothing.
    return StartServiceCtrlDispatcherA(services) ? 0 : int(GetLastError());
}
