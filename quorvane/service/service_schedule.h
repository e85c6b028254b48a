// When the clock service asks its server: pure rules over a millisecond
// clock that keeps counting during sleep (GetTickCount64).
#pragma once

#include <cstdint>

constexpr uint64_t NoAttempt = UINT64_MAX;
constexpr uint64_t StartDelayMs = 10000;    // after the start, a resume or a new server
constexpr uint64_t SyncNowSpacingMs = 15000; // "synchronise now" at most this often
constexpr uint64_t MinuteMs = 60000;

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
    bool denied;               // DENY or RSTR: no attempt against `server`
    uint64_t nextMs;           // the next scheduled attempt, or NoAttempt
};

// The service starts: the first attempt 10 s later while Sync is on.
void ScheduleStart(ServiceSchedule* schedule, uint64_t now, bool sync, uint32_t intervalMinutes,
                   const char* server);
// The settings were read again: a new server forgets the kiss codes and the
// backoff and is asked 10 s later; otherwise the plan stands, with a changed
// interval counted from the last attempt.
void ScheduleSettingsChanged(ServiceSchedule* schedule, uint64_t now, bool sync, uint32_t intervalMinutes,
                             const char* server);
void ScheduleAttemptStarted(ServiceSchedule* schedule, uint64_t now);
void ScheduleAttemptEnded(ServiceSchedule* schedule, AttemptOutcome outcome);
// "Synchronise now": true when an attempt may start at once: none running,
// none started in the last 15 s, and no kiss code in the way.
bool ScheduleSyncNow(const ServiceSchedule* schedule, uint64_t now, bool running);
// The system resumed from sleep: an attempt 10 s later, as the codes allow.
void ScheduleResumed(ServiceSchedule* schedule, uint64_t now);
// Milliseconds until the next scheduled attempt (0: due), or NoAttempt.
uint64_t ScheduleWait(const ServiceSchedule* schedule, uint64_t now);
