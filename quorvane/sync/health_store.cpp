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
    ULONGLONG reference = 0, offset = 0;
    drift->known = ReadDword(key, "Drift", &ppb);
    drift->ppb = LONG(ppb);
    // Both halves of the reference, or none.
    if (ReadQword(key, "DriftReference", &reference) && ReadQword(key, "DriftOffset", &offset)) {
        drift->reference = reference;
        drift->referenceOffset = LONGLONG(offset);
    } else {
        drift->reference = 0;
        drift->referenceOffset = 0;
    }
}

void UpdateStoredDrift(HKEY readKey, HKEY writeKey, ULONGLONG time, LONGLONG offset, bool clockSet)
{
    DriftRecord drift;
    ReadDrift(readKey, &drift);
    UpdateDrift(&drift, time, offset, clockSet);
    if (drift.known)
        WriteDword(writeKey, "Drift", DWORD(drift.ppb));
    WriteQword(writeKey, "DriftReference", drift.reference);
    WriteQword(writeKey, "DriftOffset", ULONGLONG(drift.referenceOffset));
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

void RecordServiceDrift(HKEY statusKey, ULONGLONG attemptStartFileTime, LONGLONG offset100ns, bool clockWasSet)
{
    // The service's handle may only set values: read through one of our own.
    HKEY readKey;
    if (RegOpenKeyExA(statusKey, nullptr, 0, KEY_QUERY_VALUE, &readKey) != ERROR_SUCCESS)
        return;
    UpdateStoredDrift(readKey, statusKey, attemptStartFileTime, offset100ns, clockWasSet);
    RegCloseKey(readKey);
}

void RecordOwnAttempt(ULONGLONG started, bool usable, LONGLONG offset, bool clockSet, const char* server,
                      DWORD lastResult)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, USER_STATUS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    DWORD failures = 0;
    if (usable) {
        WriteQword(key, "LastGoodTime", started);
        WriteQword(key, "LastOffset", ULONGLONG(offset));
        RegSetValueExA(key, "LastServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server),
                       DWORD(lstrlenA(server) + 1));
        UpdateStoredDrift(key, key, started, offset, clockSet);
    } else {
        ReadDword(key, "Failures", &failures);
        if (failures != 0xFFFFFFFF)
            ++failures;
    }
    WriteDword(key, "Failures", failures);
    WriteDword(key, "LastResult", lastResult);
    WriteQword(key, "LastAttemptTime", started);
    RegCloseKey(key);
}
