// The announcement player with the real voice.dat beside the test program,
// a scripted local clock and a recorder in place of the sound player.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "announcer.h"
#include "clock.h"
#include "sound.h"
#include "voice_file.h"

namespace {

SYSTEMTIME g_localTime;
std::vector<std::vector<uint8_t>> g_played;

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
        AnnounceTime(100);
        ASSERT_EQ(g_played.size(), 1u) << c.hour << ":" << c.minute;
        EXPECT_EQ(PlayedSamples(g_played[0]), Expected(c.hourClip, c.minuteClip, 100)) << c.hour << ":" << c.minute;
    }
    // No clip for the minute: nothing is heard.
    At(9, 15);
    AnnounceTime(100);
    EXPECT_TRUE(g_played.empty());
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

bool PlaySoundImage(const WavImage& image)
{
    g_played.emplace_back(image.bytes, image.bytes + image.size);
    return true;
}
