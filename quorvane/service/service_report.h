// What the clock service tells after each attempt: its status values under
// the machine key, and the Application event log.
#pragma once

#include <windows.h>

#include "sntp_exchange.h"

// Writes LastLines, LastResult, (after a setting) LastSyncTime, (when an
// answer was chosen) LastOffset, LastServer and, for a good attempt,
// LastGoodTime and the drift, then Failures, and LastAttemptTime, the value
// a reader watches, last. `started` and `synced` (the clock read after the
// attempt) are UTC FILETIME counts; `counter` is the monotonic counter read
// with `synced`.
void WriteAttemptStatus(ULONGLONG started, const ExchangeResult& result, bool good, DWORD failures,
                        ULONGLONG synced, ULONGLONG counter);

// Logs a clock setting, or a failure (the caller logs only the first after
// a success).
void LogClockSet(const char* server, const ReplyFigures& figures);
void LogSyncFailure(const char* server);
// Standing aside for the domain's time (logged once per episode).
void LogDomainTime(const char* server);
// The service cannot go on (a wait failed): why it stops.
void LogServiceFault(DWORD error);
// Whether the Windows Time service follows the domain hierarchy (Type NT5DS
// or AllSync, the policy first): then this service never sets the clock.
bool FollowsDomainTime();
