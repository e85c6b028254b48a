// The entry point of installer: the wizard, the uninstall request ("r") and
// the uninstall copy ("x").
#include <windows.h>

#include <cstring>

#include "dbcs_path.h"
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

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    RestrictDllSearch();
    g_setup.instance = instance;
    g_setup.newShell = LOBYTE(LOWORD(GetVersion())) >= 4;
    const DWORD length = GetModuleFileNameA(nullptr, g_setup.ownPath, PathSize);
    if (length == 0 || length >= PathSize)
        return 1;

    const char* command = commandLine;
    if (*command == '/')
        ++command;
    const char letter = *command;
    const char* programPath = g_setup.ownPath;
    if (letter == 'x')
        programPath = command[1] ? command + 2 : "";
    // The uninstall copy removes the folder of the path it is given: only
    // ever a full path below a drive root, never its own folder by default.
    if (!SplitProgramPath(programPath) || (letter == 'x' && !IsInstalledFolder(g_setup.sourceFolder))) {
        ShowBrokenScript();
        return 1;
    }
    if (!LoadSetupScript())
        return 1; // the message has been shown
    if (letter == 'r' || letter == 'R')
        RunUninstallRequest();
    else if (letter == 'x')
        RunUninstallCopy();
    else
        RunWizard();
    return 1;
}
