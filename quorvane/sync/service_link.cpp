#include "service_link.h"

#include "machine_settings.h"

namespace {

// The service functions are looked up at run time: Windows 95 has none.
typedef SC_HANDLE(WINAPI* OpenManagerFunction)(const char*, const char*, DWORD);
typedef SC_HANDLE(WINAPI* OpenServiceFunction)(SC_HANDLE, const char*, DWORD);
typedef BOOL(WINAPI* ControlFunction)(SC_HANDLE, DWORD, SERVICE_STATUS*);
typedef BOOL(WINAPI* CloseFunction)(SC_HANDLE);
typedef BOOL(WINAPI* QueryFunction)(SC_HANDLE, SERVICE_STATUS*);

struct ServiceFunctions {
    OpenManagerFunction openManager;
    OpenServiceFunction openService;
    ControlFunction control;
    CloseFunction close;
    QueryFunction query;
};

template <typename Function> Function Lookup(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool LoadServiceFunctions(ServiceFunctions* f)
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (!advapi)
        return false;
    f->openManager = Lookup<OpenManagerFunction>(advapi, "OpenSCManagerA");
    f->openService = Lookup<OpenServiceFunction>(advapi, "OpenServiceA");
    f->control = Lookup<ControlFunction>(advapi, "ControlService");
    f->close = Lookup<CloseFunction>(advapi, "CloseServiceHandle");
    f->query = Lookup<QueryFunction>(advapi, "QueryServiceStatus");
    return f->openManager && f->openService && f->control && f->close && f->query;
}

// Opens the service with `access`; the caller closes both handles.
SC_HANDLE OpenClockService(const ServiceFunctions& f, DWORD access, SC_HANDLE* manager, DWORD* error)
{
    *manager = f.openManager(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!*manager) {
        *error = GetLastError();
        return nullptr;
    }
    SC_HANDLE service = f.openService(*manager, CLOCK_SERVICE_NAME, access);
    if (!service) {
        *error = GetLastError();
        f.close(*manager);
    }
    return service;
}

} // namespace

namespace {

// Opens the service to query it and reads its state (0 when the query
// fails): false when it is missing or not ours to ask.
bool QueryClockService(DWORD* state, DWORD* exitCode = nullptr)
{
    ServiceFunctions f;
    if (!LoadServiceFunctions(&f))
        return false;
    SC_HANDLE manager;
    DWORD error;
    SC_HANDLE service = OpenClockService(f, SERVICE_QUERY_STATUS, &manager, &error);
    if (!service)
        return false;
    SERVICE_STATUS status;
    const bool read = f.query(service, &status) != FALSE;
    *state = read ? status.dwCurrentState : 0;
    if (exitCode)
        *exitCode = read ? status.dwWin32ExitCode : 0;
    f.close(service);
    f.close(manager);
    return true;
}

} // namespace

bool ClockServiceInstalled()
{
    DWORD state;
    return QueryClockService(&state);
}

bool ClockServiceRunning(bool* neverStarted)
{
    // A service on its way up will take requests in a moment.
    DWORD state = 0, exitCode = 0;
    const bool running
        = QueryClockService(&state, &exitCode) && (state == SERVICE_RUNNING || state == SERVICE_START_PENDING);
    if (neverStarted)
        *neverStarted = !running && exitCode == ERROR_SERVICE_NEVER_STARTED;
    return running;
}

DWORD SendClockServiceControl(DWORD control)
{
    ServiceFunctions f;
    if (!LoadServiceFunctions(&f))
        return ERROR_CALL_NOT_IMPLEMENTED;
    SC_HANDLE manager;
    DWORD error = ERROR_SUCCESS;
    SC_HANDLE service = OpenClockService(f, SERVICE_USER_DEFINED_CONTROL, &manager, &error);
    if (!service)
        return error;
    SERVICE_STATUS status;
    if (!f.control(service, control, &status))
        error = GetLastError();
    f.close(service);
    f.close(manager);
    return error;
}

ULONGLONG ReadServiceStatusTime(const char* name)
{
    HKEY key;
    ULONGLONG value = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MACHINE_STATUS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type, size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS
        || type != REG_QWORD || size != sizeof value)
        value = 0;
    RegCloseKey(key);
    return value;
}

bool ReadServiceLines(char* lines, DWORD size)
{
    HKEY key;
    if (size < 2 || RegOpenKeyExA(HKEY_LOCAL_MACHINE, MACHINE_STATUS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type, length = size - 2;
    const bool read = RegQueryValueExA(key, "LastLines", nullptr, &type, reinterpret_cast<BYTE*>(lines), &length)
                          == ERROR_SUCCESS
                      && type == REG_MULTI_SZ;
    RegCloseKey(key);
    // Whatever was stored, the list ends within the buffer.
    lines[read ? length : 0] = '\0';
    lines[read ? length + 1 : 1] = '\0';
    return read;
}
