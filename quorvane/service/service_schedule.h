// When the clock service asks its server: pure rules over a millisecond
// clock that keeps counting during sleep (GetTickCount64).
#pragma once

#include <cstdint>

constexpr uint64_t NoAttempt = UINT64_MAX;
constexpr uint64_t StartDelayMs = 10000;    // after the start, a resume or a new server
constexpr uint64_t SyncNowSpacingMs = 60000; // "synchronise now" at most this often
constexpr int SyncNowPerHour = 10;           // and at most this many in any hour
constexpr uint64_t HourMs = 3600000;
constexpr uint64_t MinuteMs = 60000;
constexpr uint64_t ResumeSpacingMs = 15 * 60000; // a resume asks only if the last attempt is older

// How an attempt ended, as far as the schedule cares.
enum AttemptOutcome {
    OutcomeAnswered, // the server's answer was used (clock set or left within tolerance)
    OutcomeFailed,   // no usable answer: no network, no server, no valid reply, clock not set
    OutcomeRate,     // kiss code RATE
    OutcomeDeny,     // kiss code DENY or RSTR
};

struct ServiceSchedule {
    bool sync;                 // automatic synchronisation on
    uint32_t intervalMinutes;  // 1 to 1440
    char server[256];          // the server the kiss and backoff state belong to
    bool attempted;            // an attempt has started since the service started
    uint64_t lastStartMs;      // when the last attempt started
    uint32_t backoffMinutes;   // wait after the last failure; 0 after an answer
    uint32_t rateHoldMinutes;  // wait imposed by RATE; 0 once the server answers
    bool denied;               // DENY or RSTR from every address: no attempt against `server`
    uint64_t nextMs;           // the next scheduled attempt, or NoAttempt
    uint64_t syncNowStarts[SyncNowPerHour]; // the user's attempts, oldest overwritten first
    int syncNowNext;
    char droppedAddresses[8][64]; // addresses of `server` that sent DENY or RSTR
    char droppedCodes[8][5];      // and which of the two
    int dropped;
};

// The service starts: the first attempt 10 s later while Sync is on.
void ScheduleStart(ServiceSchedule* schedule, uint64_t now, bool sync, uint32_t intervalMinutes,
                   const char* server);
// The settings were read again: a new server forgets the kiss codes and the
// backoff and is asked 10 s later; the same settings change nothing; a
// changed interval or Sync is counted from the last attempt, but never puts
// a pending attempt off (Sync turned off cancels it).
void ScheduleSettingsChanged(ServiceSchedule* schedule, uint64_t now, bool sync, uint32_t intervalMinutes,
                             const char* server);
void ScheduleAttemptStarted(ServiceSchedule* schedule, uint64_t now);
void ScheduleAttemptEnded(ServiceSchedule* schedule, AttemptOutcome outcome);
// "Synchronise now": true (and counted) when an attempt may start at once:
// none running, none started in the last minute, fewer than ten asked for
// in the last hour, and no kiss code in the way. A failure's backoff does
// not hold it back.
bool ScheduleSyncNow(ServiceSchedule* schedule, uint64_t now, bool running);
// An address of the server sent DENY or RSTR: it is not asked again until
// the service restarts or the server setting changes.
void ScheduleDropAddress(ServiceSchedule* schedule, const char* address, const char* code);
// The code ("DENY" or "RSTR") of a dropped address, or null.
const char* ScheduleAddressDropped(const ServiceSchedule* schedule, const char* address);
// The system resumed from sleep: an attempt 10 s later, as the codes allow,
// when the last one started more than 15 minutes ago (Modern Standby wakes a
// PC many times an hour); otherwise the plan stands.
void ScheduleResumed(ServiceSchedule* schedule, uint64_t now);
// Milliseconds until the next scheduled attempt (0: due), or NoAttempt.
uint64_t ScheduleWait(const ServiceSchedule* schedule, uint64_t now);
