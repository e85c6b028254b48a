// The entry point of installer: the wizard, the uninstall request ("r") and
// the uninstall copy ("x"), each interactive or silent ("/S").
#include <windows.h>

#include <cstring>

#include "command_line.h"
#include "dbcs_path.h"
#include "folders.h"
#include "messages.h"
#include "script_rules.h"
#include "setup_lock.h"
#include "setup_state.h"
#include "uninstall.h"
#include "wizard.h"

namespace {

// A setup program usually runs from a downloads folder, where anyone may
// have put a DLL: the DLLs that load from now on come from the System folder
// only where the system offers that, and never from the current folder
// where it does not (Windows 7 without its update). The program itself
// imports only DLLs that Windows always takes from its own folder.
void RestrictDllSearch()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefault = FindFunction<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories");
    if (setDefault && setDefault(0x800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */))
        return;
    if (auto setDirectory = FindFunction<BOOL(WINAPI*)(LPCSTR)>(kernel, "SetDllDirectoryA"))
        setDirectory("");
}

// Splits the program path into its folder (with "\") and file name, at the
// last real backslash.
bool SplitProgramPath(const char* programPath)
{
    const char* name = programPath;
    for (const char* p = FindCharDbcs(programPath, '\\'); p; p = FindCharDbcs(p + 1, '\\'))
        name = p + 1;
    const size_t folderLength = size_t(name - programPath);
    if (folderLength >= PathSize || !CopyBounded(g_setup.installerName, PathSize, name))
        return false;
    memcpy(g_setup.sourceFolder, programPath, folderLength);
    g_setup.sourceFolder[folderLength] = '\0';
    return ScriptFileName(g_setup.installerName, g_setup.scriptName, PathSize)
        && CopyBounded(g_setup.scriptPath, PathSize, g_setup.sourceFolder)
        && AppendBounded(g_setup.scriptPath, PathSize, g_setup.scriptName);
}

bool IsInstalledFolder(const char* folder)
{
    // "C:\.\" and "C:\x\..\" are the drive root too.
    return strlen(folder) > 3 && folder[1] == ':' && folder[2] == '\\' && !IsDriveRootPath(folder);
}

// Whether the handle opened is the file that `full` names now with no
// junction or symbolic link on the way or at the end, and the file's only
// name (no hard link to someone else's file). Files are compared by
// identity (volume serial number and file index), not by path text, so a
// log on a SUBST or network drive is still the file it names.
bool IsTheFileNamed(HANDLE file, const char* full)
{
    BY_HANDLE_FILE_INFORMATION opened, named;
    char link[PathSize];
    if (!GetFileInformationByHandle(file, &opened) || opened.nNumberOfLinks > 1 || IsNameSurrogate(full)
        || FindLinkOnTheWay(full, link))
        return false;
    HANDLE again = CreateFileA(full, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (again == INVALID_HANDLE_VALUE)
        return false;
    const bool same = GetFileInformationByHandle(again, &named)
        && named.dwVolumeSerialNumber == opened.dwVolumeSerialNumber && named.nFileIndexHigh == opened.nFileIndexHigh
        && named.nFileIndexLow == opened.nFileIndexLow;
    CloseHandle(again);
    return same;
}

// The log of a silent run, opened once for appending and inherited by the
// uninstall copy. False (nothing written) when the file opened is not the
// file named; one that cannot be opened at all is no log, as before.
bool OpenLog(const SetupCommand& command)
{
    if (!command.silent)
        return true;
    if (command.handles.log) {
        // The copy: the request's handle, never the name again.
        HANDLE inherited = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(command.handles.log));
        if (GetFileType(inherited) == FILE_TYPE_DISK)
            g_setup.logFile = inherited;
    }
    if (!command.log[0] || g_setup.logFile)
        return true;
    char full[PathSize];
    const DWORD length = GetFullPathNameA(command.log, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return true;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    // An existing file first; a new one only where no junction or link
    // leads on the way to it.
    HANDLE file = CreateFileA(full, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool linked = false;
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        char link[PathSize];
        linked = FindLinkOnTheWay(full, link); // the folders on the way (each ends with "\")
        if (!linked)
            file = CreateFileA(full, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE && !linked)
        return true; // no log at all, as before
    if (linked || !IsTheFileNamed(file, full)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        // Standard error is the only place left to say so.
        ShowPathError(full, " はリンクまたは別名のあるファイルのため、ログにできません。");
        return false;
    }
    g_setup.logFile = file;
    return true;
}

// What holds for the whole run: no "insert a disk" box that would hang a
// deployment, and where Windows offers it, no redirection that someone
// without administrators' rights has planted (RedirectionGuard).
void HardenProcess()
{
    SetErrorMode(SEM_FAILCRITICALERRORS);
    auto setPolicy = FindFunction<BOOL(WINAPI*)(int, PVOID, SIZE_T)>(GetModuleHandleA("kernel32.dll"),
                                                                   "SetProcessMitigationPolicy");
    DWORD enforceRedirectionTrust = 1;
    if (setPolicy)
        setPolicy(16 /* ProcessRedirectionTrustPolicy */, &enforceRedirectionTrust, sizeof enforceRedirectionTrust);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    RestrictDllSearch();
    HardenProcess();
    g_setup.instance = instance;
    g_setup.newShell = LOBYTE(LOWORD(GetVersion())) >= 4;
    const DWORD length = GetModuleFileNameA(nullptr, g_setup.ownPath, PathSize);
    if (length == 0 || length >= PathSize)
        return ExitFailed;

    static SetupCommand command;
    const bool understood = ParseSetupCommand(commandLine, &command);
    g_setup.silent = command.silent;
    // A line that cannot be read: a silent run still shows nothing (and
    // names no log that could be trusted).
    if (!understood) {
        ShowBrokenScript();
        return ExitBadCommandLine;
    }
    if (!OpenLog(command))
        return ExitFailed; // nothing done, nothing written
    const SetupAction action = command.action;
    if (action == SetupAction::UninstallCopy) {
        g_setup.requestProcess = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(command.handles.request));
        g_setup.resultPipe = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(command.handles.result));
    }
    const char* programPath = action == SetupAction::UninstallCopy ? command.path : g_setup.ownPath;
    // The uninstall copy removes the folder of the path it is given: only
    // ever a full path below a drive root, never its own folder by default,
    // never a folder of Windows or of the user.
    if (!SplitProgramPath(programPath)
        || (action == SetupAction::UninstallCopy
            && (!IsInstalledFolder(g_setup.sourceFolder) || FindCharDbcs(programPath + 2, ':')
                || IsReservedFolder(g_setup.sourceFolder)))) {
        ShowBrokenScript();
        return ExitFailed;
    }
    if (!LoadSetupScript())
        return ExitFailed; // the message has been shown
    if (action != SetupAction::Wizard && !BelongsToInstallation())
        return ExitFailed;
    // The uninstall copy runs under its request's mutex, and holds the
    // lock itself for as long as it runs.
    if (action == SetupAction::UninstallCopy ? !KeepSetupLock() : !OnlySetupOfProduct())
        return ExitAlreadyRunning;
    if (action == SetupAction::UninstallRequest)
        return RunUninstallRequest();
    if (action == SetupAction::UninstallCopy)
        return RunUninstallCopy();
    if (g_setup.silent)
        return RunSilentInstall(command.destination, command.desktop);
    return RunWizard();
}

// The program starts here, without the C run-time's start-up code: nothing
// in it needs what that code prepares (no constructors of static objects,
// no argument array, no exceptions, no thread-local data), and leaving it
// out makes SETUP.EXE about 11 KiB smaller. The C functions it calls come
// from msvcrt.dll, which sets itself up when it loads.
extern "C" void WinMainCRTStartup()
{
    // The arguments follow the program's name ("quoted" or up to a blank).
    char* arguments = GetCommandLineA();
    for (bool quoted = false; *arguments > ' ' || (*arguments && quoted); ++arguments)
        if (*arguments == '"')
            quoted = !quoted;
    while (*arguments == ' ' || *arguments == '\t')
        ++arguments;
    ExitProcess(UINT(WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWDEFAULT)));
}
