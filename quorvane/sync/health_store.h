// What the clock's health is worked out from, as it is kept in the registry:
// by the clock service under HKEY_LOCAL_MACHINE\...\Status, and by the tray
// program's own synchronisation, per user, under HKEY_CURRENT_USER\...\Status.
// Values: LastSyncTime, LastGoodTime, LastAttemptTime (REG_QWORD FILETIME),
// LastOffset (REG_QWORD, signed 100 ns), LastServer (REG_SZ), LastResult and
// Failures (REG_DWORD), and the drift: Drift (REG_DWORD, signed ppb; present
// once measured), DriftReference (REG_QWORD FILETIME) and DriftOffset
// (REG_QWORD, signed 100 ns), DriftCounter (REG_QWORD, the monotonic counter
// read with DriftReference) and DriftCorrections (REG_QWORD, signed 100 ns,
// the corrections made since). A missing or malformed value reads as unknown.
#pragma once

#include <windows.h>

#include "clock_drift.h"
#include "clock_health.h"

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

// For the clock service, after each good attempt: updates the drift kept
// under the Status key (opened at least for setting values; it is read
// through a handle of its own).
void RecordServiceDrift(HKEY statusKey, const DriftAnswer& answer);
// Forgets the drift's reference: the next good answer starts anew.
void ClearDriftReference(HKEY statusKey);

// How one automatic attempt of the tray program ended.
struct OwnOutcome {
    bool good;            // the clock was set, or found within the tolerance
    bool answered;        // an answer gave the time (offset and server known)
    LONGLONG offset;      // 100 ns
    bool clockSet;
    const char* server;
    DWORD lastResult;     // the last line's string-table ID
    ULONGLONG finished;   // the clock read after the attempt (after the setting)
    ULONGLONG counter;    // the monotonic counter read with it
};

// For the tray program's own synchronisation: the end of one automatic
// attempt that started at `started`. An answer stores its offset and server;
// a good one its time and the drift, and clears the failures; anything else
// counts one more.
void RecordOwnAttempt(ULONGLONG started, const OwnOutcome& outcome);

// The episode the user was last told of with a balloon, kept per user under
// HKEY_CURRENT_USER\...\Status (WarnedHealth, REG_DWORD; WarnedGood,
// REG_QWORD); none (HealthGood) when unknown.
void ReadHealthEpisode(HealthEpisode* episode);
void WriteHealthEpisode(const HealthEpisode& episode);
