// Reading the system clock as finely as Windows allows.
#include "clock.h"

namespace {

typedef VOID(WINAPI* FileTimeReader)(LPFILETIME);

// GetSystemTimeAsFileTime advances in timer ticks (about 15.6 ms), which
// would quantise every timestamp of an exchange to that step. Windows 8 and
// later have a precise reading; Windows 7 has only the coarse one.
FileTimeReader FindClockReader()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC precise = kernel ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime") : nullptr;
    if (!precise)
        return GetSystemTimeAsFileTime;
    return reinterpret_cast<FileTimeReader>(reinterpret_cast<void (*)()>(precise));
}

const FileTimeReader g_readClock = FindClockReader();

} // namespace

uint64_t ReadSystemClock()
{
    FILETIME now;
    g_readClock(&now);
    return (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint64_t ReadMonotonicClock()
{
    LARGE_INTEGER count, frequency;
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
        return uint64_t(GetTickCount()) * 10000; // not GetTickCount64: the tray runs on Windows XP too
    const uint64_t ticks = uint64_t(count.QuadPart), perSecond = uint64_t(frequency.QuadPart);
    return ticks / perSecond * 10000000 + ticks % perSecond * 10000000 / perSecond;
}

bool UtcToLocalTime(uint64_t utcTicks, SYSTEMTIME* local)
{
    FILETIME utc, localTime;
    utc.dwLowDateTime = DWORD(utcTicks);
    utc.dwHighDateTime = DWORD(utcTicks >> 32);
    return FileTimeToLocalFileTime(&utc, &localTime) && FileTimeToSystemTime(&localTime, local);
}
