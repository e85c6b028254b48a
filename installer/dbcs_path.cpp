#include "dbcs_path.h"

#include <cctype>
#include <cstring>

size_t CharLength(const char* p)
{
    return IsLeadByte(static_cast<unsigned char>(*p)) && p[1] ? 2 : 1;
}

const char* FindCharDbcs(const char* text, char c)
{
    for (const char* p = text; *p; p += CharLength(p)) {
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
        position += CharLength(text + position);
    return position > offset;
}

bool EnsureTrailingBackslash(char* text, size_t size)
{
    const size_t length = strlen(text);
    if (length > 0 && text[length - 1] == '\\' && !IsTrailByteAt(text, length - 1))
        return true;
    return AppendBounded(text, size, "\\");
}

bool EqualsIgnoringCase(const char* a, const char* b)
{
    while (*a && *b) {
        const size_t length = CharLength(a);
        if (length != CharLength(b))
            return false;
        if (length == 2) {
            if (a[0] != b[0] || a[1] != b[1])
                return false;
        } else if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
        a += length;
        b += length;
    }
    return *a == *b;
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
