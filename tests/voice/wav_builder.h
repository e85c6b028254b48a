// Builds RIFF WAVE images and voice archives for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

inline void PutLittle(Bytes& bytes, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes.push_back(uint8_t(value >> (8 * i)));
}

// A minimal PCM image: "fmt " then "data" (with a pad byte when odd).
inline Bytes MakeWav(const Bytes& samples, int bitsPerSample, bool padOdd = true)
{
    Bytes body = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    PutLittle(body, 16, 4);
    const int blockAlign = bitsPerSample / 8;
    PutLittle(body, 1, 2);     // PCM
    PutLittle(body, 1, 2);     // mono
    PutLittle(body, 8000, 4);  // rate
    PutLittle(body, 8000 * blockAlign, 4);
    PutLittle(body, blockAlign, 2);
    PutLittle(body, bitsPerSample, 2);
    body.insert(body.end(), {'d', 'a', 't', 'a'});
    PutLittle(body, uint32_t(samples.size()), 4);
    body.insert(body.end(), samples.begin(), samples.end());
    if (padOdd && samples.size() % 2)
        body.push_back(0);
    Bytes image = {'R', 'I', 'F', 'F'};
    PutLittle(image, uint32_t(body.size()), 4);
    image.insert(image.end(), body.begin(), body.end());
    return image;
}

inline Bytes Samples16(const std::vector<int16_t>& values)
{
    Bytes bytes;
    for (int16_t v : values)
        PutLittle(bytes, uint16_t(v), 2);
    return bytes;
}

struct ArchiveEntry {
    std::string name;
    Bytes clip;
};

// count, then the index, then the clips in order.
inline Bytes MakeArchive(const std::vector<ArchiveEntry>& entries, int32_t count)
{
    Bytes archive;
    PutLittle(archive, uint32_t(count), 4);
    uint32_t offset = uint32_t(4 + 20 * entries.size());
    for (const ArchiveEntry& entry : entries) {
        char name[12] = {};
        memcpy(name, entry.name.data(), entry.name.size() < 11 ? entry.name.size() : 11);
        archive.insert(archive.end(), name, name + 12);
        PutLittle(archive, offset, 4);
        PutLittle(archive, uint32_t(entry.clip.size()), 4);
        offset += uint32_t(entry.clip.size());
    }
    for (const ArchiveEntry& entry : entries)
        archive.insert(archive.end(), entry.clip.begin(), entry.clip.end());
    return archive;
}
