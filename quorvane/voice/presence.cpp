#include "presence.h"

#include <endpointvolume.h>
#include <mmdeviceapi.h>

namespace {

typedef HRESULT(WINAPI* QueryNotificationStateFunction)(int*);
typedef BOOL(WINAPI* RegisterSessionFunction)(HWND, DWORD);
typedef BOOL(WINAPI* UnregisterSessionFunction)(HWND);

template <typename Function> Function Cast(FARPROC function)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(function));
}

// wtsapi32.dll from the system folder only, never from the program's.
FARPROC SessionFunction(const char* name)
{
    static HMODULE library;
    if (!library) {
        char path[MAX_PATH + 16];
        const UINT length = GetSystemDirectoryA(path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return nullptr;
        lstrcpynA(path + length, "\\wtsapi32.dll", 16);
        library = LoadLibraryA(path);
    }
    return library ? GetProcAddress(library, name) : nullptr;
}

bool EndpointMuted(IMMDeviceEnumerator* enumerator)
{
    IMMDevice* device = nullptr;
    if (FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device)))
        return false;
    IAudioEndpointVolume* volume = nullptr;
    bool muted = false;
    if (SUCCEEDED(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                   reinterpret_cast<void**>(&volume)))) {
        BOOL mute = FALSE;
        float level = 1.0f;
        muted = (SUCCEEDED(volume->GetMute(&mute)) && mute)
            || (SUCCEEDED(volume->GetMasterVolumeLevelScalar(&level)) && level <= 0.0f);
        volume->Release();
    }
    device->Release();
    return muted;
}

} // namespace

int QueryUserNotificationState()
{
    HMODULE shell = GetModuleHandleA("shell32.dll");
    FARPROC query = shell ? GetProcAddress(shell, "SHQueryUserNotificationState") : nullptr;
    int state = 0;
    if (!query || FAILED(Cast<QueryNotificationStateFunction>(query)(&state)))
        return 0;
    return state;
}

bool AppStateIncludesStartMenu()
{
    // The manifest names Windows 10, so the version is told as it is.
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwMajorVersion >= 10;
}

bool DefaultOutputMuted()
{
    // Apartment-threaded, as the rest of the main thread's COM use; a thread
    // already initialised otherwise still gets its answer.
    const HRESULT initialised = CoInitialize(nullptr);
    IMMDeviceEnumerator* enumerator = nullptr;
    bool muted = false;
    if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                   __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator)))) {
        muted = EndpointMuted(enumerator);
        enumerator->Release();
    }
    if (SUCCEEDED(initialised))
        CoUninitialize();
    return muted;
}

bool RegisterSessionNotifications(HWND window)
{
    FARPROC registration = SessionFunction("WTSRegisterSessionNotification");
    return registration && Cast<RegisterSessionFunction>(registration)(window, 0 /* NOTIFY_FOR_THIS_SESSION */);
}

void UnregisterSessionNotifications(HWND window)
{
    if (FARPROC unregistration = SessionFunction("WTSUnRegisterSessionNotification"))
        Cast<UnregisterSessionFunction>(unregistration)(window);
}
