// The clock's health, its texts, and the drift of the PC's clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "clock_drift.h"
#include "clock_health.h"

namespace {

const uint64_t Now = 134100000000000000ull; // a December 2025 FILETIME
const uint64_t H = FileTimeHour, Min = FileTimeMinute, S = FileTimeSecond;

// A PC in service mode whose service runs and synchronised an hour ago.
HealthFacts Healthy()
{
    HealthFacts f = {};
    f.now = Now;
    f.lastSync = Now - H;
    f.lastGood = Now - H;
    f.syncInterval = 30;
    f.syncOn = true;
    f.serviceMode = true;
    f.serviceRunning = true;
    return f;
}

TEST(ClockHealth, StatesInTheirOrderAndAtTheirBoundaries)
{
    struct Case {
        const char* what;
        HealthFacts facts;
        ClockHealth expected;
    };
    auto with = [](void (*change)(HealthFacts&)) {
        HealthFacts f = Healthy();
        change(f);
        return f;
    };
    const Case cases[] = {
        {"good", Healthy(), HealthGood},
        // Off wins over everything; the domain over a stopped service; a
        // stopped service over a stale clock.
        {"off", with([](HealthFacts& f) { f.syncOn = false; f.serviceRunning = false; f.lastResult = 12327; }),
         HealthOff},
        {"domain", with([](HealthFacts& f) { f.lastResult = 12327; f.serviceRunning = false; }), HealthDomain},
        {"stopped", with([](HealthFacts& f) { f.serviceRunning = false; f.lastGood = f.lastSync = Now - 48 * H; }),
         HealthServiceStopped},
        {"tray mode: no service needed",
         with([](HealthFacts& f) { f.serviceMode = false; f.serviceRunning = false; }), HealthGood},
        {"tray mode: 12327 is no domain", with([](HealthFacts& f) { f.serviceMode = false; f.lastResult = 12327; }),
         HealthGood},
        // 24 hours, or three intervals when they are longer.
        {"24 h exactly", with([](HealthFacts& f) { f.lastGood = f.lastSync = Now - 24 * H; }), HealthGood},
        {"24 h and a bit", with([](HealthFacts& f) { f.lastGood = f.lastSync = Now - 24 * H - 1; }), HealthStale},
        {"interval 12 h: 36 h fine",
         with([](HealthFacts& f) { f.syncInterval = 720; f.lastGood = f.lastSync = Now - 36 * H; }), HealthGood},
        {"interval 12 h: past 36 h",
         with([](HealthFacts& f) { f.syncInterval = 720; f.lastGood = f.lastSync = Now - 36 * H - Min; }),
         HealthStale},
        // The later of the two times counts.
        {"an answer within tolerance keeps it good",
         with([](HealthFacts& f) { f.lastSync = Now - 72 * H; f.lastGood = Now - 2 * H; }), HealthGood},
        {"a setting alone keeps it good", with([](HealthFacts& f) { f.lastGood = 0; }), HealthGood},
        // Answers came but the clock stayed wrong: neither good nor "not yet".
        {"a refused step right after a setting",
         with([](HealthFacts& f) { f.lastSync = f.lastGood = Now - 30 * Min; f.lastResult = 12325; f.failures = 1; }),
         HealthNotCorrected},
        {"a failed setting, never good before",
         with([](HealthFacts& f) { f.lastSync = f.lastGood = 0; f.lastResult = 12310; f.failures = 1; }),
         HealthNotCorrected},
        {"no agreement, long ago good",
         with([](HealthFacts& f) { f.lastSync = f.lastGood = Now - 48 * H; f.lastResult = 12324; f.failures = 9; }),
         HealthNotCorrected},
        {"a stopped service before an uncorrected clock",
         with([](HealthFacts& f) { f.serviceRunning = false; f.lastResult = 12325; }), HealthServiceStopped},
        // Standing aside for the domain with servers that stay silent.
        {"standing aside, silent servers",
         with([](HealthFacts& f) { f.lastGood = f.lastSync = 0; f.lastResult = 12327; f.failures = 5; }),
         HealthDomain},
        // Never synchronised: three failures make it "never", not "24 hours".
        {"none, 2 failures", with([](HealthFacts& f) { f.lastGood = f.lastSync = 0; f.failures = 2; }),
         HealthNotYet},
        {"none, 3 failures", with([](HealthFacts& f) { f.lastGood = f.lastSync = 0; f.failures = 3; }), HealthNever},
        {"failures do not matter after a good one", with([](HealthFacts& f) { f.failures = 40; }), HealthGood},
        {"a good time ahead of the clock", with([](HealthFacts& f) { f.lastGood = f.lastSync = Now + 48 * H; }),
         HealthGood},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EvaluateClockHealth(c.facts), c.expected) << c.what;

    // The mark and the balloon.
    struct Warning {
        const char* what;
        HealthFacts facts;
        WarningClock clock;
        bool warns;
    };
    const WarningClock justStarted = {3600000, 1000}, settled = {3600000, StaleEvidenceMs};
    // Off on Friday evening, logged on on Monday morning, no attempt yet.
    auto weekendOff = [](HealthFacts& f) { f.lastGood = f.lastSync = f.lastAttempt = Now - 62 * H; };
    const Warning warnings[] = {
        {"stale before the first attempt after a start", with(weekendOff), justStarted, false},
        {"stale, 10 minutes after the start or a resume", with(weekendOff), settled, true},
        {"stale, 10 minutes less a moment",
         with(weekendOff), WarningClock{3600000, StaleEvidenceMs - 1}, false},
        {"stale, and an attempt since has failed",
         with([](HealthFacts& f) { f.lastGood = f.lastSync = Now - 62 * H; f.lastAttempt = Now - 10 * S;
                                   f.failures = 1; f.lastResult = 12326; }), justStarted, true},
        {"stale, the failed attempt came before it was",
         with([](HealthFacts& f) { f.lastGood = f.lastSync = Now - 62 * H; f.lastAttempt = Now - 50 * H;
                                   f.failures = 1; }), justStarted, false},
        {"never good, the third failure only",
         with([](HealthFacts& f) { f.lastGood = f.lastSync = 0; f.lastAttempt = Now - 2 * Min; f.failures = 3; }),
         justStarted, false},
        {"never good, failing on", with([](HealthFacts& f) { f.lastGood = f.lastSync = 0; f.failures = 4; }),
         justStarted, true},
        {"not corrected warns at once", with([](HealthFacts& f) { f.lastResult = 12325; f.failures = 1; }),
         justStarted, true},
        {"a service that ran and stopped", with([](HealthFacts& f) { f.serviceRunning = false; }),
         WarningClock{60000, 1000}, true},
        {"a delayed start still to come",
         with([](HealthFacts& f) { f.serviceRunning = false; f.serviceNeverStarted = true; }),
         WarningClock{ServiceStartGraceMs - 1, StaleEvidenceMs}, false},
        {"no delayed start after 15 minutes",
         with([](HealthFacts& f) { f.serviceRunning = false; f.serviceNeverStarted = true; }),
         WarningClock{ServiceStartGraceMs, StaleEvidenceMs}, true},
        {"good", Healthy(), settled, false},
        {"domain", with([](HealthFacts& f) { f.lastResult = 12327; f.failures = 7; }), settled, false},
        {"not yet", with([](HealthFacts& f) { f.lastGood = f.lastSync = 0; f.failures = 2; }), settled, false},
        {"off", with([](HealthFacts& f) { f.syncOn = false; }), settled, false},
    };
    for (const Warning& w : warnings)
        EXPECT_EQ(HealthWarns(EvaluateClockHealth(w.facts), w.facts, w.clock), w.warns) << w.what;

    // The episode told per user: the same warning for the same good time is
    // told once (a new logon does not repeat it); a new cause, or a good
    // synchronisation in between, is a new episode.
    const HealthEpisode toldStale = {HealthStale, Now - 30 * H};
    EXPECT_FALSE(NewHealthEpisode(HealthStale, Now - 30 * H, toldStale));
    EXPECT_TRUE(NewHealthEpisode(HealthServiceStopped, Now - 30 * H, toldStale));
    EXPECT_TRUE(NewHealthEpisode(HealthNotCorrected, Now - 30 * H, HealthEpisode{HealthServiceStopped, Now - 30 * H}));
    EXPECT_TRUE(NewHealthEpisode(HealthStale, Now - 25 * H, toldStale));
    EXPECT_TRUE(NewHealthEpisode(HealthNever, 0, HealthEpisode{HealthGood, 0}));
    EXPECT_FALSE(NewHealthEpisode(HealthGood, Now - H, toldStale));
    EXPECT_FALSE(NewHealthEpisode(HealthNotYet, 0, HealthEpisode{HealthGood, 0}));
}

std::string Tip(ClockHealth health, bool offsetKnown = true, int64_t offset = 3000000)
{
    SYSTEMTIME local = {};
    local.wMonth = 12;
    local.wDay = 8;
    local.wHour = 11;
    local.wMinute = 4;
    char line[96];
    FormatHealthTipLine(line, sizeof line, health, local, offsetKnown, offset);
    return line;
}

std::string Seconds(int64_t offset, int decimals)
{
    char text[24];
    FormatOffsetSeconds(text, sizeof text, offset, decimals);
    return text;
}

std::string Drift(int32_t ppb)
{
    char text[96];
    FormatDriftSentence(text, sizeof text, ppb);
    return text;
}

TEST(ClockHealth, TheTextsThatTellIt)
{
    EXPECT_EQ(Tip(HealthGood), "時刻合わせ: 12/8 11:04 (誤差 +0.30秒)");
    EXPECT_EQ(Tip(HealthGood, false), "時刻合わせ: 12/8 11:04");
    EXPECT_EQ(Tip(HealthStale), "時刻合わせ: 24時間以上できていません");
    EXPECT_EQ(Tip(HealthNotYet), "時刻合わせ: まだです");
    EXPECT_EQ(Tip(HealthOff), "時刻合わせ: オフ");
    EXPECT_EQ(Tip(HealthDomain), "時刻合わせ: ドメインの時刻に従っています");
    EXPECT_EQ(Tip(HealthServiceStopped), "時刻合わせ: サービスが止まっています");
    EXPECT_EQ(Tip(HealthNotCorrected), "時刻合わせ: 時計を合わせられません");
    EXPECT_EQ(Tip(HealthNever), "時刻合わせ: できていません");

    // Rounded half away from zero, with the sign always shown.
    EXPECT_EQ(Seconds(3000000, 3), "+0.300");
    EXPECT_EQ(Seconds(-3000000, 2), "-0.30");
    EXPECT_EQ(Seconds(-49999, 2), "-0.00");
    EXPECT_EQ(Seconds(-50000, 2), "-0.01");
    EXPECT_EQ(Seconds(0, 3), "+0.000");
    EXPECT_EQ(Seconds(36000000000ll, 3), "+3600.000");
    EXPECT_EQ(Seconds(INT64_MIN, 2), "-922337203685.48");

    char line[128];
    FormatOffsetLine(line, sizeof line, true, 3000000, "127.0.0.2");
    EXPECT_STREQ(line, "前回の誤差: +0.300秒 (サーバ 127.0.0.2)");
    FormatOffsetLine(line, sizeof line, false, 3000000, "127.0.0.2");
    EXPECT_STREQ(line, "");

    // 1.2 s a day is 13889 ppb; a slow clock has a negative drift.
    EXPECT_EQ(Drift(13889), "このPCの時計は1日に約1.2秒進みます。");
    EXPECT_EQ(Drift(-13889), "このPCの時計は1日に約1.2秒遅れます。");
    EXPECT_EQ(Drift(500000), "このPCの時計は1日に約43.2秒進みます。");
    EXPECT_EQ(Drift(579), "このPCの時計は1日に約0.1秒進みます。");
    EXPECT_EQ(Drift(-579), "このPCの時計は1日に約0.1秒遅れます。");
    EXPECT_EQ(Drift(578), "このPCの時計の進み遅れは1日に0.1秒未満です。");

    EXPECT_STREQ(HealthWarning(HealthServiceStopped), "時刻合わせサービスが止まっています。");
    EXPECT_STREQ(HealthWarning(HealthStale), "24時間以上、時刻を合わせられていません。");
    EXPECT_STREQ(HealthWarning(HealthNotYet), "");
    EXPECT_STREQ(HealthWarning(HealthNotCorrected), "時計を合わせられませんでした。");
    EXPECT_STREQ(HealthWarning(HealthNever), "時刻をまだ一度も合わせられていません。");

    // The balloon: the warning, what went wrong and what to do.
    char title[64], text[256];
    FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthStale, 12326, true);
    EXPECT_STREQ(title, "24時間以上、時刻を合わせられていません。");
    EXPECT_STREQ(text, "どのサーバからも応答がありません。ファイアウォールなどで UDP ポート 123 が遮断されていないか"
                       "確認してください。\n右クリックして「今すぐ合わせる」を選ぶと、原因を表示します。");
    FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthStale, 12304, false);
    EXPECT_STREQ(text, "サーバが見つかりませんでした。\n「設定」の「高度」でサーバをテストしてください。");
    FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthStale, 12324, true);
    EXPECT_STREQ(text, "サーバの時刻が互いに一致しないため、時計を合わせませんでした。\n"
                       "右クリックして「今すぐ合わせる」を選ぶと、原因を表示します。");
    FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthStale, 0, true);
    EXPECT_STREQ(text, "右クリックして「今すぐ合わせる」を選ぶと、原因を表示します。");
    FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthServiceStopped, 12326, true);
    EXPECT_STREQ(title, "時刻合わせサービスが止まっています。");
    EXPECT_STREQ(text, "管理者がサービス「Quorvane 時刻合わせ」を開始してください。");
    // Answers that could not correct the clock: why, and what to do.
    for (uint32_t result : {12324u, 12325u}) {
        FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthNotCorrected, result, true);
        EXPECT_STREQ(title, "時計を合わせられませんでした。");
        EXPECT_STREQ(text, "サーバの時刻が一致しないか、時計が大きくずれています。一度手で時計を合わせるか、"
                           "信頼できるサーバを指定してください。");
    }
    FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthNotCorrected, 12310, false);
    EXPECT_STREQ(text, "このPCでは時計を変更する権限がありません。管理者に連絡してください。");
    FormatHealthBalloon(title, sizeof title, text, sizeof text, HealthNever, 12326, false);
    EXPECT_STREQ(title, "時刻をまだ一度も合わせられていません。");
    EXPECT_STREQ(text, "どのサーバからも応答がありません。ファイアウォールなどで UDP ポート 123 が遮断されていないか"
                       "確認してください。\n「設定」の「高度」でサーバをテストしてください。");
    // A piece that does not fit is left out whole.
    FormatHealthBalloon(title, 10, text, 40, HealthStale, 12326, true);
    EXPECT_STREQ(title, "");
    EXPECT_STREQ(text, "");
}

TEST(ClockDrift, LearntFromAnswersSixHoursApartAccountingForSettings)
{
    const int64_t PerDay12 = 12000000; // 1.2 s in 100 ns
    struct Answer {
        uint64_t at;
        int64_t offset;
        bool set;
        int64_t outside = 0; // how far someone else moved the clock before this answer
    };
    struct Case {
        const char* what;
        std::vector<Answer> answers;
        bool known;
        int32_t ppb;
    };
    const Case cases[] = {
        // A clock 1.2 s a day fast: the server falls behind it.
        {"one day apart, no setting", {{Now, 0, false}, {Now + 24 * H, -PerDay12, false}}, true, 13889},
        {"slow, 12 h apart", {{Now, 1000, false}, {Now + 12 * H, 1000 + PerDay12 / 2, false}}, true, -13889},
        {"less than 6 h: nothing yet", {{Now, 0, false}, {Now + 6 * H - S, -PerDay12 / 4, false}}, false, 0},
        {"exactly 6 h", {{Now, 0, false}, {Now + 6 * H, -PerDay12 / 4, false}}, true, 13889},
        // Set at the reference answer: the offset starts from nothing.
        {"set at the first", {{Now, 5000000, true}, {Now + 24 * H, -PerDay12, false}}, true, 13889},
        // A correction 3 h after the first answer brings the clock back by
        // what it gained so far; the answer 24 h after the first sees only
        // what it gained since.
        {"a setting between",
         {{Now, 0, false}, {Now + 3 * H, -PerDay12 / 8, true}, {Now + 24 * H, -PerDay12 * 7 / 8, false}}, true,
         13889},
        // Something else stepped the clock by a minute: no drift believed.
        {"implausible", {{Now, 0, false}, {Now + 24 * H, 600000000, false}}, false, 0},
        // The clock went back before the reference: start anew.
        {"time went back", {{Now, 0, false}, {Now - 48 * H, -PerDay12, false}, {Now - 24 * H, -2 * PerDay12, false}},
         true, 13889},
        // Someone else set the clock 0.1 s back between the two answers
        // (within what a quartz could drift): the pair is dropped.
        {"an outside change between",
         {{Now, 0, false}, {Now + 24 * H, -PerDay12 + 1000000, false, -1000000}}, false, 0},
        {"an outside change, then a clean pair",
         {{Now, 0, false}, {Now + 24 * H, -PerDay12 + 1000000, false, -1000000},
          {Now + 48 * H, -PerDay12 * 2 + 1000000, false}}, true, 13889},
        {"50 ms of jitter is no change",
         {{Now, 0, false}, {Now + 24 * H, -PerDay12 + 500000, false, -500000}}, true, 13310},
    };
    for (const Case& c : cases) {
        DriftRecord record = {};
        // The counter runs from the same quartz as the clock: they part only
        // by what was done to the clock, our corrections and others' changes.
        const uint64_t CounterAtNow = 7000000000ull;
        int64_t moved = 0;
        for (const Answer& a : c.answers) {
            moved += a.outside + (a.set ? a.offset : 0);
            const uint64_t counter = CounterAtNow + (a.at - Now) - uint64_t(moved);
            UpdateDrift(&record, DriftAnswer{a.at, counter, a.offset, a.set});
        }
        EXPECT_EQ(record.known, c.known) << c.what;
        if (c.known) {
            EXPECT_EQ(record.ppb, c.ppb) << c.what;
        }
    }
}

} // namespace
