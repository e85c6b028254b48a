#include "about_dialog.h"

#include <shellapi.h>

#include "../res/product.h"
#include "../res/resource.h"
#include "../res/status_texts.h"
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

void OnInitDialog(HWND dialog)
{
    CenterInWorkArea(dialog);
    SetDlgItemTextA(dialog, IDC_PRODUCT, PRODUCT_NAME);
    SetDlgItemTextA(dialog, IDC_VERSION, PRODUCT_VERSION);
    if (const char* lastSync = RefreshServiceMode() ? ServiceLastSyncText() : GetLastSyncText()) {
        char line[64]; // the 19-byte time and the 24-byte sentence
        wsprintfA(line, TEXT_SYNCED_AT, lastSync);
        SetDlgItemTextA(dialog, IDC_LAST_SYNC, line);
    }
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
