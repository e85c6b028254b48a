#include <gtest/gtest.h>

#include "main_window.h"

#include <vector>

namespace {

SYSTEMTIME At(WORD second, WORD milliseconds)
{
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 12;
    time.wDay = 7;
    time.wHour = 12;
    time.wMinute = 34;
    time.wSecond = second;
    time.wMilliseconds = milliseconds;
    return time;
}

TEST(Scheduler, TheMinuteTimerAimsAtTheNextMinuteBoundary)
{
    EXPECT_EQ(MillisecondsToNextMinute(At(56, 789)), 3211u);
    EXPECT_EQ(MillisecondsToNextMinute(At(0, 0)), 60000u);
    EXPECT_EQ(MillisecondsToNextMinute(At(59, 999)), 1u);
    EXPECT_EQ(MillisecondsToNextMinute(At(9, 500)), 50500u);
}

// The ticks (1-based) on which attempts start.
std::vector<int> AttemptTicks(LONG interval, int ticks, int disconnectedTick = 0)
{
    std::vector<int> started;
    LONG minutesSinceSync = -1;
    for (int tick = 1; tick <= ticks; ++tick) {
        if (SyncTickStartsAttempt(&minutesSinceSync, tick != disconnectedTick, interval))
            started.push_back(tick);
    }
    return started;
}

TEST(Scheduler, AttemptsStartAtOnceThenEveryIntervalTicks)
{
    EXPECT_EQ(AttemptTicks(30, 70), (std::vector<int>{1, 31, 61}));
    EXPECT_EQ(AttemptTicks(1, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(AttemptTicks(0, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(AttemptTicks(-5, 3), (std::vector<int>{1, 2, 3}));
    // A tick without a connection: the next connected tick starts at once,
    // and counting starts again from there.
    EXPECT_EQ(AttemptTicks(30, 50, 10), (std::vector<int>{1, 11, 41}));
}

} // namespace
