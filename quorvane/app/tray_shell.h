// The tray program's one call into the shell's notification area. The
// program links the real one (tray_shell.cpp); a test may link its own to
// see what the icon is asked to show.
#pragma once

#include <windows.h>

#include <shellapi.h>

BOOL NotifyShell(DWORD message, NOTIFYICONDATAA* data);
