#include "wininit.h"

#include <cstring>

namespace {

size_t LineEnd(const char* text, size_t length, size_t start)
{
    while (start < length && text[start] != '\n')
        ++start;
    return start < length ? start + 1 : length;
}

// Whether the line at `start` is a section header "[...]", and whether it
// names the Rename section.
bool IsHeader(const char* text, size_t start, size_t end, bool* rename)
{
    while (start < end && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    if (start >= end || text[start] != '[')
        return false;
    static const char name[] = "[rename]";
    size_t i = 0;
    while (i < sizeof name - 1 && start + i < end && (text[start + i] | 0x20) == (name[i] | 0x20))
        ++i;
    *rename = i == sizeof name - 1;
    return true;
}

bool Put(char* out, size_t outSize, size_t* used, const char* bytes, size_t count)
{
    if (*used + count > outSize)
        return false;
    memcpy(out + *used, bytes, count);
    *used += count;
    return true;
}

// Whether the line from `start` to `end` (its line break aside) is
// "NUL=<shortPath>" as Setup writes it (short paths are the system's own
// spelling, and may hold double-byte characters: compared byte for byte).
bool DeletesPath(const char* text, size_t start, size_t end, const char* shortPath)
{
    while (end > start && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        --end;
    const size_t length = strlen(shortPath);
    return end - start == length + 4 && memcmp(text + start, "NUL=", 4) == 0
        && memcmp(text + start + 4, shortPath, length) == 0;
}

} // namespace

size_t RewriteRenameSection(const char* old, size_t oldLength, const char* shortPath, bool deleted, char* out,
                            size_t outSize)
{
    // The end-of-file mark goes; the section is appended in its place.
    if (oldLength > 0 && old[oldLength - 1] == 0x1A)
        --oldLength;

    size_t used = 0;
    // First pass: everything outside the Rename section, as it was.
    bool inRename = false;
    for (size_t start = 0; start < oldLength;) {
        const size_t end = LineEnd(old, oldLength, start);
        bool rename = false;
        if (IsHeader(old, start, end, &rename))
            inRename = rename;
        if (!inRename && !Put(out, outSize, &used, old + start, end - start))
            return 0;
        start = end;
    }
    if (used > 0 && out[used - 1] != '\n' && !Put(out, outSize, &used, "\r\n", 2))
        return 0;

    // Then the section: its header, every line it had, the new deletion.
    const size_t sectionStart = used;
    if (!Put(out, outSize, &used, "[Rename]\r\n", 10))
        return 0;
    inRename = false;
    for (size_t start = 0; start < oldLength;) {
        const size_t end = LineEnd(old, oldLength, start);
        bool rename = false;
        if (IsHeader(old, start, end, &rename)) {
            inRename = rename;
        } else if (inRename && !DeletesPath(old, start, end, shortPath)) {
            if (!Put(out, outSize, &used, old + start, end - start))
                return 0;
            if (out[used - 1] != '\n' && !Put(out, outSize, &used, "\r\n", 2))
                return 0;
        }
        start = end;
    }
    if (deleted
        && (!Put(out, outSize, &used, "NUL=", 4) || !Put(out, outSize, &used, shortPath, strlen(shortPath))
            || !Put(out, outSize, &used, "\r\n", 2)))
        return 0;
    if (used - sectionStart > RenameSectionLimit)
        return 0;
    return used;
}

size_t WithoutPendingDeletion(char16_t* operations, size_t units, const char16_t* path)
{
    size_t read = 0, written = 0;
    while (read < units && operations[read]) {
        const size_t pair = read;
        size_t i = read;
        while (i < units && operations[i]) // the file
            ++i;
        const size_t fileEnd = i++;
        const size_t newName = i;
        while (i < units && operations[i])
            ++i;
        if (i >= units)
            break; // cut short: kept as it is
        read = i + 1;
        bool same = i == newName; // a deletion
        for (size_t k = pair; same && k <= fileEnd; ++k) {
            const char16_t a = operations[k], b = path[k - pair];
            same = a == b || ((a | 0x20) == (b | 0x20) && (a | 0x20) >= 'a' && (a | 0x20) <= 'z');
        }
        if (!same) {
            memmove(operations + written, operations + pair, (read - pair) * sizeof *operations);
            written += read - pair;
        }
    }
    // The closing empty string, and whatever follows it, as it was.
    memmove(operations + written, operations + read, (units - read) * sizeof *operations);
    return written + units - read;
}
