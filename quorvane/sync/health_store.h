// What the clock's health is worked out from, as it is kept in the registry:
// by the clock service under HKEY_LOCAL_MACHINE\...\Status, and by the tray
// program's own synchronisation, per user, under HKEY_CURRENT_USER\...\Status.
// Values: LastSyncTime, LastGoodTime, LastAttemptTime (REG_QWORD FILETIME),
// LastOffset (REG_QWORD, signed 100 ns), LastServer (REG_SZ), LastResult and
// Failures (REG_DWORD), and the drift: Drift (REG_DWORD, signed ppb; present
// once measured), DriftReference (REG_QWORD FILETIME) and DriftOffset
// (REG_QWORD, signed 100 ns). A missing or malformed value reads as unknown.
#pragma once

#include <windows.h>

#define USER_STATUS_KEY "Software\\veskar\\quorvane\\Status"

struct HealthRecord {
    ULONGLONG lastSync, lastGood, lastAttempt; // 0: unknown
    DWORD failures, lastResult;
    bool offsetKnown;
    LONGLONG offset;
    char server[66];
    bool driftKnown;
    LONG driftPpb;
};

// Reads the record under `root`\`path`; all unknown when the key is missing.
void ReadHealthRecord(HKEY root, const char* path, HealthRecord* record);

// For the clock service, after each attempt with a usable, chosen answer:
// updates the drift kept under the Status key (opened at least for setting
// values; it is read through a handle of its own).
void RecordServiceDrift(HKEY statusKey, ULONGLONG attemptStartFileTime, LONGLONG offset100ns, bool clockWasSet);

// For the tray program's own synchronisation: the end of one automatic
// attempt that started at `started`. A usable answer stores its offset,
// server and drift and clears the failures; otherwise they count one more.
void RecordOwnAttempt(ULONGLONG started, bool usable, LONGLONG offset, bool clockSet, const char* server,
                      DWORD lastResult);
