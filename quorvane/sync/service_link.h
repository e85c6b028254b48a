// The tray program's view of the clock service: whether it is installed, the
// two requests a user may send it, and the status it keeps.
#pragma once

#include <windows.h>

// Whether the service QuorvaneClock is installed (running or not). No handle
// is kept, so that an uninstaller can delete the service at once.
bool ClockServiceInstalled();
// Whether it runs (or is starting): stopped, disabled and missing read alike.
// Needs only the right to query its status, which every user has. When it
// does not run, `neverStarted` tells whether it has not been started since
// boot (exit code ERROR_SERVICE_NEVER_STARTED: a delayed start still to come).
bool ClockServiceRunning(bool* neverStarted = nullptr);
// Sends a user-defined control (128: synchronise now, 129: re-read the
// settings) to the running service: ERROR_SUCCESS or the reason it failed.
DWORD SendClockServiceControl(DWORD control);

// The service's status values (UTC FILETIME counts; 0 while absent).
ULONGLONG ReadServiceStatusTime(const char* name);
// LastLines, each line with its NUL and a final NUL; false if absent.
bool ReadServiceLines(char* lines, DWORD size);
