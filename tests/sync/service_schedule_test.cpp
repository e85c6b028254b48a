// The clock service's schedule, minute by minute.
#include <gtest/gtest.h>

#include "service_schedule.h"

namespace {

const uint64_t S = 1000, M = MinuteMs;
const uint64_t T0 = 5 * M; // the service starts at an arbitrary tick

struct Step {
    const char* what;
    uint64_t at;  // ms after T0
    enum { End, SyncNow, Settings, Resume } event;
    int detail;   // AttemptOutcome for End; for Settings: interval; for SyncNow: expected answer
    const char* server;
    uint64_t next; // expected ms after T0 of the next attempt (NoAttempt: none)
};

TEST(ServiceSchedule, AttemptsBackOffHonourKissCodesAndAnswerTheTwoControls)
{
    const Step steps[] = {
        {"failure: 1 minute", 10 * S, Step::End, OutcomeFailed, "a", 10 * S + 1 * M},
        {"then 2", 10 * S + 1 * M, Step::End, OutcomeFailed, "a", 10 * S + 3 * M},
        {"then 4", 10 * S + 3 * M, Step::End, OutcomeFailed, "a", 10 * S + 7 * M},
        {"the interval bounds it", 10 * S + 7 * M, Step::End, OutcomeFailed, "a", 10 * S + 12 * M},
        {"still the interval", 10 * S + 12 * M, Step::End, OutcomeFailed, "a", 10 * S + 17 * M},
        {"an answer: every interval", 10 * S + 17 * M, Step::End, OutcomeAnswered, "a", 10 * S + 22 * M},
        {"now, 10 s after the last start: no", 20 * S + 17 * M, Step::SyncNow, 0, "a", 10 * S + 22 * M},
        {"now, 15 s after it: yes", 25 * S + 17 * M, Step::SyncNow, 1, "a", 10 * S + 22 * M},
        {"a longer interval counts from the last start", 30 * S + 17 * M, Step::Settings, 10, "a", 10 * S + 27 * M},
        {"resume: 10 s later", 40 * S + 18 * M, Step::Resume, 0, "a", 50 * S + 18 * M},
        {"RATE: twice the interval", 50 * S + 18 * M, Step::End, OutcomeRate, "a", 50 * S + 38 * M},
        {"now does not bypass RATE", 10 * S + 19 * M, Step::SyncNow, 0, "a", 50 * S + 38 * M},
        {"RATE again: twice that", 50 * S + 38 * M, Step::End, OutcomeRate, "a", 50 * S + 78 * M},
        {"resume waits for RATE", 0 + 40 * M, Step::Resume, 0, "a", 50 * S + 78 * M},
        {"DENY: no more attempts", 50 * S + 78 * M, Step::End, OutcomeDeny, "a", NoAttempt},
        {"nor on request", 90 * M, Step::SyncNow, 0, "a", NoAttempt},
        {"nor after a resume", 91 * M, Step::Resume, 0, "a", NoAttempt},
        {"same server re-read: still none", 92 * M, Step::Settings, 10, "a", NoAttempt},
        {"a new server: 10 s later, codes forgotten", 93 * M, Step::Settings, 10, "b", 10 * S + 93 * M},
        {"its answer: every interval", 10 * S + 93 * M, Step::End, OutcomeAnswered, "b", 10 * S + 103 * M},
        {"Sync off: nothing scheduled", 95 * M, Step::Settings, 0, "b", NoAttempt},
        {"interval 0 counts as 30", 96 * M, Step::Settings, -1, "b", 10 * S + 123 * M},
    };
    ServiceSchedule schedule;
    ScheduleStart(&schedule, T0, true, 5, "a");
    ASSERT_EQ(ScheduleWait(&schedule, T0), 10 * S);
    for (const Step& step : steps) {
        const uint64_t now = T0 + step.at;
        switch (step.event) {
        case Step::End:
            ScheduleAttemptStarted(&schedule, now);
            EXPECT_EQ(ScheduleWait(&schedule, now), NoAttempt) << step.what; // none while one runs
            ScheduleAttemptEnded(&schedule, AttemptOutcome(step.detail));
            break;
        case Step::SyncNow:
            EXPECT_EQ(ScheduleSyncNow(&schedule, now, false), step.detail == 1) << step.what;
            EXPECT_FALSE(ScheduleSyncNow(&schedule, now, true)) << step.what; // never beside a running one
            break;
        case Step::Settings:
            ScheduleSettingsChanged(&schedule, now, step.detail != 0, step.detail < 0 ? 0 : uint32_t(step.detail),
                                    step.server);
            break;
        case Step::Resume:
            ScheduleResumed(&schedule, now);
            break;
        }
        const uint64_t wait = ScheduleWait(&schedule, now);
        EXPECT_EQ(wait == NoAttempt ? NoAttempt : now + wait - T0, step.next) << step.what;
    }

    // Started with Sync off: nothing until the settings turn it on.
    ScheduleStart(&schedule, T0, false, 30, "a");
    EXPECT_EQ(ScheduleWait(&schedule, T0), NoAttempt);
    EXPECT_TRUE(ScheduleSyncNow(&schedule, T0, false)); // a user's request still runs
    ScheduleSettingsChanged(&schedule, T0 + M, true, 30, "a");
    EXPECT_EQ(ScheduleWait(&schedule, T0 + M), 10 * S);
}

} // namespace
