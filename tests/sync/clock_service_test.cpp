// The clock service's schedule, and the command line that carries its
// settings to an elevated copy of quorvane.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "answer_selection.h"
#include "machine_values.h"
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
        {"now within the backoff, a minute after the start: yes", 70 * S, Step::SyncNow, 1, "a", 10 * S + 1 * M},
        {"then 2", 10 * S + 1 * M, Step::End, OutcomeFailed, "a", 10 * S + 3 * M},
        {"then 4", 10 * S + 3 * M, Step::End, OutcomeFailed, "a", 10 * S + 7 * M},
        {"the interval bounds it", 10 * S + 7 * M, Step::End, OutcomeFailed, "a", 10 * S + 12 * M},
        {"still the interval", 10 * S + 12 * M, Step::End, OutcomeFailed, "a", 10 * S + 17 * M},
        {"an answer: every interval", 10 * S + 17 * M, Step::End, OutcomeAnswered, "a", 10 * S + 22 * M},
        {"the same settings again change nothing", 15 * S + 17 * M, Step::Settings, 5, "a", 10 * S + 22 * M},
        {"now, 59 s after the last start: no", 9 * S + 18 * M, Step::SyncNow, 0, "a", 10 * S + 22 * M},
        {"now, 60 s after it: yes", 10 * S + 18 * M, Step::SyncNow, 1, "a", 10 * S + 22 * M},
        {"a longer interval never puts a pending attempt off", 30 * S + 18 * M, Step::Settings, 10, "a",
         10 * S + 22 * M},
        {"a resume 90 s after the last start: the plan stands", 40 * S + 18 * M, Step::Resume, 0, "a",
         10 * S + 22 * M},
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
        {"a resume over 15 minutes after the last start: 10 s later", 11 * S + 108 * M, Step::Resume, 0, "b",
         21 * S + 108 * M},
        {"the same settings keep the resume's attempt", 12 * S + 108 * M, Step::Settings, 30, "b", 21 * S + 108 * M},
        {"a longer interval does not put it off", 13 * S + 108 * M, Step::Settings, 60, "b", 21 * S + 108 * M},
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

    // Re-reading unchanged settings never puts off the first attempt.
    ScheduleStart(&schedule, T0, true, 30, "a");
    for (int i = 1; i <= 5; ++i)
        ScheduleSettingsChanged(&schedule, T0 + i * 3 * S, true, 30, "a");
    EXPECT_EQ(ScheduleWait(&schedule, T0 + 9 * S), 1 * S);

    // A user may ask ten times in any hour, each a minute after the last start.
    ScheduleStart(&schedule, T0, true, 30, "a");
    uint64_t at = T0;
    for (int i = 0; i < 10; ++i, at += 61 * S) {
        ASSERT_TRUE(ScheduleSyncNow(&schedule, at, false)) << i;
        ScheduleAttemptStarted(&schedule, at);
        ScheduleAttemptEnded(&schedule, OutcomeFailed);
    }
    EXPECT_FALSE(ScheduleSyncNow(&schedule, at, false)) << "the eleventh within the hour";
    EXPECT_TRUE(ScheduleSyncNow(&schedule, T0 + 60 * M, false)) << "an hour after the first";

    // DENY from one address drops that address only, until the server changes.
    ScheduleDropAddress(&schedule, "127.0.0.2", "RSTR");
    ScheduleDropAddress(&schedule, "127.0.0.2", "DENY");
    ASSERT_TRUE(ScheduleAddressDropped(&schedule, "127.0.0.2"));
    EXPECT_STREQ(ScheduleAddressDropped(&schedule, "127.0.0.2"), "RSTR"); // as it was said first
    EXPECT_FALSE(ScheduleAddressDropped(&schedule, "127.0.0.3"));
    EXPECT_EQ(schedule.dropped, 1);
    ScheduleSettingsChanged(&schedule, T0 + 70 * M, true, 30, "a");
    EXPECT_TRUE(ScheduleAddressDropped(&schedule, "127.0.0.2"));
    ScheduleSettingsChanged(&schedule, T0 + 71 * M, true, 30, "b");
    EXPECT_FALSE(ScheduleAddressDropped(&schedule, "127.0.0.2"));

    // Started with Sync off: nothing until the settings turn it on.
    ScheduleStart(&schedule, T0, false, 30, "a");
    EXPECT_EQ(ScheduleWait(&schedule, T0), NoAttempt);
    EXPECT_TRUE(ScheduleSyncNow(&schedule, T0, false)); // a user's request still runs
    ScheduleSettingsChanged(&schedule, T0 + M, true, 30, "a");
    EXPECT_EQ(ScheduleWait(&schedule, T0 + M), 10 * S);
}

TEST(AnswerSelection, BelievesOnlyAMajorityThatAgreesAndStepsFarOnlyOnTwoAddresses)
{
    const int64_t Ms = 10000, Sec = 10000000;
    const uint64_t Build = 134116992000000000ull; // 2026-01-01
    const ClockFacts after = {Build + 86400ull * Sec, Build}, before = {Build - 1800ull * Sec, Build};
    // An era-0 time near 1900 read in era 1: just past 2036-02-07.
    const int64_t toEra1 = int64_t(Era1Start - before.clock) + Sec;
    const struct {
        const char* what;
        std::vector<UsableAnswer> answers; // offset, delay
        ClockFacts facts;
        SelectionOutcome outcome;
        int truechimers, chosen;
        std::vector<bool> truechimer;
    } cases[] = {
        {"none", {}, after, SelectionNone, 0, -1, {}},
        {"one", {{300 * Ms, 4 * Ms}}, after, SelectionChosen, 1, 0, {true}},
        {"three agree: the smallest delay", {{300 * Ms, 4 * Ms}, {310 * Ms, 2 * Ms}, {290 * Ms, 3 * Ms}}, after,
         SelectionChosen, 3, 1, {true, true, true}},
        {"two agree, one 100 s off", {{300 * Ms, 4 * Ms}, {100 * Sec, 1 * Ms}, {305 * Ms, 3 * Ms}}, after,
         SelectionChosen, 2, 2, {true, false, true}},
        {"one against one", {{300 * Ms, 4 * Ms}, {100 * Sec, 4 * Ms}}, after, SelectionNoAgreement, 0, -1,
         {false, false}},
        {"two pairs", {{0, 0}, {0, 0}, {10 * Sec, 0}, {10 * Sec, 0}}, after, SelectionNoAgreement, 0, -1,
         {false, false, false, false}},
        {"intervals that touch agree", {{0, 0}, {50 * Ms, 0}}, after, SelectionChosen, 2, 0, {true, true}},
        {"a hair apart they do not", {{0, 0}, {50 * Ms + 1, 0}}, after, SelectionNoAgreement, 0, -1, {false, false}},
        {"a wide delay widens the interval", {{0, 0}, {150 * Ms, 200 * Ms}}, after, SelectionChosen, 2, 0,
         {true, true}},
        {"a delay tie: the first", {{300 * Ms, 3 * Ms}, {301 * Ms, 3 * Ms}}, after, SelectionChosen, 2, 0,
         {true, true}},
        {"-2 ms counts as 0: no better than an honest 0", {{301 * Ms, 0}, {300 * Ms, -2 * Ms}, {299 * Ms, 1 * Ms}},
         after, SelectionChosen, 3, 0, {true, true, true}},
        {"-2 ms does not narrow the interval", {{0, 0}, {50 * Ms, -2 * Ms}}, after, SelectionChosen, 2, 0,
         {true, true}},
        {"one source 3600 s ahead", {{3600 * Sec, 3 * Ms}}, after, SelectionStepTooLarge, 1, 0, {true}},
        {"one source 3600 s behind", {{-3600 * Sec, 3 * Ms}}, after, SelectionStepTooLarge, 1, 0, {true}},
        {"two agree on 3600 s", {{3600 * Sec, 3 * Ms}, {3600 * Sec + 5 * Ms, 2 * Ms}}, after, SelectionChosen, 2, 1,
         {true, true}},
        {"a clock before the build, forward past it", {{3600 * Sec, 3 * Ms}}, before, SelectionChosen, 1, 0, {true}},
        {"a clock before the build, forward but not up to it", {{1200 * Sec, 3 * Ms}}, before,
         SelectionStepTooLarge, 1, 0, {true}},
        {"a clock before the build, backward", {{-3600 * Sec, 3 * Ms}}, before, SelectionStepTooLarge, 1, 0,
         {true}},
        {"a clock before the build, one source into era 1", {{toEra1, 3 * Ms}}, before, SelectionStepTooLarge, 1, 0,
         {true}},
        {"two sources into era 1", {{toEra1, 3 * Ms}, {toEra1, 2 * Ms}}, before, SelectionChosen, 2, 1,
         {true, true}},
        {"1000 s is not yet too far", {{1000 * Sec, 3 * Ms}}, after, SelectionChosen, 1, 0, {true}},
    };
    for (const auto& c : cases) {
        const Selection s = SelectAnswer(c.answers.data(), int(c.answers.size()), c.facts);
        EXPECT_EQ(s.outcome, c.outcome) << c.what;
        EXPECT_EQ(s.truechimers, c.truechimers) << c.what;
        EXPECT_EQ(s.chosen, c.chosen) << c.what;
        for (size_t i = 0; i < c.truechimer.size(); ++i)
            EXPECT_EQ(s.truechimer[i], c.truechimer[i]) << c.what << " #" << i;
    }

    // The time set is the server's carried forward by the counter; a clock
    // that moved against the counter by more than 100 ms is not set.
    const uint64_t arrival = after.clock, counter = 5000 * Sec;
    uint64_t target = 0;
    ASSERT_TRUE(CarryForward(arrival, counter, 300 * Ms, arrival + 2 * Sec, counter + 2 * Sec, &target));
    EXPECT_EQ(target, arrival + 300 * Ms + 2 * Sec);
    ASSERT_TRUE(CarryForward(arrival, counter, 300 * Ms, arrival + 2 * Sec + 100 * Ms, counter + 2 * Sec, &target));
    EXPECT_EQ(target, arrival + 300 * Ms + 2 * Sec); // the counter's time, not the clock's
    EXPECT_FALSE(CarryForward(arrival, counter, 300 * Ms, arrival + 2 * Sec + 101 * Ms, counter + 2 * Sec, &target));
    EXPECT_FALSE(CarryForward(arrival, counter, 300 * Ms, arrival + 3600 * Sec, counter + 2 * Sec, &target));
    EXPECT_FALSE(CarryForward(arrival, counter, 300 * Ms, arrival - 3600 * Sec, counter + 2 * Sec, &target));
}

TEST(MachineArguments, CarryAnyServerNameAsHexAndAcceptOnlyWhatTheDialogsAccept)
{
    MachineSettings settings = {"", 1, 30, 500, 200, -300};
    // Spaces, quotes, a switch, and 表 (whose trail byte is 0x5C).
    const char server[] = "a \"b\" /machine-settings \x95\x5c";
    strcpy(settings.Server, server);
    char arguments[600];
    ASSERT_TRUE(EncodeMachineArguments(settings, arguments, sizeof arguments));
    EXPECT_EQ(std::string(arguments).find_first_not_of("0123456789abcdef "), std::string::npos);
    MachineSettings back = {};
    ASSERT_TRUE(DecodeMachineArguments(arguments, &back));
    EXPECT_STREQ(back.Server, server);
    EXPECT_EQ(back.TimeShift, -300);
    EXPECT_EQ(back.SyncInterval, 30);

    // The longest server name fits; the buffer must hold it.
    memset(settings.Server, 'x', 255);
    settings.Server[255] = '\0';
    ASSERT_TRUE(EncodeMachineArguments(settings, arguments, sizeof arguments));
    EXPECT_TRUE(DecodeMachineArguments(arguments, &back));
    EXPECT_FALSE(EncodeMachineArguments(settings, arguments, 100));

    const std::string ok = "6100 00000001 0000001e 000001f4 000000c8 00000000";
    ASSERT_TRUE(DecodeMachineArguments(ok.c_str(), &back));
    const char* bad[] = {
        "",                                                   // nothing
        "6100 00000001 0000001e 000001f4 000000c8",           // a value missing
        "6100 00000001 0000001e 000001f4 000000c8 00000000 00", // one too many
        "61 00000001 0000001e 000001f4 000000c8 00000000",    // no final 00
        "610000 00000001 0000001e 000001f4 000000c8 00000000", // a NUL inside
        "6g00 00000001 0000001e 000001f4 000000c8 00000000",  // not hex
        "6100 00000002 0000001e 000001f4 000000c8 00000000",  // Sync neither 0 nor 1
        "6100 00000001 00000000 000001f4 000000c8 00000000",  // interval 0
        "6100 00000001 000005a1 000001f4 000000c8 00000000",  // interval 1441
        "6100 00000001 0000001e 00000000 000000c8 00000000",  // MaxDelay 0
        "6100 00000001 0000001e 000001f4 000003e9 00000000",  // Tolerance 1001
        "6100 00000001 0000001e 000001f4 000000c8 fffffed3",  // TimeShift -301
        "6100 00000001 0000001e 000001f4 000000c8 0000012",   // 7 digits
    };
    for (const char* arguments : bad)
        EXPECT_FALSE(DecodeMachineArguments(arguments, &back)) << arguments;
    // A server of 256 bytes is too long.
    std::string longServer(2 * 256, '7');
    EXPECT_FALSE(DecodeMachineArguments((longServer + "00" + ok.substr(4)).c_str(), &back));
}

} // namespace
