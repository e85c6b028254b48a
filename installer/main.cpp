// The entry point of installer: the wizard, the uninstall request ("r") and
// the uninstall copy ("x"), each interactive or silent ("/S").
#include <windows.h>

#include <cstring>

#include "command_line.h"
#include "dbcs_path.h"
#include "folders.h"
#include "messages.h"
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
    return strlen(folder) > 3 && folder[1] == ':' && folder[2] == '\\';
}

// One Setup of a product at a time, for all users: a mutex named after the
// Title. The uninstall copy inherits the request's handle. False (after the
// message) when another Setup holds it, also one that this user may not
// open (an elevated one, while this is not).
bool OnlySetupOfProduct()
{
    char name[sizeof g_setup.title + 32];
    lstrcpyA(name, "Global\\Setup ");
    lstrcatA(name, g_setup.title);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE mutex = CreateMutexA(&inherited, FALSE, name);
    DWORD error = GetLastError();
    if (!mutex && error != ERROR_ACCESS_DENIED) {
        // Windows without session namespaces (before Windows 2000).
        mutex = CreateMutexA(&inherited, FALSE, name + 7);
        error = GetLastError();
    }
    if (mutex && error != ERROR_ALREADY_EXISTS)
        return true; // held until the process ends
    char text[sizeof g_setup.title + 64];
    lstrcpyA(text, g_setup.title);
    lstrcatA(text, "のセットアップは既に実行中です。");
    Tell(nullptr, text, nullptr, MB_ICONHAND | MB_OK);
    return false;
}

// Takes the log's full path: the uninstall copy runs in another folder.
void SetLogPath(const char* log)
{
    if (!log[0])
        return;
    const DWORD length = GetFullPathNameA(log, PathSize, g_setup.logPath, nullptr);
    if (length == 0 || length >= PathSize)
        g_setup.logPath[0] = '\0';
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    RestrictDllSearch();
    g_setup.instance = instance;
    g_setup.newShell = LOBYTE(LOWORD(GetVersion())) >= 4;
    const DWORD length = GetModuleFileNameA(nullptr, g_setup.ownPath, PathSize);
    if (length == 0 || length >= PathSize)
        return ExitFailed;

    static SetupCommand command;
    const bool understood = ParseSetupCommand(commandLine, &command);
    g_setup.silent = command.silent;
    SetLogPath(command.log);
    const SetupAction action = command.action;
    const char* programPath = action == SetupAction::UninstallCopy ? command.path : g_setup.ownPath;
    // The uninstall copy removes the folder of the path it is given: only
    // ever a full path below a drive root, never its own folder by default,
    // never a folder of Windows or of the user.
    if (!understood || !SplitProgramPath(programPath)
        || (action == SetupAction::UninstallCopy
            && (!IsInstalledFolder(g_setup.sourceFolder) || IsReservedFolder(g_setup.sourceFolder)))) {
        ShowBrokenScript();
        return ExitFailed;
    }
    if (!LoadSetupScript())
        return ExitFailed; // the message has been shown
    if (action != SetupAction::Wizard && !BelongsToInstallation())
        return ExitFailed;
    // The uninstall copy runs under its request's mutex.
    if (action != SetupAction::UninstallCopy && !OnlySetupOfProduct())
        return ExitAlreadyRunning;
    if (action == SetupAction::UninstallRequest)
        return RunUninstallRequest();
    if (action == SetupAction::UninstallCopy)
        return RunUninstallCopy();
    if (g_setup.silent)
        return RunSilentInstall(command.destination, command.desktop);
    return RunWizard();
}
