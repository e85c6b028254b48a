#include "service_schedule.h"

#include <cstring>

#include "server_kiss.h"

namespace {

uint64_t Minutes(uint32_t minutes)
{
    return uint64_t(minutes) * MinuteMs;
}

uint64_t Later(uint64_t a, uint64_t b)
{
    return a > b ? a : b;
}

// The next attempt from the state after the last one; the kiss codes come
// before the backoff, the backoff before the interval.
void PlanNext(ServiceSchedule* schedule, uint64_t now)
{
    if (!schedule->sync || schedule->denied) {
        schedule->nextMs = NoAttempt;
    } else if (!schedule->attempted) {
        schedule->nextMs = now + StartDelayMs;
    } else if (schedule->rateHoldMinutes) {
        schedule->nextMs = schedule->lastStartMs + Minutes(schedule->rateHoldMinutes);
    } else if (schedule->backoffMinutes) {
        const uint32_t wait = schedule->backoffMinutes < schedule->intervalMinutes ? schedule->backoffMinutes
                                                                                   : schedule->intervalMinutes;
        schedule->nextMs = schedule->lastStartMs + Minutes(wait);
    } else {
        schedule->nextMs = schedule->lastStartMs + Minutes(schedule->intervalMinutes);
    }
}

void ForgetServer(ServiceSchedule* schedule, const char* server)
{
    CopyServerName(schedule->server, server);
    schedule->backoffMinutes = 0;
    schedule->rateHoldMinutes = 0;
    schedule->denied = false;
    schedule->dropped = 0;
}

// Zero would ask the server in a tight loop.
uint32_t SaneInterval(uint32_t minutes)
{
    return minutes >= 1 && minutes <= 1440 ? minutes : 30;
}

} // namespace

void ScheduleStart(ServiceSchedule* schedule, uint64_t now, bool sync, uint32_t intervalMinutes,
                   const char* server)
{
    memset(schedule, 0, sizeof *schedule);
    schedule->sync = sync;
    schedule->intervalMinutes = SaneInterval(intervalMinutes);
    ForgetServer(schedule, server);
    PlanNext(schedule, now);
}

void ScheduleSettingsChanged(ServiceSchedule* schedule, uint64_t now, bool sync, uint32_t intervalMinutes,
                             const char* server)
{
    intervalMinutes = SaneInterval(intervalMinutes);
    if (strncmp(schedule->server, server, sizeof schedule->server - 1) != 0) {
        schedule->sync = sync;
        schedule->intervalMinutes = intervalMinutes;
        ForgetServer(schedule, server);
        schedule->nextMs = sync ? now + StartDelayMs : NoAttempt;
        return;
    }
    // Anyone may ask for a re-read: the same settings keep a pending early
    // attempt (after a resume, or with a new server) where it is.
    if (sync == schedule->sync && intervalMinutes == schedule->intervalMinutes)
        return;
    const uint64_t pending = schedule->sync ? schedule->nextMs : NoAttempt;
    schedule->sync = sync;
    schedule->intervalMinutes = intervalMinutes;
    // Before the first attempt the start's plan stands.
    if (!schedule->attempted && sync && pending != NoAttempt)
        return;
    PlanNext(schedule, now);
    if (sync && pending < schedule->nextMs)
        schedule->nextMs = pending;
}

void ScheduleAttemptStarted(ServiceSchedule* schedule, uint64_t now)
{
    schedule->attempted = true;
    schedule->lastStartMs = now;
    schedule->nextMs = NoAttempt; // planned again when it ends
}

void ScheduleAttemptEnded(ServiceSchedule* schedule, AttemptOutcome outcome)
{
    switch (outcome) {
    case OutcomeAnswered:
        schedule->backoffMinutes = 0;
        schedule->rateHoldMinutes = 0;
        break;
    case OutcomeFailed:
        // 1, 2, 4 ... minutes; PlanNext caps the wait at the interval.
        schedule->backoffMinutes = schedule->backoffMinutes == 0 ? 1
                                   : schedule->backoffMinutes >= schedule->intervalMinutes
                                       ? schedule->intervalMinutes
                                       : schedule->backoffMinutes * 2;
        break;
    case OutcomeRate:
        schedule->rateHoldMinutes = NextRateHold(schedule->rateHoldMinutes, schedule->intervalMinutes);
        break;
    case OutcomeDeny:
        schedule->denied = true;
        break;
    }
    PlanNext(schedule, schedule->lastStartMs);
}

bool ScheduleSyncNow(ServiceSchedule* schedule, uint64_t now, bool running)
{
    if (running || schedule->denied)
        return false;
    if (schedule->attempted) {
        if (now < schedule->lastStartMs + SyncNowSpacingMs)
            return false;
        // A server that asked for less is not asked sooner because a user did.
        if (schedule->rateHoldMinutes && now < schedule->lastStartMs + Minutes(schedule->rateHoldMinutes))
            return false;
    }
    // Any user may ask: at most ten times an hour keeps the machine polite.
    const uint64_t oldest = schedule->syncNowStarts[schedule->syncNowNext];
    if (oldest && now < oldest + HourMs)
        return false;
    schedule->syncNowStarts[schedule->syncNowNext] = now ? now : 1;
    schedule->syncNowNext = (schedule->syncNowNext + 1) % SyncNowPerHour;
    return true;
}

void ScheduleDropAddress(ServiceSchedule* schedule, const char* address, const char* code)
{
    const int capacity = int(sizeof schedule->droppedAddresses / sizeof schedule->droppedAddresses[0]);
    if (ScheduleAddressDropped(schedule, address) || schedule->dropped >= capacity)
        return;
    char* slot = schedule->droppedAddresses[schedule->dropped];
    strncpy(slot, address, sizeof schedule->droppedAddresses[0] - 1);
    slot[sizeof schedule->droppedAddresses[0] - 1] = '\0';
    char* kind = schedule->droppedCodes[schedule->dropped++];
    strncpy(kind, code && strcmp(code, "RSTR") == 0 ? "RSTR" : "DENY", sizeof schedule->droppedCodes[0]);
}

const char* ScheduleAddressDropped(const ServiceSchedule* schedule, const char* address)
{
    for (int i = 0; i < schedule->dropped; ++i)
        if (strncmp(schedule->droppedAddresses[i], address, sizeof schedule->droppedAddresses[0] - 1) == 0)
            return schedule->droppedCodes[i];
    return nullptr;
}

void ScheduleResumed(ServiceSchedule* schedule, uint64_t now)
{
    if (!schedule->sync || schedule->denied)
        return;
    if (schedule->attempted && now < schedule->lastStartMs + ResumeSpacingMs)
        return;
    uint64_t next = now + StartDelayMs;
    if (schedule->attempted && schedule->rateHoldMinutes)
        next = Later(next, schedule->lastStartMs + Minutes(schedule->rateHoldMinutes));
    schedule->nextMs = next;
}

uint64_t ScheduleWait(const ServiceSchedule* schedule, uint64_t now)
{
    if (schedule->nextMs == NoAttempt)
        return NoAttempt;
    return schedule->nextMs > now ? schedule->nextMs - now : 0;
}
