#include "status_lines.h"

#include <cstdarg>

#include "../res/resource.h"
#include "status_format.h"
#include "sync_attempt.h"

namespace {

// Lines can be wider than the list: let its horizontal scroll bar reach the
// end of the widest one.
void WidenScrollExtent(HWND list, const char* line)
{
    HDC dc = GetDC(list);
    if (!dc)
        return;
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
    SIZE size;
    if (GetTextExtentPoint32A(dc, line, lstrlenA(line), &size)) {
        const int extent = size.cx + 2 * GetSystemMetrics(SM_CXBORDER) + 4;
        if (extent > int(SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0)))
            SendMessageA(list, LB_SETHORIZONTALEXTENT, extent, 0);
    }
    SelectObject(dc, oldFont);
    ReleaseDC(list, dc);
}

UINT g_lastStatusLine;

// Adds a line and scrolls the list so that the newest line shows whole.
void AppendLine(HWND list, const char* line)
{
    const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    WidenScrollExtent(list, line);
    if (index >= 0)
        SendMessageA(list, LB_SETTOPINDEX, WPARAM(index), 0);
}

} // namespace

UINT LastStatusLineId()
{
    return g_lastStatusLine;
}

void AddStatusText(const char* text)
{
    HWND list = GetDlgItem(SyncProgressWindow(), IDC_STATUS_LIST);
    if (!list)
        return;
    char line[StatusLineSize];
    lstrcpynA(line, text, StatusLineSize);
    AppendLine(list, line);
}

void AddStatusLine(UINT id, ...)
{
    char line[StatusLineSize];
    va_list arguments;
    va_start(arguments, id);
    const bool formatted = FormatStatusLine(line, id, arguments);
    va_end(arguments);
    g_lastStatusLine = id;
    HWND list = GetDlgItem(SyncProgressWindow(), IDC_STATUS_LIST);
    if (!formatted || !list)
        return; // no progress window: the line goes nowhere
    AppendLine(list, line);
}
