// Reads a clip's samples straight from voice.dat, independently of the
// program's archive code, for the tests to compare what was played.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The 16-bit samples of clip `name` in the archive at `path` (written by the
// project's packer: "fmt " then "data"); empty if it is not there.
inline std::vector<int16_t> ClipSamples(const std::string& path, const char* name)
{
    std::vector<uint8_t> archive;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        int c;
        while ((c = fgetc(file)) != EOF)
            archive.push_back(uint8_t(c));
        fclose(file);
    }
    auto little = [&](size_t at) {
        return uint32_t(archive[at] | archive[at + 1] << 8 | archive[at + 2] << 16 | uint32_t(archive[at + 3]) << 24);
    };
    if (archive.size() < 4)
        return {};
    const int32_t count = int32_t(little(0));
    for (int32_t i = 0; i < count && 4 + 20 * size_t(i + 1) <= archive.size(); ++i) {
        const size_t entry = 4 + 20 * size_t(i);
        if (strncmp(reinterpret_cast<const char*>(&archive[entry]), name, 12) != 0)
            continue;
        const size_t clip = little(entry + 12);
        const size_t dataSize = little(clip + 40);
        std::vector<int16_t> samples(dataSize / 2);
        memcpy(samples.data(), &archive[clip + 44], samples.size() * 2);
        return samples;
    }
    return {};
}
