// Arbitrary 48-byte replies, clock readings and requests through the reply
// evaluation. Besides memory and undefined-behaviour errors it checks that
// the outcome and the lines agree, and that only a Synchronise request ever
// sets the clock. The same bytes go through the clock service's judgement of
// one answer and, read as a set of answers, through its selection: never a
// time without a majority that agrees, never a step over 1000 s from one
// address unless the clock is certainly wrong.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "answer_selection.h"
#include "clock.h"
#include "reply.h"
#include "resource.h"
#include "status_lines.h"
#include "status_texts.h"

namespace {

const uint8_t* g_clockData;
size_t g_clockSize;
int g_settings;
unsigned g_lastLine;
int g_lineCount;

void Check(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

uint64_t ReadSystemClock()
{
    // Each reading takes 8 bytes: a FILETIME count from 1970 to 2100, so
    // that the local clock lies in NTP era 1 (2036-02-07 on) as well.
    uint8_t bytes[8] = {};
    size_t take = g_clockSize < 8 ? g_clockSize : 8;
    memcpy(bytes, g_clockData, take);
    g_clockData += take;
    g_clockSize -= take;
    uint64_t ticks;
    memcpy(&ticks, bytes, 8);
    const uint64_t from1970 = 116444736000000000ull, span = 4102444800ull * 10000000ull;
    return from1970 + ticks % span;
}

BOOL SetSystemClock(const SYSTEMTIME* utc)
{
    Check(utc->wMonth >= 1 && utc->wMonth <= 12 && utc->wMilliseconds < 1000 && utc->wYear >= 1970);
    ++g_settings;
    return TRUE;
}

bool UtcToLocalTime(uint64_t utcTicks, SYSTEMTIME* local)
{
    FileTimeToUtcCalendar(utcTicks, local); // UTC stands in for the zone
    return true;
}

bool EnableSystemTimePrivilege()
{
    return true;
}

void AddStatusLine(UINT id, ...)
{
    const char* format = nullptr;
    switch (id) {
    case IDS_SERVER_NOT_READY: format = TEXT_SERVER_NOT_READY; break;
    case IDS_INVALID_REPLY: format = TEXT_INVALID_REPLY; break;
    case IDS_REPLY_HEADER: format = TEXT_REPLY_HEADER; break;
    case IDS_TIME_OBTAINED: format = TEXT_TIME_OBTAINED; break;
    case IDS_ROUND_TRIP: format = TEXT_ROUND_TRIP; break;
    case IDS_CLOCK_ERROR: format = TEXT_CLOCK_ERROR; break;
    case IDS_TEST_COMPLETED: format = TEXT_TEST_COMPLETED; break;
    case IDS_SYNC_SUCCEEDED: format = TEXT_SYNC_SUCCEEDED; break;
    case IDS_SYNC_FAILED: format = TEXT_SYNC_FAILED; break;
    }
    Check(format != nullptr); // the evaluation uses no other line
    char line[260];
    va_list arguments;
    va_start(arguments, id);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    Check(g_lineCount > 0 || id == IDS_REPLY_HEADER);
    g_lastLine = id;
    ++g_lineCount;
}

namespace {

int64_t Delay(const UsableAnswer& a)
{
    return a.delay < 0 ? 0 : a.delay;
}

int64_t Low(const UsableAnswer& a)
{
    return a.offset - (Delay(a) / 2 + AgreementMargin);
}

int64_t High(const UsableAnswer& a)
{
    return a.offset + (Delay(a) / 2 + AgreementMargin);
}

// Up to 8 answers of 5 bytes each: a signed offset of up to about 2^31 ms
// (sometimes near a common value, so that groups form) and a delay from
// -2 ms to below 1 s.
void CheckSelection(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    UsableAnswer answers[MaxServerAddresses];
    const int count = int(data[0] % (MaxServerAddresses + 1));
    // The clock before the build or after it, and sometimes in era 1.
    const uint64_t build = 134116992000000000ull;
    const ClockFacts facts = {data[0] & 0x80 ? build - 3600ull * 10000000 : (data[0] & 0x40 ? Era1Start : build) + 1,
                              build};
    if (size < 1 + 5 * size_t(count))
        return;
    for (int i = 0; i < count; ++i) {
        const uint8_t* a = data + 1 + 5 * i;
        int32_t raw;
        memcpy(&raw, a, 4);
        const int64_t scale = (a[4] & 3) == 0 ? 10000000ll : (a[4] & 3) == 1 ? 10000 : 1;
        answers[i].offset = int64_t(raw % 100000) * scale;
        answers[i].delay = int64_t(a[4] >> 2) * 150000 - (raw & 0x100 ? 20000 : 0); // -2 to 945 ms
    }
    const Selection s = SelectAnswer(answers, count, facts);
    // The most intervals that hold one point (a lower end, where the maximum lies).
    int most = 0;
    for (int i = 0; i < count; ++i) {
        int holding = 0;
        for (int j = 0; j < count; ++j)
            holding += Low(answers[j]) <= Low(answers[i]) && Low(answers[i]) <= High(answers[j]);
        most = holding > most ? holding : most;
    }
    if (count == 0) {
        Check(s.outcome == SelectionNone && s.chosen == -1);
        return;
    }
    if (s.outcome == SelectionNoAgreement) {
        Check(2 * most <= count && s.chosen == -1 && s.truechimers == 0);
        return;
    }
    Check(s.outcome == SelectionChosen || s.outcome == SelectionStepTooLarge);
    Check(s.truechimers == most && 2 * s.truechimers > count);
    Check(s.chosen >= 0 && s.chosen < count && s.truechimer[s.chosen]);
    int64_t low = INT64_MIN, high = INT64_MAX;
    int members = 0;
    for (int i = 0; i < count; ++i) {
        if (!s.truechimer[i])
            continue;
        ++members;
        low = Low(answers[i]) > low ? Low(answers[i]) : low;
        high = High(answers[i]) < high ? High(answers[i]) : high;
        Check(Delay(answers[i]) >= Delay(answers[s.chosen]));
    }
    Check(members == s.truechimers && low <= high); // they share a point
    const int64_t step = answers[s.chosen].offset;
    const bool large = step > LargeStep || step < -LargeStep;
    // One source may only move a clock before the build forward, up to it
    // at least and not into era 1.
    const bool repairs = facts.clock < build && step > 0 && facts.clock + uint64_t(step) >= build
                         && facts.clock + uint64_t(step) < Era1Start;
    if (s.outcome == SelectionChosen && large)
        Check(s.truechimers >= 2 || repairs);
    if (s.outcome == SelectionStepTooLarge)
        Check(large && s.truechimers < 2 && !repairs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckSelection(data, size);
    // The reply, the request (13 bytes), the attempt's log (a count byte,
    // then 8 bytes of nonce per request), then the clock readings.
    const size_t requestAt = NtpPacketSize, logAt = requestAt + 13;
    if (size < logAt + 1)
        return 0;
    SyncRequest request;
    request.Mode = data[requestAt] & 1;
    request.Server = "fuzz";
    memcpy(&request.MaxDelay, data + requestAt + 1, 4);
    memcpy(&request.Tolerance, data + requestAt + 5, 4);
    memcpy(&request.TimeShift, data + requestAt + 9, 4);
    const int32_t originalMode = request.Mode;
    const int sent = data[logAt] % (MaxRequestsPerAttempt + 1);
    // Half the inputs echo one of the nonces, so that the evaluation is reached.
    const int echoed = (data[logAt] >> 4) % (MaxRequestsPerAttempt + 1);
    if (size < logAt + 1 + 8 * size_t(sent))
        return 0;
    g_clockData = data + logAt + 1 + 8 * sent;
    g_clockSize = size - (logAt + 1 + 8 * sent);
    uint8_t reply[NtpPacketSize];
    memcpy(reply, data, sizeof reply);
    RequestLog log = {};
    for (int i = 0; i < sent; ++i)
        Check(LogRequest(&log, data + logAt + 1 + 8 * i, NtpTimestamp::now()));
    if (echoed < sent)
        memcpy(reply + NtpOriginateOffset, log.sent[echoed].nonce, 8);
    bool known = false;
    for (int i = 0; i < sent; ++i)
        known = known || memcmp(log.sent[i].nonce, reply + NtpOriginateOffset, 8) == 0;
    const NtpTimestamp arrival = NtpTimestamp::now();
    g_settings = 0;
    g_lineCount = 0;

    // The service's judgement of the same answer: silent, never a setting,
    // and a usable answer only from a synchronised server within the delays.
    RequestLog serviceLog = log;
    AnswerMeasure measure;
    const AnswerKind kind = JudgeAnswer(reply, arrival, &serviceLog, request.MaxDelay, request.TimeShift, &measure);
    Check(g_lineCount == 0 && g_settings == 0);
    Check((kind == AnswerIgnored) == !known);
    if (kind == AnswerUsable)
        Check((reply[0] & 7) == 4 && reply[1] >= 1 && reply[1] <= 15 && (reply[0] >> 6) != 3
              && measure.delay >= -20000 && measure.delay < 10000000
              && measure.delay <= int64_t(request.MaxDelay) * 10000);
    Check(kind == AnswerUsable || kind == AnswerIgnored || measure.why[0] != '\0');

    const ReplyVerdict verdict = ProcessReply(reply, arrival, &log, &request);

    // Nothing is shown of a datagram that answers no request of the attempt.
    Check((verdict == ReplyIgnored) == !known);
    Check(verdict == ReplyIgnored ? g_lineCount == 0 : g_lineCount >= 1);
    Check(verdict != ReplyFinished || g_lastLine == IDS_TEST_COMPLETED || g_lastLine == IDS_SYNC_SUCCEEDED);
    // A kiss code is honoured only from a server (Mode 4) with stratum 0.
    if (verdict == ReplyKissRate || verdict == ReplyKissDeny)
        Check(g_lastLine == IDS_SERVER_NOT_READY && (reply[0] & 7) == 4 && reply[1] == 0);
    // Only a synchronised server's answer in a known format is evaluated.
    if (g_settings || verdict == ReplyFinished)
        Check((reply[0] & 7) == 4 && reply[1] >= 1 && reply[1] <= 15 && (reply[0] >> 6) != 3);
    Check(g_settings == 0 || originalMode == Synchronise);
    Check(g_settings <= 1);
    Check(request.Mode == originalMode || request.Mode == Test);
    if (GetLastSyncText())
        Check(strlen(GetLastSyncText()) == 19);
    // An answer is used once: the same datagram again is a replay.
    if (verdict != ReplyIgnored) {
        g_lineCount = 0;
        bool unanswered = false;
        for (int i = 0; i < sent; ++i)
            unanswered = unanswered
                         || (!log.sent[i].answered && memcmp(log.sent[i].nonce, reply + NtpOriginateOffset, 8) == 0);
        if (!unanswered)
            Check(ProcessReply(reply, arrival, &log, &request) == ReplyIgnored && g_lineCount == 0);
    }
    return 0;
}
