// What the clock service tells after each attempt: its status values under
// the machine key, and the Application event log.
#pragma once

#include <windows.h>

#include "sntp_exchange.h"

// Writes LastLines, LastResult and (after a setting) LastSyncTime, then
// LastAttemptTime, the value a reader watches, last. `started` and `synced`
// are UTC FILETIME counts.
void WriteAttemptStatus(ULONGLONG started, bool clockSet, ULONGLONG synced);

// Logs a clock setting, or a failure (the caller logs only the first after
// a success).
void LogClockSet(const char* server, const ReplyFigures& figures);
void LogSyncFailure(const char* server);
