#include "wizard.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstring>

#include "command_line.h"
#include "copy_phase.h"
#include "dbcs_path.h"
#include "folders.h"
#include "messages.h"
#include "resource.h"
#include "service_setup.h"
#include "setup_state.h"
#include "user_start.h"

namespace {

constexpr UINT WM_SET_SHEET_TITLE = WM_APP + 1;
constexpr UINT_PTR CopyTimer = 1;
constexpr ULONGLONG MinimumFreeBytes = 100ull * 1048576;

// Stay on the page (-1) or let the wizard go on (0).
void Answer(HWND page, LONG_PTR result)
{
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
}

// Wine and Windows set the frame's title from the page at each activation;
// a title posted afterwards stays.
void SetSheetTitle()
{
    char title[sizeof g_setup.title + 32];
    lstrcpyA(title, g_setup.title);
    lstrcatA(title, "のインストール");
    SetWindowTextA(g_setup.sheet, title);
}

void Browse(HWND page)
{
    char windowsDir[PathSize];
    if (GetWindowsDirectoryA(windowsDir, sizeof windowsDir) >= 3) {
        windowsDir[3] = '\0';
        SetCurrentDirectoryA(windowsDir);
    }
    char file[PathSize] = "dummy";
    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = page;
    dialog.hInstance = g_setup.instance;
    dialog.lpstrFilter = "*.*\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrTitle = "参照";
    dialog.Flags = OFN_ENABLETEMPLATE | OFN_NOCHANGEDIR;
    dialog.lpTemplateName = MAKEINTRESOURCEA(IDD_BROWSE);
    if (GetSaveFileNameA(&dialog) && dialog.nFileOffset < sizeof file) {
        file[dialog.nFileOffset] = '\0'; // the folder with its "\"
        SetDlgItemTextA(page, IDC_DESTINATION, file);
    }
    SetCurrentDirectoryA(g_setup.sourceFolder);
}

bool IsDriveRoot(const char* path)
{
    return strlen(path) == 3 && path[1] == ':' && path[2] == '\\';
}

ULONGLONG FreeBytes(const char* destination)
{
    char full[PathSize];
    const DWORD length = GetFullPathNameA(destination, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full || full[1] != ':' || full[2] != '\\')
        return 0;
    full[3] = '\0';
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, clusters;
    if (!GetDiskFreeSpaceA(full, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        return 0;
    return ULONGLONG(sectorsPerCluster) * bytesPerSector * freeClusters;
}

} // namespace

bool CheckDestination(HWND owner, bool askAboutSpace)
{
    char* destination = g_setup.destination;
    const bool fits = EnsureTrailingBackslash(destination, PathSize);
    // "C:\.\" and "C:\x\..\" are the drive root as well.
    if (strlen(destination) <= 2 || IsDriveRoot(destination) || IsDriveRootPath(destination)) {
        Tell(owner, "ルートディレクトリにはインストールできません。", nullptr, MB_ICONHAND | MB_OK);
        return false;
    }
    // A ":" after the drive names a stream ("C:\\Windows::$INDEX_ALLOCATION\\"
    // is the Windows folder on NTFS), never a folder of its own.
    if (!fits || destination[1] != ':' || destination[2] != '\\' || FindCharDbcs(destination + 2, ':')) {
        Tell(owner, "「C:\\Soft」のように、ドライブ名も含めた正しいパス名を指定してください。", nullptr,
             MB_ICONHAND | MB_OK);
        return false;
    }
    // The product's folder is its own: the uninstaller sweeps it, and Setup
    // protects it as Program Files.
    if (IsReservedFolder(destination)) {
        Tell(owner, "Windowsのフォルダや共用のフォルダにはインストールできません。ソフト専用のフォルダを指定してください。",
             nullptr, MB_ICONHAND | MB_OK);
        return false;
    }
    // A product with a service goes only where nobody else could have put a
    // program of its name first.
    if (!ServiceAllowsDestination(owner, destination))
        return false;
    g_setup.messageOwner = owner;
    // A junction or symbolic link on the way leads where someone else
    // decides.
    char link[PathSize];
    if (FindLinkOnTheWay(destination, link)) {
        ShowPathError(link, LinkMessage);
        return false;
    }
    // Another user who may rename a folder on the way can put one of their
    // own in its place, with the programs that the Uninstall entry runs.
    if (FindRenameableFolder(destination, link)) {
        ShowPathError(link, RenameableMessage);
        return false;
    }
    const bool earlier = EqualsIgnoringCase(destination, g_setup.previousDestination);
    const size_t length = strlen(destination);
    destination[length - 1] = '\0';
    const DWORD attributes = GetFileAttributesA(destination);
    g_setup.destinationExisted = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    // A folder that was there already (other than the earlier installation's)
    // may be someone else's: it is taken over only when the administrator
    // says so, never silently.
    g_setup.takeOverDestination = g_setup.destinationExisted
        && !earlier
        && !KeepsOthersOutOfFolder(destination, FolderUse::Destination);
    bool refused = false;
    if (g_setup.takeOverDestination) {
        char question[PathSize + 200];
        lstrcpynA(question, destination, PathSize);
        lstrcatA(question, " は管理者以外のユーザーも変更できます。管理者だけが変更できるように保護をかけ直してインストールしますか?");
        refused = Tell(owner, question, g_setup.title, MB_ICONQUESTION | MB_YESNO) != IDYES;
    }
    destination[length - 1] = '\\';
    if (refused)
        return false;
    if (!CreateFolderPath(destination, true))
        return false;
    // A trial leaves at most the parents: the copy phase makes the folder,
    // and refuses one that someone else has made meanwhile.
    if (!g_setup.destinationExisted) {
        destination[length - 1] = '\0';
        RemoveDirectoryA(destination);
        destination[length - 1] = '\\';
    }

    const ULONGLONG freeBytes = FreeBytes(destination);
    if (askAboutSpace && freeBytes < MinimumFreeBytes) {
        char question[256];
        wsprintfA(question, "指定されたドライブの残り容量が %uメガバイトしかありません。かまわずにインストールしますか？",
                  unsigned(freeBytes / 1048576));
        if (MessageBoxA(owner, question, g_setup.title, MB_ICONQUESTION | MB_YESNO) != IDYES)
            return false;
    }
    return true;
}

namespace {

// The checks of Next on page 1; false keeps the user there.
bool AcceptDestination(HWND page)
{
    GetDlgItemTextA(page, IDC_DESTINATION, g_setup.destination, PathSize);
    return CheckDestination(page, true);
}

void OnDestinationNext(HWND page)
{
    if (!AcceptDestination(page)) {
        Answer(page, -1);
        return;
    }
    if (g_setup.resident) {
        // A resident product gets its shortcuts anyway: no shortcut page.
        PostMessageA(g_setup.sheet, PSM_SETCURSEL, 2, 0);
        Answer(page, -1);
        return;
    }
    Answer(page, 0);
}

INT_PTR CALLBACK DestinationPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        g_setup.sheet = GetParent(page);
        CenterWindow(g_setup.sheet);
        SendDlgItemMessageA(page, IDC_DESTINATION, EM_LIMITTEXT, PathSize - 1, 0);
        char prompt[sizeof g_setup.title + 64];
        lstrcpyA(prompt, g_setup.title);
        lstrcatA(prompt, "のインストール先を指定してください");
        SetDlgItemTextA(page, IDC_DESTINATION_PROMPT, prompt);
        SetSheetTitle();
        return TRUE;
    }
    case WM_SET_SHEET_TITLE:
        SetSheetTitle();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_BROWSE)
            Browse(page);
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR*>(lParam)->code) {
        case PSN_SETACTIVE:
            PostMessageA(g_setup.sheet, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
            SetDlgItemTextA(page, IDC_DESTINATION, g_setup.destination);
            PostMessageA(page, WM_SET_SHEET_TITLE, 0, 0);
            Answer(page, 0);
            return TRUE;
        case PSN_WIZNEXT:
            OnDestinationNext(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK ShortcutsPage(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        CheckDlgButton(page, IDC_START_MENU, BST_CHECKED);
        if (!g_setup.newShell)
            EnableWindow(GetDlgItem(page, IDC_DESKTOP), FALSE);
        return TRUE;
    case WM_SET_SHEET_TITLE:
        SetSheetTitle();
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR*>(lParam)->code) {
        case PSN_SETACTIVE:
            PostMessageA(g_setup.sheet, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
            PostMessageA(page, WM_SET_SHEET_TITLE, 0, 0);
            Answer(page, 0);
            return TRUE;
        case PSN_WIZNEXT:
            g_setup.startMenu = IsDlgButtonChecked(page, IDC_START_MENU) == BST_CHECKED;
            g_setup.desktop = IsDlgButtonChecked(page, IDC_DESKTOP) == BST_CHECKED;
            Answer(page, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// The "Open" text as the shell must see it, which has a current folder of
// its own: a file of the destination by its full path, anything else (a web
// address) as it is.
const char* ShellOpenTarget(const char* open, char* full)
{
    const bool relative = open[0] != '\\' && open[1] != ':';
    if (relative && CopyBounded(full, PathSize, g_setup.destination) && AppendBounded(full, PathSize, open)
        && GetFileAttributesA(full) != INVALID_FILE_ATTRIBUTES)
        return full;
    return open;
}

// Finish: the product, then the "Open" file, in the destination folder. An
// elevated wizard has the running shell start them, so that they run as the
// user who started Setup; when the shell cannot, they stay unstarted (the
// product is in the Start menu, and a resident one starts at the next
// logon): nothing ever runs with the administrator's token.
void StartProduct(HWND page)
{
    const bool elevated = RunsElevated();
    const EntryKind first = LoadInstallEntry(1);
    if (first == EntryKind::Destination || first == EntryKind::System) {
        SetCurrentDirectoryA(g_setup.destination);
        if (elevated) {
            // Explorer is a 64-bit program on 64-bit Windows: a file of the
            // System folder goes by its real place.
            char systemDir[PathSize], wow64Dir[PathSize], real[PathSize];
            SystemFolders(systemDir, wow64Dir);
            if (RealSystemPath(g_setup.entry.target, systemDir, wow64Dir, real, sizeof real))
                OpenThroughShell(real, g_setup.destination);
        } else {
            // Quoted: an unquoted path with spaces could start another program.
            char command[PathSize + 2];
            command[0] = '"';
            lstrcpyA(command + 1, g_setup.entry.target);
            lstrcatA(command, "\"");
            WinExec(command, SW_SHOWNORMAL);
        }
    }
    char open[PathSize], full[PathSize];
    ReadScriptValue("Install", "Open", open, sizeof open);
    if (!open[0])
        return;
    char systemDir[PathSize], wow64Dir[PathSize], real[PathSize];
    SystemFolders(systemDir, wow64Dir);
    if (elevated && RealSystemPath(ShellOpenTarget(open, full), systemDir, wow64Dir, real, sizeof real))
        OpenThroughShell(real, g_setup.destination);
    else
        ShellExecuteA(page, "open", open, nullptr, nullptr, SW_SHOWNORMAL);
}

// While the Cancel question is open the copy phase waits: a step that comes
// due meanwhile is held, and run after No.
bool g_askingToCancel;
bool g_stepHeld;
bool g_copyStopped;

bool CopyPhaseRunning()
{
    return !g_copyStopped && g_setup.copyStep <= g_setup.installCount + 3;
}

void OnCopyStep(HWND page)
{
    if (g_askingToCancel)
        g_stepHeld = true;
    else if (CopyPhaseRunning())
        RunCopyStep(page);
}

// Cancel while files are copied: asked, and then stopped between two steps.
void OnCopyQueryCancel(HWND page)
{
    if (!CopyPhaseRunning()) {
        Answer(page, FALSE);
        return;
    }
    g_askingToCancel = true;
    g_copyStopped = MessageBoxA(page, "インストールを中止しますか？", g_setup.title, MB_ICONQUESTION | MB_YESNO) == IDYES;
    g_askingToCancel = false;
    if (g_stepHeld && !g_copyStopped)
        PostMessageA(page, WM_COMMAND, CopyStepCommand, 0);
    g_stepHeld = false;
    Answer(page, g_copyStopped ? FALSE : TRUE);
}

INT_PTR CALLBACK CopyPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        g_setup.messageOwner = page;
        return TRUE;
    case WM_SET_SHEET_TITLE:
        SetSheetTitle();
        return TRUE;
    case WM_TIMER:
        if (wParam == CopyTimer) {
            KillTimer(page, CopyTimer);
            PostMessageA(page, WM_COMMAND, CopyStepCommand, 0);
        }
        return TRUE;
    case WM_COMMAND:
        if (wParam == CopyStepCommand)
            OnCopyStep(page);
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<NMHDR*>(lParam)->code) {
        case PSN_SETACTIVE:
            PostMessageA(g_setup.sheet, PSM_SETWIZBUTTONS, 0, 0);
            PostMessageA(page, WM_SET_SHEET_TITLE, 0, 0);
            SetTimer(page, CopyTimer, 300, nullptr);
            Answer(page, 0);
            return TRUE;
        case PSN_WIZFINISH:
            // Nothing of a refused folder is ever started.
            if (!g_setup.destinationRefused)
                StartProduct(page);
            Answer(page, 0);
            return TRUE;
        case PSN_QUERYCANCEL:
            OnCopyQueryCancel(page);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

} // namespace

void CenterWindow(HWND window)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// The common controls, by their full path in the System folder: a
// comctl32.dll beside Setup (in a downloads folder) is never loaded.
HMODULE LoadCommonControls()
{
    char path[PathSize];
    const UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path || !AppendBounded(path, sizeof path, "\\comctl32.dll"))
        return nullptr;
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

int RunWizard()
{
    HMODULE controls = LoadCommonControls();
    auto initCommonControls = FindFunction<void(WINAPI*)()>(controls, "InitCommonControls");
    auto propertySheet = FindFunction<INT_PTR(WINAPI*)(LPCPROPSHEETHEADERA)>(controls, "PropertySheetA");
    if (!initCommonControls || !propertySheet) {
        if (controls)
            FreeLibrary(controls);
        return ExitFailed;
    }
    initCommonControls();
    SetCurrentDirectoryA(g_setup.sourceFolder);
    static const struct {
        int id;
        DLGPROC procedure;
    } templates[] = {{IDD_PAGE_DESTINATION, DestinationPage}, {IDD_PAGE_SHORTCUTS, ShortcutsPage},
                     {IDD_PAGE_COPY, CopyPage}};
    PROPSHEETPAGEA pages[3];
    ZeroMemory(pages, sizeof pages);
    for (int i = 0; i < 3; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].hInstance = g_setup.instance;
        pages[i].pszTemplate = MAKEINTRESOURCEA(templates[i].id);
        pages[i].pfnDlgProc = templates[i].procedure;
    }
    PROPSHEETHEADERA sheet;
    ZeroMemory(&sheet, sizeof sheet);
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    sheet.hInstance = g_setup.instance;
    sheet.nPages = 3;
    sheet.ppsp = pages;
    propertySheet(&sheet);
    FreeLibrary(controls);
    // Cancelled while files were copied: an update's service, stopped for
    // them, runs again as after a failed copy.
    if (g_setup.copyStep > 0 && !g_setup.copyDone)
        StartProductService();
    // Closed before the copy phase ended: the user cancelled.
    return g_setup.copyDone ? OutcomeExitCode(!g_setup.copyError) : ExitCancelled;
}

int RunSilentInstall(const char* destination, bool desktop)
{
    // The destination the wizard would propose, or the administrator's.
    if (destination[0] && !CopyBounded(g_setup.destination, PathSize, destination))
        g_setup.destination[0] = '\0';
    if (!CheckDestination(nullptr, false))
        return ExitFailed;
    g_setup.startMenu = true;
    g_setup.desktop = desktop && g_setup.newShell;
    SetCurrentDirectoryA(g_setup.sourceFolder); // the entries' sources are relative to it
    while (RunCopyStep(nullptr)) {
    }
    LogLine(g_setup.copyError ? "インストール中にエラーが発生しました。" : "インストールが完了しました。");
    return OutcomeExitCode(!g_setup.copyError);
}
