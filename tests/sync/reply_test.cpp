#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_seams.h"
#include "reply.h"
#include "resource.h"
#include "server_kiss.h"

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

const uint8_t Nonce[8] = {0x9C, 0x41, 0x07, 0xE2, 0x5B, 0x00, 0xD3, 0x18};

// A reply that echoes Nonce, answering a request sent at T1.
struct Reply {
    uint8_t bytes[NtpPacketSize] = {};
    NtpTimestamp sentAt;
    Reply(uint8_t header, NtpTimestamp t1, NtpTimestamp t2, NtpTimestamp t3) : sentAt(t1)
    {
        bytes[0] = header;
        bytes[1] = 2;    // stratum
        bytes[2] = 200;  // poll, shown unsigned
        bytes[3] = 0xEC; // precision, shown signed: -20
        memcpy(bytes + NtpOriginateOffset, Nonce, sizeof Nonce);
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
        RequestLog log = {};
        LogRequest(&log, Nonce, reply.sentAt);
        return Verdict(reply, request, clock, &log) == ReplyFinished;
    }

    ReplyVerdict Verdict(const Reply& reply, SyncRequest& request, std::vector<NtpTimestamp> clock, RequestLog* log)
    {
        for (size_t i = 1; i < clock.size(); ++i) {
            SYSTEMTIME st = UtcAt(clock[i].seconds(), 0);
            st.wMilliseconds = WORD(clock[i].microseconds() / 1000);
            g_seams.clockReadings.push_back(st);
        }
        return ProcessReply(reply.bytes, clock.empty() ? At(T, 0) : clock[0], log, &request);
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
}

TEST_F(ProcessReplyTest, NegativeRoundTripCountsAsNone)
{
    SyncRequest request = Request(SyncMode::Test, 1);
    // T4 before T1: the clock went back while the request was out.
    EXPECT_TRUE(Run(Reply(0x24, At(T, 500), At(T, 0), At(T, 0)), request, Clock(At(T, 250), At(T, 250))));
    EXPECT_EQ(Lines()[1], "往復遅延 0.000秒");
    EXPECT_EQ(Lines()[2], "時刻誤差 0.250秒");
}

TEST_F(ProcessReplyTest, TheServiceJudgesEachAnswerAloneInEitherEraAndRefusesANegativeRoundTrip)
{
    const uint32_t Era1 = 86400;        // 2036-02-08 06:28:16 UTC
    const uint32_t Y2030 = 4102444800u; // 2030-01-01
    const int64_t Ms = 10000;
    const struct {
        const char* what;
        uint8_t header, stratum;
        NtpTimestamp t1, t2, t3, t4;
        int32_t shift;
        AnswerKind kind;
        int64_t offset, delay;
        const char* why;
    } cases[] = {
        {"2036-02-08, 0.3 s ahead", 0x24, 2, At(Era1, 0), At(Era1, 302), At(Era1, 302), At(Era1, 4), 0, AnswerUsable,
         300 * Ms, 4 * Ms, ""},
        {"2030, 0.3 s behind", 0x24, 2, At(Y2030, 0), At(Y2030 - 1, 702), At(Y2030 - 1, 702), At(Y2030, 4), 0,
         AnswerUsable, -300 * Ms, 4 * Ms, ""},
        {"across the end of era 0", 0x24, 2, At(0xFFFFFFFFu, 900), At(0, 200), At(0, 200), At(0, 0), 0, AnswerUsable,
         250 * Ms, 100 * Ms, ""},
        {"a shift of 10 s", 0x24, 2, At(T, 0), At(T, 302), At(T, 302), At(T, 4), 10, AnswerUsable, -9700 * Ms,
         4 * Ms, ""},
        {"a round trip of -1 ms is reading noise", 0x24, 2, At(T, 0), At(T, 0), At(T, 3), At(T, 2), 0, AnswerUsable,
         5000, -1 * Ms, ""},
        {"a round trip of -3 ms is a lie", 0x24, 2, At(T, 0), At(T, 0), At(T, 5), At(T, 2), 0, AnswerUnusable, 0, 0,
         "delay -3 ms"},
        {"above MaxDelay", 0x24, 2, At(T, 0), At(T, 0), At(T, 0), At(T, 151), 0, AnswerSlow, 0, 0,
         "delay 150 ms"},
        {"LI 3", 0xE4, 2, At(T, 0), At(T, 0), At(T, 0), At(T, 1), 0, AnswerUnusable, 0, 0, "LI 3"},
        {"stratum 16", 0x24, 16, At(T, 0), At(T, 0), At(T, 0), At(T, 1), 0, AnswerUnusable, 0, 0, "Stratum 16"},
        {"client mode", 0x23, 2, At(T, 0), At(T, 0), At(T, 0), At(T, 1), 0, AnswerUnusable, 0, 0, "Mode 3"},
        {"a kiss code", 0xE4, 0, At(T, 0), At(T, 0), At(T, 0), At(T, 1), 0, AnswerKissRate, 0, 0, "RATE"},
    };
    for (const auto& c : cases) {
        Reply reply(c.header, c.t1, c.t2, c.t3);
        reply.bytes[1] = c.stratum;
        if (c.stratum == 0)
            memcpy(reply.bytes + 12, "RATE", 4);
        RequestLog log = {};
        LogRequest(&log, Nonce, c.t1);
        AnswerMeasure measure;
        ASSERT_EQ(JudgeAnswer(reply.bytes, c.t4, &log, 100, c.shift, &measure), c.kind) << c.what;
        EXPECT_STREQ(measure.why, c.why) << c.what;
        if (c.kind == AnswerUsable) {
            EXPECT_NEAR(double(measure.offset), double(c.offset), 2) << c.what;
            EXPECT_NEAR(double(measure.delay), double(c.delay), 2) << c.what;
            EXPECT_EQ(measure.arrival, c.t4.toFileTime()) << c.what;
        }
        // The same answer again is a replay.
        EXPECT_EQ(JudgeAnswer(reply.bytes, c.t4, &log, 100, c.shift, &measure), AnswerIgnored) << c.what;
    }
    EXPECT_TRUE(Lines().empty()); // the service shows its own lines
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

    // A target before 1970 (1968, the start of what is read as era 0) fails
    // in either mode, before any time is shown.
    g_seams = HostSeams();
    SyncRequest test = Request(SyncMode::Test);
    Reply ancient(0x24, At(T, 0), At(0x80000000u + 1000, 0), At(0x80000000u + 1000, 0));
    EXPECT_FALSE(Run(ancient, test, Clock(At(T, 250), At(T, 375))));
    EXPECT_EQ(Lines(), (std::vector<std::string>{Header, "往復遅延 0.250秒", "時刻誤差 1858141752.125秒",
                                                 "時刻合わせに失敗しました。"}));

    // While the PC reads a time before 2030, a time in era 1 (2036 on; an
    // era-0 time near 1900 read the other way) fails the same way.
    g_seams = HostSeams();
    SyncRequest sync = Request(Synchronise);
    Reply era1(0x24, At(T, 0), At(1000, 0), At(1000, 0));
    EXPECT_FALSE(Run(era1, sync, Clock(At(T, 250), At(T, 375))));
    ASSERT_EQ(Lines().size(), 4u);
    EXPECT_EQ(Lines().back(), "時刻合わせに失敗しました。");
    EXPECT_TRUE(g_seams.clockSettings.empty());
}

TEST_F(ProcessReplyTest, OnlyAnEchoOfThisAttemptsNonceFromASynchronisedServerIsUsed)
{
    const uint8_t other[8] = {0x9C, 0x41, 0x07, 0xE2, 0x5B, 0x00, 0xD3, 0x19};
    const uint8_t zero[8] = {};
    const Reply good(0x24, At(T, 0), At(T, 100), At(T, 100));
    const std::string invalid = "不正な応答を受信しました。 (", notReady = "サーバの準備ができていません。";
    struct Case {
        const char* what;
        int offset;                // byte changed in the good reply (-1: none)
        std::vector<uint8_t> with; // the bytes written there
        ReplyVerdict verdict;
        std::vector<std::string> lines; // after the header line; none at all when ignored
    } cases[] = {
        {"no echo", NtpOriginateOffset, {zero, zero + 8}, ReplyIgnored, {}},
        {"another nonce", NtpOriginateOffset, {other, other + 8}, ReplyIgnored, {}},
        {"client mode", 0, {0x23}, ReplyNotUsed, {invalid + "2)"}},
        {"a kiss in client mode", 0, {0xE3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'R', 'A', 'T', 'E'}, ReplyNotUsed,
         {invalid + "2)"}},
        {"version 0", 0, {0x04}, ReplyNotUsed, {invalid + "3)"}},
        {"version 5", 0, {0x2C}, ReplyNotUsed, {invalid + "3)"}},
        {"stratum 0", 1, {0}, ReplyNotUsed, {notReady}},
        {"stratum 16", 1, {16}, ReplyNotUsed, {notReady}},
        {"stratum 255", 1, {255}, ReplyNotUsed, {notReady}},
        {"unknown kiss code", 0, {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'A', 'C', 'S', 'T'}, ReplyNotUsed,
         {notReady}},
        {"zero transmit", NtpTransmitOffset, {0, 0, 0, 0, 0, 0, 0, 0}, ReplyNotUsed, {invalid + "4)"}},
        {"RATE", 0, {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'R', 'A', 'T', 'E'}, ReplyKissRate, {notReady}},
        {"DENY", 0, {0xE4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'D', 'E', 'N', 'Y'}, ReplyKissDeny, {notReady}},
        {"RSTR", 0, {0x24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'R', 'S', 'T', 'R'}, ReplyKissDeny, {notReady}},
        {"version 1", 0, {0x0C}, ReplyFinished, {}},
    };
    for (const Case& c : cases) {
        g_seams = HostSeams();
        Reply reply = good;
        if (c.offset >= 0)
            memcpy(reply.bytes + c.offset, c.with.data(), c.with.size());
        SyncRequest request = Request(SyncMode::Test);
        RequestLog log = {};
        LogRequest(&log, Nonce, reply.sentAt);
        EXPECT_EQ(Verdict(reply, request, Clock(At(T, 250), At(T, 250)), &log), c.verdict) << c.what;
        if (c.verdict == ReplyIgnored) {
            EXPECT_TRUE(Lines().empty()) << c.what;
        } else if (c.verdict != ReplyFinished) {
            ASSERT_EQ(Lines().size(), 1 + c.lines.size()) << c.what;
            EXPECT_EQ(std::vector<std::string>(Lines().begin() + 1, Lines().end()), c.lines) << c.what;
        }
        EXPECT_TRUE(g_seams.clockSettings.empty()) << c.what;
    }

    // T1 is the send time of the request answered, kept by the attempt; each
    // nonce is answered once.
    g_seams = HostSeams();
    RequestLog log = {};
    LogRequest(&log, other, At(T, 0));
    LogRequest(&log, Nonce, At(T, 900));
    SyncRequest request = Request(SyncMode::Test);
    EXPECT_EQ(Verdict(good, request, Clock(At(T, 950), At(T, 950)), &log), ReplyFinished);
    EXPECT_EQ(Lines()[1], "往復遅延 0.050秒");
    g_seams = HostSeams();
    EXPECT_EQ(Verdict(good, request, Clock(At(T, 950)), &log), ReplyIgnored);
    EXPECT_TRUE(Lines().empty());
    // The log holds the five requests of an attempt, no more.
    for (int i = 2; i < MaxRequestsPerAttempt; ++i)
        EXPECT_TRUE(LogRequest(&log, zero, At(T, 0)));
    EXPECT_FALSE(LogRequest(&log, zero, At(T, 0)));
}

TEST(ServerKiss, DenyStopsAndRateDoublesTheWaitUntilTheServerChanges)
{
    ServerKiss kiss = {};
    // The ticks, from 1, on which an automatic attempt may start.
    auto allowed = [&](const char* server, uint32_t interval, int ticks) {
        std::vector<int> starts;
        for (int tick = 1; tick <= ticks; ++tick)
            if (KissAllowsAutomaticAttempt(&kiss, server, interval))
                starts.push_back(tick);
        return starts;
    };
    EXPECT_EQ(allowed("a", 30, 2), (std::vector<int>{1, 2}));

    // RATE: twice the interval, then twice that while RATE keeps coming, at most a day.
    NoteServerVerdict(&kiss, "a", ReplyKissRate);
    EXPECT_EQ(allowed("a", 30, 62), (std::vector<int>{61, 62}));
    NoteServerVerdict(&kiss, "a", ReplyKissRate);
    EXPECT_EQ(allowed("a", 30, 122).front(), 121);
    EXPECT_EQ(NextRateHold(1000, 30), MaxRateHoldMinutes);
    EXPECT_EQ(NextRateHold(0, 0), 2u);
    // An ordinary answer ends the doubling; a test's answer counts too.
    NoteServerVerdict(&kiss, "a", ReplyFinished);
    NoteServerVerdict(&kiss, "a", ReplyKissRate);
    EXPECT_EQ(allowed("a", 30, 61).front(), 61);
    // Verdicts that say nothing about the server change nothing.
    NoteServerVerdict(&kiss, "a", ReplyNotUsed);
    NoteServerVerdict(&kiss, "a", ReplyIgnored);
    EXPECT_EQ(allowed("a", 30, 1).size(), 1u);

    // DENY (and RSTR): never again against that server name...
    NoteServerVerdict(&kiss, "a", ReplyKissDeny);
    EXPECT_TRUE(allowed("a", 1, 3000).empty());
    // ...until the setting names another server.
    EXPECT_EQ(allowed("b", 1, 1).size(), 1u);
    EXPECT_EQ(allowed("a", 1, 1).size(), 1u);
}

} // namespace
