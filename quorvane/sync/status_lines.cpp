#include "status_lines.h"

#include <cstdarg>

#include "../res/resource.h"
#include "sync_attempt.h"

namespace {

constexpr int TemplateSize = 257; // at most 256 characters and the terminator
constexpr int LineSize = 260;     // at most 259 bytes and the terminator
constexpr int FormatLimit = 1025; // wvsprintf never writes more than 1024 bytes and the terminator

// Copies at most size-1 bytes without splitting a double-byte character.
void CopyWholeCharacters(char* out, int size, const char* text)
{
    int length = 0;
    while (text[length]) {
        int width = IsDBCSLeadByte(BYTE(text[length])) && text[length + 1] ? 2 : 1;
        if (length + width > size - 1)
            break;
        length += width;
    }
    CopyMemory(out, text, length);
    out[length] = '\0';
}

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

} // namespace

void AddStatusLine(UINT id, ...)
{
    char format[TemplateSize];
    if (!LoadStringA(GetModuleHandleA(nullptr), id, format, TemplateSize))
        return;
    // A long host name can make the line longer than the list's line buffer;
    // format into a buffer that cannot overflow, then cut at a character.
    char formatted[FormatLimit];
    va_list arguments;
    va_start(arguments, id);
    wvsprintfA(formatted, format, arguments);
    va_end(arguments);
    char line[LineSize];
    CopyWholeCharacters(line, LineSize, formatted);
    HWND list = GetDlgItem(SyncProgressWindow(), IDC_STATUS_LIST);
    if (!list)
        return; // no progress window: the line goes nowhere
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    WidenScrollExtent(list, line);
}
