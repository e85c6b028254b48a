// The entry point of installer: the wizard, the uninstall request ("r") and
// the uninstall copy ("x").
#include <windows.h>

#include <cstring>

#include "dbcs_path.h"
#include "setup_state.h"
#include "uninstall.h"
#include "wizard.h"

namespace {

// A setup program usually runs from a downloads folder: DLLs are looked for
// in the System folder only, where the system offers that.
void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC function = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (function)
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(function))(
            0x800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
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
    if (letter == 'x' && command[1])
        programPath = command + 2;
    if (!SplitProgramPath(programPath)) {
        MessageBoxA(nullptr, "設定ファイルが壊れているか、または見つかりません。", nullptr, MB_ICONHAND | MB_OK);
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
