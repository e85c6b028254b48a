#include "service_rules.h"

#include "dbcs_path.h"

#include <cstdint>
#include <cstring>

namespace {

bool SameLetters(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'a' && x <= 'z')
            x = char(x - 32);
        if (y >= 'a' && y <= 'z')
            y = char(y - 32);
        if (x != y)
            return false;
    }
    return *a == *b;
}

uint32_t Rotate(uint32_t value, int bits)
{
    return value << bits | value >> (32 - bits);
}

// SHA-1 (FIPS 180-4) of a short message: at most 512 bytes.
bool Sha1(const uint8_t* message, size_t length, uint32_t digest[5])
{
    uint8_t padded[576] = {};
    const size_t total = (length + 8) / 64 * 64 + 64;
    if (total > sizeof padded)
        return false;
    memcpy(padded, message, length);
    padded[length] = 0x80;
    const uint64_t bits = uint64_t(length) * 8;
    for (int i = 0; i < 8; ++i)
        padded[total - 1 - i] = uint8_t(bits >> (8 * i));
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    for (size_t block = 0; block < total; block += 64) {
        uint32_t w[80];
        for (int t = 0; t < 16; ++t)
            w[t] = uint32_t(padded[block + 4 * t]) << 24 | uint32_t(padded[block + 4 * t + 1]) << 16
                 | uint32_t(padded[block + 4 * t + 2]) << 8 | padded[block + 4 * t + 3];
        for (int t = 16; t < 80; ++t)
            w[t] = Rotate(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            const uint32_t f = t < 20 ? ((b & c) | (~b & d)) + 0x5A827999
                             : t < 40 ? (b ^ c ^ d) + 0x6ED9EBA1
                             : t < 60 ? ((b & c) | (b & d) | (c & d)) + 0x8F1BBCDC
                                      : (b ^ c ^ d) + 0xCA62C1D6;
            const uint32_t next = Rotate(a, 5) + f + e + w[t];
            e = d;
            d = c;
            c = Rotate(b, 30);
            b = a;
            a = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    memcpy(digest, h, sizeof h);
    return true;
}

} // namespace

const char* ServiceAccountName(const char* account)
{
    if (SameLetters(account, "LocalService"))
        return "NT AUTHORITY\\LocalService";
    if (SameLetters(account, "NetworkService"))
        return "NT AUTHORITY\\NetworkService";
    return nullptr;
}

bool ServiceStartsAutomatically(const char* start, bool* valid)
{
    const bool automatic = SameLetters(start, "auto");
    *valid = automatic || SameLetters(start, "demand");
    return automatic;
}

bool IsServiceName(const char* name)
{
    const size_t length = strlen(name);
    if (length == 0 || length > 256)
        return false;
    for (const char* p = name; *p; ++p)
        if (*p < 0x20 || *p > 0x7E || *p == '/' || *p == '\\')
            return false;
    return true;
}

bool IsPrivilegeList(const char* privileges)
{
    if (!*privileges)
        return false;
    for (const char* p = privileges; *p;) {
        const char* end = strchr(p, ',');
        const size_t length = end ? size_t(end - p) : strlen(p);
        char name[64];
        if (length < 12 || length >= sizeof name)
            return false;
        memcpy(name, p, length);
        name[length] = '\0';
        if (strncmp(name, "Se", 2) != 0 || strcmp(name + length - 9, "Privilege") != 0 || !IsPlainName(name)
            || strchr(name, ' '))
            return false;
        p += length + (end ? 1 : 0);
        if (end && !*p)
            return false; // a trailing comma
    }
    return true;
}

bool IsServiceKey(const char* key)
{
    char head[10];
    if (strlen(key) >= PathSize || strlen(key) < sizeof head)
        return false;
    memcpy(head, key, 9);
    head[9] = '\0';
    return SameLetters(head, "SOFTWARE\\") && IsDeletableKey(RegRoot::LocalMachine, key);
}

bool ServiceSid(const char* name, char* out, size_t size)
{
    uint8_t utf16[512];
    size_t length = 0;
    for (const char* p = name; *p; ++p) {
        if (length + 2 > sizeof utf16 || *p < 0x20 || *p > 0x7E)
            return false;
        utf16[length++] = uint8_t(*p >= 'a' && *p <= 'z' ? *p - 32 : *p);
        utf16[length++] = 0;
    }
    uint32_t digest[5];
    if (!Sha1(utf16, length, digest))
        return false;
    // The digest's bytes read as five little-endian words.
    uint32_t words[5];
    for (int i = 0; i < 5; ++i) {
        const uint32_t big = digest[i];
        words[i] = (big >> 24) | ((big >> 8) & 0xFF00) | ((big << 8) & 0xFF0000) | (big << 24);
    }
    char sid[72] = "S-1-5-80";
    char* end = sid + strlen(sid);
    for (uint32_t word : words) {
        char digits[11];
        int count = 0;
        do {
            digits[count++] = char('0' + word % 10);
            word /= 10;
        } while (word);
        *end++ = '-';
        while (count)
            *end++ = digits[--count];
    }
    *end = '\0';
    return CopyBounded(out, size, sid);
}

bool StatusKeySddl(const char* sid, char* out, size_t size)
{
    return CopyBounded(out, size, StatusKeySddlStart) && AppendBounded(out, size, sid)
        && AppendBounded(out, size, ")");
}
