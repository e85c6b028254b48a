// A stand-in for an installed product: notes each start in started.txt of
// its current folder, with its arguments, and the process that started it
// in parent.txt, and ends.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

namespace {

void Append(const char* name, const char* text, DWORD disposition)
{
    HANDLE file = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, text, DWORD(lstrlenA(text)), &written, nullptr);
    CloseHandle(file);
}

DWORD ParentProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
    return parent;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    char text[1024];
    snprintf(text, sizeof text, "started %s\r\n", commandLine);
    Append("started.txt", text, OPEN_ALWAYS);
    snprintf(text, sizeof text, "%lu", ParentProcess());
    Append("parent.txt", text, CREATE_ALWAYS);
    return 0;
}
