#include "resolver.h"

#include <process.h>
#include <wspiapi.h>

typedef int(WSAAPI* GetAddrInfoFn)(const char*, const char*, const addrinfo*, addrinfo**);
typedef int(WSAAPI* GetNameInfoFn)(const sockaddr*, socklen_t, char*, DWORD, char*, DWORD, int);
typedef void(WSAAPI* FreeAddrInfoFn)(addrinfo*);

struct ResolveRequest {
    HWND window;
    UINT message;
    WPARAM id;
    HANDLE done;     // without a window: set when the worker has finished
    volatile LONG result;
    volatile LONG references; // the worker's and the requester's
    char node[256];
    char service[16];
    addrinfo hints;
    addrinfo* list; // written by the worker, taken by the requester
};

namespace {

// Function pointers are held in the generic form that converts to and from
// every other without a warning.
typedef void (*AnyFunction)();

template <typename Function> Function As(AnyFunction function)
{
    return reinterpret_cast<Function>(function);
}

struct ResolverEntry {
    const char* name;
    AnyFunction function;
};

// All three entries always come from one source, so a list is always
// released by the freeaddrinfo that matches the getaddrinfo that made it.
ResolverEntry g_resolverFunctions[3] = {
    {"getaddrinfo", reinterpret_cast<AnyFunction>(WspiapiLegacyGetAddrInfo)},
    {"getnameinfo", reinterpret_cast<AnyFunction>(WspiapiLegacyGetNameInfo)},
    {"freeaddrinfo", reinterpret_cast<AnyFunction>(WspiapiLegacyFreeAddrInfo)},
};
volatile LONG g_lookupState; // 0 not made, 1 being made, 2 made
volatile LONG g_lastId;

// Loads `name` from the system folder only, never from a folder an attacker
// may write to, and keeps it only if it has getaddrinfo.
HMODULE LoadSystemResolverLibrary(const char* systemDir, const char* name)
{
    char path[MAX_PATH + 16];
    wsprintfA(path, "%s\\%s", systemDir, name);
    HMODULE library = LoadLibraryA(path);
    if (library && !GetProcAddress(library, "getaddrinfo")) {
        FreeLibrary(library);
        library = nullptr;
    }
    return library;
}

void LookUpSystemResolver()
{
    char systemDir[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemDir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    HMODULE library = LoadSystemResolverLibrary(systemDir, "ws2_32");
    if (!library)
        library = LoadSystemResolverLibrary(systemDir, "wship6");
    if (!library)
        return;
    AnyFunction found[3];
    for (int i = 0; i < 3; ++i) {
        found[i] = reinterpret_cast<AnyFunction>(GetProcAddress(library, g_resolverFunctions[i].name));
        if (!found[i]) {
            FreeLibrary(library);
            return;
        }
    }
    for (int i = 0; i < 3; ++i)
        g_resolverFunctions[i].function = found[i];
}

void ReleaseRequest(ResolveRequest* request)
{
    if (InterlockedDecrement(&request->references) != 0)
        return;
    // Nobody took the list: the attempt that asked for it was abandoned.
    if (request->list)
        FreeAddressList(request->list);
    if (request->done)
        CloseHandle(request->done);
    HeapFree(GetProcessHeap(), 0, request);
}

unsigned __stdcall ResolverThreadProc(void* argument)
{
    ResolveRequest* request = static_cast<ResolveRequest*>(argument);
    // The worker's own hold on Windows Sockets: the progress window may end
    // its use of it while the worker is still inside getaddrinfo.
    WSADATA data;
    const bool started = WSAStartup(0x0101, &data) == 0;
    GetAddrInfoFn getAddrInfo = As<GetAddrInfoFn>(LoadResolverFunctions(ResolveGetAddrInfo));
    int result = getAddrInfo(request->node, request->service, &request->hints, &request->list);
    if (result != 0)
        request->list = nullptr;
    request->result = result;
    if (request->window)
        PostMessageA(request->window, request->message, request->id, MAKELPARAM(0, result & 0xFFFF));
    else
        SetEvent(request->done);
    ReleaseRequest(request);
    if (started)
        WSACleanup();
    return 0;
}

} // namespace

void (*LoadResolverFunctions(int index))()
{
    if (g_lookupState != 2) {
        if (InterlockedCompareExchange(&g_lookupState, 1, 0) == 0) {
            LookUpSystemResolver();
            InterlockedExchange(&g_lookupState, 2);
        } else {
            // Another thread is making the lookup; both get the same table.
            while (g_lookupState != 2)
                Sleep(1);
        }
    }
    return g_resolverFunctions[index].function;
}

int GetNumericHost(const sockaddr* address, int length, char* host, DWORD hostSize)
{
    GetNameInfoFn getNameInfo = As<GetNameInfoFn>(LoadResolverFunctions(ResolveGetNameInfo));
    return getNameInfo(address, length, host, hostSize, nullptr, 0, NI_NUMERICHOST);
}

void FreeAddressList(addrinfo* list)
{
    As<FreeAddrInfoFn>(LoadResolverFunctions(ResolveFreeAddrInfo))(list);
}

ResolveRequest* StartResolver(HWND window, UINT message, const char* node, const char* service,
                              const addrinfo* hints)
{
    ResolveRequest* request
        = static_cast<ResolveRequest*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ResolveRequest)));
    if (!request)
        return nullptr;
    request->window = window;
    request->message = message;
    request->references = 2;
    lstrcpynA(request->node, node, sizeof request->node);
    lstrcpynA(request->service, service, sizeof request->service);
    request->hints = *hints;
    if (!window && !(request->done = CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
        HeapFree(GetProcessHeap(), 0, request);
        return nullptr;
    }
    do
        request->id = WPARAM(InterlockedIncrement(&g_lastId));
    while (request->id == 0);

    HANDLE thread = (HANDLE)_beginthreadex(nullptr, 0, ResolverThreadProc, request, 0, nullptr);
    if (!thread) {
        if (request->done)
            CloseHandle(request->done);
        HeapFree(GetProcessHeap(), 0, request);
        return nullptr;
    }
    // The worker frees itself; nobody waits for it.
    CloseHandle(thread);
    return request;
}

HANDLE ResolverEvent(const ResolveRequest* request)
{
    return request->done;
}

int ResolverResult(const ResolveRequest* request)
{
    return int(request->result);
}

WPARAM ResolverId(const ResolveRequest* request)
{
    return request->id;
}

addrinfo* TakeResolvedList(ResolveRequest* request)
{
    addrinfo* list = request->list;
    request->list = nullptr;
    return list;
}

void ReleaseResolver(ResolveRequest* request)
{
    ReleaseRequest(request);
}
