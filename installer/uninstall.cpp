#include "uninstall.h"

#include <cstring>

#include "command_line.h"
#include "dbcs_path.h"
#include "folders.h"
#include "messages.h"
#include "registry_delete.h"
#include "resource.h"
#include "restart_delete.h"
#include "service_setup.h"
#include "setup_state.h"
#include "shortcuts.h"
#include "wizard.h"

namespace {

const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr UINT_PTR StartTimer = 1;
bool g_installerPending; // the installed installer goes at the next restart

// Whether the folder (without "\") holds nothing but the installer that goes
// at the next restart.
bool OnlyPendingInstallerIn(const char* folder)
{
    char pattern[PathSize];
    if (!g_installerPending || !CopyBounded(pattern, sizeof pattern, folder)
        || !AppendBounded(pattern, sizeof pattern, "\\*.*"))
        return false;
    bool others = false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        others = others || (lstrcmpA(found.cFileName, ".") && lstrcmpA(found.cFileName, "..")
                            && lstrcmpiA(found.cFileName, g_setup.installerName));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return !others;
}

bool UninstallKeyPath(char* out, size_t size)
{
    return CopyBounded(out, size, UninstallKey) && AppendBounded(out, size, g_setup.title);
}

HKEY RootKey(RegRoot root)
{
    switch (root) {
    case RegRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    default: return nullptr;
    }
}

void DeleteScriptKeys()
{
    for (unsigned n = 1;; ++n) {
        char key[16], value[PathSize];
        wsprintfA(key, "%u", n);
        ReadScriptValue("Reg", key, value, sizeof value);
        if (!value[0])
            return;
        const char* path = nullptr;
        const RegRoot root = ParseRegValue(value, &path);
        if (root == RegRoot::None)
            Tell(g_setup.messageOwner, "Regセクションがおかしいです。", nullptr, MB_ICONHAND | MB_OK);
        else
            DeleteKeyTree(RootKey(root), path);
    }
}

// The files, last entry first; false at once when the product's own first
// file cannot go, so that the entry and shortcuts stay for another try.
bool DeleteFiles(bool* allDeleted)
{
    for (int n = g_setup.installCount; n >= -1; --n) {
        const EntryKind kind = LoadInstallEntry(n);
        if (kind != EntryKind::Destination)
            continue; // never removed, never installed, or outside the product's places
        if (n == -1 && g_setup.silent && !DeleteFileA(g_setup.entry.target)
            && GetFileAttributesA(g_setup.entry.target) != INVALID_FILE_ATTRIBUTES) {
            // The silent request waits for this copy from the installed
            // installer, which cannot go while it runs: it goes at the next
            // restart, and the exit code says so.
            DeleteAtRestart(g_setup.entry.target);
            g_setup.restartNeeded = true;
            g_installerPending = true;
            continue;
        }
        if (DeleteFileReported(g_setup.entry.target))
            continue;
        *allDeleted = false;
        if (n == 1) {
            char text[PathSize * 2];
            lstrcpynA(text, g_setup.entry.target, PathSize);
            lstrcatA(text, " の削除に失敗しました。");
            lstrcatA(text, g_setup.title);
            lstrcatA(text, "を終了して、もう一度アンインストールをやり直してください。");
            Tell(g_setup.messageOwner, text, nullptr, MB_ICONHAND | MB_OK);
            return false;
        }
    }
    return true;
}

// The names of the links to remove, read while the script is still there
// (it goes with the files); a heap list of zero-terminated captions.
char* ReadGroupCaptions()
{
    char* list = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, g_setup.groupCount * PathSize + 1));
    char* next = list;
    for (int n = 1; list && n <= g_setup.groupCount; ++n) {
        if (LoadGroupEntry(n) == GroupKind::Shortcut) {
            lstrcpynA(next, g_setup.caption, PathSize);
            next += lstrlenA(next) + 1;
        }
    }
    return list;
}

void SetText(HKEY key, const char* name, const char* text)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), DWORD(lstrlenA(text) + 1));
}

void SetNumber(HKEY key, const char* name, DWORD number)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

// What the list of installed programs shows besides the name: the product's
// icon, its size, and the publisher and version the script names; no Change
// or Repair, which this installer does not offer.
void DescribeProduct(HKEY key)
{
    if (LoadInstallEntry(1) != EntryKind::TooLong) {
        const char* dot = nullptr;
        for (const char* p = FindCharDbcs(g_setup.entry.target, '.'); p; p = FindCharDbcs(p + 1, '.'))
            dot = p;
        if (dot && lstrcmpiA(dot, ".exe") == 0)
            SetText(key, "DisplayIcon", g_setup.entry.target);
    }
    SetNumber(key, "EstimatedSize", DWORD((g_setup.copiedBytes + 1023) / 1024));
    SetNumber(key, "NoModify", 1);
    SetNumber(key, "NoRepair", 1);
    static const char* const described[] = {"Publisher", "DisplayVersion"};
    for (const char* name : described) {
        char text[PathSize];
        ReadScriptValue("Install", name, text, sizeof text);
        if (text[0])
            SetText(key, name, text);
    }
}

// Files, folders, the Uninstall entry and the links; the script's own
// registry keys are gone already.
bool RemoveProduct()
{
    bool result = true;
    if (!DeleteFiles(&result)) {
        StartProductService(); // the product stays: so does its service
        return false;
    }
    RemoveProductService();
    if (!CleanFolderTree(g_setup.destination))
        result = false;
    char keyPath[PathSize];
    if (UninstallKeyPath(keyPath, sizeof keyPath))
        DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
    CreateShortcuts(Programs, true);
    CreateShortcuts(Desktop, true);
    CreateShortcuts(Startup, true);
    return result;
}

bool g_removed;

// RunUninstall, and the text that tells how it went.
void RemoveAndDescribe(char* text)
{
    g_removed = RunUninstall();
    if (g_removed) {
        lstrcpynA(text, g_setup.title, sizeof g_setup.title);
        lstrcatA(text, "は正常に削除されました。");
    } else {
        lstrcpynA(text, g_setup.destination, PathSize);
        lstrcatA(text, " にはまだファイルが残っています。後で削除してください。");
    }
}

void OnUninstallTimer(HWND dialog)
{
    KillTimer(dialog, StartTimer);
    SetForegroundWindow(dialog);
    char text[PathSize + 128];
    RemoveAndDescribe(text);
    SetDlgItemTextA(dialog, IDC_UNINSTALL_STATUS, text);
    HWND close = GetDlgItem(dialog, IDCANCEL);
    EnableWindow(close, TRUE);
    SetFocus(close);
    SetForegroundWindow(dialog);
}

INT_PTR CALLBACK UninstallDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        g_setup.messageOwner = dialog;
        CenterWindow(dialog);
        SetTimer(dialog, StartTimer, 300, nullptr);
        char title[sizeof g_setup.title + 16];
        lstrcpyA(title, g_setup.title);
        lstrcatA(title, "の削除");
        SetWindowTextA(dialog, title);
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == StartTimer)
            OnUninstallTimer(dialog);
        return TRUE;
    case WM_COMMAND:
        // The button starts disabled: nothing closes the window while the
        // removal runs.
        if (LOWORD(wParam) == IDCANCEL && IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)))
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void RegisterUninstall()
{
    char keyPath[PathSize];
    if (!UninstallKeyPath(keyPath, sizeof keyPath))
        return;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr)
        != ERROR_SUCCESS)
        return;
    // Quoted: a folder with spaces must never be run in pieces.
    char command[PathSize * 2 + 8];
    command[0] = '"';
    command[1] = '\0';
    lstrcatA(command, g_setup.destination);
    lstrcatA(command, g_setup.installerName);
    lstrcatA(command, "\" /r");
    SetText(key, "DisplayName", g_setup.title);
    SetText(key, "UninstallString", command);
    lstrcatA(command, " /S");
    SetText(key, "QuietUninstallString", command);
    DescribeProduct(key);
    RegCloseKey(key);
}

bool BelongsToInstallation()
{
    const char* folder = g_setup.previousDestination; // from the Uninstall entry, when there is one
    if (!folder[0] || EqualsIgnoringCase(folder, g_setup.sourceFolder))
        return true;
    // A copy elsewhere (the downloaded package) would delete the files
    // beside it and the real installation's entry and links.
    char text[PathSize + 256];
    lstrcpynA(text, folder, PathSize);
    lstrcatA(text, " にインストールされている");
    lstrcatA(text, g_setup.title);
    lstrcatA(text, "は、そのフォルダにあるプログラムで削除してください。");
    Tell(nullptr, text, nullptr, MB_ICONHAND | MB_OK);
    return false;
}

int RunUninstallRequest()
{
    if (!g_setup.silent) {
        char text[512];
        lstrcpyA(text, g_setup.title);
        lstrcatA(text, "を削除します。");
        if (g_setup.resident)
            lstrcatA(text, "まだ常駐している場合は、今すぐ終了させてからOKボタンを押してください。");
        if (MessageBoxA(nullptr, text, g_setup.title, MB_ICONINFORMATION | MB_OKCANCEL) != IDOK)
            return ExitCancelled;
    }

    char systemDir[PathSize], wow64Dir[PathSize], copy[PathSize];
    char commandLine[PathSize * 3 + 32]; // the copy, the log and the own path, quoted, with " x /S /LOG="
    SystemFolders(systemDir, wow64Dir);
    if (!systemDir[0] || !CopyBounded(copy, sizeof copy, systemDir) || !AppendBounded(copy, sizeof copy, "\\")
        || !AppendBounded(copy, sizeof copy, g_setup.installerName)
        || !BuildCopyCommand(copy, g_setup.ownPath, g_setup.silent, g_setup.logPath, commandLine,
                             sizeof commandLine)) {
        Tell(nullptr, "アンインストール用プログラムの起動に失敗しました。手動で削除してください。", nullptr,
             MB_ICONHAND | MB_OK);
        return ExitFailed;
    }
    // Only the copy just made ever runs: where it cannot be made (a program
    // of that name runs there, no right), nothing is removed.
    if (!CopyFileA(g_setup.ownPath, copy, FALSE)) {
        ShowPathError(copy, " にアンインストール用プログラムをコピーできないため、削除を中止しました。");
        return ExitFailed;
    }
    SetCurrentDirectoryA(systemDir);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // Handles are inherited: the copy keeps this Setup's mutex alive.
    if (!CreateProcessA(copy, commandLine, nullptr, nullptr, TRUE, 0, nullptr, systemDir, &startup, &process)) {
        Tell(nullptr, "アンインストール用プログラムの起動に失敗しました。手動で削除してください。", nullptr,
             MB_ICONHAND | MB_OK);
        return ExitFailed;
    }
    DWORD exitCode = ExitSuccess;
    // A deployment script learns the result: the silent request ends with
    // its copy's exit code.
    if (g_setup.silent && (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0
                           || !GetExitCodeProcess(process.hProcess, &exitCode)))
        exitCode = ExitFailed;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(exitCode);
}

int RunUninstallCopy()
{
    lstrcpynA(g_setup.destination, g_setup.sourceFolder, PathSize);
    if (g_setup.silent) {
        char text[PathSize + 128];
        RemoveAndDescribe(text);
        LogLine(text);
    } else {
        DialogBoxParamA(g_setup.instance, MAKEINTRESOURCEA(IDD_UNINSTALL), nullptr, UninstallDialog, 0);
    }
    // On 64-bit Windows the copy lies in SysWOW64, and the deletion at
    // restart (done by 64-bit Windows itself) must name that place. This
    // deletion is the copy's own: no restart is needed for the product.
    char systemDir[PathSize], wow64Dir[PathSize], copy[PathSize];
    SystemFolders(systemDir, wow64Dir);
    if (RealSystemPath(g_setup.ownPath, systemDir, wow64Dir, copy, sizeof copy))
        DeleteAtRestart(copy);
    return OutcomeExitCode(g_removed);
}

bool RunUninstall()
{
    StopProductService(); // it holds its program open
    DeleteScriptKeys();
    g_setup.groupCaptions = ReadGroupCaptions();
    const bool result = RemoveProduct();
    HeapFree(GetProcessHeap(), 0, g_setup.groupCaptions);
    g_setup.groupCaptions = nullptr;
    return result;
}

bool CleanFolderTree(char* folder)
{
    bool result = true;
    const size_t length = strlen(folder);
    if (length == 0)
        return false;
    // A folder that is a junction or symbolic link leads out of the
    // product's tree: the sweep never follows it.
    folder[length - 1] = '\0';
    const DWORD attributes = GetFileAttributesA(folder);
    folder[length - 1] = '\\';
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    char pattern[PathSize];
    if (!CopyBounded(pattern, sizeof pattern, folder) || !AppendBounded(pattern, sizeof pattern, "*.*"))
        return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!lstrcmpA(found.cFileName, ".") || !lstrcmpA(found.cFileName, ".."))
                continue;
            char path[PathSize];
            if (!CopyBounded(path, sizeof path, folder) || !AppendBounded(path, sizeof path, found.cFileName)) {
                result = false;
                continue;
            }
            // A junction or symbolic link leads out of the product's tree:
            // left as it is, and never followed.
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!AppendBounded(path, sizeof path, "\\") || !CleanFolderTree(path)) {
                    FindClose(search);
                    return false;
                }
                continue;
            }
            // Only the index files of the help viewer are the program's.
            const char* dot = FindCharDbcs(found.cFileName, '.');
            if (dot && lstrcmpiA(dot + 1, "gid") == 0 && !DeleteFileReported(path))
                result = false;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    folder[length - 1] = '\0';
    if (GetFileAttributesA(folder) != INVALID_FILE_ATTRIBUTES && !RemoveDirectoryA(folder)) {
        if (OnlyPendingInstallerIn(folder)) {
            DeleteAtRestart(folder); // empty by then: after the installer
        } else {
            ShowPathError(folder, " - ディレクトリの削除に失敗しました");
            result = false;
        }
    }
    folder[length - 1] = '\\';
    return result;
}
