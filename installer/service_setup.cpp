#include "service_setup.h"

#include "dbcs_path.h"
#include "folders.h"
#include "messages.h"
#include "service_rules.h"
#include "setup_state.h"
#include "registry_delete.h"

ServiceSection g_service;

namespace {

const char EventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
const DWORD StopWaitMs = 30000;

// The service and security functions, found at run time: Windows 95 has
// none, NT 4 lacks the later ones.
struct ServiceApi {
    SC_HANDLE(WINAPI* openManager)(LPCSTR, LPCSTR, DWORD);
    SC_HANDLE(WINAPI* openService)(SC_HANDLE, LPCSTR, DWORD);
    SC_HANDLE(WINAPI* create)(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD,
                              LPCSTR, LPCSTR, LPCSTR);
    BOOL(WINAPI* change)(SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR);
    BOOL(WINAPI* change2)(SC_HANDLE, DWORD, LPVOID);
    BOOL(WINAPI* queryConfig)(SC_HANDLE, LPQUERY_SERVICE_CONFIGA, DWORD, LPDWORD);
    BOOL(WINAPI* queryStatus)(SC_HANDLE, LPSERVICE_STATUS);
    BOOL(WINAPI* control)(SC_HANDLE, DWORD, LPSERVICE_STATUS);
    BOOL(WINAPI* start)(SC_HANDLE, DWORD, LPCSTR*);
    BOOL(WINAPI* remove)(SC_HANDLE);
    BOOL(WINAPI* setSecurity)(SC_HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
    BOOL(WINAPI* close)(SC_HANDLE);
    BOOL(WINAPI* queryConfig2)(SC_HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
};

const char* const ApiNames[] = {"OpenSCManagerA",   "OpenServiceA",         "CreateServiceA",
                                "ChangeServiceConfigA", "ChangeServiceConfig2W", "QueryServiceConfigA",
                                "QueryServiceStatus", "ControlService",      "StartServiceA",
                                "DeleteService",    "SetServiceObjectSecurity", "CloseServiceHandle",
                                "QueryServiceConfig2W"};

ServiceApi g_api;
DWORD g_openError; // why the last OpenProductService found no service

bool LoadApi()
{
    static_assert(sizeof(ServiceApi) == sizeof ApiNames / sizeof *ApiNames * sizeof(void*), "one name a function");
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    void** functions = reinterpret_cast<void**>(&g_api);
    for (const char* name : ApiNames)
        if (!(*functions++ = reinterpret_cast<void*>(advapi ? GetProcAddress(advapi, name) : nullptr)))
            return false;
    return true;
}

bool Applies()
{
    return g_service.present;
}

// "<destination><program>", or the earlier installation's.
bool ProgramPath(const char* folder, char* out)
{
    return CopyBounded(out, PathSize, folder) && AppendBounded(out, PathSize, g_service.program);
}

bool EventLogKeyPath(char* out)
{
    return CopyBounded(out, PathSize, EventLogKey) && AppendBounded(out, PathSize, g_service.name);
}

// A service opened with `access`; the manager handle is kept in `manager`.
SC_HANDLE OpenProductService(DWORD access, SC_HANDLE* manager)
{
    *manager = g_api.openManager(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!*manager) {
        g_openError = GetLastError();
        return nullptr;
    }
    SC_HANDLE service = g_api.openService(*manager, g_service.name, access);
    if (!service) {
        g_openError = GetLastError();
        g_api.close(*manager);
        *manager = nullptr;
    }
    return service;
}

void CloseBoth(SC_HANDLE service, SC_HANDLE manager)
{
    if (service)
        g_api.close(service);
    if (manager)
        g_api.close(manager);
}

bool WaitForState(SC_HANDLE service, DWORD state)
{
    for (DWORD waited = 0;; waited += 100) {
        SERVICE_STATUS status;
        if (!g_api.queryStatus(service, &status))
            return false;
        if (status.dwCurrentState == state)
            return true;
        if (waited >= StopWaitMs)
            return false;
        Sleep(100);
    }
}

// Whether an existing service of the Name runs the earlier installation's
// program (quoted or not); true where there is none.
bool ExistingServiceIsOurs(const char* expected)
{
    SC_HANDLE manager, service = OpenProductService(SERVICE_QUERY_CONFIG, &manager);
    // Only a service that does not exist is none; one that cannot be looked
    // at cannot be shown to be ours.
    if (!service)
        return g_openError == ERROR_SERVICE_DOES_NOT_EXIST;
    bool ours = false;
    DWORD size = 0;
    g_api.queryConfig(service, nullptr, 0, &size);
    QUERY_SERVICE_CONFIGA* config = size ? static_cast<QUERY_SERVICE_CONFIGA*>(HeapAlloc(GetProcessHeap(), 0, size))
                                         : nullptr;
    if (config && g_api.queryConfig(service, config, size, &size) && expected[0]) {
        const char* path = config->lpBinaryPathName;
        char quoted[PathSize + 2] = "\"";
        ours = AppendBounded(quoted, sizeof quoted, expected) && AppendBounded(quoted, sizeof quoted, "\"")
            && (EqualsIgnoringCase(path, quoted) || EqualsIgnoringCase(path, expected));
    }
    if (config)
        HeapFree(GetProcessHeap(), 0, config);
    CloseBoth(service, manager);
    return ours;
}

bool ExistingSourceIsOurs(const char* expected)
{
    char path[PathSize], file[PathSize + 1] = "";
    HKEY key;
    if (!EventLogKeyPath(path))
        return false;
    // Only a source that does not exist is none; one that cannot be
    // looked at cannot be shown to be ours.
    const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    if (opened != ERROR_SUCCESS)
        return opened == ERROR_FILE_NOT_FOUND;
    DWORD size = PathSize;
    RegQueryValueExA(key, "EventMessageFile", nullptr, nullptr, reinterpret_cast<BYTE*>(file), &size);
    RegCloseKey(key);
    file[size < PathSize ? size : PathSize] = '\0';
    return expected[0] && EqualsIgnoringCase(file, expected);
}

bool IsInstalledFile()
{
    char target[PathSize];
    if (!ProgramPath(g_setup.destination, target))
        return false;
    for (int n = 1; n <= g_setup.installCount; ++n)
        if (LoadInstallEntry(n) == EntryKind::Destination && EqualsIgnoringCase(g_setup.entry.target, target))
            return true;
    return false;
}

// A failed step: its message, with the error, and the error flag.
bool Failed(const char* step, DWORD error)
{
    char text[sizeof g_service.name + 128];
    wsprintfA(text, "サービス %s の%sに失敗しました。(エラー %lu)", g_service.name, step, error);
    Tell(g_setup.messageOwner, text, nullptr, MB_ICONHAND | MB_OK);
    g_setup.copyError = true;
    return false;
}

// Optional configuration: a Windows without it answers ERROR_INVALID_LEVEL.
bool Configure(SC_HANDLE service, DWORD level, void* info)
{
    return g_api.change2(service, level, info) || GetLastError() == ERROR_INVALID_LEVEL;
}

// The text in UTF-16: its length with the NUL, 0 on failure.
int Widen(const char* text, WCHAR* out, int size)
{
    return MultiByteToWideChar(CP_ACP, 0, text, -1, out, size);
}

bool ConfigureService(SC_HANDLE service)
{
    WCHAR description[512], privileges[256];
    SERVICE_DESCRIPTIONW describe = {description};
    SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
    SERVICE_REQUIRED_PRIVILEGES_INFOW required = {privileges};
    SERVICE_SID_INFO sid = {SERVICE_SID_TYPE_UNRESTRICTED};
    SC_ACTION restart = {SC_ACTION_RESTART, 60000};
    SERVICE_FAILURE_ACTIONSW failure = {86400, nullptr, nullptr, 1, &restart};
    const int length = Widen(g_service.privileges, privileges, 255);
    if (!Widen(g_service.description, description, 512) || !length)
        return false;
    // The privileges as a list of strings: each comma ends one, and an
    // empty one ends the list.
    for (WCHAR* p = privileges; *p; ++p)
        if (*p == L',')
            *p = L'\0';
    privileges[length] = L'\0';
    return Configure(service, SERVICE_CONFIG_DESCRIPTION, &describe)
        && (!g_service.automatic || Configure(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed))
        && Configure(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required)
        && Configure(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid)
        && Configure(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

bool SecureService(SC_HANDLE service)
{
    PSECURITY_DESCRIPTOR descriptor = DescriptorFromSddl(ServiceSddl);
    if (!descriptor)
        return false;
    const bool set = g_api.setSecurity(service, DACL_SECURITY_INFORMATION, descriptor) != FALSE;
    LocalFree(descriptor);
    return set;
}

// Creates (or opens) a key with a protected descriptor, which replaces an
// existing key's own.
LONG CreateSecuredKey(const char* path, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = DescriptorFromSddl(sddl);
    if (!descriptor)
        return LONG(GetLastError());
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HKEY key;
    DWORD disposition;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_WRITE | WRITE_DAC, &attributes, &key, &disposition);
    if (result == ERROR_SUCCESS) {
        if (disposition == REG_OPENED_EXISTING_KEY)
            result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return result;
}

LONG CreateKeys()
{
    char status[PathSize], sid[80], sddl[sizeof StatusKeySddlStart + 80];
    if (!CopyBounded(status, sizeof status, g_service.key) || !AppendBounded(status, sizeof status, "\\Status")
        || !ServiceSid(g_service.name, sid, sizeof sid) || !StatusKeySddl(sid, sddl, sizeof sddl))
        return ERROR_INVALID_NAME;
    const LONG result = CreateSecuredKey(g_service.key, ServiceKeySddl);
    return result == ERROR_SUCCESS ? CreateSecuredKey(status, sddl) : result;
}

LONG RegisterEventSource(const char* program)
{
    char path[PathSize];
    HKEY key;
    if (!EventLogKeyPath(path))
        return ERROR_INVALID_NAME;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    result = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(program),
                            DWORD(lstrlenA(program) + 1));
    if (result == ERROR_SUCCESS)
        result = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), 4);
    RegCloseKey(key);
    return result;
}

} // namespace

bool LoadServiceSection()
{
    ZeroMemory(&g_service, sizeof g_service);
    ReadScriptValue("Service", "Name", g_service.name, sizeof g_service.name);
    if (!g_service.name[0] || !IsVistaOrLater())
        return true; // none, or a Windows that needs none
    g_service.present = true;
    char account[32], start[16], eventLog[4];
    ReadScriptValue("Service", "DisplayName", g_service.displayName, sizeof g_service.displayName);
    ReadScriptValue("Service", "Description", g_service.description, sizeof g_service.description);
    ReadScriptValue("Service", "Program", g_service.program, sizeof g_service.program);
    ReadScriptValue("Service", "Account", account, sizeof account);
    ReadScriptValue("Service", "Start", start, sizeof start);
    ReadScriptValue("Service", "Privileges", g_service.privileges, sizeof g_service.privileges);
    ReadScriptValue("Service", "Key", g_service.key, sizeof g_service.key);
    ReadScriptValue("Service", "EventLog", eventLog, sizeof eventLog);
    g_service.eventLog = eventLog[0] == '1';
    g_service.account = ServiceAccountName(account);
    bool validStart;
    g_service.automatic = ServiceStartsAutomatically(start, &validStart);
    if (!IsServiceName(g_service.name) || !g_service.account || !validStart || !IsPrivilegeList(g_service.privileges)
        || !IsServiceKey(g_service.key) || !IsContainedPath(g_service.program) || !IsInstalledFile()
        || !LoadApi())
        return false;
    if (!g_service.displayName[0])
        lstrcpynA(g_service.displayName, g_service.name, sizeof g_service.displayName);
    // Never someone else's: the service and the source must run the earlier
    // installation's program, where there are any.
    char previous[PathSize] = "";
    if (g_setup.previousDestination[0] && !ProgramPath(g_setup.previousDestination, previous))
        previous[0] = '\0';
    return ExistingServiceIsOurs(previous) && ExistingSourceIsOurs(previous);
}

bool ServiceAllowsDestination(HWND owner, const char* destination)
{
    if (!Applies())
        return true;
    const char* refusal = nullptr;
    // Only there do the parents keep everyone else from making the folder
    // first or swapping it afterwards.
    if (!IsBelowProgramFiles(destination))
        refusal = "サービスを含むソフトは、Program Files フォルダの中にのみインストールできます。";
    // FAT and exFAT keep no access rights: anyone could replace the program.
    else if (!VolumeKeepsAcls(destination))
        refusal = "サービスを含むソフトは、アクセス権を保存できないドライブ（FAT、exFAT）にはインストールできません。";
    else if (GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES
             && !EqualsIgnoringCase(destination, g_setup.previousDestination))
        refusal = "サービスを含むソフトは、既にあるフォルダにはインストールできません。新しいフォルダを指定してください。";
    if (!refusal)
        return true;
    Tell(owner, refusal, nullptr, MB_ICONHAND | MB_OK);
    return false;
}

bool ServiceNeedsProtectedFolder()
{
    return Applies();
}

// How the earlier installation's service was before it was stopped, so
// that an update whose service step fails leaves it as it was.
struct EarlierService {
    bool known, running;
    DWORD startType;
    SERVICE_DELAYED_AUTO_START_INFO delayed;
} g_earlier;

void StopProductService()
{
    if (!Applies())
        return;
    SC_HANDLE manager, service = OpenProductService(SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG, &manager);
    if (!service)
        return;
    SERVICE_STATUS status;
    union {
        QUERY_SERVICE_CONFIGA config;
        BYTE bytes[8192];
    } buffer;
    DWORD size;
    g_earlier.known = g_api.queryStatus(service, &status) && g_api.queryConfig(service, &buffer.config, sizeof buffer, &size);
    g_earlier.running = status.dwCurrentState != SERVICE_STOPPED;
    g_earlier.startType = buffer.config.dwStartType;
    // Left as it was (not delayed) where it cannot be asked.
    g_api.queryConfig2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, reinterpret_cast<BYTE*>(&g_earlier.delayed),
                       sizeof g_earlier.delayed, &size);
    if (g_api.control(service, SERVICE_CONTROL_STOP, &status) || GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        WaitForState(service, SERVICE_STOPPED);
    CloseBoth(service, manager);
}

bool InstallProductService()
{
    if (!Applies())
        return true;
    char program[PathSize], quoted[PathSize + 2] = "\"";
    if (!ProgramPath(g_setup.destination, program) || !AppendBounded(quoted, sizeof quoted, program)
        || !AppendBounded(quoted, sizeof quoted, "\""))
        return Failed("登録", ERROR_FILENAME_EXCED_RANGE);
    // Started on demand only until every step has succeeded: Windows never
    // starts a half-made service by itself.
    SC_HANDLE manager, service = OpenProductService(SERVICE_ALL_ACCESS, &manager);
    const bool fresh = !service;
    if (service) {
        if (!g_api.change(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, quoted,
                          nullptr, nullptr, nullptr, g_service.account, "", g_service.displayName)) {
            const DWORD error = GetLastError();
            CloseBoth(service, manager);
            return Failed("設定", error);
        }
    } else {
        if (!manager)
            manager = g_api.openManager(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
        service = manager ? g_api.create(manager, g_service.name, g_service.displayName, SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         quoted, nullptr, nullptr, nullptr, g_service.account, "")
                          : nullptr;
        if (!service) {
            const DWORD error = GetLastError();
            CloseBoth(nullptr, manager);
            return Failed("登録", error);
        }
    }
    LONG result = ERROR_SUCCESS;
    const char* step = "設定";
    if (!ConfigureService(service) || !SecureService(service))
        result = LONG(GetLastError());
    else if ((step = "キーの作成", result = CreateKeys()) == ERROR_SUCCESS && g_service.eventLog)
        step = "イベントログへの登録", result = RegisterEventSource(program);
    if (result == ERROR_SUCCESS && g_service.automatic
        && !g_api.change(service, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr))
        step = "設定", result = LONG(GetLastError());
    if (result != ERROR_SUCCESS && fresh)
        g_api.remove(service); // a fresh install that failed leaves no service behind
    // An update that failed: the earlier service's start, as it was, and
    // running again if it ran (as after a failed copy).
    if (result != ERROR_SUCCESS && !fresh && g_earlier.known) {
        g_api.change(service, SERVICE_NO_CHANGE, g_earlier.startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
        g_api.change2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &g_earlier.delayed);
        if (g_earlier.running)
            g_api.start(service, 0, nullptr);
    }
    if (result == ERROR_SUCCESS && !g_api.start(service, 0, nullptr)
        && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        step = "開始", result = LONG(GetLastError());
    CloseBoth(service, manager);
    return result == ERROR_SUCCESS || Failed(step, DWORD(result));
}

void StartProductService()
{
    // The earlier installation's service, which runs from its folder. A
    // removal that stopped half way never starts it once its program has gone.
    const char* folder = g_setup.previousDestination[0] ? g_setup.previousDestination : g_setup.destination;
    char program[PathSize];
    if (!Applies() || !ProgramPath(folder, program) || GetFileAttributesA(program) == INVALID_FILE_ATTRIBUTES)
        return;
    SC_HANDLE manager, service = OpenProductService(SERVICE_START, &manager);
    if (service)
        g_api.start(service, 0, nullptr);
    CloseBoth(service, manager);
}

void RemoveProductService()
{
    if (!Applies())
        return;
    SC_HANDLE manager, service = OpenProductService(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE, &manager);
    if (service) {
        // Deleted once stopped, so that it is gone, not only marked.
        WaitForState(service, SERVICE_STOPPED);
        g_api.remove(service);
    }
    CloseBoth(service, manager);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, g_service.key);
    char path[PathSize];
    if (g_service.eventLog && EventLogKeyPath(path))
        DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
}
