#include "reply.h"

#include <cstring>

#include "../res/resource.h"
#include "clock.h"
#include "status_lines.h"

struct tm LastSyncTime;

namespace {

enum LeapIndicator { LeapAlarm = 3 };
enum PacketMode { ServerMode = 4 };
const int ReferenceIdOffset = 12;
// Stratum 16 and above: the server is not synchronised.
const int FirstUnsynchronisedStratum = 16;

// The request of this attempt that the reply echoes, marked answered; null
// for anything else: a forgery, a reply to another attempt, a repeated answer.
SentRequest* AnsweredRequest(RequestLog* log, const uint8_t* reply)
{
    for (int i = 0; i < log->count; ++i) {
        SentRequest& sent = log->sent[i];
        if (!sent.answered && memcmp(sent.nonce, reply + NtpOriginateOffset, sizeof sent.nonce) == 0) {
            sent.answered = true;
            return &sent;
        }
    }
    return nullptr;
}

// Stratum 0 carries a kiss code in the reference identifier.
ReplyVerdict KissVerdict(const uint8_t* reply)
{
    const uint8_t* code = reply + ReferenceIdOffset;
    if (reply[1] != 0)
        return ReplyNotUsed;
    if (memcmp(code, "RATE", 4) == 0)
        return ReplyKissRate;
    if (memcmp(code, "DENY", 4) == 0 || memcmp(code, "RSTR", 4) == 0)
        return ReplyKissDeny;
    return ReplyNotUsed;
}

// A reply that no synchronised server in this format would send: 0 when it
// may be used, otherwise the line that says why not. The kiss codes come first:
// a server sends them with leap indicator 3 and stratum 0.
UINT HeaderFault(const uint8_t* reply, int* reason)
{
    const int version = (reply[0] >> 3) & 7;
    if ((reply[0] & 7) != ServerMode) {
        *reason = InvalidMode;
        return IDS_INVALID_REPLY;
    }
    if (version < 1 || version > 4) {
        *reason = InvalidVersion;
        return IDS_INVALID_REPLY;
    }
    if ((reply[0] >> 6) == LeapAlarm || reply[1] == 0 || reply[1] >= FirstUnsynchronisedStratum)
        return IDS_SERVER_NOT_READY;
    static const uint8_t zero[8] = {};
    if (memcmp(reply + NtpTransmitOffset, zero, sizeof zero) == 0) {
        *reason = InvalidTransmit; // no time to take
        return IDS_INVALID_REPLY;
    }
    return 0;
}

void ShowHeader(const uint8_t* reply)
{
    AddStatusLine(IDS_REPLY_HEADER, int(reply[0] >> 6), int((reply[0] >> 3) & 7), int(reply[0] & 7),
                  int(reply[1]), int(reply[2]), int(int8_t(reply[3])));
}

// (T4 - T1) - (T3 - T2); a negative round trip (the clock was set back while
// the request was out) counts as none.
NtpTimestamp RoundTripDelay(const NtpTimestamp& t1, const NtpTimestamp& t2, const NtpTimestamp& t3,
                            const NtpTimestamp& t4)
{
    NtpTimestamp delay = t4;
    delay.subtract(t1);
    NtpTimestamp serverTime = t3;
    serverTime.subtract(t2);
    delay.subtract(serverTime);
    if (delay.carry() < 0)
        delay.set(0, 0);
    return delay;
}

// 2030-01-01 00:00 UTC. While the PC's clock reads earlier, a server time in
// era 1 (2036 on) is far more likely an era-0 time near 1900 than the
// future: the tray's own attempt refuses it.
const uint64_t Before2030 = 135379296000000000ull;

// Half a millisecond: SYSTEMTIME holds whole milliseconds, and rounding to the
// nearest one halves the error that truncation would leave.
const uint32_t HalfMillisecond = 2147484;

// Sets the clock to the server's time at the moment of the call: the target
// (the server's time at `arrival`) advanced by the time spent since then,
// read immediately before SetSystemTime.
bool SetClock(const NtpTimestamp& target, const NtpTimestamp& arrival, const NtpTimestamp& estimate)
{
    if (!EnableSystemTimePrivilege())
        return false;
    NtpTimestamp value = NtpTimestamp::now();
    value.subtract(arrival);
    if (value.carry() < 0)
        value.set(0, 0); // the clock went back meanwhile: nothing has passed
    value.add(target);
    value.add(NtpTimestamp(0, HalfMillisecond));
    SYSTEMTIME utc;
    if (!value.toUtcSystemTime(&utc) || !SetSystemClock(&utc))
        return false;
    struct tm local;
    // A server time before 1970 has no local form; the last time stays.
    if (estimate.toLocalTime(&local))
        LastSyncTime = local;
    return true;
}

// `label`, a space, the signed decimal `value` and `unit`: a reason in a few
// ASCII words, without the C library's formatted output.
void DescribeReason(char (&out)[24], const char* label, long long value, const char* unit)
{
    char digits[24];
    int count = 0;
    unsigned long long magnitude = value < 0 ? 0ull - (unsigned long long)value : (unsigned long long)value;
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        digits[count++] = '-';
    size_t at = 0;
    for (const char* p = label; *p && at < sizeof out - 1; ++p)
        out[at++] = *p;
    if (at < sizeof out - 1)
        out[at++] = ' ';
    while (count && at < sizeof out - 1)
        out[at++] = digits[--count];
    for (const char* p = unit; *p && at < sizeof out - 1; ++p)
        out[at++] = *p;
    out[at] = '\0';
}

} // namespace

bool LogRequest(RequestLog* log, const uint8_t nonce[8], const NtpTimestamp& sentAt)
{
    if (log->count >= MaxRequestsPerAttempt)
        return false;
    SentRequest& sent = log->sent[log->count++];
    memcpy(sent.nonce, nonce, sizeof sent.nonce);
    sent.sentAt = sentAt;
    sent.answered = false;
    return true;
}

ReplyVerdict ProcessReply(const uint8_t reply[NtpPacketSize], const NtpTimestamp& arrival, RequestLog* log,
                          SyncRequest* request, ReplyFigures* figures)
{
    // Only an echo of a nonce of this attempt proves that the datagram answers
    // a request of ours; anything else must not even be shown.
    const SentRequest* answered = AnsweredRequest(log, reply);
    if (!answered)
        return ReplyIgnored;
    ShowHeader(reply);
    if ((reply[0] & 7) == ServerMode) {
        const ReplyVerdict kiss = KissVerdict(reply);
        if (kiss != ReplyNotUsed) {
            AddStatusLine(IDS_SERVER_NOT_READY);
            return kiss;
        }
    }
    int reason = 0;
    if (const UINT fault = HeaderFault(reply, &reason)) {
        AddStatusLine(fault, reason);
        return ReplyNotUsed;
    }

    const NtpTimestamp t1 = answered->sentAt;
    const NtpTimestamp t2 = NtpTimestamp::fromNetwork(reply + NtpReceiveOffset);
    const NtpTimestamp t3 = NtpTimestamp::fromNetwork(reply + NtpTransmitOffset);
    const NtpTimestamp& t4 = arrival;

    NtpTimestamp delay = RoundTripDelay(t1, t2, t3, t4);
    AddStatusLine(IDS_ROUND_TRIP, (unsigned long)delay.seconds(), (unsigned long)(delay.microseconds() / 1000));
    // A round trip of a second or more is never trusted, whatever MaxDelay says.
    if (delay.seconds() != 0 || delay.microseconds() > uint32_t(request->MaxDelay * 1000u))
        return ReplyNotUsed;

    const uint32_t delayMicroseconds = delay.microseconds();
    delay.halve();
    NtpTimestamp estimate = t3;
    estimate.add(delay);
    NtpTimestamp target = estimate;
    target.subtract(NtpTimestamp(uint32_t(request->TimeShift), 0));

    // The local clock at T4 against the server's time at T4: like with like,
    // so the time spent showing lines is no part of the error.
    NtpTimestamp error = t4;
    error.subtract(target);
    const bool behind = error.carry() < 0; // the local clock is behind the target
    error.makeAbsolute();
    if (figures) {
        const int64_t magnitude = int64_t(error.seconds()) * 1000000 + error.microseconds();
        figures->stepMicroseconds = behind ? magnitude : -magnitude;
        figures->delayMicroseconds = delayMicroseconds;
    }
    AddStatusLine(IDS_CLOCK_ERROR, (unsigned long)error.seconds(), (unsigned long)(error.microseconds() / 1000));
    if (error.seconds() == 0 && error.microseconds() < uint32_t(request->Tolerance * 1000u))
        request->Mode = Test; // too small to correct

    SYSTEMTIME utc;
    if (!target.toUtcSystemTime(&utc) || (t4.toFileTime() < Before2030 && target.toFileTime() >= Era1Start)) {
        AddStatusLine(IDS_SYNC_FAILED);
        return ReplyNotUsed;
    }
    AddStatusLine(IDS_TIME_OBTAINED, int(utc.wYear), int(utc.wMonth), int(utc.wDay), int(utc.wHour),
                  int(utc.wMinute), int(utc.wSecond), int(utc.wMilliseconds));
    if (request->Mode == Test) {
        AddStatusLine(IDS_TEST_COMPLETED);
        return ReplyFinished;
    }
    if (!SetClock(target, t4, estimate)) {
        AddStatusLine(IDS_SYNC_FAILED);
        return ReplyNotUsed;
    }
    AddStatusLine(IDS_SYNC_SUCCEEDED);
    return ReplyFinished;
}

AnswerKind JudgeAnswer(const uint8_t reply[NtpPacketSize], const NtpTimestamp& arrival, RequestLog* log,
                       uint32_t maxDelayMs, int32_t timeShiftSeconds, AnswerMeasure* measure)
{
    memset(measure, 0, sizeof *measure);
    const SentRequest* answered = AnsweredRequest(log, reply);
    if (!answered)
        return AnswerIgnored;
    const int mode = reply[0] & 7, version = (reply[0] >> 3) & 7, stratum = reply[1];
    if (mode == ServerMode) {
        const ReplyVerdict kiss = KissVerdict(reply);
        if (kiss != ReplyNotUsed) {
            memcpy(measure->why, reply + ReferenceIdOffset, 4);
            return kiss == ReplyKissRate ? AnswerKissRate : AnswerKissDeny;
        }
    }
    static const uint8_t zero[8] = {};
    if (mode != ServerMode)
        DescribeReason(measure->why, "Mode", mode, "");
    else if (version < 1 || version > 4)
        DescribeReason(measure->why, "VN", version, "");
    else if ((reply[0] >> 6) == LeapAlarm)
        DescribeReason(measure->why, "LI", LeapAlarm, "");
    else if (stratum == 0 || stratum >= FirstUnsynchronisedStratum)
        DescribeReason(measure->why, "Stratum", stratum, "");
    else if (memcmp(reply + NtpTransmitOffset, zero, sizeof zero) == 0)
        DescribeReason(measure->why, "transmit", 0, "");
    if (measure->why[0])
        return AnswerUnusable;

    const NtpTimestamp t1 = answered->sentAt;
    const NtpTimestamp t2 = NtpTimestamp::fromNetwork(reply + NtpReceiveOffset);
    const NtpTimestamp t3 = NtpTimestamp::fromNetwork(reply + NtpTransmitOffset);
    const int64_t delay = DifferenceTicks(arrival, t1) - DifferenceTicks(t3, t2);
    const int64_t TicksPerMs = 10000;
    // Below -2 ms the server claims to have held the request longer than the
    // whole exchange took; no clock reading explains that.
    if (delay < -2 * TicksPerMs || delay >= 1000 * TicksPerMs || delay > int64_t(maxDelayMs) * TicksPerMs) {
        DescribeReason(measure->why, "delay", delay / TicksPerMs, " ms");
        return delay < 0 ? AnswerUnusable : AnswerSlow;
    }
    // Each difference is exact within 68 years; their halves add up without overflow.
    measure->offset = DifferenceTicks(t2, t1) / 2 + DifferenceTicks(t3, arrival) / 2
                      - int64_t(timeShiftSeconds) * int64_t(FileTimeTicksPerSecond);
    measure->delay = delay;
    measure->arrival = arrival.toFileTime();
    return AnswerUsable;
}

const char* GetLastSyncText()
{
    static char text[32];
    if (LastSyncTime.tm_year == 0)
        return nullptr;
    if (strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &LastSyncTime) == 0)
        return nullptr;
    return text;
}
