#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "voice_archive.h"
#include "wav_builder.h"

namespace {

// A heap image as the archive hands them out.
WavImage Image(const Bytes& bytes)
{
    WavImage image = {static_cast<uint8_t*>(malloc(bytes.size())), uint32_t(bytes.size())};
    memcpy(image.bytes, bytes.data(), bytes.size());
    return image;
}

Bytes Of(const WavImage& image)
{
    return Bytes(image.bytes, image.bytes + image.size);
}

class ArchiveFile {
public:
    explicit ArchiveFile(const Bytes& bytes) : file_(fmemopen(nullptr, bytes.size() + 1, "w+b"))
    {
        fwrite(bytes.data(), 1, bytes.size(), file_);
        rewind(file_);
    }
    ~ArchiveFile() { fclose(file_); }
    FILE* get() const { return file_; }

private:
    FILE* file_;
};

Bytes Found(const Bytes& archive, const char* name)
{
    ArchiveFile file(archive);
    int32_t count;
    if (!ReadVoiceArchiveCount(file.get(), &count))
        return {};
    WavImage clip = FindClip(file.get(), count, name);
    Bytes bytes = clip.bytes ? Of(clip) : Bytes();
    FreeWavImage(&clip);
    return bytes;
}

TEST(VoiceArchive, FindClipLooksUpNamesExactlyFromTheFirstEntry)
{
    const Bytes h00 = MakeWav(Samples16({1, 2}), 16);
    const Bytes m00 = MakeWav(Samples16({3}), 16);
    const Bytes other = MakeWav(Samples16({9, 9, 9}), 16);
    const Bytes archive = MakeArchive({{"M00", m00}, {"H00", h00}, {"H00", other}}, 3);

    EXPECT_EQ(Found(archive, "H00"), h00);  // the first of two equal names
    EXPECT_EQ(Found(archive, "M00"), m00);  // found although it stands first
    EXPECT_TRUE(Found(archive, "h00").empty()); // case matters
    EXPECT_TRUE(Found(archive, "H0").empty());
    EXPECT_TRUE(Found(archive, "H000").empty());

    // The count, not the file, says how many entries there are.
    EXPECT_TRUE(Found(MakeArchive({{"H00", h00}}, 0), "H00").empty());
    EXPECT_TRUE(Found(MakeArchive({{"H00", h00}}, -1), "H00").empty());
    EXPECT_TRUE(Found(MakeArchive({{"M00", m00}, {"H00", h00}}, 1), "H00").empty());
    EXPECT_TRUE(Found(MakeArchive({{"H00", h00}}, 5), "M00").empty()); // short index read

    // A clip that claims more bytes than the file holds cannot be had.
    Bytes truncated = MakeArchive({{"H00", h00}}, 1);
    truncated.resize(truncated.size() - 1);
    EXPECT_TRUE(Found(truncated, "H00").empty());
    EXPECT_TRUE(Found(Bytes{1, 0}, "H00").empty()); // no count
}

TEST(VoiceArchive, FindChunkWalksWithinTheImage)
{
    WavImage image = Image(MakeWav(Samples16({1, 2, 3}), 16));
    EXPECT_EQ(FindChunk(image, "fmt "), 12);
    EXPECT_EQ(FindChunk(image, "data"), 36);
    EXPECT_EQ(FindChunk(image, "LIST"), -1);

    // A chunk size that runs past the RIFF size ends the search.
    image.bytes[16] = 0xFF;
    EXPECT_EQ(FindChunk(image, "data"), -1);
    FreeWavImage(&image);

    // A RIFF size larger than the image never leads outside it.
    Bytes claims = MakeWav(Samples16({1}), 16);
    claims[4] = 0xF0;
    claims[40] = 0xF0; // data size
    claims.resize(38);
    WavImage shortImage = Image(claims);
    EXPECT_EQ(FindChunk(shortImage, "data"), -1);
    FreeWavImage(&shortImage);

    WavImage notRiff = Image(Bytes(44, 'x'));
    EXPECT_EQ(FindChunk(notRiff, "fmt "), -1);
    FreeWavImage(&notRiff);
}

TEST(VoiceArchive, AppendClipJoinsTheSampleData)
{
    WavImage first = Image(MakeWav(Bytes(1000, 0x11), 16));
    WavImage second = Image(MakeWav(Bytes(2000, 0x22), 16));
    const uint32_t firstRiff = first.bytes[4] | first.bytes[5] << 8;
    ASSERT_TRUE(AppendClip(&first, &second));
    EXPECT_EQ(second.bytes, nullptr); // released
    EXPECT_EQ(first.size, 44u + 3000u);
    EXPECT_EQ(uint32_t(first.bytes[4] | first.bytes[5] << 8), firstRiff + 2000);
    const uint32_t dataSize = first.bytes[40] | first.bytes[41] << 8;
    EXPECT_EQ(dataSize, 3000u);
    EXPECT_EQ(first.bytes[44 + 999], 0x11);
    EXPECT_EQ(first.bytes[44 + 1000], 0x22);
    EXPECT_EQ(first.bytes[first.size - 1], 0x22);
    FreeWavImage(&first);
}

TEST(VoiceArchive, AppendClipTurnsAnOddRunsPadByteIntoSilence)
{
    // 8-bit data of odd length ending in 0x80, then its pad byte 0x00.
    WavImage first = Image(MakeWav(Bytes{0x10, 0x20, 0x80}, 8));
    WavImage second = Image(MakeWav(Bytes{0x90, 0x91}, 8));
    ASSERT_TRUE(AppendClip(&first, &second));
    const Bytes joined = Of(first);
    const Bytes expectedData = {0x10, 0x20, 0x80, 0x80, 0x90, 0x91};
    EXPECT_EQ(Bytes(joined.begin() + 44, joined.end()), expectedData);
    // The data chunk counts the pad byte it now holds inside.
    EXPECT_EQ(joined[40], 3 + 2);
    FreeWavImage(&first);

    // Any other ending is left alone.
    WavImage plain = Image(MakeWav(Bytes{0x10, 0x20, 0x30}, 8));
    WavImage more = Image(MakeWav(Bytes{0x90, 0x91}, 8));
    ASSERT_TRUE(AppendClip(&plain, &more));
    EXPECT_EQ(plain.bytes[47], 0x00);
    FreeWavImage(&plain);
}

TEST(VoiceArchive, AppendClipRefusesImagesThatClaimMoreThanTheyHold)
{
    const Bytes good = MakeWav(Samples16({1, 2}), 16);
    for (int damaged : {0, 1}) {
        Bytes lying = good;
        lying[4] = 0x7F; // RIFF size far beyond the image
        WavImage a = Image(damaged == 0 ? lying : good);
        WavImage b = Image(damaged == 1 ? lying : good);
        const Bytes before = Of(a);
        EXPECT_FALSE(AppendClip(&a, &b)) << damaged;
        EXPECT_EQ(Of(a), before);
        EXPECT_NE(b.bytes, nullptr); // not released on failure
        FreeWavImage(&a);
        FreeWavImage(&b);
    }
    WavImage a = Image(good);
    WavImage noData = Image(Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
    EXPECT_FALSE(AppendClip(&a, &noData));
    FreeWavImage(&a);
    FreeWavImage(&noData);
}

TEST(VoiceArchive, ScaleSamplesByBitsPerSample)
{
    WavImage image16 = Image(MakeWav(Samples16({-32768, -3, 3, 32767}), 16));
    ASSERT_TRUE(ScaleSamples(&image16, 33));
    EXPECT_EQ(Bytes(image16.bytes + 44, image16.bytes + image16.size), Samples16({-10813, 0, 0, 10813}));
    FreeWavImage(&image16);

    WavImage image8 = Image(MakeWav(Bytes{0, 127, 128, 255}, 8));
    ASSERT_TRUE(ScaleSamples(&image8, 66));
    EXPECT_EQ(Bytes(image8.bytes + 44, image8.bytes + image8.size), (Bytes{43, 127, 128, 211}));
    FreeWavImage(&image8);

    // 24-bit samples are played as recorded.
    const Bytes original24 = MakeWav(Bytes{1, 2, 3, 4, 5, 6}, 24);
    WavImage image24 = Image(original24);
    ASSERT_TRUE(ScaleSamples(&image24, 33));
    EXPECT_EQ(Of(image24), original24);
    FreeWavImage(&image24);

    // A data chunk that claims more than the image holds is refused unchanged.
    Bytes lying = MakeWav(Samples16({1000, 2000}), 16);
    lying[40] = 0xFF;
    lying[4] = 0xFF;
    WavImage bad = Image(lying);
    EXPECT_FALSE(ScaleSamples(&bad, 33));
    EXPECT_EQ(Of(bad), lying);
    EXPECT_FALSE(IsPlayableWav(bad));
    FreeWavImage(&bad);
}

} // namespace
