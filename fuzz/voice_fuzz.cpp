// Arbitrary archives through FindClip, and arbitrary WAV images through
// AppendClip, ScaleSamples and IsPlayableWav. The sanitizers catch any read or
// write outside an image; the checks below catch wrong results.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "voice_archive.h"

namespace {

#define Check(condition) CheckAt(condition, __LINE__)
void CheckAt(bool condition, int line)
{
    if (!condition) {
        fprintf(stderr, "check failed at line %d\n", line);
        abort();
    }
}

// An exact-size heap copy, so that AddressSanitizer sees every overrun.
WavImage Copy(const uint8_t* data, size_t size)
{
    WavImage image = {static_cast<uint8_t*>(malloc(size ? size : 1)), uint32_t(size)};
    if (size)
        memcpy(image.bytes, data, size);
    return image;
}

void FuzzArchive(const uint8_t* data, size_t size)
{
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file)
        return;
    int32_t count;
    if (ReadVoiceArchiveCount(file, &count)) {
        for (const char* name : {"H00", "M30", ""}) {
            WavImage clip = FindClip(file, count, name);
            Check(!clip.bytes || clip.size <= size);
            FreeWavImage(&clip);
        }
    }
    fclose(file);
}

void FuzzImages(const uint8_t* data, size_t size)
{
    if (size < 3)
        return;
    const int percent = data[0];
    const size_t split = (data[1] | data[2] << 8) % (size - 2);
    WavImage first = Copy(data + 3, split);
    WavImage second = Copy(data + 3 + split, size - 3 - split);
    const uint32_t firstSize = first.size, secondSize = second.size;

    if (AppendClip(&first, &second)) {
        Check(second.bytes == nullptr);
        // The joined image holds the first RIFF image and at most all of the
        // second; bytes beyond the first's RIFF size are not part of it.
        Check(first.size <= firstSize + secondSize);
    } else {
        FreeWavImage(&second);
    }
    const uint32_t before = first.size;
    if (ScaleSamples(&first, percent))
        Check(first.size == before);
    IsPlayableWav(first);
    FreeWavImage(&first);
    FreeWavImage(&second);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] & 1)
        FuzzArchive(data + 1, size - 1);
    else
        FuzzImages(data + 1, size - 1);
    return 0;
}
