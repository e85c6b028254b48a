// When the talking clock speaks, as one table of situations.
#include <gtest/gtest.h>

#include "announce_policy.h"

namespace {

SYSTEMTIME At(int hour, int minute, int second = 0)
{
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 12;
    time.wDay = 8;
    time.wHour = WORD(hour);
    time.wMinute = WORD(minute);
    time.wSecond = WORD(second);
    return time;
}

const AnnounceRules Hourly = {60, 0, 22 * 60, 7 * 60, 1};
const AnnounceRules NightQuiet = {60, 1, 22 * 60, 7 * 60, 1};   // 22:00 to 7:00
const AnnounceRules EveningQuiet = {30, 1, 18 * 60 + 30, 20 * 60, 0}; // 18:30 to 20:00, busy ignored
const AnnounceRules EveryMinute = {1, 1, 9 * 60, 9 * 60, 1};    // start = end: never quiet

AnnounceSituation Tick(int state = StateAcceptsNotifications, bool away = false, bool muted = false)
{
    return {MinuteTickTrigger, state, away, muted, false};
}
AnnounceSituation Asked(int state = StateAcceptsNotifications, bool away = false, bool muted = false)
{
    return {SpeakNowTrigger, state, away, muted, false};
}

TEST(AnnouncePolicy, SpeaksOnlyWhenWelcome)
{
    const struct {
        SYSTEMTIME now;
        const AnnounceRules* rules;
        AnnounceSituation situation;
        bool speaks;
    } cases[] = {
        // 0-3: the interval and the late tick stay as they were.
        {At(9, 0), &Hourly, Tick(), true},
        {At(9, 30), &Hourly, Tick(), false},
        {At(9, 0, 9), &Hourly, Tick(), true},
        {At(9, 0, 10), &Hourly, Tick(), false},
        // 4-10: quiet hours across midnight, boundaries included and excluded.
        {At(21, 0), &NightQuiet, Tick(), true},
        {At(22, 0), &NightQuiet, Tick(), false},
        {At(0, 0), &NightQuiet, Tick(), false},
        {At(6, 0), &NightQuiet, Tick(), false},
        {At(7, 0), &NightQuiet, Tick(), true},
        {At(23, 0), &Hourly, Tick(), true}, // quiet hours off
        {At(12, 0), &NightQuiet, Tick(), true},
        // 11-14: quiet hours within one day, on the half hour.
        {At(18, 0), &EveningQuiet, Tick(), true},
        {At(18, 30), &EveningQuiet, Tick(), false},
        {At(19, 30), &EveningQuiet, Tick(), false},
        {At(20, 0), &EveningQuiet, Tick(), true},
        // 15-16: start = end is never quiet.
        {At(9, 0), &EveryMinute, Tick(), true},
        {At(9, 1), &EveryMinute, Tick(), true},
        // 17-24: each notification state, with the setting on.
        {At(12, 0), &Hourly, Tick(StateUnknown), true},
        {At(12, 0), &Hourly, Tick(StateNotPresent), false},
        {At(12, 0), &Hourly, Tick(StateBusy), false},
        {At(12, 0), &Hourly, Tick(StateFullScreenDirect3D), false},
        {At(12, 0), &Hourly, Tick(StatePresentation), false},
        {At(12, 0), &Hourly, Tick(StateAcceptsNotifications), true},
        {At(12, 0), &Hourly, Tick(StateQuietTime), true},
        {At(12, 0), &Hourly, Tick(StateFullScreenApp), false},
        // 25-26: the setting off, a presentation does not silence it.
        {At(18, 0), &EveningQuiet, Tick(StatePresentation), true},
        {At(18, 0), &EveningQuiet, Tick(StateNotPresent), true},
        // 27-29: locked or disconnected, and muted, whatever the setting.
        {At(12, 0), &Hourly, Tick(StateAcceptsNotifications, true), false},
        {At(18, 0), &EveningQuiet, Tick(StateAcceptsNotifications, true), false},
        {At(12, 0), &Hourly, Tick(StateAcceptsNotifications, false, true), false},
        // 30-36: asked for, it speaks at any minute, in quiet hours, while
        // busy, late in the minute, with announcements off; never muted.
        {At(10, 47, 30), &Hourly, Asked(), true},
        {At(23, 13), &NightQuiet, Asked(), true},
        {At(12, 0), &Hourly, Asked(StatePresentation), true},
        {At(12, 0), &Hourly, Asked(StateFullScreenDirect3D, true), true},
        {At(12, 5), &EveningQuiet, Asked(StateBusy), true},
        {At(10, 47), &Hourly, Asked(StateAcceptsNotifications, false, true), false},
        {At(23, 13), &NightQuiet, Asked(StateAcceptsNotifications, false, true), false},
    };
    // Windows 10 and later report QUNS_APP also for an open Start menu: it
    // silences nothing there.
    AnnounceSituation startMenu = Tick(StateFullScreenApp);
    startMenu.appStateIncludesStartMenu = true;
    EXPECT_TRUE(ShouldAnnounce(At(12, 0), Hourly, startMenu));
    startMenu.notificationState = StateBusy; // a real full-screen program still does
    EXPECT_FALSE(ShouldAnnounce(At(12, 0), Hourly, startMenu));
    AnnounceRules none = Hourly;
    none.voiceInterval = 0;
    EXPECT_FALSE(ShouldAnnounce(At(0, 0), none, Tick()));
    EXPECT_TRUE(ShouldAnnounce(At(0, 0), none, Asked()));
    int index = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(ShouldAnnounce(c.now, *c.rules, c.situation), c.speaks) << "case " << index;
        ++index;
    }
}

TEST(AnnouncePolicy, SessionNotificationsTrackLockAndDisconnection)
{
    SessionState state = {false, false};
    const struct {
        unsigned code;
        bool locked, disconnected;
    } steps[] = {
        {5, false, false}, // logon: nothing changes
        {7, true, false},  // locked
        {2, true, true},   // switched away from the console
        {3, true, false},  // taken over remotely
        {8, false, false}, // unlocked
        {4, false, true},  // remote session dropped
        {1, false, false}, // back at the console
        {9, false, false}, // remote control: nothing changes
    };
    for (const auto& step : steps) {
        NoteSessionChange(&state, step.code);
        EXPECT_EQ(state.locked, step.locked) << step.code;
        EXPECT_EQ(state.disconnected, step.disconnected) << step.code;
    }
}

} // namespace
