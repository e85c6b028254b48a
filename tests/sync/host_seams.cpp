#include "host_seams.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "clock.h"
#include "ntp_time.h"
#include "resource.h"
#include "status_lines.h"
#include "status_texts.h"

HostSeams g_seams;

SYSTEMTIME UtcAt(uint32_t ntpSeconds, unsigned ms)
{
    time_t t = time_t(ntpSeconds - NtpEpochOffset);
    struct tm parts;
    gmtime_r(&t, &parts);
    SYSTEMTIME st = {};
    st.wYear = WORD(parts.tm_year + 1900);
    st.wMonth = WORD(parts.tm_mon + 1);
    st.wDay = WORD(parts.tm_mday);
    st.wDayOfWeek = WORD(parts.tm_wday);
    st.wHour = WORD(parts.tm_hour);
    st.wMinute = WORD(parts.tm_min);
    st.wSecond = WORD(parts.tm_sec);
    st.wMilliseconds = WORD(ms);
    return st;
}

uint64_t ReadSystemClock()
{
    if (g_seams.clockReads >= g_seams.clockReadings.size()) {
        ADD_FAILURE() << "the clock was read more often than scripted";
        return 0;
    }
    const SYSTEMTIME& st = g_seams.clockReadings[g_seams.clockReads++];
    struct tm parts = {};
    parts.tm_year = st.wYear - 1900;
    parts.tm_mon = st.wMonth - 1;
    parts.tm_mday = st.wDay;
    parts.tm_hour = st.wHour;
    parts.tm_min = st.wMinute;
    parts.tm_sec = st.wSecond;
    const uint64_t since1601 = uint64_t(int64_t(timegm(&parts)) + 11644473600);
    return since1601 * FileTimeTicksPerSecond + st.wMilliseconds * 10000u;
}

BOOL SetSystemClock(const SYSTEMTIME* utc)
{
    g_seams.clockSettings.push_back(*utc);
    return g_seams.setSucceeds;
}

bool UtcToLocalTime(uint64_t utcTicks, SYSTEMTIME* local)
{
    // The host's own zone rules, with a 64-bit time value.
    const time_t t = time_t(int64_t(utcTicks / FileTimeTicksPerSecond) - 11644473600);
    struct tm parts;
    if (!localtime_r(&t, &parts))
        return false;
    *local = SYSTEMTIME{WORD(parts.tm_year + 1900), WORD(parts.tm_mon + 1), WORD(parts.tm_wday), WORD(parts.tm_mday),
                        WORD(parts.tm_hour), WORD(parts.tm_min), WORD(parts.tm_sec), 0};
    return true;
}

bool EnableSystemTimePrivilege()
{
    return g_seams.privilegeGranted;
}

namespace {

const char* TemplateOf(unsigned id)
{
    switch (id) {
    case IDS_NET_INIT_FAILED: return TEXT_NET_INIT_FAILED;
    case IDS_SEND_FAILED: return TEXT_SEND_FAILED;
    case IDS_WAITING: return TEXT_WAITING;
    case IDS_SERVER_NOT_FOUND: return TEXT_SERVER_NOT_FOUND;
    case IDS_WAITING_RETRY: return TEXT_WAITING_RETRY;
    case IDS_INVALID_REPLY: return TEXT_INVALID_REPLY;
    case IDS_CONNECTION_REFUSED: return TEXT_CONNECTION_REFUSED;
    case IDS_TEST_COMPLETED: return TEXT_TEST_COMPLETED;
    case IDS_SYNC_SUCCEEDED: return TEXT_SYNC_SUCCEEDED;
    case IDS_SYNC_FAILED: return TEXT_SYNC_FAILED;
    case IDS_NO_VALID_REPLY: return TEXT_NO_VALID_REPLY;
    case IDS_LOOKING_UP: return TEXT_LOOKING_UP;
    case IDS_SERVER_NOT_READY: return TEXT_SERVER_NOT_READY;
    case IDS_REPLY_HEADER: return TEXT_REPLY_HEADER;
    case IDS_TIME_OBTAINED: return TEXT_TIME_OBTAINED;
    case IDS_ROUND_TRIP: return TEXT_ROUND_TRIP;
    case IDS_CLOCK_ERROR: return TEXT_CLOCK_ERROR;
    }
    return nullptr;
}

} // namespace

void AddStatusLine(UINT id, ...)
{
    const char* format = TemplateOf(id);
    if (!format) {
        ADD_FAILURE() << "unknown status line " << id;
        return;
    }
    char line[1024];
    va_list arguments;
    va_start(arguments, id);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    g_seams.lineIds.push_back(id);
    g_seams.lines.push_back(line);
}
