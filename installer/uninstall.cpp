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
#include "setup_lock.h"
#include "setup_state.h"
#include "shortcuts.h"
#include "wizard.h"

namespace {

constexpr UINT_PTR StartTimer = 1;
constexpr DWORD RequestWaitMs = 60000;
bool g_installerPending; // the installed installer goes once its request has ended
bool g_folderPending;    // and its folder with it
bool g_leftovers;        // files that the user added keep a folder of the product

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

// Whether the script's "Reg" section names HKEY_CLASSES_ROOT\<progId>
// itself: a ProgID of the product's own.
bool ScriptListsProgId(const char* progId)
{
    for (unsigned n = 1;; ++n) {
        char key[16], value[PathSize];
        wsprintfA(key, "%u", n);
        ReadScriptValue("Reg", key, value, sizeof value);
        if (!value[0])
            return false;
        const char* path = nullptr;
        if (ParseRegValue(value, &path) == RegRoot::ClassesRoot && path[0] != '.' && EqualsIgnoringCase(path, progId))
            return true;
    }
}

// Whether a file type's key holds nothing of another program: no subkey
// but ShellNew and an OpenWithProgids that names only `progId`.
bool HoldsOnlyProgId(HKEY type, const char* progId)
{
    char name[256];
    for (DWORD i = 0; RegEnumKeyA(type, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
        if (EqualsIgnoringCase(name, "ShellNew"))
            continue;
        HKEY list;
        if (!EqualsIgnoringCase(name, "OpenWithProgids")
            || RegOpenKeyExA(type, name, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &list) != ERROR_SUCCESS)
            return false;
        bool own = true;
        DWORD size = sizeof name;
        for (DWORD v = 0; own && RegEnumValueA(list, v, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++v, size = sizeof name)
            own = !name[0] || EqualsIgnoringCase(name, progId);
        RegCloseKey(list);
        if (!own)
            return false;
    }
    return true;
}

// A file type (".ext") of the class registry is shared: it goes whole only
// when it opens with a ProgID that the script also names and holds nothing
// of another program. Otherwise only the script's ProgIDs leave its
// OpenWithProgids, and its default value is cleared when it names one.
void RemoveFileType(const char* type)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, type, REG_OPTION_OPEN_LINK, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    char progId[256];
    DWORD size = sizeof progId - 1, kind = 0;
    if (RegQueryValueExA(key, nullptr, nullptr, &kind, reinterpret_cast<BYTE*>(progId), &size) != ERROR_SUCCESS
        || kind != REG_SZ)
        size = 0;
    progId[size < sizeof progId ? size : sizeof progId - 1] = '\0';
    const bool ours = progId[0] && ScriptListsProgId(progId);
    if (ours && HoldsOnlyProgId(key, progId)) {
        RegCloseKey(key);
        DeleteKeyTree(HKEY_CLASSES_ROOT, type);
        return;
    }
    if (ours)
        RegDeleteValueA(key, nullptr);
    HKEY list;
    if (RegOpenKeyExA(key, "OpenWithProgids", REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | KEY_SET_VALUE, &list)
        == ERROR_SUCCESS) {
        char name[256];
        for (DWORD v = 0;;) {
            size = sizeof name;
            if (RegEnumValueA(list, v, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (!(name[0] && ScriptListsProgId(name) && RegDeleteValueA(list, name) == ERROR_SUCCESS))
                ++v; // kept: the next value is behind it
        }
        RegCloseKey(list);
    }
    RegCloseKey(key);
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
        else if (root == RegRoot::ClassesRoot && path[0] == '.' && !FindCharDbcs(path, '\\'))
            RemoveFileType(path);
        else
            DeleteKeyTree(RootKey(root), path);
    }
}

// The product's first file (the current entry) cannot go: the user is to
// quit the product and try again.
void TellProductInUse()
{
    char text[PathSize * 2];
    lstrcpynA(text, g_setup.entry.target, PathSize);
    lstrcatA(text, " の削除に失敗しました。");
    lstrcatA(text, g_setup.title);
    lstrcatA(text, "を終了して、もう一度アンインストールをやり直してください。");
    Tell(g_setup.messageOwner, text, nullptr, MB_ICONHAND | MB_OK);
}

// Whether the product's first file (the program that Finish starts, and
// that may still run) can go: opened for deletion with no sharing, which a
// running program or any other open handle refuses. Checked before anything
// is removed, so that a product in use is left whole.
bool FirstFileCanGo()
{
    if (LoadInstallEntry(1) != EntryKind::Destination)
        return true;
    HANDLE file = CreateFileA(g_setup.entry.target, DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)
        return true; // gone already
    TellProductInUse();
    return false;
}

// The files of entries `first` down to `last`; false at once when the
// product's own first file cannot go, so that the entry and shortcuts stay
// for another try.
bool DeleteFiles(int first, int last, bool* allDeleted)
{
    for (int n = first; n >= last; --n) {
        const EntryKind kind = LoadInstallEntry(n);
        if (kind != EntryKind::Destination)
            continue; // never removed, never installed, or outside the product's places
        if (n == -1 && g_setup.resultPipe) {
            // The silent request waits for this copy from the installed
            // installer, which cannot go while it runs: it goes once the
            // request has the result and has ended.
            g_installerPending = true;
            continue;
        }
        if (DeleteFileReported(g_setup.entry.target))
            continue;
        *allDeleted = false;
        if (n == 1) {
            TellProductInUse();
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


// Removes an empty folder (no "\" at its end) that the product's entries
// named; with `report`, a folder that is still there (it holds the user's
// files) is reported, once. True when it is gone.
bool RemoveFolderReported(const char* folder, bool* reported)
{
    if (RemoveDirectoryA(folder) || GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES)
        return true;
    if (reported && !*reported) {
        ShowPathError(folder, " - ディレクトリの削除に失敗しました");
        *reported = true;
    }
    return false;
}

// The folders that the product's file entries name below the destination,
// each entry's deepest first, when empty. A folder shared by two entries
// goes on the second pass, once the other entry's folder has gone; only
// that pass reports. Nothing else below the destination is looked at.
bool RemoveEntryFolders(bool* reported)
{
    bool removed = true;
    const size_t base = strlen(g_setup.destination);
    for (int pass = 0; pass < 2; ++pass) {
        removed = true;
        for (int n = g_setup.installCount; n >= 1; --n) {
            if (LoadInstallEntry(n) != EntryKind::Destination || g_setup.entry.relativePart != base
                || strncmp(g_setup.entry.target, g_setup.destination, base) != 0)
                continue; // the Windows folder's, or no sub-folder of the destination
            char* target = g_setup.entry.target;
            for (size_t at = strlen(target); at > base; --at) {
                if (target[at] != '\\' || IsTrailByteAt(target, at))
                    continue;
                target[at] = '\0';
                if (!RemoveFolderReported(target, pass ? reported : nullptr))
                    removed = false;
            }
        }
    }
    return removed;
}

// The destination, when Setup made it and it is empty. False when the
// user's files keep it.
bool RemoveDestination(bool* reported)
{
    // Only a folder that Setup made (the Uninstall entry says so) goes;
    // someone else's stays as it was.
    if (!g_setup.previousFolderMade)
        return true;
    char folder[PathSize];
    lstrcpynA(folder, g_setup.destination, PathSize);
    folder[lstrlenA(folder) - 1] = '\0';
    // It still holds the installer that the silent request runs: it goes
    // (and is reported when the user's files keep it) once that has gone.
    g_folderPending = g_installerPending;
    return g_folderPending || RemoveFolderReported(folder, reported);
}

// Files, folders, the Uninstall entry and the links. The product is never
// left half removed: nothing goes while its first file cannot, and the
// script's registry keys go only once the product's files have gone.
bool RemoveProduct()
{
    bool allDeleted = true;
    if (!FirstFileCanGo() || !DeleteFiles(g_setup.installCount, 1, &allDeleted)) {
        StartProductService(); // the product stays: so does its service
        return false;
    }
    RemoveProductService();
    DeleteScriptKeys();
    bool reported = false;
    const bool foldersGone = RemoveEntryFolders(&reported);
    DeleteFiles(0, -1, &allDeleted); // the script and the installer, read until now
    // Files the user added are no failure: the product has gone.
    g_leftovers = !(RemoveDestination(&reported) && foldersGone) || !allDeleted;
    char keyPath[PathSize];
    if (UninstallKeyPath(keyPath, sizeof keyPath))
        DeleteKeyTree(HKEY_LOCAL_MACHINE, keyPath);
    CreateShortcuts(Programs, true);
    CreateShortcuts(Desktop, true);
    CreateShortcuts(Startup, true);
    return allDeleted;
}

bool g_removed;

// RunUninstall, and the text that tells how it went.
void RemoveAndDescribe(char* text)
{
    g_removed = RunUninstall();
    if (g_removed && !g_leftovers) {
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

bool RegisterUninstall()
{
    char keyPath[PathSize];
    HKEY key;
    if (!UninstallKeyPath(keyPath, sizeof keyPath)
        || RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                           nullptr)
            != ERROR_SUCCESS)
        return false;
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
    // The removal takes the folder only when Setup made it. An update into
    // the earlier installation's folder keeps what that one recorded.
    if (g_setup.destinationMade || !EqualsIgnoringCase(g_setup.destination, g_setup.previousDestination))
        SetNumber(key, FolderMadeValue, g_setup.destinationMade);
    RegCloseKey(key);
    return true;
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

namespace {

// A handle that the copy inherits: its value goes on the command line.
HANDLE Inheritable(HANDLE source, DWORD access)
{
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, access, TRUE, 0))
        return nullptr;
    return copy;
}

unsigned HandleValue(HANDLE handle)
{
    return unsigned(reinterpret_cast<ULONG_PTR>(handle));
}

void CloseIfOpen(HANDLE handle)
{
    if (handle)
        CloseHandle(handle);
}

// The codes that deployment tools know; anything else a copy reports (it
// crashed, it was killed) is a failure.
DWORD KnownExitCode(DWORD code)
{
    switch (code) {
    case ExitSuccess:
    case ExitCancelled:
    case ExitFailed:
    case ExitAlreadyRunning:
        return code;
    default:
        return ExitFailed;
    }
}

// The silent request's result: what the copy writes into the pipe once
// everything but this installer is gone, or else the copy's exit code.
DWORD AwaitResult(HANDLE process, HANDLE pipe)
{
    DWORD code = ExitFailed, read = 0;
    if (pipe && ReadFile(pipe, &code, sizeof code, &read, nullptr) && read == sizeof code)
        return KnownExitCode(code);
    if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code))
        return ExitFailed;
    return KnownExitCode(code);
}

// The copy, after the silent request has its result and has ended: the
// installed installer and the emptied folder go now, not at a restart.
void RemoveInstallerAfterRequest()
{
    if (!g_installerPending || LoadInstallEntry(-1) != EntryKind::Destination)
        return;
    const bool ended = WaitForSingleObject(g_setup.requestProcess, RequestWaitMs) == WAIT_OBJECT_0;
    // Another Setup that runs now may be installing a new SETUP.EXE there:
    // nothing of that place is touched then, not even at a restart.
    if (ended && !KeepSetupLock())
        return;
    // Windows lets go of a program's file shortly after its process ends.
    bool deleted = false;
    for (int attempt = 0; ended && !deleted && attempt < 50; ++attempt) {
        deleted = DeleteFileA(g_setup.entry.target) || GetFileAttributesA(g_setup.entry.target) == INVALID_FILE_ATTRIBUTES;
        if (!deleted)
            Sleep(100);
    }
    char folder[PathSize];
    lstrcpynA(folder, g_setup.destination, PathSize);
    folder[lstrlenA(folder) - 1] = '\0';
    if (!deleted)
        DeleteAtRestart(g_setup.entry.target);
    bool reported = false;
    if (g_folderPending && (!deleted || !RemoveFolderReported(folder, &reported)))
        DeleteAtRestart(folder); // after the installer, when the restart comes
}

} // namespace

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
    char commandLine[PathSize * 2 + 96]; // the copy and the own path, with " x /S" and three handles
    // The copy inherits this process (to wait for its end), and in silent
    // mode the log and the pipe that takes the result.
    HANDLE self = Inheritable(GetCurrentProcess(), SYNCHRONIZE);
    HANDLE resultRead = nullptr, resultWrite = nullptr, pipeWrite = nullptr;
    if (g_setup.silent && CreatePipe(&resultRead, &pipeWrite, nullptr, 0)) {
        resultWrite = Inheritable(pipeWrite, GENERIC_WRITE);
        CloseHandle(pipeWrite);
    }
    const CopyHandles handles = {HandleValue(g_setup.logFile), HandleValue(self), HandleValue(resultWrite)};
    SystemFolders(systemDir, wow64Dir);
    // Only a copy just made ever runs, under a name of its own ("~1-SETUP.EXE",
    // "~2-SETUP.EXE", ...), made new: a file of that name already there is
    // never overwritten. Where none can be made (no right), nothing is removed.
    bool copied = false;
    DWORD error = ERROR_FILE_EXISTS;
    copy[0] = '\0';
    for (unsigned n = 1; !copied && error == ERROR_FILE_EXISTS && n < 100; ++n) {
        char name[16];
        wsprintfA(name, "\\~%u-", n);
        if (!systemDir[0] || !CopyBounded(copy, sizeof copy, systemDir) || !AppendBounded(copy, sizeof copy, name)
            || !AppendBounded(copy, sizeof copy, g_setup.installerName))
            break;
        copied = CopyFileA(g_setup.ownPath, copy, TRUE) != FALSE;
        error = GetLastError();
    }
    if (!copied) {
        ShowPathError(copy, " にアンインストール用プログラムをコピーできないため、削除を中止しました。");
        return ExitFailed;
    }
    if (!BuildCopyCommand(copy, g_setup.ownPath, g_setup.silent, handles, commandLine, sizeof commandLine)) {
        DeleteFileA(copy);
        Tell(nullptr, "アンインストール用プログラムの起動に失敗しました。手動で削除してください。", nullptr,
             MB_ICONHAND | MB_OK);
        return ExitFailed;
    }
    SetCurrentDirectoryA(systemDir);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // Handles are inherited: the copy keeps this Setup's mutex alive.
    const bool started =
        CreateProcessA(copy, commandLine, nullptr, nullptr, TRUE, 0, nullptr, systemDir, &startup, &process) != FALSE;
    // Only the copy holds the pipe's write end now: a copy that ends
    // without writing ends the read.
    CloseIfOpen(resultWrite);
    CloseIfOpen(self);
    if (!started) {
        CloseIfOpen(resultRead);
        Tell(nullptr, "アンインストール用プログラムの起動に失敗しました。手動で削除してください。", nullptr,
             MB_ICONHAND | MB_OK);
        return ExitFailed;
    }
    // A deployment script learns the result: the silent request ends with
    // the copy's, once everything but this program is gone; the copy then
    // removes this program and its folder.
    const DWORD exitCode = g_setup.silent ? AwaitResult(process.hProcess, resultRead) : DWORD(ExitSuccess);
    CloseIfOpen(resultRead);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(exitCode);
}

int RunUninstallCopy()
{
    lstrcpynA(g_setup.destination, g_setup.sourceFolder, PathSize);
    // The interactive request ends right after starting this copy: its
    // program is free once it has.
    if (g_setup.requestProcess && !g_setup.resultPipe)
        WaitForSingleObject(g_setup.requestProcess, RequestWaitMs);
    // The lock, now that the request that held it has ended.
    if (g_setup.requestProcess && !g_setup.resultPipe && !KeepSetupLock())
        return ExitAlreadyRunning;
    if (g_setup.silent) {
        char text[PathSize + 128];
        RemoveAndDescribe(text);
        LogLine(text);
    } else {
        DialogBoxParamA(g_setup.instance, MAKEINTRESOURCEA(IDD_UNINSTALL), nullptr, UninstallDialog, 0);
    }
    const DWORD result = OutcomeExitCode(g_removed);
    if (g_setup.resultPipe) {
        DWORD written;
        WriteFile(g_setup.resultPipe, &result, sizeof result, &written, nullptr);
        CloseHandle(g_setup.resultPipe);
        RemoveInstallerAfterRequest();
    }
    // On 64-bit Windows the copy lies in SysWOW64, and the deletion at
    // restart (done by 64-bit Windows itself) must name that place. This
    // deletion is the copy's own: no restart is needed for the product.
    char systemDir[PathSize], wow64Dir[PathSize], copy[PathSize];
    SystemFolders(systemDir, wow64Dir);
    if (RealSystemPath(g_setup.ownPath, systemDir, wow64Dir, copy, sizeof copy))
        DeleteAtRestart(copy);
    return int(result);
}

bool RunUninstall()
{
    StopProductService(); // it holds its program open
    g_setup.groupCaptions = ReadGroupCaptions();
    const bool result = RemoveProduct();
    HeapFree(GetProcessHeap(), 0, g_setup.groupCaptions);
    g_setup.groupCaptions = nullptr;
    return result;
}
