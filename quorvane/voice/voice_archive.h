// The clip archive "voice.dat" and the operations on WAV images held in memory.
#pragma once

#include <cstdint>
#include <cstdio>

// A whole RIFF WAVE file in a heap buffer. Its owner frees it with
// FreeWavImage. Every operation stays within `size`, whatever the sizes
// written inside the image claim.
struct WavImage {
    uint8_t* bytes;
    uint32_t size;
};

// Archive layout (little-endian): int32 count, then `count` entries of
// 20 bytes (12-byte NUL-terminated name, uint32 offset, uint32 size), then the
// clips, each stored whole at its offset.
constexpr int VoiceArchiveEntrySize = 20;
constexpr int VoiceArchiveNameSize = 12;

// Reads the entry count of an open archive; false if it cannot be read.
bool ReadVoiceArchiveCount(FILE* archive, int32_t* count);
// A newly allocated image of the first clip named exactly `name`, or
// {nullptr, 0} when it cannot be had.
WavImage FindClip(FILE* archive, int32_t count, const char* name);

// Position of the 8-byte header of chunk `id` within the RIFF image, or -1.
long FindChunk(const WavImage& image, const char id[4]);
// Appends the sample data of `second` to `first` and releases `second`.
// False (and nothing released or changed) when either image is not a
// well-formed RIFF image or the memory cannot be had.
bool AppendClip(WavImage* first, WavImage* second);
// Scales 16-bit or 8-bit samples to `percent` in place; other sample sizes
// stay as they are. False when "fmt " or "data" is missing or malformed.
bool ScaleSamples(WavImage* image, int percent);
// Whether the image is a RIFF image whose "fmt " and "data" chunks lie
// within it, so that a player reading its headers stays inside it.
bool IsPlayableWav(const WavImage& image);
void FreeWavImage(WavImage* image);
