// The announcement player with the real voice.dat beside the test program,
// a scripted local clock and a recorder in place of the sound player.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "announce_policy.h"
#include "announcer.h"
#include "clock.h"
#include "presence.h"
#include "settings.h"
#include "sound.h"
#include "voice_file.h"

namespace {

SYSTEMTIME g_localTime;
std::vector<std::vector<uint8_t>> g_played;
int g_notificationState = StateAcceptsNotifications;
bool g_muted;
int g_queries; // how often Windows was asked about the user or the output

std::vector<int16_t> ArchiveClip(const char* name)
{
    char path[MAX_PATH];
    if (!GetProgramDirPath("voice.dat", path, sizeof path))
        return {};
    return ClipSamples(path, name);
}

std::vector<int16_t> PlayedSamples(const std::vector<uint8_t>& image)
{
    std::vector<int16_t> samples((image.size() - 44) / 2);
    memcpy(samples.data(), image.data() + 44, samples.size() * 2);
    return samples;
}

std::vector<int16_t> Expected(const char* hour, const char* minute, int percent)
{
    std::vector<int16_t> samples = ArchiveClip(hour);
    std::vector<int16_t> more = ArchiveClip(minute);
    samples.insert(samples.end(), more.begin(), more.end());
    if (percent < 100) {
        for (int16_t& s : samples)
            s = int16_t(s * (percent * 0.01)); // the factor as the player computes it
    }
    return samples;
}

void At(int hour, int minute)
{
    memset(&g_localTime, 0, sizeof g_localTime);
    g_localTime.wYear = 2026;
    g_localTime.wMonth = 12;
    g_localTime.wDay = 7;
    g_localTime.wHour = WORD(hour);
    g_localTime.wMinute = WORD(minute);
    g_played.clear();
}

TEST(Announcer, SpeaksTheHourOnATwelveHourDialThenTheMinute)
{
    ASSERT_TRUE(VoiceArchiveAvailable());
    ASSERT_FALSE(ArchiveClip("H01").empty());
    const struct {
        int hour, minute;
        const char* hourClip;
        const char* minuteClip;
    } cases[] = {{13, 30, "H01", "M30"}, {0, 0, "H00", "M00"}, {12, 0, "H00", "M00"}, {23, 0, "H11", "M00"}};
    for (const auto& c : cases) {
        At(c.hour, c.minute);
        AnnounceTime(g_localTime, 100);
        ASSERT_EQ(g_played.size(), 1u) << c.hour << ":" << c.minute;
        EXPECT_EQ(PlayedSamples(g_played[0]), Expected(c.hourClip, c.minuteClip, 100)) << c.hour << ":" << c.minute;
    }
    // Every minute has its clip.
    At(9, 15);
    AnnounceTime(g_localTime, 100);
    ASSERT_EQ(g_played.size(), 1u);
    EXPECT_EQ(PlayedSamples(g_played[0]), Expected("H09", "M15", 100));
    // A name that is not in the archive: nothing is heard.
    g_played.clear();
    EXPECT_FALSE(PlayClips("H09\0M60", 2, 100));
    EXPECT_TRUE(g_played.empty());
}

TEST(Announcer, TheMinuteTickAndSpeakNowFollowThePolicy)
{
    SetDefaultSettings();
    g_settings.VoiceVolume = 66;
    g_settings.QuietHours = 1; // 22:00 to 7:00
    // "今の時刻を話す" at 23:47, in quiet hours and during a presentation.
    At(23, 47);
    g_notificationState = StatePresentation;
    SpeakTimeNow();
    ASSERT_EQ(g_played.size(), 1u);
    EXPECT_EQ(PlayedSamples(g_played[0]), Expected("H11", "M47", 66));
    // ... but not into a muted output.
    At(23, 47);
    g_muted = true;
    SpeakTimeNow();
    EXPECT_TRUE(g_played.empty());
    g_muted = false;

    // The tick: quiet hours, then a presentation, keep it silent; a tick the
    // interval rules out does not even ask Windows.
    const struct {
        int hour, minute, state;
        bool speaks;
    } ticks[] = {{23, 0, StateAcceptsNotifications, false}, {12, 0, StatePresentation, false},
                 {12, 0, StateQuietTime, true},             {12, 47, StateAcceptsNotifications, false}};
    for (const auto& t : ticks) {
        At(t.hour, t.minute);
        g_notificationState = t.state;
        g_queries = 0;
        AnnounceIfWelcome(g_localTime);
        EXPECT_EQ(g_played.size(), t.speaks ? 1u : 0u) << t.hour << ":" << t.minute;
        if (t.minute != 0) {
            EXPECT_EQ(g_queries, 0);
        }
    }
    // Locked, then unlocked.
    g_notificationState = StateAcceptsNotifications;
    NoteSessionNotification(7);
    At(12, 0);
    AnnounceIfWelcome(g_localTime);
    EXPECT_TRUE(g_played.empty());
    NoteSessionNotification(8);
    AnnounceIfWelcome(g_localTime);
    ASSERT_EQ(g_played.size(), 1u);
    EXPECT_EQ(PlayedSamples(g_played[0]), Expected("H00", "M00", 66));
    // The minute judged is the minute spoken, even when the clock has moved
    // on while Windows was asked.
    At(12, 1);
    SYSTEMTIME judged = g_localTime;
    judged.wMinute = 0;
    AnnounceIfWelcome(judged);
    ASSERT_EQ(g_played.size(), 1u);
    EXPECT_EQ(PlayedSamples(g_played[0]), Expected("H00", "M00", 66));
}

TEST(Announcer, ScalesEverySampleOfTheJoinedSound)
{
    for (int percent : {33, 66}) {
        At(0, 0);
        PlayTestClip(percent);
        ASSERT_EQ(g_played.size(), 1u);
        const std::vector<uint8_t>& image = g_played[0];
        const std::vector<int16_t> expected = Expected("H00", "M00", percent);
        EXPECT_EQ(PlayedSamples(image), expected) << percent;
        // One RIFF image whose sizes describe exactly the joined data.
        const uint32_t riff = image[4] | image[5] << 8 | image[6] << 16 | uint32_t(image[7]) << 24;
        const uint32_t data = image[40] | image[41] << 8 | image[42] << 16 | uint32_t(image[43]) << 24;
        EXPECT_EQ(riff + 8, image.size());
        EXPECT_EQ(data, expected.size() * 2);
    }
}

TEST(Announcer, ProgramDirPathIsBoundedByItsCapacity)
{
    char path[MAX_PATH];
    ASSERT_TRUE(GetProgramDirPath("voice.dat", path, sizeof path));
    const size_t length = strlen(path);
    char small[16];
    memset(small, '#', sizeof small);
    EXPECT_FALSE(GetProgramDirPath("voice.dat", small, int(length))); // no room for the NUL
    EXPECT_EQ(small[0], '#');                                         // left alone
    std::vector<char> exact(length + 1);
    EXPECT_TRUE(GetProgramDirPath("voice.dat", exact.data(), int(length + 1)));
    EXPECT_STREQ(exact.data(), path);
}

} // namespace

void ReadLocalClock(SYSTEMTIME* local)
{
    *local = g_localTime;
}

int QueryUserNotificationState()
{
    ++g_queries;
    return g_notificationState;
}

bool g_windows10;

bool AppStateIncludesStartMenu()
{
    return g_windows10;
}

bool DefaultOutputMuted()
{
    ++g_queries;
    return g_muted;
}

bool PlaySoundImage(const WavImage& image)
{
    g_played.emplace_back(image.bytes, image.bytes + image.size);
    return true;
}
