#include <cstring>

#include "command_line.h"
#include "dbcs_path.h"
#include "messages.h"
#include "service_setup.h"
#include "setup_state.h"

SetupState g_setup;

const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char FolderMadeValue[] = "FolderMadeBySetup";

namespace {

// The folder that Windows gives this program for programs: on 64-bit
// Windows a 32-bit program gets "Program Files (x86)". Empty where the shell
// cannot say (before its version 5).
void ProgramFilesFolder(char* folder)
{
    auto getFolderPath = FindFunction<HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR)>(
        GetModuleHandleA("shell32.dll"), "SHGetFolderPathA");
    folder[0] = '\0';
    if (!getFolderPath || getFolderPath(nullptr, 0x26 /* CSIDL_PROGRAM_FILES */, nullptr, 0, folder) != S_OK)
        folder[0] = '\0';
}

void ProposeDestination()
{
    char windowsDir[PathSize], programFiles[MAX_PATH];
    if (!GetWindowsDirectoryA(windowsDir, sizeof windowsDir))
        windowsDir[0] = '\0';
    ProgramFilesFolder(programFiles);
    if (!DefaultDestination(windowsDir, programFiles, g_setup.folder, g_setup.destination,
                            sizeof g_setup.destination))
        lstrcpynA(g_setup.destination, "c:\\", sizeof g_setup.destination);

    // An earlier installation: its folder is proposed again.
    char keyPath[sizeof UninstallKey + sizeof g_setup.title];
    lstrcpyA(keyPath, UninstallKey);
    lstrcatA(keyPath, g_setup.title);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char value[PathSize + 1];
    DWORD size = PathSize;
    DWORD type;
    if (RegQueryValueExA(key, "UninstallString", nullptr, &type, reinterpret_cast<BYTE*>(value), &size)
            == ERROR_SUCCESS
        && type == REG_SZ) {
        value[size < PathSize ? size : PathSize] = '\0';
        PreviousDestination(value, g_setup.previousDestination, sizeof g_setup.previousDestination);
        if (g_setup.previousDestination[0])
            lstrcpynA(g_setup.destination, g_setup.previousDestination, sizeof g_setup.destination);
    }
    DWORD made = 0;
    size = sizeof made;
    g_setup.previousFolderMade =
        RegQueryValueExA(key, FolderMadeValue, nullptr, &type, reinterpret_cast<BYTE*>(&made), &size) == ERROR_SUCCESS
        && type == REG_DWORD && made == 1;
    RegCloseKey(key);
}

// Counts the file and shortcut entries; false when one of them would reach
// outside its folder or name a link with a text that is no file name.
bool CountEntries()
{
    g_setup.installCount = 0;
    for (EntryKind kind; (kind = LoadInstallEntry(g_setup.installCount + 1)) != EntryKind::End;) {
        if (kind == EntryKind::Outside)
            return false;
        ++g_setup.installCount;
    }
    g_setup.groupCount = 0;
    for (GroupKind kind; (kind = LoadGroupEntry(g_setup.groupCount + 1)) != GroupKind::End;) {
        if (kind == GroupKind::BadCaption)
            return false;
        ++g_setup.groupCount;
    }
    return true;
}

} // namespace

void ShowBrokenScript()
{
    Tell(nullptr, "設定ファイルが壊れているか、または見つかりません。", nullptr, MB_ICONHAND | MB_OK);
}

void ReadScriptValue(const char* section, const char* key, char* out, DWORD size)
{
    GetPrivateProfileStringA(section, key, "", out, size, g_setup.scriptPath);
}

bool LoadSetupScript()
{
    ReadScriptValue("Install", "Title", g_setup.title, sizeof g_setup.title);
    ReadScriptValue("Install", "Folder", g_setup.folder, sizeof g_setup.folder);
    // The Title names a folder, links and a registry key; the Folder is
    // proposed under the programs folder or the drive root, never above.
    if (!g_setup.title[0] || !g_setup.folder[0] || !IsPlainName(g_setup.title)
        || !IsFolderName(g_setup.folder + (g_setup.folder[0] == '\\'))) {
        ShowBrokenScript();
        return false;
    }
    char resident[10];
    ReadScriptValue("Install", "TSR", resident, sizeof resident);
    g_setup.resident = resident[0] == '1';
    ProposeDestination();
    if (!CountEntries() || !LoadServiceSection()) {
        ShowBrokenScript(); // before any window opens and anything is written
        return false;
    }
    return true;
}

EntryKind LoadInstallEntry(int n)
{
    char value[PathSize];
    if (n == -1) {
        lstrcpynA(value, g_setup.installerName, sizeof value);
    } else if (n == 0) {
        lstrcpynA(value, g_setup.scriptName, sizeof value);
    } else {
        char key[16];
        wsprintfA(key, "%u", unsigned(n));
        ReadScriptValue("Install", key, value, sizeof value);
    }
    char windowsDir[PathSize], systemDir[PathSize];
    if (!GetWindowsDirectoryA(windowsDir, sizeof windowsDir))
        windowsDir[0] = '\0';
    if (!GetSystemDirectoryA(systemDir, sizeof systemDir))
        systemDir[0] = '\0';
    return ParseInstallEntry(value, g_setup.destination, windowsDir, systemDir, &g_setup.entry);
}

GroupKind LoadGroupEntry(int n)
{
    char key[16];
    wsprintfA(key, "%u", unsigned(n));
    char value[PathSize];
    ReadScriptValue("Group", key, value, sizeof value);
    return ParseGroupEntry(value, g_setup.destination, g_setup.caption, sizeof g_setup.caption, g_setup.groupTarget,
                           sizeof g_setup.groupTarget);
}

void ShowPathError(const char* path, const char* message)
{
    char text[PathSize + 256];
    lstrcpynA(text, path, PathSize);
    lstrcpynA(text + lstrlenA(text), message, 256);
    Tell(g_setup.messageOwner, text, nullptr, MB_ICONHAND | MB_OK);
}

void SystemFolders(char* systemDir, char* wow64Dir)
{
    const UINT length = GetSystemDirectoryA(systemDir, PathSize);
    if (length == 0 || length >= PathSize)
        systemDir[0] = '\0';
    // Only a 32-bit program on 64-bit Windows is redirected to SysWOW64; a
    // 64-bit program gets the same folder name from GetSystemWow64Directory
    // but reaches System32 when it names the System folder.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto isWow64Process = FindFunction<BOOL(WINAPI*)(HANDLE, PBOOL)>(kernel, "IsWow64Process");
    auto getWow64Directory = FindFunction<UINT(WINAPI*)(LPSTR, UINT)>(kernel, "GetSystemWow64DirectoryA");
    BOOL wow64 = FALSE;
    if (!isWow64Process || !isWow64Process(GetCurrentProcess(), &wow64))
        wow64 = FALSE;
    const UINT wow64Length = wow64 && getWow64Directory ? getWow64Directory(wow64Dir, PathSize) : 0;
    if (wow64Length == 0 || wow64Length >= PathSize)
        wow64Dir[0] = '\0';
}

PSECURITY_DESCRIPTOR DescriptorFromSddl(const char* sddl)
{
    auto convert = FindFunction<BOOL(WINAPI*)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG)>(
        GetModuleHandleA("advapi32.dll"), "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!convert)
        SetLastError(ERROR_PROC_NOT_FOUND);
    else if (!convert(sddl, 1 /* SDDL_REVISION_1 */, &descriptor, nullptr))
        descriptor = nullptr;
    return descriptor;
}

bool IsVistaOrLater()
{
    return FindFunction<FARPROC>(GetModuleHandleA("advapi32.dll"), "NotifyServiceStatusChangeW") != nullptr;
}

int OutcomeExitCode(bool succeeded)
{
    return succeeded ? ExitSuccess : ExitFailed;
}
