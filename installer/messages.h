// What the setup program tells the user: a message box, or in silent mode a
// line of the administrator's log file instead.
#pragma once

#include <windows.h>

// A message box, or in silent mode (no one to answer it) a log line and the
// answer IDOK.
int Tell(HWND owner, const char* text, const char* caption, UINT type);
// One line of the log, in silent mode with a log file: the local time and
// the text, in the ANSI code page. Nothing otherwise.
void LogLine(const char* text);
