#include "attempt_lines.h"

#include "status_lines.h"

AttemptLines g_attemptLines;

void ClearAttemptLines()
{
    g_attemptLines.length = 0;
    g_attemptLines.count = 0;
    g_attemptLines.lastOffset = 0;
    g_attemptLines.lastId = 0;
}

const char* LastAttemptLine()
{
    return g_attemptLines.count ? g_attemptLines.packed + g_attemptLines.lastOffset : "";
}

void AddStatusLine(UINT id, ...)
{
    AttemptLines& lines = g_attemptLines;
    if (!lines.packed)
        lines.packed = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, MaxAttemptLines * StatusLineSize + 1));
    if (!lines.packed || lines.count >= MaxAttemptLines)
        return;
    char line[StatusLineSize];
    va_list arguments;
    va_start(arguments, id);
    const bool formatted = FormatStatusLine(line, id, arguments);
    va_end(arguments);
    if (!formatted)
        return;
    const int size = lstrlenA(line) + 1;
    CopyMemory(lines.packed + lines.length, line, size);
    lines.lastOffset = lines.length;
    lines.length += size;
    ++lines.count;
    lines.lastId = id;
}
