#include "messages.h"

#include "setup_state.h"

int Tell(HWND owner, const char* text, const char* caption, UINT type)
{
    if (!g_setup.silent)
        return MessageBoxA(owner, text, caption, type);
    LogLine(text);
    return IDOK;
}

void LogLine(const char* text)
{
    if (!g_setup.silent || !g_setup.logPath[0])
        return;
    // Opened for each line: the uninstall request and its copy in the
    // System folder write one after the other into the same file.
    HANDLE file = CreateFileA(g_setup.logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[1024];
    const int length = wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
                                 now.wMinute, now.wSecond);
    lstrcpynA(line + length, text, int(sizeof line) - length - 2);
    lstrcatA(line, "\r\n");
    DWORD written;
    WriteFile(file, line, DWORD(lstrlenA(line)), &written, nullptr);
    CloseHandle(file);
}
