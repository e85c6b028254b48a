#include "service_report.h"

#include "../res/resource.h"
#include "attempt_lines.h"
#include "health_store.h"
#include "machine_settings.h"
#include "qvclock_messages.h"

namespace {

HKEY OpenStatusKey()
{
    // The service's own SID may set values in Status and nothing more: create
    // it only where it is missing and the account may (an administrator's run).
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, MACHINE_STATUS_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS)
        return key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, MACHINE_STATUS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr)
        == ERROR_SUCCESS)
        return key;
    return nullptr;
}

void SetQword(HKEY key, const char* name, ULONGLONG value)
{
    RegSetValueExA(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void Report(WORD type, DWORD id, const char** strings, WORD count)
{
    HANDLE log = RegisterEventSourceA(nullptr, CLOCK_SERVICE_NAME);
    if (!log)
        return;
    ReportEventA(log, type, 0, id, nullptr, count, 0, strings, nullptr);
    DeregisterEventSource(log);
}

// A signed count of milliseconds as text, with its sign.
void FormatSignedMs(char* out, LONGLONG value)
{
    char digits[24];
    int count = 0;
    ULONGLONG magnitude = value < 0 ? ULONGLONG(-value) : ULONGLONG(value);
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    *out++ = value < 0 ? '-' : '+';
    while (count)
        *out++ = digits[--count];
    *out = '\0';
}

} // namespace

void WriteAttemptStatus(ULONGLONG started, const ExchangeResult& attempt, bool good, DWORD failures,
                        ULONGLONG synced, ULONGLONG counter)
{
    HKEY key = OpenStatusKey();
    if (!key)
        return;
    // The lines, each with its NUL, and the NUL that ends the list.
    const AttemptLines& lines = g_attemptLines;
    static const char empty[2] = {};
    if (lines.count) {
        lines.packed[lines.length] = '\0';
        RegSetValueExA(key, "LastLines", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(lines.packed),
                       DWORD(lines.length + 1));
    } else {
        RegSetValueExA(key, "LastLines", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(empty), sizeof empty);
    }
    const DWORD result = g_attemptLines.lastId;
    RegSetValueExA(key, "LastResult", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&result), sizeof result);
    if (attempt.clockSet)
        SetQword(key, "LastSyncTime", synced);
    if (attempt.chosen) {
        SetQword(key, "LastOffset", ULONGLONG(attempt.offset));
        RegSetValueExA(key, "LastServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(attempt.server),
                       DWORD(lstrlenA(attempt.server) + 1));
    }
    // The good time and the drift's reference are read from the corrected
    // clock. The drift is learnt from this PC's own clock only: never while
    // the domain moves it between answers.
    if (result == IDS_DOMAIN_TIME) {
        ClearDriftReference(key);
    } else if (good) {
        SetQword(key, "LastGoodTime", synced);
        if (attempt.chosen)
            RecordServiceDrift(key, DriftAnswer{synced, counter, attempt.offset, attempt.clockSet});
    }
    RegSetValueExA(key, "Failures", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&failures), sizeof failures);
    SetQword(key, "LastAttemptTime", started);
    RegCloseKey(key);
}

void LogClockSet(const char* server, const ReplyFigures& figures)
{
    char step[24], delay[24];
    FormatSignedMs(step, figures.stepMicroseconds / 1000);
    wsprintfA(delay, "%lu", DWORD(figures.delayMicroseconds / 1000));
    const char* strings[] = {server, step, delay, LastAttemptLine()};
    Report(EVENTLOG_INFORMATION_TYPE, MSG_CLOCK_SET, strings, 4);
}

void LogSyncFailure(const char* server)
{
    const char* strings[] = {server, LastAttemptLine()};
    Report(EVENTLOG_WARNING_TYPE, MSG_SYNC_FAILED, strings, 2);
}

void LogDomainTime(const char* server)
{
    const char* strings[] = {server, LastAttemptLine()};
    Report(EVENTLOG_INFORMATION_TYPE, MSG_DOMAIN_TIME, strings, 2);
}

void LogServiceFault(DWORD error)
{
    char code[16];
    wsprintfA(code, "%lu", error);
    const char* strings[] = {code};
    Report(EVENTLOG_ERROR_TYPE, MSG_SERVICE_FAULT, strings, 1);
}

namespace {

// "NT5DS" or "AllSync" in the value Type of `path`; 1 yes, 0 no, -1 no value.
int DomainType(const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return -1;
    char type[16] = {};
    DWORD size = sizeof type - 1, kind = 0;
    const LONG read = RegQueryValueExA(key, "Type", nullptr, &kind, reinterpret_cast<BYTE*>(type), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (kind != REG_SZ && kind != REG_EXPAND_SZ))
        return -1;
    return lstrcmpiA(type, "NT5DS") == 0 || lstrcmpiA(type, "AllSync") == 0;
}

} // namespace

bool FollowsDomainTime()
{
    // A domain member's clock must follow its domain controller (Kerberos
    // fails beyond five minutes): the policy decides first, then the setting.
    const int policy = DomainType("SOFTWARE\\Policies\\Microsoft\\W32Time\\Parameters");
    if (policy >= 0)
        return policy == 1;
    return DomainType("SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters") == 1;
}
