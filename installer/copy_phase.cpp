#include "copy_phase.h"

#include <commctrl.h>

#include <cstring>

#include "dbcs_path.h"
#include "folders.h"
#include "messages.h"
#include "resource.h"
#include "restart_delete.h"
#include "service_setup.h"
#include "setup_state.h"
#include "shortcuts.h"
#include "uninstall.h"

namespace {

void MakeShortcutsAndRegister()
{
    if (g_setup.resident) {
        CreateShortcuts(Startup, false);
        CreateShortcuts(Programs, false);
    } else {
        if (g_setup.startMenu)
            CreateShortcuts(Programs, false);
        if (g_setup.desktop)
            CreateShortcuts(Desktop, false);
    }
    // Without its entry the product cannot be removed: a failure.
    if (!RegisterUninstall()) {
        Tell(g_setup.messageOwner, "アンインストール情報の登録に失敗しました。", nullptr, MB_ICONHAND | MB_OK);
        g_setup.copyError = true;
    }
}

bool CopyNumberedEntry(int n)
{
    const EntryKind kind = LoadInstallEntry(n);
    if (kind == EntryKind::TooLong || kind == EntryKind::Outside) {
        // A target that would not fit is never cut into another path; one
        // outside its folder (a script changed since it was read) is never
        // written.
        ShowPathError(g_setup.entry.source, " のコピーに失敗しました。");
        return false;
    }
    if (!CopyEntry())
        return false;
    // An earlier removal that could not delete its installer left it to be
    // deleted at the next start of Windows: this one stays.
    if (n < 0)
        KeepAtRestart(g_setup.entry.target);
    return true;
}

void ShowOutcome(HWND page)
{
    ShowWindow(GetDlgItem(page, IDC_COPY_PROGRESS), SW_HIDE);
    const char* text;
    if (!g_setup.copyError)
        text = "インストールが完了しました。「完了」を押すと起動します。";
    else if (g_setup.resident)
        text = "インストール中にエラーが発生しました。一度Windowsを起動しなおしてからインストールしなおすか、"
               "それでもだめなら一度削除してからインストールしなおすことをお勧めします。";
    else
        text = "インストール中にエラーが発生しました。イントール先を変更するなどしてもう一度インストールしなおすこと"
               "をお勧めします。";
    SetDlgItemTextA(page, IDC_COPY_STATUS, text);
    if (g_setup.newShell)
        ShowWindow(GetDlgItem(page, IDC_REMOVAL_NOTE), SW_SHOW);
    PostMessageA(g_setup.sheet, PSM_SETWIZBUTTONS, 0, PSWIZB_FINISH);
}

// A file from a downloaded package carries the download mark (the
// Zone.Identifier stream), which CopyFileA copies along: every start of the
// installed program would then warn. Where there is none this does nothing.
void RemoveDownloadMark(const char* path)
{
    char stream[PathSize + 16];
    if (CopyBounded(stream, sizeof stream, path) && AppendBounded(stream, sizeof stream, ":Zone.Identifier"))
        DeleteFileA(stream);
}

unsigned long long FileSize(const char* path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

// The destination's last level, made now with the product's protection,
// once; false (after the message) for a folder that Setup may not trust.
// The destination has passed CheckDestination: a full path below a drive
// root, ending "\".
bool MakeDestination()
{
    char* destination = g_setup.destination;
    char link[PathSize];
    const size_t length = strlen(destination);
    if (FindLinkOnTheWay(destination, link)) {
        ShowPathError(link, LinkMessage);
        return false;
    }
    // The levels above it, as the wizard's trial left them or anew.
    char* last = destination + length - 1;
    char* parentEnd = nullptr;
    for (char* p = FindCharDbcs(destination + 3, '\\'); p && p < last; p = FindCharDbcs(p + 1, '\\'))
        parentEnd = p;
    if (parentEnd) {
        const char kept = parentEnd[1];
        parentEnd[1] = '\0';
        const bool made = CreateFolderPath(destination, true);
        parentEnd[1] = kept;
        if (!made)
            return false;
    }
    *last = '\0';
    bool made = CreateProductFolder(destination);
    g_setup.destinationMade = made;
    const bool existing = !made && GetLastError() == ERROR_ALREADY_EXISTS;
    const char* failure = " のフォルダ作成に失敗しました。";
    if (existing && g_setup.destinationExisted) {
        // A folder that was there when it was chosen: an earlier
        // installation's, or one the user named.
        const DWORD attributes = GetFileAttributesA(destination);
        made = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    } else if (existing) {
        // Made by someone else since it was checked: its owner could replace
        // what the elevated uninstaller and the service run.
        failure = " は確認の後に別のプログラムによって作成されたため、インストールを中止しました。";
    }
    if (!made)
        ShowPathError(destination, failure);
    *last = '\\';
    // A level swapped for a link meanwhile counts as well (and the folder
    // itself: its protection must never be set through a link).
    if (!made || FindLinkOnTheWay(destination, link)) {
        if (made)
            ShowPathError(link, LinkMessage);
        return false;
    }
    // A service's program runs from an earlier folder only once that is the
    // product's own; so does any product from a folder that others could
    // change.
    if (existing && (ServiceNeedsProtectedFolder() || g_setup.takeOverDestination)) {
        *last = '\0';
        made = ProtectExistingFolder(destination);
        if (!made)
            ShowPathError(destination, " のアクセス権を設定できないため、インストールを中止しました。");
        *last = '\\';
    }
    return made;
}

} // namespace

bool CopyEntry()
{
    InstallEntry& entry = g_setup.entry;
    if (!entry.source[0])
        return DeleteFileReported(entry.target); // a deletion entry
    // The entry's own sub-folders, one level at a time.
    for (char* separator = FindCharDbcs(entry.target + entry.relativePart, '\\'); separator;
         separator = FindCharDbcs(separator + 1, '\\')) {
        entry.relativePart = size_t(separator + 1 - entry.target);
        const char kept = separator[1];
        separator[1] = '\0';
        bool created = CreateFolderLevel(entry.target);
        // One that was there as a junction or symbolic link would take the
        // file where someone else decides.
        *separator = '\0';
        if (created && IsNameSurrogate(entry.target)) {
            ShowPathError(entry.target, LinkMessage);
            created = false;
        }
        *separator = '\\';
        separator[1] = kept;
        if (!created)
            return false;
    }
    if (CopyFileA(entry.source, entry.target, FALSE)) {
        SetFileAttributesA(entry.target, FILE_ATTRIBUTE_NORMAL); // no read-only mark from the source
        RemoveDownloadMark(entry.target);
        g_setup.copiedBytes += FileSize(entry.target);
        return true;
    }
    switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION:
        ShowPathError(entry.target, " は他で使用中のため上書きできません。");
        return false;
    case ERROR_FILE_EXISTS:
        return true;
    default:
        ShowPathError(entry.source, " のコピーに失敗しました。");
        return false;
    }
}

bool RunCopyStep(HWND page)
{
    const int last = g_setup.installCount + 3;
    const int step = g_setup.copyStep;
    if (step == 0) {
        SendDlgItemMessageA(page, IDC_COPY_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, last));
        if (!MakeDestination()) {
            // Nothing is installed into it: no file, no service, no links,
            // no entry.
            g_setup.copyError = true;
            g_setup.destinationRefused = true;
            g_setup.copyDone = true;
            g_setup.copyStep = last;
        } else {
            StopProductService(); // its program is about to be replaced
        }
    } else if (step < last) {
        if (!CopyNumberedEntry(step - 2))
            g_setup.copyError = true;
    } else {
        // An update that failed leaves the earlier service running as it was.
        if (g_setup.copyError)
            StartProductService();
        else
            InstallProductService();
        MakeShortcutsAndRegister();
        g_setup.copyDone = true;
    }
    if (!page)
        return ++g_setup.copyStep <= last;
    SendDlgItemMessageA(page, IDC_COPY_PROGRESS, PBM_DELTAPOS, 1, 0);
    if (++g_setup.copyStep > last) {
        ShowOutcome(page);
        return false;
    }
    PostMessageA(page, WM_COMMAND, CopyStepCommand, 0);
    return true;
}
