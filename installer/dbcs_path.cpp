#include "dbcs_path.h"

#include <cstring>

namespace {

// Width of the character at `p`: 2 for a lead byte followed by a byte, else 1.
size_t CharWidth(const char* p)
{
    return IsLeadByte(static_cast<unsigned char>(*p)) && p[1] ? 2 : 1;
}

} // namespace

const char* FindCharDbcs(const char* text, char c)
{
    for (const char* p = text; *p; p += CharWidth(p)) {
        if (*p == c)
            return p;
    }
    return nullptr;
}

char* FindCharDbcs(char* text, char c)
{
    return const_cast<char*>(FindCharDbcs(static_cast<const char*>(text), c));
}

bool IsTrailByteAt(const char* text, size_t offset)
{
    size_t position = 0;
    while (position < offset && text[position])
        position += CharWidth(text + position);
    return position > offset;
}

bool EnsureTrailingBackslash(char* text, size_t size)
{
    const size_t length = strlen(text);
    if (length > 0 && text[length - 1] == '\\' && !IsTrailByteAt(text, length - 1))
        return true;
    return AppendBounded(text, size, "\\");
}

bool AppendBounded(char* text, size_t size, const char* tail)
{
    const size_t length = strlen(text);
    const size_t tailLength = strlen(tail);
    if (length + tailLength >= size)
        return false;
    memcpy(text + length, tail, tailLength + 1);
    return true;
}

bool CopyBounded(char* out, size_t size, const char* source)
{
    const size_t length = strlen(source);
    if (length >= size)
        return false;
    memmove(out, source, length + 1);
    return true;
}
