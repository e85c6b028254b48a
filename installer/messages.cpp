#include "messages.h"

#include "setup_state.h"

int Tell(HWND owner, const char* text, const char* caption, UINT type)
{
    if (!g_setup.silent)
        return MessageBoxA(owner, text, caption, type);
    LogLine(text);
    // Also for a deployment tool that reads standard error (a log that was
    // refused or never named leaves no other trace).
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written;
    if (error && error != INVALID_HANDLE_VALUE) {
        WriteFile(error, text, DWORD(lstrlenA(text)), &written, nullptr);
        WriteFile(error, "\r\n", 2, &written, nullptr);
    }
    return IDOK;
}

void LogLine(const char* text)
{
    if (!g_setup.silent || !g_setup.logFile)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[1024];
    const int length = wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                                 now.wMinute, now.wSecond);
    lstrcpynA(line + length, text, int(sizeof line) - length - 2);
    lstrcatA(line, "\r\n");
    DWORD written;
    // Opened for appending: the uninstall request and its copy in the
    // System folder write one after the other through the same handle.
    WriteFile(g_setup.logFile, line, DWORD(lstrlenA(line)), &written, nullptr);
}
