#include "voice_archive.h"

#include <cstdlib>
#include <cstring>

namespace {

uint32_t ReadLittle32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void WriteLittle32(uint8_t* p, uint32_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

bool IsRiff(const WavImage& image)
{
    return image.bytes && image.size >= 12 && memcmp(image.bytes, "RIFF", 4) == 0;
}

// The RIFF size field, or false when the image does not hold the bytes that
// it claims: such an image is never walked or changed.
bool RiffSize(const WavImage& image, uint32_t* riffSize)
{
    if (!IsRiff(image))
        return false;
    *riffSize = ReadLittle32(image.bytes + 4);
    return uint64_t(*riffSize) + 8 <= image.size;
}

// The chunk's data size, if its data lies wholly within the image.
bool ChunkDataSize(const WavImage& image, long chunk, uint32_t* dataSize)
{
    *dataSize = ReadLittle32(image.bytes + chunk + 4);
    return uint64_t(chunk) + 8 + *dataSize <= image.size;
}

// Only a volume above 100 per cent could leave the sample range.
// Truncates toward zero within the range.
int Clamp(double value, int low, int high)
{
    return value < low ? low : value > high ? high : int(value);
}

} // namespace

bool ReadVoiceArchiveCount(FILE* archive, int32_t* count)
{
    uint8_t bytes[4];
    if (fread(bytes, 1, 4, archive) != 4)
        return false;
    *count = int32_t(ReadLittle32(bytes));
    return true;
}

WavImage FindClip(FILE* archive, int32_t count, const char* name)
{
    WavImage clip = {nullptr, 0};
    // Every search starts at the first entry: the first of equal names wins.
    if (fseek(archive, 4, SEEK_SET) != 0)
        return clip;
    const size_t nameLength = strlen(name);
    for (int32_t i = 0; i < count; ++i) {
        uint8_t entry[VoiceArchiveEntrySize];
        if (fread(entry, 1, sizeof entry, archive) != sizeof entry)
            return clip;
        // Exact and case-sensitive, the terminating NUL included.
        if (nameLength >= VoiceArchiveNameSize || memcmp(entry, name, nameLength + 1) != 0)
            continue;
        const uint32_t offset = ReadLittle32(entry + 12);
        const uint32_t size = ReadLittle32(entry + 16);
        // A clip cannot be longer than the file: never allocate what a
        // damaged index claims.
        if (size == 0 || offset > 0x7FFFFFFFu || fseek(archive, 0, SEEK_END) != 0)
            return clip;
        const long fileSize = ftell(archive);
        if (fileSize < 0 || uint64_t(offset) + size > uint64_t(fileSize) || fseek(archive, long(offset), SEEK_SET) != 0)
            return clip;
        uint8_t* bytes = static_cast<uint8_t*>(malloc(size));
        if (!bytes)
            return clip;
        if (fread(bytes, 1, size, archive) != size) {
            free(bytes);
            return clip;
        }
        clip.bytes = bytes;
        clip.size = size;
        return clip;
    }
    return clip;
}

long FindChunk(const WavImage& image, const char id[4])
{
    uint32_t remaining;
    if (!IsRiff(image))
        return -1;
    remaining = ReadLittle32(image.bytes + 4);
    // The walk never leaves the image, whatever the RIFF size claims.
    const uint64_t end = image.size;
    uint64_t position = 12;
    for (;;) {
        if (position + 8 > end)
            return -1;
        if (memcmp(image.bytes + position, id, 4) == 0)
            return long(position);
        const uint64_t step = uint64_t(ReadLittle32(image.bytes + position + 4)) + 8;
        if (step > remaining)
            return -1;
        position += step;
        remaining -= uint32_t(step);
    }
}

bool AppendClip(WavImage* first, WavImage* second)
{
    uint32_t firstRiff, secondRiff;
    if (!RiffSize(*first, &firstRiff) || !RiffSize(*second, &secondRiff))
        return false;
    const long secondData = FindChunk(*second, "data");
    const long firstData = FindChunk(*first, "data");
    // Both "data" headers must lie within their RIFF images: the joined
    // image keeps only those.
    if (secondData < 0 || firstData < 0 || uint32_t(secondData) > secondRiff || uint32_t(firstData) > firstRiff)
        return false;
    const uint32_t appended = secondRiff - uint32_t(secondData);
    if (firstRiff < 4 || uint64_t(firstRiff) + 8 + appended > 0xFFFFFFFFu)
        return false;

    const uint32_t newSize = firstRiff + 8 + appended;
    uint8_t* grown = static_cast<uint8_t*>(realloc(first->bytes, newSize));
    if (!grown)
        return false;
    first->bytes = grown;
    first->size = newSize;

    // An odd 8-bit sample run ends in a pad byte, which now sits between the
    // two clips: make it the silence level of its neighbour, not a click.
    uint8_t* last = grown + firstRiff + 7;
    if (last[0] == 0x00 && last[-1] == 0x80)
        last[0] = 0x80;
    memcpy(grown + firstRiff + 8, second->bytes + secondData + 8, appended);
    WriteLittle32(grown + 4, firstRiff + appended);
    WriteLittle32(grown + firstData + 4, ReadLittle32(grown + firstData + 4) + appended);
    FreeWavImage(second);
    return true;
}

bool ScaleSamples(WavImage* image, int percent)
{
    const long format = FindChunk(*image, "fmt ");
    const long data = FindChunk(*image, "data");
    uint32_t formatSize, dataSize;
    if (format < 0 || data < 0 || !ChunkDataSize(*image, format, &formatSize) || formatSize < 16
        || !ChunkDataSize(*image, data, &dataSize))
        return false;
    const unsigned bitsPerSample = image->bytes[format + 22] | image->bytes[format + 23] << 8;
    const double factor = percent * 0.01;
    uint8_t* samples = image->bytes + data + 8;
    if (bitsPerSample == 16) {
        for (uint32_t i = 0; i + 1 < dataSize; i += 2) {
            const int16_t sample = int16_t(samples[i] | samples[i + 1] << 8);
            const int scaled = Clamp(sample * factor, -32768, 32767);
            samples[i] = uint8_t(scaled);
            samples[i + 1] = uint8_t(uint16_t(scaled) >> 8);
        }
    } else if (bitsPerSample == 8) {
        for (uint32_t i = 0; i < dataSize; ++i)
            samples[i] = uint8_t(Clamp((samples[i] - 128) * factor + 128, 0, 255));
    }
    return true;
}

bool IsPlayableWav(const WavImage& image)
{
    uint32_t riffSize, formatSize, dataSize;
    const long format = FindChunk(image, "fmt ");
    const long data = FindChunk(image, "data");
    return RiffSize(image, &riffSize) && format >= 0 && data >= 0 && ChunkDataSize(image, format, &formatSize)
        && formatSize >= 16 && ChunkDataSize(image, data, &dataSize);
}

void FreeWavImage(WavImage* image)
{
    free(image->bytes);
    image->bytes = nullptr;
    image->size = 0;
}
