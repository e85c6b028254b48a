// The notification-area seam of quorvane_probe.exe: passes every call to the
// shell and appends a line to the file named by QV_SHELL_LOG for each:
// "icon|normal or warning|tip", and "balloon|title|text" for a call that
// carries a balloon. Line breaks within a text are written as "|" too.
#include "tray_shell.h"

#include <cstdio>
#include <cstdlib>

#include "main_window.h"

namespace {

void WriteText(FILE* log, const char* text)
{
    for (; *text; ++text)
        fputc(*text == '\n' ? '|' : *text, log);
}

} // namespace

BOOL NotifyShell(DWORD message, NOTIFYICONDATAA* data)
{
    const char* path = getenv("QV_SHELL_LOG");
    FILE* log = path && message != NIM_DELETE ? fopen(path, "ab") : nullptr;
    if (log) {
        fputs(data->hIcon == g_smallIcon ? "icon|normal|" : "icon|warning|", log);
        WriteText(log, data->szTip);
        fputc('\n', log);
        if (data->uFlags & NIF_INFO) {
            fputs("balloon|", log);
            WriteText(log, data->szInfoTitle);
            fputc('|', log);
            WriteText(log, data->szInfo);
            fputc('\n', log);
        }
        fclose(log);
    }
    return Shell_NotifyIconA(message, data);
}
