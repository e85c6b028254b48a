#include <gtest/gtest.h>

#include "host_seams.h"
#include "ntp_time.h"

namespace {

const uint32_t Y2000 = 3155673600u; // 2000-01-01 00:00:00 UTC

NtpTimestamp Seconds(uint32_t seconds, uint32_t fraction = 0)
{
    return NtpTimestamp(seconds, fraction);
}

TEST(NtpTimestamp, SubtractBelowZeroBorrowsAndMakeAbsoluteRestoresTheMagnitude)
{
    NtpTimestamp difference = Seconds(5);
    difference.subtract(Seconds(7, 0x80000000u)); // 5.0 - 7.5
    EXPECT_EQ(difference.seconds(), 0xFFFFFFFDu);
    EXPECT_EQ(difference.fraction(), 0x80000000u);
    EXPECT_EQ(difference.carry(), -1);
    difference.makeAbsolute();
    EXPECT_EQ(difference.seconds(), 2u);
    EXPECT_EQ(difference.fraction(), 0x80000000u);
    EXPECT_EQ(difference.carry(), 0);

    NtpTimestamp positive = Seconds(7, 0x80000000u);
    positive.subtract(Seconds(5)); // 7.5 - 5.0
    positive.makeAbsolute();
    EXPECT_EQ(positive.seconds(), 2u);
    EXPECT_EQ(positive.fraction(), 0x80000000u);
    EXPECT_EQ(positive.carry(), 0);

    // A whole negative number: negating must carry into the seconds.
    NtpTimestamp whole = Seconds(1);
    whole.subtract(Seconds(4));
    whole.makeAbsolute();
    EXPECT_EQ(whole.seconds(), 3u);
    EXPECT_EQ(whole.fraction(), 0u);

    // Only a carry of exactly -1 is a negative difference.
    NtpTimestamp twice = Seconds(0);
    twice.subtract(Seconds(0x80000000u));
    twice.subtract(Seconds(0x80000001u));
    ASSERT_EQ(twice.carry(), -2);
    const uint32_t before = twice.seconds();
    twice.makeAbsolute();
    EXPECT_EQ(twice.seconds(), before);
    EXPECT_EQ(twice.carry(), -2);
}

TEST(NtpTimestamp, AddCarriesOutOfTheFractionAndCountsWrapArounds)
{
    NtpTimestamp sum = Seconds(1, 0xC0000000u);
    sum.add(Seconds(2, 0x80000000u)); // 1.75 + 2.5
    EXPECT_EQ(sum.seconds(), 4u);
    EXPECT_EQ(sum.fraction(), 0x40000000u);
    EXPECT_EQ(sum.carry(), 0);

    NtpTimestamp wrap = Seconds(0xFFFFFFFFu, 0x40000000u);
    wrap.add(Seconds(2, 0x40000000u));
    EXPECT_EQ(wrap.seconds(), 1u);
    EXPECT_EQ(wrap.fraction(), 0x80000000u);
    EXPECT_EQ(wrap.carry(), 1);

    // The other value's carry is ignored, and a copy starts at 0.
    NtpTimestamp negative = Seconds(0);
    negative.subtract(Seconds(1));
    NtpTimestamp copy = negative;
    EXPECT_EQ(copy.carry(), 0);
    NtpTimestamp assigned;
    assigned = negative;
    EXPECT_EQ(assigned.carry(), 0);
    NtpTimestamp base = Seconds(10);
    base.add(negative);
    EXPECT_EQ(base.carry(), 1);
    EXPECT_EQ(base.seconds(), 9u);
}

TEST(NtpTimestamp, HalveShiftsTheLowestSecondIntoTheFraction)
{
    NtpTimestamp value = Seconds(3);
    value.halve();
    EXPECT_EQ(value.seconds(), 1u);
    EXPECT_EQ(value.fraction(), 0x80000000u);
    NtpTimestamp top = Seconds(0xFFFFFFFFu, 1);
    top.halve();
    EXPECT_EQ(top.seconds(), 0x7FFFFFFFu);
    EXPECT_EQ(top.fraction(), 0x80000000u);
}

TEST(NtpTimestamp, FractionConversionsTruncate)
{
    EXPECT_EQ(Seconds(0, 0xFFFFFFFFu).microseconds(), 999999u);
    EXPECT_EQ(Seconds(0, 0x80000000u).microseconds(), 500000u);
    EXPECT_EQ(Seconds(0, 0).microseconds(), 0u);

    // now() at ms 123 gives fraction 528280977, which converts back to 122 ms;
    // only multiples of 125 ms survive the round trip.
    for (unsigned ms = 0; ms < 1000; ++ms) {
        g_seams = HostSeams();
        g_seams.clockReadings = {UtcAt(Y2000, ms)};
        NtpTimestamp now = NtpTimestamp::now();
        ASSERT_EQ(now.fraction(), uint32_t((uint64_t(ms) << 32) / 1000)) << ms;
        SYSTEMTIME back;
        ASSERT_TRUE(now.toUtcSystemTime(&back));
        EXPECT_EQ(back.wMilliseconds == ms, ms % 125 == 0) << ms;
    }
    g_seams.clockReadings = {UtcAt(Y2000, 123)};
    g_seams.clockReads = 0;
    EXPECT_EQ(NtpTimestamp::now().fraction(), 528280977u);
}

TEST(NtpTimestamp, NowTakesSecondsAndMillisecondsFromOneReading)
{
    // 23:59:59.999 on the last day of a year: seconds and milliseconds must
    // belong to the same instant.
    const uint32_t newYear2027 = 4006915200u; // 2027-01-01 00:00:00 UTC
    g_seams = HostSeams();
    g_seams.clockReadings = {UtcAt(newYear2027 - 1, 999), UtcAt(newYear2027, 0)};
    NtpTimestamp before = NtpTimestamp::now();
    NtpTimestamp after = NtpTimestamp::now();
    EXPECT_EQ(before.seconds(), newYear2027 - 1);
    EXPECT_EQ(before.fraction(), uint32_t((999ull << 32) / 1000));
    EXPECT_EQ(after.seconds(), newYear2027);
    EXPECT_EQ(after.fraction(), 0u);
    EXPECT_EQ(g_seams.clockReads, 2u);
}

TEST(NtpTimestamp, CalendarConversionsReadEraZeroFrom1970AndEraOneFrom2036)
{
    setenv("TZ", "UTC", 1);
    tzset();
    SYSTEMTIME st;
    struct tm local;
    EXPECT_FALSE(Seconds(NtpEpochOffset - 1).toUtcSystemTime(&st));
    EXPECT_FALSE(Seconds(NtpEpochOffset - 1).toLocalTime(&local));

    const struct {
        uint32_t seconds, fraction;
        WORD year, month, day, hour, minute, second, ms;
    } cases[] = {
        {NtpEpochOffset, 0, 1970, 1, 1, 0, 0, 0, 0},
        {3471292800u, 0, 2010, 1, 1, 0, 0, 0, 0},
        {3849984000u, 0x80000000u, 2022, 1, 1, 0, 0, 0, 500},
        {4102444800u, 0, 2030, 1, 1, 0, 0, 0, 0},
        {4294944000u, 0, 2036, 2, 7, 0, 0, 0, 0},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 2036, 2, 7, 6, 28, 15, 999}, // the last moment of era 0
        {0, 0, 2036, 2, 7, 6, 28, 16, 0},                         // era 1 begins
        {86400u, 0, 2036, 2, 8, 6, 28, 16, 0},
        {0x7FFFFFFFu, 0, 2104, 2, 26, 9, 42, 23, 0},              // the last second read in era 1
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Seconds(c.seconds, c.fraction).toUtcSystemTime(&st)) << c.seconds;
        EXPECT_EQ(st.wYear, c.year) << c.seconds;
        EXPECT_EQ(st.wMonth, c.month) << c.seconds;
        EXPECT_EQ(st.wDay, c.day) << c.seconds;
        EXPECT_EQ(st.wHour, c.hour) << c.seconds;
        EXPECT_EQ(st.wMinute, c.minute) << c.seconds;
        EXPECT_EQ(st.wSecond, c.second) << c.seconds;
        EXPECT_EQ(st.wMilliseconds, c.ms) << c.seconds;
        EXPECT_TRUE(Seconds(c.seconds).toLocalTime(&local)) << c.seconds;
        EXPECT_EQ(local.tm_year + 1900, c.year) << c.seconds; // TZ=UTC
    }

    // Differences hold across the era boundary, either way round.
    EXPECT_EQ(DifferenceTicks(Seconds(10), Seconds(0xFFFFFFF0u)), 26 * 10000000ll);
    EXPECT_EQ(DifferenceTicks(Seconds(0xFFFFFFF0u), Seconds(10, 0x80000000u)), -265 * 1000000ll);

    // The end of era 0 read from the clock wraps like the Unix seconds do.
    g_seams = HostSeams();
    g_seams.clockReadings = {UtcAt(0xFFFFFFFFu, 0)};
    g_seams.clockReadings[0].wSecond += 1; // 06:28:16
    EXPECT_EQ(NtpTimestamp::now().seconds(), 0u);
}

TEST(NtpPacket, RequestCarriesOnlyTheHeaderByteAndTheTransmitTime)
{
    uint8_t packet[NtpPacketSize];
    memset(packet, 0xAA, sizeof packet);
    BuildNtpRequest(NtpTimestamp(Y2000, 0x80000000u), packet);
    const uint8_t transmit[8] = {0xBC, 0x17, 0xC2, 0x00, 0x80, 0x00, 0x00, 0x00};
    EXPECT_EQ(packet[0], 0x1B);
    for (int i = 1; i < NtpTransmitOffset; ++i)
        EXPECT_EQ(packet[i], 0) << i;
    EXPECT_EQ(memcmp(packet + NtpTransmitOffset, transmit, 8), 0);

    NtpTimestamp back = NtpTimestamp::fromNetwork(packet + NtpTransmitOffset);
    EXPECT_EQ(back.seconds(), Y2000);
    EXPECT_EQ(back.fraction(), 0x80000000u);
    EXPECT_EQ(back.carry(), 0);
}

} // namespace
