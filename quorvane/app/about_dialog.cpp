#include "about_dialog.h"

#include <shellapi.h>

#include "../res/product.h"
#include "../res/resource.h"
#include "../res/status_texts.h"
#include "health_view.h"
#include "main_window.h"
#include "reply.h"
#include "service_link.h"

namespace {

// The service's last clock setting, in local time, as GetLastSyncText
// writes the tray's own; null while it has made none.
const char* ServiceLastSyncText()
{
    static char text[32];
    const ULONGLONG synced = ReadServiceStatusTime("LastSyncTime");
    FILETIME utc = {DWORD(synced), DWORD(synced >> 32)}, local;
    SYSTEMTIME time;
    if (!synced || !FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time))
        return nullptr;
    wsprintfA(text, "%04d-%02d-%02d %02d:%02d:%02d", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
              time.wSecond);
    return text;
}

// The line that ended the last attempt: the service's last line, or the
// tray's own (its attempts end in lines without values); "" if unknown.
void ReadLastLine(const HealthView& view, char* line, int size)
{
    line[0] = '\0';
    if (!view.serviceMode) {
        if (view.record.lastResult)
            LoadStringA(GetModuleHandleA(nullptr), view.record.lastResult, line, size);
        return;
    }
    const DWORD capacity = 64 * 260 + 2;
    char* lines = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, capacity));
    if (lines && ReadServiceLines(lines, capacity))
        for (const char* each = lines; *each; each += lstrlenA(each) + 1)
            lstrcpynA(line, each, size);
    if (lines)
        HeapFree(GetProcessHeap(), 0, lines);
}

RECT ControlRect(HWND dialog, HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The health lines under the last synchronisation: those with a text take
// the rows from the top, the others are hidden, and the box ends its
// margin below the last line shown.
void ShowHealthLines(HWND dialog, const HealthView& view)
{
    char offset[128], drift[96], cause[260] = "";
    FormatOffsetLine(offset, sizeof offset, view.record.offsetKnown, view.record.offset, view.record.server);
    drift[0] = '\0';
    if (view.record.driftKnown)
        FormatDriftSentence(drift, sizeof drift, view.record.driftPpb);
    // What the last attempt said, under the sentence that the clock could not be set.
    if (view.health == HealthNotCorrected)
        ReadLastLine(view, cause, sizeof cause);
    const struct {
        int id;
        const char* text;
    } lines[] = {{IDC_LAST_OFFSET, offset},
                 {IDC_DRIFT, drift},
                 {IDC_HEALTH, HealthWarning(view.health)},
                 {IDC_HEALTH_CAUSE, cause}};
    RECT units = {0, 0, 0, 10}; // the gap between rows and the bottom margin, in dialog units
    MapDialogRect(dialog, &units);
    const RECT lastSync = ControlRect(dialog, GetDlgItem(dialog, IDC_LAST_SYNC));
    const int gap = units.bottom - (lastSync.bottom - lastSync.top);
    int bottom = lastSync.bottom;
    for (const auto& line : lines) {
        HWND control = GetDlgItem(dialog, line.id);
        if (!*line.text) {
            ShowWindow(control, SW_HIDE);
            continue;
        }
        SetWindowTextA(control, line.text);
        const RECT rect = ControlRect(dialog, control);
        SetWindowPos(control, nullptr, rect.left, bottom + gap, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        bottom += gap + (rect.bottom - rect.top);
    }
    RECT box, client;
    GetWindowRect(dialog, &box);
    GetClientRect(dialog, &client);
    const int extra = client.bottom - (bottom + units.bottom);
    SetWindowPos(dialog, nullptr, 0, 0, box.right - box.left, box.bottom - box.top - extra,
                 SWP_NOMOVE | SWP_NOZORDER);
}

void OnInitDialog(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_PRODUCT, PRODUCT_NAME);
    SetDlgItemTextA(dialog, IDC_VERSION, PRODUCT_VERSION);
    HealthView view;
    ReadHealthView(&view);
    if (const char* lastSync = view.serviceMode ? ServiceLastSyncText() : GetLastSyncText()) {
        char line[64]; // the 19-byte time and the 24-byte sentence
        wsprintfA(line, TEXT_SYNCED_AT, lastSync);
        SetDlgItemTextA(dialog, IDC_LAST_SYNC, line);
    }
    ShowHealthLines(dialog, view);
    CenterInWorkArea(dialog); // at its final size
}

} // namespace

bool CenterInWorkArea(HWND window)
{
    RECT workArea, rect;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0) || !GetWindowRect(window, &rect))
        return false;
    const int x = workArea.right / 2 - (rect.right - rect.left) / 2;
    const int y = workArea.bottom / 2 - (rect.bottom - rect.top) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return true;
}

INT_PTR CALLBACK AboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            break;
        case IDC_HOME_PAGE:
            ShellExecuteA(dialog, "open", PRODUCT_HOME_PAGE, nullptr, nullptr, SW_SHOWNORMAL);
            break;
        }
        return TRUE;
    }
    return FALSE;
}
