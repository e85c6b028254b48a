#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_seams.h"
#include "reply.h"
#include "resource.h"

namespace {

const uint32_t T = 4005626400u; // 2026-12-07 10:00:00 UTC

// The value now() yields at `ms` milliseconds past NTP second `seconds`.
NtpTimestamp At(uint32_t seconds, unsigned ms)
{
    return NtpTimestamp(seconds, uint32_t((uint64_t(ms) << 32) / 1000));
}

// `value` less `units` of 2^-32 s.
NtpTimestamp Less(NtpTimestamp value, uint32_t units)
{
    value.subtract(NtpTimestamp(0, units));
    return NtpTimestamp(value.seconds(), value.fraction());
}

// The fraction units of a span that shows as exactly `microseconds`.
uint32_t Microseconds(uint64_t microseconds)
{
    return uint32_t((microseconds << 32) / 1000000 + 1);
}

struct Reply {
    uint8_t bytes[NtpPacketSize] = {};
    Reply(uint8_t header, NtpTimestamp t1, NtpTimestamp t2, NtpTimestamp t3)
    {
        bytes[0] = header;
        bytes[1] = 2;    // stratum
        bytes[2] = 200;  // poll, shown unsigned
        bytes[3] = 0xEC; // precision, shown signed: -20
        t1.toNetwork(bytes + NtpOriginateOffset);
        t2.toNetwork(bytes + NtpReceiveOffset);
        t3.toNetwork(bytes + NtpTransmitOffset);
    }
};

class ProcessReplyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        g_seams = HostSeams();
        memset(&LastSyncTime, 0, sizeof LastSyncTime);
    }

    template <typename... Readings>
    static std::vector<NtpTimestamp> Clock(Readings... readings)
    {
        return {readings...};
    }

    // Runs one evaluation of a reply that arrived at clock[0] (T4); the
    // further times are the clock's readings after that (the one just
    // before a setting).
    bool Run(const Reply& reply, SyncRequest& request, std::vector<NtpTimestamp> clock)
    {
        for (size_t i = 1; i < clock.size(); ++i) {
            SYSTEMTIME st = UtcAt(clock[i].seconds(), 0);
            st.wMilliseconds = WORD(clock[i].microseconds() / 1000);
            g_seams.clockReadings.push_back(st);
        }
        return ProcessReply(reply.bytes, clock.empty() ? At(T, 0) : clock[0], &request);
    }

    SyncRequest Request(SyncMode mode, uint32_t maxDelay = 1000, uint32_t tolerance = 0, int32_t shift = 0)
    {
        return SyncRequest{mode, "ntp.test", maxDelay, tolerance, shift};
    }

    const std::vector<std::string>& Lines() const { return g_seams.lines; }
};

const char Header[] = "LI=0 VN=4 Mode=4 Stratum=2 Poll=200 Precision=-20";

TEST_F(ProcessReplyTest, SetsTheClockToTheServerTimeAtTheMomentOfTheSetting)
{
    // Server 100 s ahead; request out at .000, back at .250, when the server
    // reads 100.125; the clock is set at .375, when it reads 100.250.
    SyncRequest request = Request(Synchronise);
    Reply reply(0x24, At(T, 0), At(T + 100, 0), At(T + 100, 0));
    EXPECT_TRUE(Run(reply, request, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines(), (std::vector<std::string>{Header, "往復遅延 0.250秒", "時刻誤差 99.875秒",
                                                 "時刻を取得しました。 (2026/12/7 10:01:40.125)",
                                                 "時刻合わせに成功しました。"}));
    ASSERT_EQ(g_seams.clockSettings.size(), 1u);
    const SYSTEMTIME& set = g_seams.clockSettings[0];
    EXPECT_EQ(set.wYear, 2026);
    EXPECT_EQ(set.wMonth, 12);
    EXPECT_EQ(set.wDay, 7);
    EXPECT_EQ(set.wHour, 10);
    EXPECT_EQ(set.wMinute, 1);
    EXPECT_EQ(set.wSecond, 40);
    EXPECT_EQ(set.wMilliseconds, 250);
    ASSERT_NE(GetLastSyncText(), nullptr);
    EXPECT_STREQ(GetLastSyncText(), "2026-12-07 10:01:40");

    // The last setting is kept in local time: in Japan, nine hours on.
    setenv("TZ", "JST-9", 1);
    tzset();
    g_seams = HostSeams();
    request = Request(Synchronise);
    EXPECT_TRUE(Run(reply, request, Clock(At(T, 250), At(T, 375))));
    EXPECT_STREQ(GetLastSyncText(), "2026-12-07 19:01:40");
}

TEST_F(ProcessReplyTest, TimeShiftSetsTheClockBehindTheServerButRecordsTheServerTime)
{
    SyncRequest request = Request(Synchronise, 1000, 0, 60);
    Reply reply(0x24, At(T, 0), At(T + 100, 0), At(T + 100, 0));
    EXPECT_TRUE(Run(reply, request, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines()[2], "時刻誤差 39.875秒");
    EXPECT_EQ(Lines()[3], "時刻を取得しました。 (2026/12/7 10:00:40.125)");
    ASSERT_EQ(g_seams.clockSettings.size(), 1u);
    EXPECT_EQ(g_seams.clockSettings[0].wMinute, 0);
    EXPECT_EQ(g_seams.clockSettings[0].wSecond, 40);
    EXPECT_STREQ(GetLastSyncText(), "2026-12-07 10:01:40");

    // A negative shift sets the clock ahead of the server.
    g_seams = HostSeams();
    SyncRequest ahead = Request(Synchronise, 1000, 0, -300);
    EXPECT_TRUE(Run(reply, ahead, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines()[3], "時刻を取得しました。 (2026/12/7 10:06:40.125)");
}

TEST_F(ProcessReplyTest, LeapAlarmShowsTwoLinesAndReadsNoClock)
{
    SyncRequest request = Request(Synchronise);
    Reply reply(0xDC, At(T, 0), At(T, 0), At(T, 0)); // LI 3, VN 3, Mode 4
    EXPECT_FALSE(Run(reply, request, Clock()));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"LI=3 VN=3 Mode=4 Stratum=2 Poll=200 Precision=-20",
                                                 "サーバの準備ができていません。"}));
    EXPECT_EQ(g_seams.clockReads, 0u);
    EXPECT_TRUE(g_seams.clockSettings.empty());
    EXPECT_EQ(GetLastSyncText(), nullptr);
}

TEST_F(ProcessReplyTest, DelaysOfASecondOrAboveMaxDelayAreNotUsed)
{
    // 1.000 s is refused even with MaxDelay 1000.
    SyncRequest request = Request(Synchronise, 1000);
    EXPECT_FALSE(Run(Reply(0x24, At(T, 0), At(T, 0), At(T, 0)), request, Clock(At(T + 1, 0))));
    EXPECT_EQ(Lines(), (std::vector<std::string>{Header, "往復遅延 1.000秒"}));
    EXPECT_EQ(g_seams.clockReads, 0u);

    // MaxDelay 500: 0.500000 s is used, 0.500001 s is not.
    g_seams = HostSeams();
    SyncRequest edge = Request(SyncMode::Test, 500);
    EXPECT_TRUE(Run(Reply(0x24, At(T, 0), At(T, 0), At(T, 0)), edge, Clock(At(T, 500), At(T, 500))));
    EXPECT_EQ(Lines()[1], "往復遅延 0.500秒");
    EXPECT_EQ(Lines().back(), "テストは正常に完了しました。");

    g_seams = HostSeams();
    Reply slower(0x24, At(T, 0), At(T, 0), Less(At(T, 0), Microseconds(1)));
    EXPECT_FALSE(Run(slower, edge, Clock(At(T, 500))));
    EXPECT_EQ(Lines(), (std::vector<std::string>{Header, "往復遅延 0.500秒"}));

    // A server that does not echo the originate time: a century of delay.
    g_seams = HostSeams();
    EXPECT_FALSE(Run(Reply(0x24, NtpTimestamp(0, 0), At(T, 0), At(T, 0)), request, Clock(At(T, 250))));
    EXPECT_EQ(Lines()[1], "往復遅延 4005626400.250秒");
    EXPECT_TRUE(g_seams.clockSettings.empty());
}

TEST_F(ProcessReplyTest, NegativeRoundTripCountsAsNone)
{
    SyncRequest request = Request(SyncMode::Test, 1);
    // T4 before T1: the clock went back while the request was out.
    EXPECT_TRUE(Run(Reply(0x24, At(T, 500), At(T, 0), At(T, 0)), request, Clock(At(T, 250), At(T, 250))));
    EXPECT_EQ(Lines()[1], "往復遅延 0.000秒");
    EXPECT_EQ(Lines()[2], "時刻誤差 0.250秒");
}

TEST_F(ProcessReplyTest, ErrorsBelowToleranceAreLeftAlone)
{
    // Tolerance 200: 0.199999 s is left alone, 0.200000 s is corrected.
    SyncRequest request = Request(Synchronise, 1000, 200);
    const NtpTimestamp behind = Less(At(T, 0), Microseconds(199999));
    Reply small(0x24, At(T, 0), behind, behind);
    EXPECT_TRUE(Run(small, request, Clock(At(T, 0), At(T, 0))));
    EXPECT_EQ(Lines()[2], "時刻誤差 0.199秒");
    EXPECT_EQ(Lines().back(), "テストは正常に完了しました。");
    EXPECT_EQ(request.Mode, SyncMode::Test);
    EXPECT_TRUE(g_seams.clockSettings.empty());

    g_seams = HostSeams();
    request = Request(Synchronise, 1000, 200);
    const NtpTimestamp further = Less(At(T, 0), Microseconds(200000));
    Reply edge(0x24, At(T, 0), further, further);
    EXPECT_TRUE(Run(edge, request, Clock(At(T, 0), At(T, 0))));
    EXPECT_EQ(Lines()[2], "時刻誤差 0.200秒");
    EXPECT_EQ(Lines().back(), "時刻合わせに成功しました。");
    EXPECT_EQ(request.Mode, Synchronise);
    EXPECT_EQ(g_seams.clockSettings.size(), 1u);

    // Tolerance 1000 still corrects an error of one second.
    g_seams = HostSeams();
    request = Request(Synchronise, 1000, 1000);
    EXPECT_TRUE(Run(Reply(0x24, At(T, 0), At(T + 1, 0), At(T + 1, 0)), request, Clock(At(T, 0), At(T, 0))));
    EXPECT_EQ(Lines()[2], "時刻誤差 1.000秒");
    EXPECT_EQ(g_seams.clockSettings.size(), 1u);
}

TEST_F(ProcessReplyTest, TestModeNeverTouchesTheClock)
{
    g_seams.privilegeGranted = false;
    SyncRequest request = Request(SyncMode::Test);
    Reply reply(0x24, At(T, 0), At(T + 100, 0), At(T + 100, 0));
    EXPECT_TRUE(Run(reply, request, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines().size(), 5u);
    EXPECT_EQ(Lines().back(), "テストは正常に完了しました。");
    EXPECT_TRUE(g_seams.clockSettings.empty());
    EXPECT_EQ(GetLastSyncText(), nullptr);
}

TEST_F(ProcessReplyTest, FailuresToSetTheClockKeepWaiting)
{
    const std::vector<std::string> failed = {Header, "往復遅延 0.250秒", "時刻誤差 99.875秒",
                                             "時刻を取得しました。 (2026/12/7 10:01:40.125)",
                                             "時刻合わせに失敗しました。"};
    Reply reply(0x24, At(T, 0), At(T + 100, 0), At(T + 100, 0));

    g_seams.privilegeGranted = false;
    SyncRequest request = Request(Synchronise);
    EXPECT_FALSE(Run(reply, request, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines(), failed);
    EXPECT_TRUE(g_seams.clockSettings.empty());

    g_seams = HostSeams();
    g_seams.setSucceeds = false;
    EXPECT_FALSE(Run(reply, request, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines(), failed);
    EXPECT_EQ(g_seams.clockSettings.size(), 1u);
    EXPECT_EQ(GetLastSyncText(), nullptr);

    // A target before 1970 fails in either mode, before any time is shown.
    g_seams = HostSeams();
    SyncRequest test = Request(SyncMode::Test);
    Reply ancient(0x24, At(T, 0), At(1000, 0), At(1000, 0));
    EXPECT_FALSE(Run(ancient, test, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines(), (std::vector<std::string>{Header, "往復遅延 0.250秒", "時刻誤差 4005625400.125秒",
                                                 "時刻合わせに失敗しました。"}));
}

} // namespace
