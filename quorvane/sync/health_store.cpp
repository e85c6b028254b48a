#include "health_store.h"

#include "clock_drift.h"

namespace {

// A value of exactly this type and size; `value` stays as it was otherwise.
bool ReadValue(HKEY key, const char* name, DWORD type, void* value, DWORD size)
{
    BYTE read[8];
    DWORD readType, readSize = sizeof read;
    if (RegQueryValueExA(key, name, nullptr, &readType, read, &readSize) != ERROR_SUCCESS || readType != type
        || readSize != size)
        return false;
    CopyMemory(value, read, size);
    return true;
}

bool ReadQword(HKEY key, const char* name, ULONGLONG* value)
{
    return ReadValue(key, name, REG_QWORD, value, sizeof *value);
}

bool ReadDword(HKEY key, const char* name, DWORD* value)
{
    return ReadValue(key, name, REG_DWORD, value, sizeof *value);
}

void WriteQword(HKEY key, const char* name, ULONGLONG value)
{
    RegSetValueExA(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void WriteDword(HKEY key, const char* name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void ReadDrift(HKEY key, DriftRecord* drift)
{
    DWORD ppb = 0;
    ULONGLONG reference = 0, offset = 0, counter = 0, corrections = 0;
    drift->known = ReadDword(key, "Drift", &ppb);
    drift->ppb = LONG(ppb);
    // Every part of the reference, or none.
    if (ReadQword(key, "DriftReference", &reference) && ReadQword(key, "DriftOffset", &offset)
        && ReadQword(key, "DriftCounter", &counter) && ReadQword(key, "DriftCorrections", &corrections)) {
        drift->reference = reference;
        drift->referenceOffset = LONGLONG(offset);
        drift->referenceCounter = counter;
        drift->corrections = LONGLONG(corrections);
    } else {
        drift->reference = 0;
        drift->referenceOffset = 0;
        drift->referenceCounter = 0;
        drift->corrections = 0;
    }
}

void WriteDriftReference(HKEY key, const DriftRecord& drift)
{
    WriteQword(key, "DriftReference", drift.reference);
    WriteQword(key, "DriftOffset", ULONGLONG(drift.referenceOffset));
    WriteQword(key, "DriftCounter", drift.referenceCounter);
    WriteQword(key, "DriftCorrections", ULONGLONG(drift.corrections));
}

void UpdateStoredDrift(HKEY readKey, HKEY writeKey, const DriftAnswer& answer)
{
    DriftRecord drift;
    ReadDrift(readKey, &drift);
    UpdateDrift(&drift, answer);
    if (drift.known)
        WriteDword(writeKey, "Drift", DWORD(drift.ppb));
    WriteDriftReference(writeKey, drift);
}

} // namespace

void ReadHealthRecord(HKEY root, const char* path, HealthRecord* record)
{
    ZeroMemory(record, sizeof *record);
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    ReadQword(key, "LastSyncTime", &record->lastSync);
    ReadQword(key, "LastGoodTime", &record->lastGood);
    ReadQword(key, "LastAttemptTime", &record->lastAttempt);
    ReadDword(key, "Failures", &record->failures);
    ReadDword(key, "LastResult", &record->lastResult);
    ULONGLONG offset;
    record->offsetKnown = ReadQword(key, "LastOffset", &offset);
    record->offset = LONGLONG(offset);
    DWORD type, size = sizeof record->server - 1;
    // An address, as the numeric form of any family gives it; anything else
    // is not shown.
    if (RegQueryValueExA(key, "LastServer", nullptr, &type, reinterpret_cast<BYTE*>(record->server), &size)
            != ERROR_SUCCESS
        || type != REG_SZ)
        size = 0;
    record->server[size] = '\0';
    DWORD ppb;
    record->driftKnown = ReadDword(key, "Drift", &ppb);
    record->driftPpb = LONG(ppb);
    RegCloseKey(key);
}

void RecordServiceDrift(HKEY statusKey, const DriftAnswer& answer)
{
    // The service's handle may only set values: read through one of our own.
    HKEY readKey;
    if (RegOpenKeyExA(statusKey, nullptr, 0, KEY_QUERY_VALUE, &readKey) != ERROR_SUCCESS)
        return;
    UpdateStoredDrift(readKey, statusKey, answer);
    RegCloseKey(readKey);
}

void ClearDriftReference(HKEY statusKey)
{
    const DriftRecord none = {};
    WriteDriftReference(statusKey, none);
}

void RecordOwnAttempt(ULONGLONG started, const OwnOutcome& outcome)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, USER_STATUS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    if (outcome.answered) {
        WriteQword(key, "LastOffset", ULONGLONG(outcome.offset));
        RegSetValueExA(key, "LastServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(outcome.server),
                       DWORD(lstrlenA(outcome.server) + 1));
    }
    DWORD failures = 0;
    if (outcome.good) {
        WriteQword(key, "LastGoodTime", outcome.finished);
        UpdateStoredDrift(key, key, DriftAnswer{outcome.finished, outcome.counter, outcome.offset, outcome.clockSet});
    } else {
        ReadDword(key, "Failures", &failures);
        if (failures != 0xFFFFFFFF)
            ++failures;
    }
    WriteDword(key, "Failures", failures);
    WriteDword(key, "LastResult", outcome.lastResult);
    WriteQword(key, "LastAttemptTime", started);
    RegCloseKey(key);
}

void ReadHealthEpisode(HealthEpisode* episode)
{
    episode->health = HealthGood;
    episode->lastGood = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, USER_STATUS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD health;
    ULONGLONG lastGood;
    // Both halves, or none.
    if (ReadDword(key, "WarnedHealth", &health) && ReadQword(key, "WarnedGood", &lastGood)) {
        episode->health = health;
        episode->lastGood = lastGood;
    }
    RegCloseKey(key);
}

void WriteHealthEpisode(const HealthEpisode& episode)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, USER_STATUS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    WriteDword(key, "WarnedHealth", episode.health);
    WriteQword(key, "WarnedGood", episode.lastGood);
    RegCloseKey(key);
}
