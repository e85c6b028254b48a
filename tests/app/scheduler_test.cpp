#include <gtest/gtest.h>

#include "main_window.h"

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

} // namespace
