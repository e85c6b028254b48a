// Evaluation of one SNTP reply and the clock correction.
#pragma once

#include <cstdint>
#include <ctime>

#include "ntp_time.h"
#include "sync_request.h"

// One attempt sends at most this many requests: the first and four resends.
constexpr int MaxRequestsPerAttempt = 5;

// A request of the running attempt: the random nonce that it carried as its
// transmit timestamp, and the local clock read immediately before it was sent.
// Only a reply that echoes a nonce as its originate timestamp answers it, and
// only once.
struct SentRequest {
    uint8_t nonce[8];
    NtpTimestamp sentAt;
    bool answered;
};

struct RequestLog {
    SentRequest sent[MaxRequestsPerAttempt];
    int count;
};

// Notes a request about to be sent; false when the log is full.
bool LogRequest(RequestLog* log, const uint8_t nonce[8], const NtpTimestamp& sentAt);

enum ReplyVerdict {
    ReplyIgnored,  // no answer to this attempt (unknown or repeated nonce): nothing shown
    ReplyNotUsed,  // an answer, shown but not used: keep waiting
    ReplyFinished, // the test completed, the clock was set or needed no correction
    ReplyKissRate, // the server asks to be asked less often (kiss code RATE)
    ReplyKissDeny, // the server refuses this client (kiss code DENY or RSTR)
};

// Evaluates a 48-byte datagram from the server for the attempt's request
// (whose Mode may be turned from Synchronise to Test when no correction is
// needed). `arrival` is the local clock read as soon as the datagram was
// received, before anything was shown: drawing status lines must count
// neither as network delay nor as clock error. The send time T1 comes from
// the log entry whose nonce the reply echoes, never from the packet.
// The figures of an evaluated answer, for a caller that keeps them.
struct ReplyFigures {
    int64_t stepMicroseconds; // the server's time (less the shift) minus the local clock
    uint32_t delayMicroseconds;
};

ReplyVerdict ProcessReply(const uint8_t reply[NtpPacketSize], const NtpTimestamp& arrival, RequestLog* log,
                          SyncRequest* request, ReplyFigures* figures = nullptr);

// The clock service judges each answer alone, shows nothing while it does,
// and decides later which answers to believe.
enum AnswerKind {
    AnswerIgnored,  // no answer to a request of this attempt (unknown or repeated nonce)
    AnswerUsable,   // offset and delay measured
    AnswerUnusable, // an answer that must not be used; `why` says why
    AnswerSlow,     // refused only for its round trip (over MaxDelay or 1 s); `why` says so
    AnswerKissRate, // RATE
    AnswerKissDeny, // DENY or RSTR
};

struct AnswerMeasure {
    int64_t offset;    // theta, 100-ns units: the server's time less the shift, minus the local clock
    int64_t delay;     // delta, 100-ns units: the round trip less the server's holding time
    uint64_t arrival;  // FILETIME (UTC) of the arrival
    char why[24];      // a few ASCII words for an answer not used
};

// The checks of ProcessReply (nonce, kiss codes, Mode, VN, LI, Stratum, a
// zero transmit timestamp, the round trip against `maxDelayMs` and one
// second) and a round trip below -2 ms, which no honest server can cause.
AnswerKind JudgeAnswer(const uint8_t reply[NtpPacketSize], const NtpTimestamp& arrival, RequestLog* log,
                       uint32_t maxDelayMs, int32_t timeShiftSeconds, AnswerMeasure* measure);

// Values that status line 12306 shows for a reply that is not a server's
// answer in a format this client knows.
enum InvalidReplyReason {
    InvalidLength = 1,   // a datagram of another length than 48 bytes
    InvalidMode = 2,     // not Mode 4 (server)
    InvalidVersion = 3,  // a version other than 1 to 4
    InvalidTransmit = 4, // a transmit timestamp of 0
};

// Local time of the last successful clock setting in this run; all fields 0
// (tm_year 0) while there has been none.
extern struct tm LastSyncTime;

// LastSyncTime as "YYYY-MM-DD HH:MM:SS" in a buffer that each call
// overwrites, or nullptr while there has been none.
const char* GetLastSyncText();
